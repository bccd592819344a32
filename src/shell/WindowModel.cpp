#include "shell/WindowModel.h"

#include <fmt/format.h>

#include <filesystem>
#include <sstream>

#include "base/DelimitedText.h"
#include "platform/AtomicFile.h"
#include "platform/PlatformError.h"
#include "platform/Services.h"
#include "platform/UiServices.h"

namespace fm::shell {

std::optional<std::string> ExportCsv(const std::string& path,
                                     const std::vector<std::vector<std::string>>& records,
                                     const char* title) {
  std::ostringstream out;
  CsvWriter csv(out);
  for (const auto& record : records) csv.WriteRecord(record);
  try {
    WriteFileAtomically(std::filesystem::path(path), out.str());
    return fmt::format("Exported to {}.", path);
  } catch (const PlatformError& error) {
    Services::Ui().MessageBox(error.Description(), MsgBoxButtons::Ok, MsgBoxIcon::Exclamation,
                              title);
    return std::nullopt;
  }
}

}  // namespace fm::shell
