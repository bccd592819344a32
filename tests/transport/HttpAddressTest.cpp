#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/PlatformError.h"
#include "transport/HttpAddress.h"

namespace fm {
namespace {

using ::testing::HasSubstr;

TEST(HttpAddressTest, ReadsSchemeHostPortAndPathWithTheSchemesDefaultPort) {
  const auto plain = HttpAddress::Parse("http://forms.example.org:8080/");
  EXPECT_FALSE(plain.tls);
  EXPECT_EQ(plain.host, "forms.example.org");
  EXPECT_EQ(plain.port, 8080);
  EXPECT_EQ(plain.basePath, "");
  EXPECT_EQ(plain.HostHeader(), "forms.example.org:8080");

  const auto secure = HttpAddress::Parse("  HTTPS://forms.example.org/agency/forms/ ");
  EXPECT_TRUE(secure.tls);
  EXPECT_EQ(secure.port, 443);
  EXPECT_EQ(secure.basePath, "/agency/forms");
  EXPECT_EQ(secure.HostHeader(), "forms.example.org");
  EXPECT_EQ(secure.Origin(), "https://forms.example.org:443");

  const auto bare = HttpAddress::Parse("127.0.0.1:9000");
  EXPECT_FALSE(bare.tls);
  EXPECT_EQ(bare.host, "127.0.0.1");
  EXPECT_EQ(bare.port, 9000);

  const auto ipv6 = HttpAddress::Parse("http://[::1]:8443");
  EXPECT_EQ(ipv6.host, "::1");
  EXPECT_EQ(ipv6.HostHeader(), "[::1]:8443");
}

TEST(HttpAddressTest, UnusableAddressesAreRefusedSayingWhy) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "it is empty"},
      {"ftp://host", "the scheme 'ftp' is not http or https"},
      {"http://", "names no host"},
      {"http://host:", "the port is missing"},
      {"http://host:0", "not a number from 1 to 65535"},
      {"http://host:65536", "not a number from 1 to 65535"},
      {"http://host:80x", "not a number from 1 to 65535"},
      {"http://user:pw@host", "must not carry a user name"},
      {"http://host/path?x=1", "query or fragment"},
      {"http://::1:80", "must be written in brackets"},
      {"http://[::1", "no closing ']'"},
  };
  for (const auto& [text, problem] : cases) {
    try {
      HttpAddress::Parse(text);
      ADD_FAILURE() << "accepted '" << text << "'";
    } catch (const PlatformError& error) {
      EXPECT_THAT(error.Description(), HasSubstr(problem)) << text;
      EXPECT_THAT(error.Description(), HasSubstr("The forms server address")) << text;
    }
  }
}

}  // namespace
}  // namespace fm
