#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "TempFolder.h"
#include "platform/AtomicFile.h"
#include "platform/PlatformError.h"

namespace fm {
namespace {

TEST(AtomicFileTest, ReplacesWholeOrNotAtAllAndLeavesNoTemporaryFile) {
  const testing::TempFolder temp;
  const auto& folder = temp.Path();
  std::filesystem::create_directories(folder / "taken" / "inside");
  const auto read = [](const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  };
  WriteFileAtomically(folder / "draft.json", "first");
  WriteFileAtomically(folder / "draft.json", "second");
  EXPECT_EQ(read(folder / "draft.json"), "second");
  EXPECT_THROW(WriteFileAtomically(folder / "missing" / "draft.json", "x"), PlatformError);
  // A folder where the file should go cannot be replaced by it.
  EXPECT_THROW(WriteFileAtomically(folder / "taken", "x"), PlatformError);
  EXPECT_TRUE(std::filesystem::is_directory(folder / "taken" / "inside"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 2);
}

}  // namespace
}  // namespace fm
