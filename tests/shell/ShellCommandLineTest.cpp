#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "shell/ShellCommandLine.h"

namespace fm::shell {
namespace {

struct Parsed {
  ShellCommandLineOutcome outcome;
  std::string out;
  std::string err;
};

Parsed Parse(const std::vector<const char*>& args) {
  std::vector<const char*> argv;
  argv.reserve(args.size() + 1);
  argv.push_back("formsmaint");
  for (const char* arg : args) argv.push_back(arg);
  std::ostringstream out;
  std::ostringstream err;
  Parsed parsed{
      ShellCommandLine::Parse(static_cast<int>(argv.size()), argv.data(), out, err), {}, {}};
  parsed.out = out.str();
  parsed.err = err.str();
  return parsed;
}

// Every option, a value, and the site setting it becomes.
const struct {
  const char* option;
  const char* value;
  const char* key;
} kOptions[] = {
    {"--local-db", "/srv/fm/local.db", "local_db"},
    {"--inventory", "/srv/fm/inventory.db", "inventory_db"},
    {"--server", "http://forms:8080", "server"},
    {"--token-file", "/etc/fm.token", "token_file"},
    {"--ca-file", "/etc/fm/ca.pem", "ca_file"},
    {"--region", "SOUTH", "region"},
    {"--user", "2002", "user_id"},
    {"--requester", "DESK 4", "requester"},
    {"--timeout", "45", "timeout_seconds"},
    {"--log-file", "", "log_file"},
};

TEST(ShellCommandLineTest, EachOptionOrItsSettingKeyBecomesTheSiteSettingOfItsName) {
  const Parsed none = Parse({});  // the settings and the embedded inventory decide
  ASSERT_TRUE(none.outcome.commandLine.has_value());
  EXPECT_TRUE(none.outcome.commandLine->settings.empty());
  EXPECT_TRUE(none.outcome.commandLine->settingsFile.empty());

  std::vector<const char*> args;
  std::map<std::string, std::string> expected;
  for (const auto& o : kOptions) {
    args.insert(args.end(), {o.option, o.value});
    expected[o.key] = o.value;
    const std::string byKey = std::string("--") + o.key;
    const Parsed parsed = Parse({byKey.c_str(), o.value});
    ASSERT_TRUE(parsed.outcome.commandLine.has_value()) << byKey << ": " << parsed.err;
    EXPECT_EQ(parsed.outcome.commandLine->settings.at(o.key), o.value) << byKey;
  }
  args.insert(args.end(), {"--switch", "VoidManualForms=yes", "--settings", "/etc/fm/s.ini"});
  expected["switch.VoidManualForms"] = "yes";
  const Parsed parsed = Parse(args);
  ASSERT_TRUE(parsed.outcome.commandLine.has_value()) << parsed.err;
  EXPECT_EQ(parsed.outcome.commandLine->settings, expected);
  EXPECT_EQ(parsed.outcome.commandLine->settingsFile, "/etc/fm/s.ini");
}

TEST(ShellCommandLineTest, HelpExplainsEveryOption) {
  const Parsed parsed = Parse({"--help"});
  EXPECT_FALSE(parsed.outcome.commandLine.has_value());
  EXPECT_EQ(parsed.outcome.exitCode, 0);
  for (const auto& o : kOptions)
    EXPECT_NE(parsed.out.find(o.option), std::string::npos) << o.option;
  for (const char* option : {"--switch", "--settings"}) {
    EXPECT_NE(parsed.out.find(option), std::string::npos) << option;
  }
  EXPECT_NE(parsed.out.find("embedded demo inventory"), std::string::npos);
  const char* onlyProgram[] = {"--help"};
  EXPECT_FALSE(ShellCommandLine::AsksForHelp(1, onlyProgram));  // argv[0] is the program
  const char* asked[] = {"formsmaint", "--region", "X", "--help"};
  EXPECT_TRUE(ShellCommandLine::AsksForHelp(4, asked));
}

TEST(ShellCommandLineTest, MistakesAreExplainedAndEndWithCodeTwo) {
  for (const auto& args : std::vector<std::vector<const char*>>{{"--user", "0"},
                                                                {"--user", "twelve"},
                                                                {"--timeout", "-5"},
                                                                {"--switch", "VoidManualForms"},
                                                                {"--no-such-option"},
                                                                {"--region"}}) {
    const Parsed parsed = Parse(args);
    EXPECT_FALSE(parsed.outcome.commandLine.has_value()) << args.front();
    EXPECT_EQ(parsed.outcome.exitCode, 2) << args.front();
    EXPECT_FALSE(parsed.err.empty()) << args.front();
  }
}

}  // namespace
}  // namespace fm::shell
