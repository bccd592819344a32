#pragma once

#include <filesystem>
#include <string_view>

namespace fm::files {

// Replaces a file's contents so that a reader, or a program started after a crash, finds
// either the old contents or the new, never a mixture: the text goes to a temporary file
// beside it, which is flushed to the disk and then renamed over the file. The folder must
// exist.
//
// Errors: a file that cannot be written or renamed throws std::system_error whose text
// names the file and the system's reason; the old file is then left as it was and no
// temporary file remains.
void ReplaceFile(const std::filesystem::path& file, std::string_view contents);

}  // namespace fm::files
