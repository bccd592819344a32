#include "CannedHttpServer.h"

#include <arpa/inet.h>
#include <fmt/format.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

namespace fm::testing {

namespace {

[[noreturn]] void Broken(const std::string& what) {
  throw std::runtime_error("canned server: " + what);
}

// A self-signed certificate for "localhost", valid for a day, with its key installed in
// `context`; the certificate is written to `file` for the client to trust.
void MakeCertificate(SSL_CTX* context, const std::filesystem::path& file) {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  if (key == nullptr) Broken("no key");
  X509* certificate = X509_new();
  X509_set_version(certificate, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
  X509_gmtime_adj(X509_getm_notBefore(certificate), -60);
  X509_gmtime_adj(X509_getm_notAfter(certificate), 24 * 3600);
  X509_set_pubkey(certificate, key);
  X509_NAME* name = X509_get_subject_name(certificate);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
  X509_set_issuer_name(certificate, name);
  X509V3_CTX v3;
  X509V3_set_ctx_nodb(&v3);
  X509V3_set_ctx(&v3, certificate, certificate, nullptr, nullptr, 0);
  for (const auto& [nid, value] : {std::pair{NID_subject_alt_name, "DNS:localhost"},
                                   std::pair{NID_basic_constraints, "critical,CA:TRUE"}}) {
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &v3, nid, value);
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
  }
  if (X509_sign(certificate, key, EVP_sha256()) == 0) Broken("cannot sign");
  if (SSL_CTX_use_certificate(context, certificate) != 1 ||
      SSL_CTX_use_PrivateKey(context, key) != 1) {
    Broken("cannot use the certificate");
  }
  FILE* out = std::fopen(file.c_str(), "w");
  if (out == nullptr) Broken("cannot write the certificate");
  PEM_write_X509(out, certificate);
  std::fclose(out);
  X509_free(certificate);
  EVP_PKEY_free(key);
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
    mTls = SSL_CTX_new(TLS_server_method());
    mCertificateFile = tlsFolder / "localhost.pem";
    MakeCertificate(mTls, mCertificateFile);
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
