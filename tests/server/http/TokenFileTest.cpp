#include <fmt/format.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "server/http/HttpServerError.h"
#include "server/http/TokenFile.h"

namespace fm::server {
namespace {

class TokenFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mFile = std::filesystem::temp_directory_path() / fmt::format("fm-tokens-{}.txt", getpid());
  }
  void TearDown() override { std::filesystem::remove(mFile); }

  void Write(const std::string& text) { std::ofstream(mFile, std::ios::binary) << text; }

  std::string Refusal() {
    try {
      ReadTokenFile(mFile);
    } catch (const HttpServerError& e) {
      return e.what();
    }
    return "read";
  }

  std::filesystem::path mFile;
};

TEST_F(TokenFileTest, ReadsOneTokenALineSkippingBlanksAndComments) {
  Write("# tokens of the forms server\n\n  first-token  \r\n\t\n# retired: old\nsecond/Token+=\n");
  EXPECT_EQ(ReadTokenFile(mFile), (std::vector<std::string>{"first-token", "second/Token+="}));
}

TEST_F(TokenFileTest, FileWithOnlyCommentsHasNoTokens) {
  Write("# nothing yet\n\n");
  EXPECT_TRUE(ReadTokenFile(mFile).empty());
}

TEST_F(TokenFileTest, TokenWithABlankInsideIsRefusedNamingTheLine) {
  Write("good\n# c\ntwo words\n");
  EXPECT_NE(Refusal().find("line 3"), std::string::npos) << Refusal();
}

TEST_F(TokenFileTest, TokenWithAControlOrNonAsciiCharacterIsRefused) {
  Write("caf\xc3\xa9\n");
  EXPECT_NE(Refusal().find("line 1"), std::string::npos);
}

TEST_F(TokenFileTest, MissingFileIsRefusedNamingIt) {
  EXPECT_NE(Refusal().find(mFile.string()), std::string::npos);
  EXPECT_NE(Refusal().find("cannot be read"), std::string::npos);
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
