#include "platform/AtomicFile.h"

#include <system_error>

#include "base/FileReplace.h"
#include "platform/PlatformError.h"

namespace fm {

void WriteFileAtomically(const std::filesystem::path& file, std::string_view contents) {
  try {
    files::ReplaceFile(file, contents);
  } catch (const std::system_error& e) {
    throw PlatformError(PlatformError::kGeneric, e.what());
  }
}

}  // namespace fm
