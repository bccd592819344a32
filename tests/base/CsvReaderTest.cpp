#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "base/CsvReader.h"
#include "base/DelimitedText.h"

namespace fm {
namespace {

// Every record of `text` as "line:field|field" or "line!error".
std::vector<std::string> ReadAll(const std::string& text, std::size_t maxRecordBytes = 64) {
  std::istringstream in(text);
  CsvReader reader(in, maxRecordBytes);
  CsvRecord record;
  std::vector<std::string> out;
  while (reader.Next(record)) {
    std::string shown = std::to_string(record.line);
    if (!record.error.empty()) {
      out.push_back(shown + "!" + record.error);
      continue;
    }
    for (std::size_t i = 0; i < record.fields.size(); ++i) {
      shown += (i ? "|" : ":") + record.fields[i];
    }
    out.push_back(shown);
  }
  return out;
}

struct ReadCase {
  std::string text;
  std::vector<std::string> records;
};

TEST(CsvReaderTest, ReadsRecordsAndNamesEveryBadLineGoingOnAtTheNext) {
  const std::string tooLong(70, 'x');
  const ReadCase cases[] = {
      {"", {}},
      {std::string("a,\0b\n", 5), {std::string("1:a|\0b", 6)}},
      {"\xEF\xBB\xBF"
       "a,b\r\nc,d",
       {"1:a|b", "2:c|d"}},
      {"a,,\n\n\r\n,\n", {"1:a||", "4:|"}},
      {"\"x, \"\"y\"\"\",\"two\nlines\"\nnext\n", {"1:x, \"y\"|two\nlines", "3:next"}},
      {"\"\"\n", {"1:"}},
      {"ab\"c\nok\n", {"1!a field that does not start with a double quote holds one", "2:ok"}},
      {"\"a\"b,c\nok", {"1!there is text after the closing double quote of a field", "2:ok"}},
      {"ok\n\"open,\nstill", {"1:ok", "2!a quoted field is not closed before the end of the file"}},
      {tooLong + "\nok\n", {"1!the line is longer than 64 bytes", "2:ok"}},
      {"lone\rcr\n", {"1:lone\rcr"}},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadAll(c.text), c.records) << c.text;
}

// What CsvWriter writes, CsvReader reads back field for field, whatever the fields hold.
TEST(CsvReaderTest, ReadsBackWhatCsvWriterWrites) {
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  const std::string alphabet = "ab,\"\r\n x\xC3\xA9";
  std::vector<std::vector<std::string>> records;
  std::ostringstream out;
  CsvWriter writer(out);
  for (int r = 0; r < 200; ++r) {
    std::vector<std::string> fields(1 + random() % 5);
    for (auto& f : fields) {
      for (unsigned n = random() % 8; n > 0; --n) f += alphabet[random() % alphabet.size()];
    }
    // A lone empty field is an empty line, which is no record.
    if (fields.size() == 1 && fields[0].empty()) fields[0] = "a";
    writer.WriteRecord(fields);
    // What a spreadsheet would run comes back as the text the writer made of it.
    for (auto& f : fields) {
      if (RunsAsFormula(f)) f.insert(0, "'");
    }
    records.push_back(fields);
  }
  std::istringstream in(out.str());
  CsvReader reader(in, 1024);
  CsvRecord record;
  for (const auto& expected : records) {
    ASSERT_TRUE(reader.Next(record)) << "seed " << seed;
    EXPECT_EQ(record.error, "") << "seed " << seed;
    EXPECT_EQ(record.fields, expected) << "seed " << seed;
  }
  EXPECT_FALSE(reader.Next(record)) << "seed " << seed;
}

}  // namespace
}  // namespace fm
