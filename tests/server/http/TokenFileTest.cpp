#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "TempFolder.h"
#include "server/http/HttpServerError.h"
#include "server/http/TokenFile.h"

namespace fm::server {
namespace {

using ::testing::HasSubstr;

const std::string kHash(64, 'a');

class TokenFileTest : public ::testing::Test {
 protected:
  void Write(const std::string& text) { std::ofstream(mFile, std::ios::binary) << text; }
  std::string Text() {
    std::ostringstream text;
    text << std::ifstream(mFile).rdbuf();
    return text.str();
  }

  std::string Refusal() {
    try {
      ReadTokenFile(mFile);
    } catch (const HttpServerError& e) {
      return e.what();
    }
    return "read";
  }

  static TokenRecord Record(const std::string& token, std::int64_t user, Role role,
                            const char* stations, std::string name) {
    return {TokenHash(token), Principal{user, std::move(name), role, StationScope::Parse(stations)},
            "2024-05-01T08:30:00Z"};
  }

  fm::testing::TempFolder mFolder;
  const std::filesystem::path mDir = mFolder.Path();
  const std::filesystem::path mFile = mDir / "tokens";
};

TEST_F(TokenFileTest, WrittenFileReadsBackHoldsNoTokenAndOnlyItsOwnerMayReadIt) {
  const std::string token = NewToken();
  const std::vector<TokenRecord> records = {
      Record(token, 1001, Role::Clerk, "A1,A2", "Margaret Hartley"),
      Record(NewToken(), 7, Role::Viewer, "*", "Auditor  of the North"),
      Record(NewToken(), 1, Role::Admin, "*", "Ada")};
  WriteTokenFile(mFile, records);
  EXPECT_EQ(ReadTokenFile(mFile), records);
  EXPECT_THAT(Text(), ::testing::Not(HasSubstr(token)));
  EXPECT_THAT(Text(), HasSubstr(TokenHash(token) + " 1001 clerk A1,A2 2024-05-01T08:30:00Z "
                                                   "Margaret Hartley\n"));
  struct stat info {};
  ASSERT_EQ(::stat(mFile.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  // A file made readable by everyone is rewritten readable by its group at most.
  ::chmod(mFile.c_str(), 0666);
  WriteTokenFile(mFile, records);
  ASSERT_EQ(::stat(mFile.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  // Nothing is left beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(mDir), {}), 1);
}

TEST_F(TokenFileTest, BrokenFilesAreRefusedNamingTheLine) {
  const std::string header = "formsmaint-tokens 2\n# comment\n\n";
  const std::string good = kHash + " 1001 clerk A1 2024-05-01T08:30:00Z Margaret Hartley\n";
  struct Case {
    std::string text;
    std::string message;
  };
  const Case cases[] = {
      {"# old style\nk7Qe0c2N9yYw1uJx8rVb3mTzL5aHs6Dp\n", "holds plain tokens"},
      {"k7Qe0c2N9yYw1uJx8rVb3mTzL5aHs6Dp\n", "formsmaint-server token add"},
      {"", "is empty"},
      {"tokens, please\n", "does not start with the line \"formsmaint-tokens 2\""},
      {header + std::string(63, 'a') + " 1001 clerk A1 2024-05-01T08:30:00Z M\n",
       "line 4: \"" + std::string(63, 'a') + "\" is not a SHA-256 hash"},
      {header + std::string(64, 'A') + " 1001 clerk A1 2024-05-01T08:30:00Z M\n",
       "is not a SHA-256 hash"},
      {header + kHash + " 0 clerk A1 2024-05-01T08:30:00Z M\n", "user id \"0\""},
      {header + kHash + " 1001x clerk A1 2024-05-01T08:30:00Z M\n", "user id \"1001x\""},
      {header + kHash + " 1001 boss A1 2024-05-01T08:30:00Z M\n", "role \"boss\""},
      {header + kHash + " 1001 clerk A1;B 2024-05-01T08:30:00Z M\n", "stations: \"A1;B\""},
      {header + kHash + " 1001 admin A1 2024-05-01T08:30:00Z M\n", "its stations are *"},
      {header + kHash + " 1001 clerk A1 yesterday M\n", "creation time \"yesterday\""},
      {header + kHash + " 1001 clerk A1 2024-05-01T08:30:00Z\n", "six fields"},
      {header + good + good, "line 5: the hash is given twice"},
  };
  for (const Case& c : cases) {
    Write(c.text);
    const std::string refusal = Refusal();
    EXPECT_THAT(refusal, HasSubstr(c.message)) << c.text;
    EXPECT_THAT(refusal, HasSubstr(mFile.string())) << c.text;
  }
  std::filesystem::remove(mFile);
  EXPECT_THAT(Refusal(), HasSubstr("cannot be read"));
}

TEST_F(TokenFileTest, TableKnowsTheTokensOnlyNeitherTheirHashesNorNearMisses) {
  const std::string clerk = NewToken();
  const std::string admin = NewToken();
  WriteTokenFile(mFile, {Record(clerk, 1001, Role::Clerk, "A1", "Margaret Hartley"),
                         Record(admin, 1, Role::Admin, "*", "Ada")});
  const TokenTable table(ReadTokenFile(mFile));
  ASSERT_NE(table.Find(clerk), nullptr);
  EXPECT_EQ(table.Find(clerk)->displayName, "Margaret Hartley");
  EXPECT_EQ(table.Find(admin)->role, Role::Admin);
  // A leaked copy of the file gives nothing to present: no word of it is a token.
  std::istringstream words(Text());
  for (std::string word; words >> word;) EXPECT_EQ(table.Find(word), nullptr) << word;
  for (const std::string& miss :
       {std::string(), clerk.substr(0, clerk.size() - 1), clerk + "x", " " + clerk}) {
    EXPECT_EQ(table.Find(miss), nullptr) << miss;
  }
}

TEST_F(TokenFileTest, EditsAtTheSameTimeLoseNothing) {
  constexpr int kThreads = 6;
  constexpr int kEach = 15;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        EditTokenFile(mFile, [&](std::vector<TokenRecord>& records) {
          records.push_back(Record(NewToken(), 100 * t + i + 1, Role::Viewer, "*", "V"));
        });
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(ReadTokenFile(mFile).size(), static_cast<std::size_t>(kThreads * kEach));

  // An edit that throws leaves the file as it was.
  const std::string before = Text();
  EXPECT_THROW(EditTokenFile(mFile,
                             [](std::vector<TokenRecord>& records) {
                               records.clear();
                               throw std::runtime_error("changed my mind");
                             }),
               std::runtime_error);
  EXPECT_EQ(Text(), before);
}

TEST(LoopbackAddressTest, KnowsLoopbackAddressesOnly) {
  for (const char* loopback : {"127.0.0.1", "127.3.2.1", "::1", "::ffff:127.0.0.1", "localhost"}) {
    EXPECT_TRUE(IsLoopbackAddress(loopback)) << loopback;
  }
  for (const char* other : {"0.0.0.0", "::", "10.0.0.1", "192.168.1.5", "::ffff:10.0.0.1",
                            "128.0.0.1", "localhost.example.org", "", "127.0.0.1:8750"}) {
    EXPECT_FALSE(IsLoopbackAddress(other)) << other;
  }
}

}  // namespace
}  // namespace fm::server
