#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "TempFolder.h"
#include "platform/PlatformError.h"
#include "platform/SiteSettings.h"

namespace fm {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

class SiteSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { mEnv["HOME"] = mHome.string(); }

  SiteSettings::Lookup Env() {
    return [this](const char* name) -> const char* {
      const auto it = mEnv.find(name);
      return it == mEnv.end() ? nullptr : it->second.c_str();
    };
  }

  std::filesystem::path WriteFile(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << text;
    return file;
  }

  std::filesystem::path WriteSettings(const std::string& text) {
    return WriteFile(mHome / "site.ini", text);
  }

  // The message of the PlatformError that resolving throws (fails the test if none).
  std::string ResolveError(const std::map<std::string, std::string>& commandLine,
                           const std::filesystem::path& file = {}) {
    try {
      SiteSettings::Resolve(commandLine, Env(), file);
    } catch (const PlatformError& e) {
      return e.Description();
    }
    ADD_FAILURE() << "expected a PlatformError";
    return {};
  }

  testing::TempFolder mTemp;
  const std::filesystem::path& mHome = mTemp.Path();
  std::map<std::string, std::string> mEnv;
};

TEST_F(SiteSettingsTest, WithoutAnySourceTheFilesLieInTheXdgDataFolderIfItIsAbsolute) {
  const auto settings = SiteSettings::Resolve({}, Env());
  const auto data = mHome / ".local/share/formsmaint";
  EXPECT_EQ(settings.LocalDatabaseFile(), data / "local.db");
  EXPECT_EQ(settings.InventoryFile(), data / "inventory.db");
  EXPECT_EQ(settings.LogFile(), data / "formsmaint.log");
  mEnv["XDG_DATA_HOME"] = "/srv/data";
  EXPECT_EQ(SiteSettings::DefaultDataDirectory(Env()), "/srv/data/formsmaint");
  mEnv["XDG_DATA_HOME"] = "relative/data";
  EXPECT_EQ(SiteSettings::DefaultDataDirectory(Env()), data);
}

TEST_F(SiteSettingsTest, CommandLineBeatsEnvironmentBeatsFileBeatsDefault) {
  const auto file = WriteSettings("region = SOUTH\nrequester = FILE\nuser_id = 2002\n");
  mEnv["FORMSMAINT_REGION"] = "EAST";
  mEnv["FORMSMAINT_REQUESTER"] = "ENV";
  const std::map<std::string, std::string> commandLine{{"region", "WEST"}};

  const auto all = SiteSettings::Resolve(commandLine, Env(), file);
  EXPECT_EQ(all.Region(), "WEST");
  EXPECT_EQ(all.RequesterValue(), "ENV");
  EXPECT_EQ(all.UserId(), 2002);
  EXPECT_EQ(all.Timeout(), 30s);

  EXPECT_EQ(SiteSettings::Resolve({}, Env(), file).Region(), "EAST");
  mEnv.erase("FORMSMAINT_REGION");
  EXPECT_EQ(SiteSettings::Resolve({}, Env(), file).Region(), "SOUTH");
  // An empty variable is no value at all.
  mEnv["FORMSMAINT_REGION"] = "";
  EXPECT_EQ(SiteSettings::Resolve({}, Env(), file).Region(), "SOUTH");
}

TEST_F(SiteSettingsTest, TheAccessTokenGivenAtTheHighestLayerWinsOverTheOtherWayOfGivingIt) {
  struct Case {
    const char* fileLines;
    const char* tokenVariable;
    const char* tokenFileVariable;
    const char* tokenFileOption;
    const char* token;      // expected
    const char* tokenFile;  // expected
  };
  const Case cases[] = {
      {"token = fm1_file\n", nullptr, nullptr, nullptr, "fm1_file", ""},
      {"token_file = /etc/fm/desk.token\n", "fm1_env", nullptr, nullptr, "fm1_env", ""},
      {"token = fm1_file\n", nullptr, "/run/fm.token", nullptr, "", "/run/fm.token"},
      {"", "fm1_env", nullptr, "/home/clerk/fm.token", "", "/home/clerk/fm.token"},
      {"token = fm1_file\nca_file = /etc/fm/ca.pem\n", "", nullptr, nullptr, "fm1_file", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fileLines);
    mEnv.erase("FORMSMAINT_TOKEN");
    mEnv.erase("FORMSMAINT_TOKEN_FILE");
    if (c.tokenVariable) mEnv["FORMSMAINT_TOKEN"] = c.tokenVariable;
    if (c.tokenFileVariable) mEnv["FORMSMAINT_TOKEN_FILE"] = c.tokenFileVariable;
    std::map<std::string, std::string> commandLine;
    if (c.tokenFileOption) commandLine["token_file"] = c.tokenFileOption;
    const auto settings = SiteSettings::Resolve(commandLine, Env(), WriteSettings(c.fileLines));
    EXPECT_EQ(settings.Token(), c.token);
    EXPECT_EQ(settings.TokenFile(), c.tokenFile);
  }
  mEnv.clear();
  mEnv["HOME"] = mHome.string();
  EXPECT_EQ(SiteSettings::Resolve({}, Env(), WriteSettings("ca_file = /etc/fm/ca.pem\n")).CaFile(),
            "/etc/fm/ca.pem");
}

TEST_F(SiteSettingsTest, TheFileIsFoundThroughItsVariableOrTheXdgConfigFolder) {
  WriteFile(mHome / ".config/formsmaint/settings.ini", "region = HOMEDEFAULT\n");
  EXPECT_EQ(SiteSettings::Resolve({}, Env()).Region(), "HOMEDEFAULT");

  WriteFile(mHome / "xdg/formsmaint/settings.ini", "region = XDG\n");
  mEnv["XDG_CONFIG_HOME"] = (mHome / "xdg").string();
  EXPECT_EQ(SiteSettings::Resolve({}, Env()).Region(), "XDG");

  mEnv["FORMSMAINT_SETTINGS"] = WriteSettings("region = NAMED\n").string();
  EXPECT_EQ(SiteSettings::Resolve({}, Env()).Region(), "NAMED");
}

TEST_F(SiteSettingsTest, FileLinesAllowCommentsBlanksQuotesAndAnyKeyCase) {
  const auto file = WriteSettings(
      "# site of the northern troops\n"
      "\n"
      "   REGION   =   north   # trailing comment\n"
      "requester = \"FM DESK 4\"\n"
      "Timeout_Seconds = 5\n"
      "local_db = /srv/fm#1/local.db\n"
      "log_file =\n");
  const auto settings = SiteSettings::Resolve({}, Env(), file);
  EXPECT_EQ(settings.Region(), "north");
  EXPECT_EQ(settings.RequesterValue(), "FM DESK 4");
  EXPECT_EQ(settings.Timeout(), 5s);
  EXPECT_EQ(settings.LocalDatabaseFile(), "/srv/fm#1/local.db");
  EXPECT_TRUE(settings.LogFile().empty());
}

TEST_F(SiteSettingsTest, SwitchesComeFromEveryLayerInAnySpellingWithNamesInAnyCase) {
  const auto file = WriteSettings("switch.VoidManualForms = on\nswitch.ShowAudit = TRUE\n");
  auto settings = SiteSettings::Resolve({}, Env(), file);
  EXPECT_TRUE(settings.Switch("VoidManualForms"));
  EXPECT_TRUE(settings.Switch("voidmanualforms"));
  EXPECT_TRUE(settings.Switch("SHOWAUDIT"));
  EXPECT_FALSE(settings.Switch("NeverNamed"));

  mEnv["FORMSMAINT_SWITCH_VOIDMANUALFORMS"] = "no";
  EXPECT_FALSE(SiteSettings::Resolve({}, Env(), file).Switch("VoidManualForms"));

  settings = SiteSettings::Resolve({{"switch.voidManualForms", "1"}}, Env(), file);
  EXPECT_TRUE(settings.Switch("VoidManualForms"));
  settings.SetSwitch("voidmanualforms", false);  // a later setting replaces it in any case
  EXPECT_FALSE(settings.Switch("VoidManualForms"));

  // A switch named only in the environment: the screen's own switch is always looked up,
  // and the process environment's own switches are found too.
  mEnv["FORMSMAINT_SWITCH_VOIDMANUALFORMS"] = "yes";
  EXPECT_TRUE(SiteSettings::Resolve({}, Env()).Switch("VoidManualForms"));
  ::setenv("FORMSMAINT_SWITCH_FMTESTONLYHERE", "yes", 1);
  settings = SiteSettings::Resolve({}, nullptr, WriteSettings(""));
  ::unsetenv("FORMSMAINT_SWITCH_FMTESTONLYHERE");
  EXPECT_TRUE(settings.Switch("FmTestOnlyHere"));

  for (const char* yes : {"yes", "YES", "true", "1", "on", "On"}) {
    EXPECT_TRUE(SiteSettings::Resolve({{"switch.X", yes}}, Env()).Switch("X")) << yes;
  }
  for (const char* no : {"no", "False", "0", "off"}) {
    EXPECT_FALSE(SiteSettings::Resolve({{"switch.X", no}}, Env()).Switch("X")) << no;
  }
}

TEST_F(SiteSettingsTest, BadValuesAreRefusedSayingWhatAndWhereTheyCameFrom) {
  const struct {
    std::map<std::string, std::string> commandLine;
    std::map<std::string, std::string> env;
    const char* fileText;  // nullptr: no file given
    std::vector<std::string> says;
  } cases[] = {
      {{{"switch.X", "maybe"}}, {}, nullptr, {"switch.X", "maybe"}},
      {{{"regoin", "NORTH"}}, {}, nullptr, {"regoin"}},
      {{{"region", "  "}}, {}, nullptr, {"region"}},
      {{{"local_db", ""}}, {}, nullptr, {"local_db"}},
      {{{"switch.", "yes"}}, {}, nullptr, {"switch."}},
      {{{"local_role", "clerk"}}, {}, nullptr, {"local_role", "\"admin\" or \"auditor\""}},
      {{},
       {{"FORMSMAINT_TIMEOUT_SECONDS", "soon"}},
       nullptr,
       {"timeout_seconds", "FORMSMAINT_TIMEOUT_SECONDS"}},
      {{}, {{"FORMSMAINT_TOKEN", "two words"}}, nullptr, {"FORMSMAINT_TOKEN"}},
      {{}, {{"FORMSMAINT_SETTINGS", "/nonexistent/missing.ini"}}, nullptr, {"missing.ini"}},
      {{}, {}, "region = NORTH\n\nuser_id = -1\n", {"site.ini:3", "user_id"}},
      {{}, {}, "region = NORTH\nthis line is wrong\n", {"site.ini:2"}},
      {{}, {}, "# comment\nregoin = NORTH\n", {"site.ini:2", "regoin"}},
      {{}, {}, "= NORTH\n", {"site.ini:1"}},
      {{},
       {},
       "token = fm1_a\ntoken_file = /etc/fm/desk.token\n",
       {"either directly or as a file, not both"}},
  };
  for (const auto& c : cases) {
    mEnv = c.env;
    mEnv["HOME"] = mHome.string();
    const std::string message =
        ResolveError(c.commandLine, c.fileText ? WriteSettings(c.fileText) : "");
    for (const std::string& part : c.says) EXPECT_THAT(message, HasSubstr(part));
  }
  mEnv.erase("FORMSMAINT_SETTINGS");
  EXPECT_THAT(ResolveError({}, mHome / "absent.ini"), HasSubstr("absent.ini"));

  // Whole numbers must be positive and fit.
  for (const char* bad : {"0", "-3", "12a", "1.5", "", " ", "+-7", "99999999999"}) {
    EXPECT_THAT(ResolveError({{"user_id", bad}}), HasSubstr("command-line option --user_id"))
        << bad;
  }
  EXPECT_EQ(SiteSettings::Resolve({{"user_id", " 4711 "}}, Env()).UserId(), 4711);
  EXPECT_EQ(SiteSettings::Resolve({{"timeout_seconds", "2"}}, Env()).Timeout(), 2000ms);
  EXPECT_EQ(SiteSettings::Resolve({{"local_role", " Auditor "}}, Env()).LocalRole(), "auditor");
}

}  // namespace
}  // namespace fm
