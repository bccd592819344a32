// formsmaint-server as a process: its command line, its start-up refusals, and its stop on
// SIGTERM.

#include <fcntl.h>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "HttpTestClient.h"
#include "ServerProcess.h"
#include "server/Store.h"
#include "server/TimeText.h"

namespace fm::server {
namespace {

using testing::HttpTestClient;
using testing::ServerProcess;

class ServerProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mDir = std::filesystem::temp_directory_path() / fmt::format("fm-server-process-{}", getpid());
    std::filesystem::create_directories(mDir);
    mDatabase = "sqlite:" + (mDir / "inventory.db").string();
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(mDir, ignored);
  }

  std::filesystem::path mDir;
  std::string mDatabase;
};

TEST_F(ServerProcessTest, LoadsTheDemoServesAndStopsOnSigtermWithStatusZero) {
  std::ofstream(mDir / "tokens") << "# test\nprocess-token\n";
  ServerProcess server({"--database", mDatabase, "--load-demo", "--serve", "--listen",
                        "127.0.0.1:0", "--token-file", (mDir / "tokens").string(), "--access-log",
                        (mDir / "access.log").string()});
  std::string port = server.WaitFor(std::regex("listening on http://127\\.0\\.0\\.1:(\\d+)"));
  ASSERT_FALSE(port.empty()) << server.ErrorText();

  HttpTestClient client(static_cast<unsigned short>(std::stoi(port)));
  EXPECT_EQ(client.Request("GET", "/healthz").status, 200u);
  EXPECT_EQ(client.Request("GET", "/v1/history?form_type=C&number=1100050").status, 401u);

  server.Signal(SIGTERM);
  EXPECT_EQ(server.Wait(), 0) << server.ErrorText();
  EXPECT_NE(server.ErrorText().find("loaded the demo inventory: "), std::string::npos);
  EXPECT_NE(server.ErrorText().find("SIGTERM"), std::string::npos);
}

TEST_F(ServerProcessTest, CreateSchemaMigratesAndExits) {
  ServerProcess server({"--database", mDatabase, "--create-schema"});
  EXPECT_EQ(server.Wait(), 0) << server.ErrorText();
  EXPECT_NE(server.ErrorText().find("schema version"), std::string::npos) << server.ErrorText();
  EXPECT_TRUE(std::filesystem::exists(mDir / "inventory.db"));
}

TEST_F(ServerProcessTest, RefusesSettingsToCorrectWithStatusTwo) {
  {
    ServerProcess server({"--database", mDatabase, "--listen", "0.0.0.0:0"});
    EXPECT_EQ(server.Wait(), 2);
    EXPECT_NE(server.ErrorText().find("without bearer tokens"), std::string::npos)
        << server.ErrorText();
  }
  {
    ServerProcess server({"--database", mDatabase, "--listen", "127.0.0.1"});
    EXPECT_EQ(server.Wait(), 2);
    EXPECT_NE(server.ErrorText().find("ADDRESS:PORT"), std::string::npos) << server.ErrorText();
  }
  {
    std::ofstream(mDir / "empty-tokens") << "# none yet\n";
    ServerProcess server(
        {"--database", mDatabase, "--token-file", (mDir / "empty-tokens").string()});
    EXPECT_EQ(server.Wait(), 2);
    EXPECT_NE(server.ErrorText().find("holds no token"), std::string::npos) << server.ErrorText();
  }
}

TEST_F(ServerProcessTest, LoadingIntoAFilledStoreFailsWithStatusOne) {
  ServerProcess first({"--database", mDatabase, "--load-demo"});
  ASSERT_EQ(first.Wait(), 0) << first.ErrorText();
  ServerProcess second({"--database", mDatabase, "--load-demo"});
  EXPECT_EQ(second.Wait(), 1);
  EXPECT_NE(second.ErrorText().find("holds no ranges"), std::string::npos) << second.ErrorText();
}

TEST_F(ServerProcessTest, WithdrawTakesFormsOutAsTheAccountRunningItAndRefusesAGap) {
  ServerProcess load({"--database", mDatabase, "--load-demo"});
  ASSERT_EQ(load.Wait(), 0) << load.ErrorText();
  RangeQuery query;
  query.formType = {{Comparison::Equal, "C"}};
  const FormRange first = OpenStore(mDatabase)->FindRanges(query).front().range;

  ServerProcess withdraw({"withdraw", "--database", mDatabase, "--form-type", "C", "--from",
                          std::to_string(first.from), "--to", std::to_string(first.from + 4),
                          "--reason", "printed with a wrong number"});
  ASSERT_EQ(withdraw.Wait(), 0) << withdraw.ErrorText();
  EXPECT_NE(withdraw.ErrorText().find(fmt::format("Withdrew forms {}-{} of form type C (ENF001)",
                                                  first.from, first.from + 4)),
            std::string::npos)
      << withdraw.ErrorText();
  EXPECT_NE(withdraw.ErrorText().find(fmt::format("kept      {}-{}", first.from + 5, first.to)),
            std::string::npos)
      << withdraw.ErrorText();

  const auto history = OpenStore(mDatabase)->FormHistory("C", first.from + 2);
  ASSERT_FALSE(history.empty());
  EXPECT_EQ(history.back().event, "WITHDRAW");
  EXPECT_EQ(history.back().reason, "printed with a wrong number");
  EXPECT_EQ(history.back().userName, getpwuid(geteuid())->pw_name);

  // The same numbers again: no range holds them any more.
  ServerProcess again({"withdraw", "--database", mDatabase, "--form-type", "C", "--from",
                       std::to_string(first.from), "--to", std::to_string(first.from + 4),
                       "--reason", "twice"});
  EXPECT_EQ(again.Wait(), 1);
  EXPECT_NE(again.ErrorText().find("are in no range"), std::string::npos) << again.ErrorText();
  ServerProcess noReason(
      {"withdraw", "--database", mDatabase, "--form-type", "C", "--from", "1", "--to", "2"});
  EXPECT_NE(noReason.Wait(), 0);
  EXPECT_NE(noReason.ErrorText().find("--reason"), std::string::npos) << noReason.ErrorText();
}

TEST_F(ServerProcessTest, ReportWritesCsvOrJsonAndRefusesAStationNotKnown) {
  ServerProcess load({"--database", mDatabase, "--load-demo"});
  ASSERT_EQ(load.Wait(), 0) << load.ErrorText();
  const std::string today = LocalDate(std::chrono::system_clock::now());
  const auto csv = mDir / "a1.csv";
  ServerProcess report({"report", "--database", mDatabase, "--station", "A1", "--from", today,
                        "--to", today, "--format", "csv", "--output", csv.string()});
  ASSERT_EQ(report.Wait(), 0) << report.ErrorText();
  std::ifstream in(csv, std::ios::binary);
  std::ostringstream read;
  read << in.rdbuf();
  const std::string text = read.str();
  EXPECT_EQ(
      text.rfind("Holder,From,To,Form type,Description,Line,Reason,Count,Ranges,Balanced\r\n", 0),
      0u)
      << text;
  // Every form type of A1's demo stock was received today and balances.
  EXPECT_NE(text.find(fmt::format("A1 Capital City,{0},{0},C,ENF001 Citation,Received,,", today)),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find(",no\r\n"), std::string::npos) << text;

  ServerProcess unknown({"report", "--database", mDatabase, "--station", "Q9"});
  EXPECT_EQ(unknown.Wait(), 2);
  EXPECT_NE(unknown.ErrorText().find("\"Q9\" is not a known Troop/District"), std::string::npos)
      << unknown.ErrorText();
}

}  // namespace
}  // namespace fm::server
