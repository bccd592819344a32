#include "server/http/AccessLog.h"

#include <fmt/format.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include "server/http/HttpServerError.h"

namespace fm::server {

AccessLog::AccessLog(const std::filesystem::path& file) {
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
  mLogger->flush_on(spdlog::level::info);
}

AccessLog::~AccessLog() = default;

void AccessLog::Record(std::string_view peer, std::string_view method, std::string_view target,
                       unsigned status, std::size_t bytes,
                       std::chrono::steady_clock::duration duration) {
  double ms = std::chrono::duration<double, std::milli>(duration).count();
  mLogger->info("{} {} {} {} {} {:.3f}ms", peer, method.empty() ? "-" : method,
                target.empty() ? "-" : target, status, bytes, ms);
}

}  // namespace fm::server
