#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace spdlog {
class logger;
}

namespace fm {

// One report of an unexpected failure, as the screen hands it over.
struct ErrorReport {
  std::string description;
  std::string executable;
  std::string source;                   // "Object.Procedure"
  std::optional<std::string> optional;  // the omitted optional value: always empty here
  int kind = 1;
};

// Writes each report to a log file and to standard error (through spdlog) and keeps the
// latest reports in memory, where tests and the desktop's diagnostics read them.
// Thread-safe: worker threads of the message transports may report too.
class ErrorReporter {
 public:
  static constexpr std::size_t kMaxKept = 1000;

  // `logFile` empty: standard error only. The log file's folder is created when missing;
  // a log file that cannot be opened throws PlatformError naming it.
  explicit ErrorReporter(const std::filesystem::path& logFile = {}, bool toStderr = true);
  ~ErrorReporter();

  // Never throws for a failure to write the log: the report is kept in memory regardless.
  void Report(const std::string& description, const std::string& executable,
              const std::string& source, std::optional<std::string> omitted = std::nullopt,
              int kind = 1);

  std::vector<ErrorReport> Reports() const;
  void ClearReports();

 private:
  mutable std::mutex mMutex;
  std::vector<ErrorReport> mReports;  // the latest kMaxKept, oldest first
  std::shared_ptr<spdlog::logger> mLogger;
};

}  // namespace fm
