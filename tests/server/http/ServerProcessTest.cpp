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
#include <string>
#include <vector>

#include "HttpTestClient.h"
#include "server/Store.h"

namespace fm::server {
namespace {

using testing::HttpTestClient;

// The executable with its standard error (and output) read through a pipe.
class ServerProcess {
 public:
  explicit ServerProcess(std::vector<std::string> arguments)
      : mProgram(FM_SERVER_EXECUTABLE), mArguments(std::move(arguments)) {
    // Everything the child needs is allocated before the fork: it only calls exec.
    std::vector<char*> argv{mProgram.data()};
    for (auto& a : mArguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) throw std::runtime_error("pipe failed");
    mPid = fork();
    if (mPid == 0) {
      dup2(pipeEnds[1], STDERR_FILENO);
      dup2(pipeEnds[1], STDOUT_FILENO);
      close(pipeEnds[0]);
      close(pipeEnds[1]);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(pipeEnds[1]);
    mErr = pipeEnds[0];
  }
  ~ServerProcess() {
    if (mPid > 0 && !mReaped) {
      kill(mPid, SIGKILL);
      waitpid(mPid, nullptr, 0);
    }
    close(mErr);
  }

  // Reads standard error until `pattern` matches it (answers its first group) or the
  // process closes it; gives up after 60 s.
  std::string WaitFor(const std::regex& pattern) {
    std::smatch match;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!std::regex_search(mText, match, pattern) && std::chrono::steady_clock::now() < end) {
      if (!ReadSome()) break;
    }
    return std::regex_search(mText, match, pattern) && match.size() > 1 ? match[1].str() : "";
  }

  // Waits for the exit; answers the exit status (-1 for a death by signal).
  int Wait() {
    int status = 0;
    waitpid(mPid, &status, 0);
    mReaped = true;
    while (ReadSome()) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  void Signal(int number) { kill(mPid, number); }
  const std::string& ErrorText() const { return mText; }

 private:
  // Appends what standard error has within 100 ms; false once it is closed.
  bool ReadSome() {
    pollfd fd{mErr, POLLIN, 0};
    if (poll(&fd, 1, 100) <= 0) return true;
    char buffer[4096];
    ssize_t n = read(mErr, buffer, sizeof buffer);
    if (n <= 0) return false;
    mText.append(buffer, static_cast<std::size_t>(n));
    return true;
  }

  std::string mProgram;
  std::vector<std::string> mArguments;
  pid_t mPid = -1;
  int mErr = -1;
  bool mReaped = false;
  std::string mText;
};

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

}  // namespace
}  // namespace fm::server
