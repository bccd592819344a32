#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string_view>

namespace spdlog {
class logger;
}

namespace fm::server {

// The access log of the HTTP front: one line per request,
//   2024-05-01T08:30:00.123+02:00 127.0.0.1:53422 POST /v1/messages 200 5321 1.234ms
// (local time, peer, method, target, status, response body bytes, duration from the
// request's first byte to the response's last). Lines are buffered: a busy server does not
// pay a write to the file per request. They reach the file at least every `flushInterval`,
// at Flush() and when the log is destroyed.
//
// Thread safety: Record and Flush may be called from any thread.
class AccessLog {
 public:
  // Appends to `file`, creating it; empty: standard error (unbuffered). Throws
  // HttpServerError when the file cannot be opened or the interval is not above zero.
  explicit AccessLog(const std::filesystem::path& file,
                     std::chrono::milliseconds flushInterval = std::chrono::seconds(1));
  ~AccessLog();
  AccessLog(const AccessLog&) = delete;
  AccessLog& operator=(const AccessLog&) = delete;

  void Record(std::string_view peer, std::string_view method, std::string_view target,
              unsigned status, std::size_t bytes, std::chrono::steady_clock::duration duration);

  // Writes the lines buffered so far to the file.
  void Flush();

 private:
  class Flusher;
  std::shared_ptr<spdlog::logger> mLogger;
  std::unique_ptr<Flusher> mFlusher;  // declared last: stopped before the logger goes
};

}  // namespace fm::server
