#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/DelimitedText.h"
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

// An RFC 4180 reader, to read back what the writer wrote.
Records ReadCsv(const std::string& text) {
  Records records;
  std::vector<std::string> record;
  std::string field;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      record.push_back(std::move(field));
      field.clear();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      record.push_back(std::move(field));
      field.clear();
      records.push_back(std::move(record));
      record.clear();
      ++i;
    } else {
      field += c;
    }
  }
  return records;
}

TEST(CsvTest, AnyRecordsReadBackAsWritten) {
  const std::uint32_t seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  const std::string alphabet = "ab 1,\"\r\n\t;\xC3\xBC";
  for (int round = 0; round < 200; ++round) {
    Records records(std::uniform_int_distribution<int>(1, 5)(random));
    const int width = std::uniform_int_distribution<int>(1, 6)(random);
    for (auto& record : records) {
      for (int f = 0; f < width; ++f) {
        std::string field;
        for (int n = std::uniform_int_distribution<int>(0, 8)(random); n > 0; --n) {
          field +=
              alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(random)];
        }
        record.push_back(field);
      }
    }
    std::ostringstream out;
    CsvWriter csv(out);
    for (const auto& record : records) csv.WriteRecord(record);
    ASSERT_EQ(ReadCsv(out.str()), records) << out.str();
  }
}

TEST(TabSeparatedTest, FieldsAreJoinedByTabsAndTabsOrBreaksInsideBecomeBlanks) {
  EXPECT_EQ(TabSeparated({{"A1", "1100976", "a\tb"}, {"B2", "two\r\nlines", ""}}),
            "A1\t1100976\ta b\nB2\ttwo  lines\t\n");
  EXPECT_EQ(TabSeparated({}), "");
}

class AtomicFileTest : public ::testing::Test {
 protected:
  AtomicFileTest() {
    folder = std::filesystem::temp_directory_path() /
             ("fm-atomic-" + std::to_string(::getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
  }
  ~AtomicFileTest() override { std::filesystem::remove_all(folder); }
  static std::string Read(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    std::string text(static_cast<std::size_t>(in.tellg()), '\0');
    in.seekg(0);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    return text;
  }
  std::size_t Entries() const {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
  }
  std::filesystem::path folder;
};

TEST_F(AtomicFileTest, WritesAndReplacesLeavingNoTemporaryFile) {
  const auto file = folder / "draft.json";
  WriteFileAtomically(file, "first");
  EXPECT_EQ(Read(file), "first");
  WriteFileAtomically(file, std::string("second\0with a zero", 18));
  EXPECT_EQ(Read(file), std::string("second\0with a zero", 18));
  EXPECT_EQ(Entries(), 1u);
}

TEST_F(AtomicFileTest, AFailureThrowsAndLeavesWhatWasThere) {
  EXPECT_THROW(WriteFileAtomically(folder / "missing" / "draft.json", "x"), PlatformError);
  // A folder where the file should go cannot be replaced by it.
  std::filesystem::create_directories(folder / "taken");
  std::filesystem::create_directories(folder / "taken" / "inside");
  try {
    WriteFileAtomically(folder / "taken", "x");
    ADD_FAILURE() << "no error";
  } catch (const PlatformError& error) {
    EXPECT_NE(error.Description().find("taken"), std::string::npos) << error.Description();
  }
  EXPECT_TRUE(std::filesystem::is_directory(folder / "taken"));
  EXPECT_EQ(Entries(), 1u);  // no temporary file left behind
}

}  // namespace
}  // namespace fm
