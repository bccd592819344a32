#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

// What the models of the shell's windows share.
namespace fm::shell {

// What a window's status line shows: a text, and whether it says something went wrong.
struct StatusLine {
  std::string text;
  bool problem = false;
};

// A server's UTC stamp as the clerk reads a time (the window's zone and format).
using TimeText = std::function<std::string(const std::string& utc)>;

// Writes `records` as CSV (RFC 4180, UTF-8) to `path`, replacing the file at once so that a
// reader never finds half of it, and answers the status line's "Exported to <path>.". A file
// that cannot be written is said in a message box titled `title`, and nothing is answered.
std::optional<std::string> ExportCsv(const std::string& path,
                                     const std::vector<std::vector<std::string>>& records,
                                     const char* title);

}  // namespace fm::shell
