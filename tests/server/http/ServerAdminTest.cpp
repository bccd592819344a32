// formsmaint-server's configuration file and its backup and restore commands, run as a
// process the way an administrator or the service manager runs it.

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "ServerProcess.h"
#include "TempFolder.h"

namespace fm::server {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using testing::ServerProcess;

class ServerAdminTest : public ::testing::Test {
 protected:
  // Writes a configuration file; "{dir}" in the text stands for the test's folder.
  std::string Config(const std::string& name, const std::string& text) {
    fs::path file = mDir / name;
    std::ofstream(file) << fmt::format(fmt::runtime(text), fmt::arg("dir", mDir.string()));
    return file.string();
  }

  fm::testing::TempFolder mFolder;
  const fs::path mDir = mFolder.Path();
};

TEST_F(ServerAdminTest, TheConfigurationFileSetsOptionsAndAMistakeInItStopsWithStatusTwo) {
  struct Case {
    const char* name;
    const char* file;
    std::vector<std::string> arguments;
    int status;
    const char* message;           // in standard error
    const char* created;           // the database file the settings chose
    const char* absent = nullptr;  // the one they did not
  };
  const char* kSchemaOnly = "database = sqlite:{dir}/from-file.db\ncreate-schema = true\n";
  const std::vector<Case> cases = {
      {"the command line wins",
       kSchemaOnly,
       {"--database", "sqlite:" + (mDir / "from-line.db").string()},
       0,
       "from-line.db",
       "from-line.db",
       "from-file.db"},
      {"settings from the file", kSchemaOnly, {}, 0, "schema version", "from-file.db"},
      {"comments, blank lines and quotes",
       "# the store\n\n  database = \"sqlite:{dir}/quoted #1.db\" # a comment\n"
       "create-schema=true  # migrate, then exit\n",
       {},
       0,
       "quoted #1.db",
       "quoted #1.db"},
      {"an unknown key", "thraeds = 4\n", {}, 2, "line 1: unknown key \"thraeds\"", nullptr},
      {"a value out of range",
       "threads = 500\n",
       {},
       2,
       "--threads: Value 500 not in range",
       nullptr},
      {"a wrong value the command line overrides",
       "threads = 500\n",
       {"--threads", "4", "--create-schema"},
       2,
       "not in range",
       nullptr},
      {"a flag that is neither true nor false", "serve = maybe\n", {}, 2, "--serve", nullptr},
      {"a key given twice",
       "threads = 4\nthreads = 8\n",
       {},
       2,
       "line 2: threads was set already on line 1",
       nullptr},
      {"a section", "[server]\nthreads = 4\n", {}, 2, "sections are not used", nullptr},
      {"a line without a value", "threads\n", {}, 2, "\"threads\" is not a setting", nullptr},
      {"a key without a value", "listen =\n", {}, 2, "listen has no value", nullptr},
      {"a quote left open",
       "listen = \"127.0.0.1:8750\n",
       {},
       2,
       "lacks its closing quote",
       nullptr},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    std::vector<std::string> arguments = {"--config",
                                          Config(fmt::format("case-{}.conf", i), c.file)};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    ServerProcess server(arguments);
    EXPECT_EQ(server.Wait(), c.status) << server.ErrorText();
    EXPECT_THAT(server.ErrorText(), HasSubstr(c.message));
    if (c.status == 2) {
      EXPECT_THAT(server.ErrorText(), HasSubstr("the configuration file"));
    }
    if (c.created) {
      EXPECT_TRUE(fs::exists(mDir / c.created));
    }
    if (c.absent) {
      EXPECT_FALSE(fs::exists(mDir / c.absent));
    }
  }
  ServerProcess missing({"--config", (mDir / "missing.conf").string()});
  EXPECT_EQ(missing.Wait(), 2);
  EXPECT_THAT(missing.ErrorText(), HasSubstr("missing.conf"));
}

TEST_F(ServerAdminTest, BackupWhileTheServerRunsAndRestoreOnceItStopped) {
  const std::string config =
      Config("server.conf", "database = sqlite:{dir}/inventory.db\nlisten = 127.0.0.1:0\n");
  ServerProcess load({"--config", config, "--load-demo"});
  ASSERT_EQ(load.Wait(), 0) << load.ErrorText();

  ServerProcess server({"--config", config});
  ASSERT_FALSE(server.WaitFor(std::regex("listening on http://[0-9.]+:(\\d+)")).empty())
      << server.ErrorText();

  const std::string backup = (mDir / "inventory.backup").string();
  ServerProcess copy({"--config", config, "backup", "--to", backup});
  EXPECT_EQ(copy.Wait(), 0) << copy.ErrorText();
  EXPECT_THAT(copy.ErrorText(), HasSubstr("3000 ranges"));

  ServerProcess underTheServer({"--config", config, "restore", "--from", backup, "--force"});
  EXPECT_EQ(underTheServer.Wait(), 2);
  EXPECT_THAT(underTheServer.ErrorText(), HasSubstr("stop it before restoring"));

  server.Signal(SIGTERM);
  ASSERT_EQ(server.Wait(), 0) << server.ErrorText();

  ServerProcess withoutForce({"--config", config, "restore", "--from", backup});
  EXPECT_EQ(withoutForce.Wait(), 2);
  EXPECT_THAT(withoutForce.ErrorText(), HasSubstr("give --force"));

  ServerProcess restore({"--config", config, "restore", "--from", backup, "--force"});
  EXPECT_EQ(restore.Wait(), 0) << restore.ErrorText();
  EXPECT_THAT(restore.ErrorText(), HasSubstr("3000 ranges"));

  for (const char* command : {"backup", "restore"}) {
    ServerProcess postgres({command, "--database", "postgresql://forms@db.example/forms",
                            command == std::string("backup") ? "--to" : "--from", backup});
    EXPECT_EQ(postgres.Wait(), 2);
    EXPECT_THAT(postgres.ErrorText(),
                HasSubstr(command == std::string("backup") ? "pg_dump" : "pg_restore"));
  }
}

}  // namespace
}  // namespace fm::server
