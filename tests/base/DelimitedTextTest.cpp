#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "base/DelimitedText.h"

namespace fm {
namespace {

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
      {"=HYPERLINK(\"http://x\")", "\"'=HYPERLINK(\"\"http://x\"\")\""},
      {"+1+2", "\"'+1+2\""},
      {"@SUM(A1)", "\"'@SUM(A1)\""},
      {"-5", "-5"},
      {"1100001-1100050", "1100001-1100050"},
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

}  // namespace
}  // namespace fm
