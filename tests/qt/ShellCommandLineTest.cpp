#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "qt/ShellCommandLine.h"

namespace fm::qt {
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

TEST(ShellCommandLineTest, NoOptionsMeanTheSettingsAndTheEmbeddedInventoryDecide) {
  const Parsed parsed = Parse({});
  ASSERT_TRUE(parsed.outcome.commandLine.has_value());
  EXPECT_TRUE(parsed.outcome.commandLine->settings.empty());
  EXPECT_TRUE(parsed.outcome.commandLine->settingsFile.empty());
}

TEST(ShellCommandLineTest, EachOptionBecomesTheSiteSettingOfItsName) {
  const Parsed parsed = Parse({"--local-db",   "/srv/fm/local.db",
                               "--inventory",  "/srv/fm/inventory.db",
                               "--server",     "http://forms:8080",
                               "--token-file", "/etc/fm.token",
                               "--ca-file",    "/etc/fm/ca.pem",
                               "--region",     "SOUTH",
                               "--user",       "2002",
                               "--requester",  "DESK 4",
                               "--timeout",    "45",
                               "--log-file",   "",
                               "--switch",     "VoidManualForms=yes",
                               "--settings",   "/etc/fm/settings.ini"});
  ASSERT_TRUE(parsed.outcome.commandLine.has_value()) << parsed.err;
  const auto& settings = parsed.outcome.commandLine->settings;
  const std::map<std::string, std::string> expected{{"local_db", "/srv/fm/local.db"},
                                                    {"inventory_db", "/srv/fm/inventory.db"},
                                                    {"server", "http://forms:8080"},
                                                    {"token_file", "/etc/fm.token"},
                                                    {"ca_file", "/etc/fm/ca.pem"},
                                                    {"region", "SOUTH"},
                                                    {"user_id", "2002"},
                                                    {"requester", "DESK 4"},
                                                    {"timeout_seconds", "45"},
                                                    {"log_file", ""},
                                                    {"switch.VoidManualForms", "yes"}};
  EXPECT_EQ(settings, expected);
  EXPECT_EQ(parsed.outcome.commandLine->settingsFile, "/etc/fm/settings.ini");
}

TEST(ShellCommandLineTest, TheSettingKeysAreAcceptedAsOptionNamesToo) {
  const Parsed parsed = Parse({"--local_db", "a.db", "--user_id", "7", "--timeout_seconds", "5"});
  ASSERT_TRUE(parsed.outcome.commandLine.has_value()) << parsed.err;
  EXPECT_EQ(parsed.outcome.commandLine->settings.at("local_db"), "a.db");
  EXPECT_EQ(parsed.outcome.commandLine->settings.at("user_id"), "7");
  EXPECT_EQ(parsed.outcome.commandLine->settings.at("timeout_seconds"), "5");
}

TEST(ShellCommandLineTest, HelpExplainsEveryOption) {
  const Parsed parsed = Parse({"--help"});
  EXPECT_FALSE(parsed.outcome.commandLine.has_value());
  EXPECT_EQ(parsed.outcome.exitCode, 0);
  for (const char* option :
       {"--local-db", "--inventory", "--server", "--token-file", "--ca-file", "--region", "--user",
        "--requester", "--timeout", "--log-file", "--switch", "--settings"}) {
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
}  // namespace fm::qt
