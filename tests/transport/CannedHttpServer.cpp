#include "CannedHttpServer.h"

#include <arpa/inet.h>
#include <fmt/format.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

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

CannedHttpServer::CannedHttpServer(std::string response, bool answer)
    : mResponse(std::move(response)), mAnswer(answer) {
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
}

std::vector<std::string> CannedHttpServer::Requests() {
  std::lock_guard lock(mMutex);
  return mRequests;
}

void CannedHttpServer::Serve() {
  while (!mStopping) {
    const int connection = ::accept(mListener, nullptr, nullptr);
    if (connection < 0) return;
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
    // Reads until `size` bytes are pending; false when the client closed first.
    const auto receive = [&](std::string& pending, std::size_t size) {
      while (pending.size() < size) {
        char buffer[4096];
        const auto got = ::recv(connection, buffer, sizeof buffer, 0);
        if (got <= 0) return false;
        pending.append(buffer, static_cast<std::size_t>(got));
      }
      return true;
    };
    std::string pending;
    bool open = true;
    while (open && !mStopping) {
      // One request: the head, then as many body bytes as Content-Length says.
      std::size_t headEnd;
      while ((headEnd = pending.find("\r\n\r\n")) == std::string::npos) {
        if (!receive(pending, pending.size() + 1)) break;
      }
      if (headEnd == std::string::npos) break;
      std::size_t bodyLength = 0;
      const auto lengthAt = pending.find("Content-Length: ");
      if (lengthAt != std::string::npos && lengthAt < headEnd) {
        bodyLength = std::stoul(pending.substr(lengthAt + 16));
      }
      if (!receive(pending, headEnd + 4 + bodyLength)) break;
      {
        std::lock_guard lock(mMutex);
        mRequests.push_back(pending.substr(0, headEnd + 4 + bodyLength));
      }
      pending.erase(0, headEnd + 4 + bodyLength);
      if (!mAnswer) continue;  // hung: keep reading, never answer
      ::send(connection, mResponse.data(), mResponse.size(), MSG_NOSIGNAL);
      if (mResponse.find("Connection: close") != std::string::npos) open = false;
    }
    finish();
  }
}

}  // namespace fm::testing
