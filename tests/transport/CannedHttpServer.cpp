#include "CannedHttpServer.h"

#include <arpa/inet.h>
#include <fmt/format.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "TestAuthority.h"

namespace fm::testing {

namespace {

[[noreturn]] void Broken(const std::string& what) {
  throw std::runtime_error("canned server: " + what);
}

}  // namespace

std::string CannedHttpServer::Response(int status, const std::string& reason,
                                       const std::string& body, bool close) {
  return fmt::format(
      "HTTP/1.1 {} {}\r\nContent-Type: application/json\r\nContent-Length: {}\r\n{}\r\n{}", status,
      reason, body.size(), close ? "Connection: close\r\n" : "", body);
}

CannedHttpServer::CannedHttpServer(std::string response, bool answer,
                                   const std::filesystem::path& tlsFolder)
    : mResponse(std::move(response)), mAnswer(answer) {
  if (!tlsFolder.empty()) {
    const TestAuthority authority(tlsFolder, "canned");
    const auto issued = authority.IssueServer("localhost", {"localhost"});
    mTls = SSL_CTX_new(TLS_server_method());
    if (SSL_CTX_use_certificate_chain_file(mTls, issued.certificate.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(mTls, issued.key.c_str(), SSL_FILETYPE_PEM) != 1) {
      Broken("cannot use the certificate");
    }
    mCertificateFile = authority.CertificateFile();
  }
  mListener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (::bind(mListener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(mListener, 16) != 0) {
    Broken("cannot listen");
  }
  socklen_t length = sizeof address;
  ::getsockname(mListener, reinterpret_cast<sockaddr*>(&address), &length);
  mPort = ntohs(address.sin_port);
  mThread = std::thread([this] { Serve(); });
}

CannedHttpServer::~CannedHttpServer() {
  mStopping = true;
  ::shutdown(mListener, SHUT_RDWR);  // wakes the accept
  {
    std::lock_guard lock(mConnectionMutex);
    if (mCurrent >= 0) ::shutdown(mCurrent, SHUT_RDWR);  // wakes a read
  }
  mThread.join();
  ::close(mListener);
  if (mTls != nullptr) SSL_CTX_free(mTls);
}

std::vector<std::string> CannedHttpServer::Requests() {
  std::lock_guard lock(mMutex);
  return mRequests;
}

void CannedHttpServer::Serve() {
  while (!mStopping) {
    const int connection = ::accept(mListener, nullptr, nullptr);
    if (connection < 0) return;
    ++mConnections;
    {
      std::lock_guard lock(mConnectionMutex);
      mCurrent = connection;
    }
    // Closed only under the lock, so the destructor never shuts down a reused descriptor.
    const auto finish = [&] {
      std::lock_guard lock(mConnectionMutex);
      mCurrent = -1;
      ::close(connection);
    };
    SSL* ssl = nullptr;
    if (mTls != nullptr) {
      ssl = SSL_new(mTls);
      SSL_set_fd(ssl, connection);
      if (SSL_accept(ssl) != 1) {
        SSL_free(ssl);
        finish();
        continue;
      }
    }
    const auto receive = [&](char* buffer, int size) {
      return ssl != nullptr ? SSL_read(ssl, buffer, size)
                            : static_cast<int>(::recv(connection, buffer, size, 0));
    };
    const auto send = [&](const std::string& text) {
      if (ssl != nullptr) {
        SSL_write(ssl, text.data(), static_cast<int>(text.size()));
      } else {
        ::send(connection, text.data(), text.size(), MSG_NOSIGNAL);
      }
    };
    std::string pending;
    bool open = true;
    while (open && !mStopping) {
      // One request: the head, then as many body bytes as Content-Length says.
      std::size_t headEnd;
      while ((headEnd = pending.find("\r\n\r\n")) == std::string::npos) {
        char buffer[4096];
        const int got = receive(buffer, sizeof buffer);
        if (got <= 0) {
          open = false;
          break;
        }
        pending.append(buffer, static_cast<std::size_t>(got));
      }
      if (!open) break;
      std::size_t bodyLength = 0;
      const auto lengthAt = pending.find("Content-Length: ");
      if (lengthAt != std::string::npos && lengthAt < headEnd) {
        bodyLength = std::stoul(pending.substr(lengthAt + 16));
      }
      while (pending.size() < headEnd + 4 + bodyLength) {
        char buffer[4096];
        const int got = receive(buffer, sizeof buffer);
        if (got <= 0) {
          open = false;
          break;
        }
        pending.append(buffer, static_cast<std::size_t>(got));
      }
      if (!open) break;
      {
        std::lock_guard lock(mMutex);
        mRequests.push_back(pending.substr(0, headEnd + 4 + bodyLength));
      }
      pending.erase(0, headEnd + 4 + bodyLength);
      if (!mAnswer) continue;  // hung: keep reading, never answer
      send(mResponse);
      if (mResponse.find("Connection: close") != std::string::npos) open = false;
    }
    if (ssl != nullptr) SSL_free(ssl);
    finish();
  }
}

}  // namespace fm::testing
