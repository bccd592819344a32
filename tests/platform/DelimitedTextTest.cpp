#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TempFolder.h"
#include "base/DelimitedText.h"
#include "platform/AtomicFile.h"
#include "platform/PlatformError.h"

namespace fm {
namespace {

using Records = std::vector<std::vector<std::string>>;

struct FieldCase {
  const char* field;
  const char* csv;
};

TEST(CsvTest, FieldsNeedingItAreQuotedWithTheirQuotesDoubled) {
  const FieldCase cases[] = {
      {"", ""},
      {"1100976", "1100976"},
      {"SMITH, JR", "\"SMITH, JR\""},
      {"the \"good\" ones", "\"the \"\"good\"\" ones\""},
      {"two\r\nlines", "\"two\r\nlines\""},
      {"line\nfeed", "\"line\nfeed\""},
      {" blanks kept ", " blanks kept "},
      {"Müller · Ŝ", "Müller · Ŝ"},
  };
  for (const auto& c : cases) EXPECT_EQ(CsvField(c.field), c.csv) << c.field;

  std::ostringstream out;
  CsvWriter csv(out);
  csv.WriteRecord({"From Range", "Comment"});
  csv.WriteRecord({"1", "a,b"});
  csv.WriteRecord({});
  EXPECT_EQ(out.str(), "From Range,Comment\r\n1,\"a,b\"\r\n\r\n");
}

TEST(TabSeparatedTest, FieldsAreJoinedByTabsAndTabsOrBreaksInsideBecomeBlanks) {
  EXPECT_EQ(TabSeparated({{"A1", "1100976", "a\tb"}, {"B2", "two\r\nlines", ""}}),
            "A1\t1100976\ta b\nB2\ttwo  lines\t\n");
  EXPECT_EQ(TabSeparated({}), "");
}

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
