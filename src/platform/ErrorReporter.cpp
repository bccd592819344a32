#include "platform/ErrorReporter.h"

#include <fmt/format.h>
#include <spdlog/logger.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>

#include <system_error>

#include "platform/PlatformError.h"

namespace fm {

namespace {

// A report is one log line: the entry checks' collected messages carry CR LF between
// them, which would otherwise split one report over several lines of the log.
std::string OneLine(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

ErrorReporter::ErrorReporter(const std::filesystem::path& logFile, bool toStderr) {
  std::vector<spdlog::sink_ptr> sinks;
  if (!logFile.empty()) {
    std::error_code ec;
    const auto folder = logFile.parent_path();
    if (!folder.empty()) {
      std::filesystem::create_directories(folder, ec);
      if (ec) {
        throw PlatformError(PlatformError::kGeneric,
                            fmt::format("Cannot create the folder {} of the log file: {}",
                                        folder.string(), ec.message()));
      }
    }
    try {
      sinks.push_back(std::make_shared<spdlog::sinks::basic_file_sink_mt>(logFile.string()));
    } catch (const spdlog::spdlog_ex& e) {
      throw PlatformError(PlatformError::kGeneric, fmt::format("Cannot open the log file {}: {}",
                                                               logFile.string(), e.what()));
    }
  }
  if (toStderr) {
    sinks.push_back(std::make_shared<spdlog::sinks::stderr_sink_mt>());
  }
  // Not registered with spdlog's global registry: several reporters (tests, a replaced
  // service) may live at once under the same name.
  mLogger = std::make_shared<spdlog::logger>("formsmaint", sinks.begin(), sinks.end());
  mLogger->set_pattern("%Y-%m-%d %H:%M:%S.%e [%l] %v");
  // An error report is rare and precious: flush at once so a crash right after it
  // cannot lose it.
  mLogger->flush_on(spdlog::level::err);
}

ErrorReporter::~ErrorReporter() = default;

void ErrorReporter::Report(const std::string& description, const std::string& executable,
                           const std::string& source, std::optional<std::string> omitted,
                           int kind) {
  {
    std::lock_guard lock(mMutex);
    if (mReports.size() >= kMaxKept) {
      mReports.erase(mReports.begin(), mReports.begin() + (mReports.size() - kMaxKept + 1));
    }
    mReports.push_back({description, executable, source, std::move(omitted), kind});
  }
  try {
    mLogger->error("{}: {} (executable {}, kind {})", source, OneLine(description), executable,
                   kind);
  } catch (...) {
    // spdlog hands sink failures to its error handler; anything that still escapes must
    // not turn a report into a second failure inside an error trap.
  }
}

std::vector<ErrorReport> ErrorReporter::Reports() const {
  std::lock_guard lock(mMutex);
  return mReports;
}

void ErrorReporter::ClearReports() {
  std::lock_guard lock(mMutex);
  mReports.clear();
}

}  // namespace fm
