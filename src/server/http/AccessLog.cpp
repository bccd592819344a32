#include "server/http/AccessLog.h"

#include <fmt/format.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "server/http/HttpServerError.h"

namespace fm::server {

// Flushes the log every interval until destroyed, then once more.
class AccessLog::Flusher {
 public:
  Flusher(spdlog::logger& logger, std::chrono::milliseconds interval)
      : mLogger(logger), mInterval(interval), mThread([this] { Run(); }) {}
  ~Flusher() {
    {
      std::lock_guard lock(mMutex);
      mStopping = true;
    }
    mWake.notify_all();
    mThread.join();
    mLogger.flush();
  }
  Flusher(const Flusher&) = delete;
  Flusher& operator=(const Flusher&) = delete;

 private:
  void Run() {
    std::unique_lock lock(mMutex);
    while (!mWake.wait_for(lock, mInterval, [this] { return mStopping; })) {
      lock.unlock();
      mLogger.flush();
      lock.lock();
    }
  }

  spdlog::logger& mLogger;
  const std::chrono::milliseconds mInterval;
  std::mutex mMutex;
  std::condition_variable mWake;
  bool mStopping = false;
  std::thread mThread;  // last: started once the members above exist
};

AccessLog::AccessLog(const std::filesystem::path& file, std::chrono::milliseconds flushInterval) {
  if (flushInterval.count() <= 0) {
    throw HttpServerError(fmt::format("the access log's flush interval must be above 0 ms (got {})",
                                      flushInterval.count()));
  }
  spdlog::sink_ptr sink;
  if (file.empty()) {
    sink = std::make_shared<spdlog::sinks::stderr_sink_mt>();
  } else {
    try {
      sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(file.string(), false);
    } catch (const spdlog::spdlog_ex& e) {
      throw HttpServerError(
          fmt::format("the access log {} cannot be opened: {}", file.string(), e.what()));
    }
  }
  // Not registered with spdlog by name: several servers (tests, benchmarks) may live in one
  // process, each with its own log.
  mLogger = std::make_shared<spdlog::logger>("access", std::move(sink));
  mLogger->set_pattern("%Y-%m-%dT%H:%M:%S.%e%z %v");
  mLogger->set_level(spdlog::level::info);
  // No flush per line: the flusher writes what has gathered, at least every interval.
  mLogger->flush_on(spdlog::level::off);
  mFlusher = std::make_unique<Flusher>(*mLogger, flushInterval);
}

AccessLog::~AccessLog() = default;

void AccessLog::Flush() { mLogger->flush(); }

void AccessLog::Record(std::string_view peer, std::string_view method, std::string_view target,
                       unsigned status, std::size_t bytes,
                       std::chrono::steady_clock::duration duration) {
  double ms = std::chrono::duration<double, std::milli>(duration).count();
  mLogger->info("{} {} {} {} {} {:.3f}ms", peer, method.empty() ? "-" : method,
                target.empty() ? "-" : target, status, bytes, ms);
}

}  // namespace fm::server
