// formsmaint-server as a process, the way an administrator or the service manager runs it:
// its command line and configuration file, its start-up refusals, its commands (tokens,
// withdrawals, reports, backup and restore), and its stop on SIGTERM.

#include <fcntl.h>
#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <numeric>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "HttpTestServer.h"
#include "TempFolder.h"
#include "server/http/TokenFile.h"
#include "server/store/ReferenceData.h"
#include "server/store/SqliteConnection.h"
#include "server/store/Store.h"
#include "server/store/TimeText.h"

namespace fm::server {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using testing::HttpReply;
using testing::HttpTestClient;

// formsmaint-server (FM_SERVER_EXECUTABLE, set by the test's CMake file) as a child process,
// its standard error and output read through one pipe.
class ServerProcess {
 public:
  // `output` non-empty: standard output goes to that file instead of the pipe.
  explicit ServerProcess(std::vector<std::string> arguments,
                         const std::filesystem::path& output = {})
      : mProgram(FM_SERVER_EXECUTABLE), mArguments(std::move(arguments)) {
    // Everything the child needs is allocated before the fork: it only calls exec.
    std::vector<char*> argv{mProgram.data()};
    for (auto& a : mArguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) throw std::runtime_error("pipe failed");
    const int outputFile =
        output.empty() ? -1 : open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    mPid = fork();
    if (mPid == 0) {
      dup2(pipeEnds[1], STDERR_FILENO);
      dup2(outputFile >= 0 ? outputFile : pipeEnds[1], STDOUT_FILENO);
      close(pipeEnds[0]);
      close(pipeEnds[1]);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(pipeEnds[1]);
    if (outputFile >= 0) close(outputFile);
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
  pid_t Pid() const { return mPid; }
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
  // Runs `token add` on the token file; answers the token it printed on its last line.
  std::string AddToken(const std::string& user, const std::string& name, const std::string& role,
                       const std::string& stations) {
    std::vector<std::string> arguments{"token", "add",    "--token-file", Tokens(), "--user",
                                       user,    "--name", name,           "--role", role};
    if (!stations.empty()) arguments.insert(arguments.end(), {"--stations", stations});
    ServerProcess add(arguments, mDir / "output");
    EXPECT_EQ(add.Wait(), 0) << add.ErrorText();
    return LastLine(Output());
  }
  std::string Tokens() const { return (mDir / "tokens").string(); }
  std::string Output() const { return ReadFile(mDir / "output"); }
  static std::string ReadFile(const std::filesystem::path& file) {
    std::ostringstream text;
    text << std::ifstream(file, std::ios::binary).rdbuf();
    return text.str();
  }
  static std::string LastLine(const std::string& text) {
    std::string trimmed = text.substr(0, text.find_last_not_of('\n') + 1);
    return trimmed.substr(trimmed.rfind('\n') + 1);
  }
  // Writes a configuration file; "{dir}" in the text stands for the test's folder.
  std::string Config(const std::string& name, const std::string& text) {
    fs::path file = mDir / name;
    std::ofstream(file) << fmt::format(fmt::runtime(text), fmt::arg("dir", mDir.string()));
    return file.string();
  }
  // The port a serving process announced, 0 when it announced none.
  static unsigned short ListeningPort(ServerProcess& server) {
    const std::string port = server.WaitFor(std::regex("listening on http://[0-9.]+:(\\d+)"));
    EXPECT_FALSE(port.empty()) << server.ErrorText();
    return port.empty() ? 0 : static_cast<unsigned short>(std::stoi(port));
  }

  fm::testing::TempFolder mFolder;
  const std::filesystem::path mDir = mFolder.Path();
  const std::string mDatabase = "sqlite:" + (mDir / "inventory.db").string();
};

// The server loads the demo, serves, and stops on SIGTERM with status 0. The access log is
// buffered; what SIGTERM stops is in the file all the same, one line per request (who asked,
// what, the answer, how long it took), whichever connection and answer it had.
TEST_F(ServerProcessTest, ServesUntilSigtermAndTheAccessLogHoldsEveryRequest) {
  const std::filesystem::path log = mDir / "access.log";
  ServerProcess server({"--database", mDatabase, "--load-demo", "--serve", "--listen",
                        "127.0.0.1:0", "--access-log", log.string()});
  const unsigned short port = ListeningPort(server);
  ASSERT_NE(port, 0);
  constexpr int kConnections = 4;
  constexpr int kEach = 25;
  std::vector<std::thread> clients;
  for (int c = 0; c < kConnections; ++c) {
    clients.emplace_back([&, c] {
      HttpTestClient client(port);
      for (int i = 0; i < kEach; ++i) {
        const auto status = (i + c) % 3 == 0 ? client.Request("GET", "/healthz").status
                                             : client.Request("GET", "/nowhere").status;
        EXPECT_TRUE(status == 200u || status == 404u) << status;
      }
    });
  }
  for (auto& client : clients) client.join();
  server.Signal(SIGTERM);
  EXPECT_EQ(server.Wait(), 0) << server.ErrorText();
  EXPECT_THAT(server.ErrorText(), HasSubstr("loaded the demo inventory: "));
  EXPECT_THAT(server.ErrorText(), HasSubstr("SIGTERM"));
  int healthChecks = 0;
  for (int c = 0; c < kConnections; ++c) {
    for (int i = 0; i < kEach; ++i) healthChecks += (i + c) % 3 == 0 ? 1 : 0;
  }
  std::ifstream in(log);
  int answered = 0;
  int refused = 0;
  for (std::string line; std::getline(in, line);) {
    EXPECT_THAT(line, HasSubstr(" 127.0.0.1:"));
    EXPECT_THAT(line, HasSubstr("ms"));
    answered += line.find(" GET /healthz 200 ") != std::string::npos ? 1 : 0;
    refused += line.find(" GET /nowhere 404 ") != std::string::npos ? 1 : 0;
  }
  EXPECT_EQ(answered, healthChecks);
  EXPECT_EQ(refused, kConnections * kEach - healthChecks);
}

// Settings to correct stop with status 2, a store or file that cannot be used with 1.
TEST_F(ServerProcessTest, RefusesWhatCannotBeServedNamingIt) {
  std::ofstream(mDir / "empty-tokens") << "formsmaint-tokens 2\n# none yet\n";
  const std::string empty = (mDir / "empty-tokens").string();
  std::ofstream(mDir / "plain")
      << "# north region workstations\nk7Qe0c2N9yYw1uJx8rVb3mTzL5aHs6Dp\n";
  const std::string plain = (mDir / "plain").string();
  AddToken("1001", "Margaret Hartley", "clerk", "A1");
  ServerProcess load({"--database", mDatabase, "--load-demo"});
  ASSERT_EQ(load.Wait(), 0) << load.ErrorText();
  const struct {
    std::vector<std::string> arguments;  // after --database
    int status;
    const char* says;
  } kCases[] = {
      {{"--listen", "0.0.0.0:0"}, 2, "without bearer tokens"},
      {{"--listen", "127.0.0.1"}, 2, "ADDRESS:PORT"},
      {{"--token-file", empty}, 2, "holds no token"},
      {{"--listen", "0.0.0.0:0", "--token-file", Tokens()}, 2, "without TLS"},
      {{"--token-file", Tokens(), "--tls-cert", Tokens()},
       2,
       "--tls-cert and --tls-key go together"},
      {{"--token-file", plain}, 1, "holds plain tokens"},
      {{"--token-file", plain}, 1, "formsmaint-server token add --token-file NEW"},
      {{"--load-demo"}, 1, "holds no ranges"},
  };
  for (const auto& c : kCases) {
    std::vector<std::string> arguments{"--database", mDatabase};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    ServerProcess server(arguments);
    EXPECT_EQ(server.Wait(), c.status) << c.says;
    EXPECT_THAT(server.ErrorText(), HasSubstr(c.says));
  }
}

TEST_F(ServerProcessTest, TokensAddedListedAndRevokedTakeEffectOnSighup) {
  const std::string clerk = AddToken("1001", "Margaret Hartley", "clerk", "A1,A2");
  EXPECT_TRUE(std::regex_match(clerk, std::regex("fm1_[A-Za-z0-9_-]{43}"))) << Output();
  EXPECT_THAT(Output(), HasSubstr("user 1001 Margaret Hartley (clerk, stations A1,A2)"));
  const std::string admin = AddToken("1", "Ada Admin", "admin", "");
  EXPECT_EQ(ReadFile(Tokens()).find(clerk), std::string::npos) << "only hashes are kept";
  ServerProcess list({"token", "list", "--token-file", Tokens()}, mDir / "output");
  ASSERT_EQ(list.Wait(), 0) << list.ErrorText();
  EXPECT_THAT(Output(), HasSubstr("Margaret Hartley"));
  EXPECT_THAT(Output(), HasSubstr("2 tokens"));
  EXPECT_EQ(Output().find(clerk), std::string::npos);

  // Beyond this host without TLS, as behind a proxy that holds it: served, with a warning.
  ServerProcess server({"--database", mDatabase, "--load-demo", "--serve", "--listen", "0.0.0.0:0",
                        "--token-file", Tokens(), "--insecure-behind-proxy"});
  const unsigned short port = ListeningPort(server);
  ASSERT_NE(port, 0);
  EXPECT_THAT(server.ErrorText(), HasSubstr("without TLS (--insecure-behind-proxy)"));
  const auto history = [&](const std::string& token) {
    HttpTestClient client(port);
    return client.Request("GET", "/v1/history?form_type=C&number=1100050", "", token).status;
  };
  EXPECT_EQ(history(clerk), 200u);
  EXPECT_EQ(history(admin), 200u);
  EXPECT_EQ(history(TokenHash(clerk)), 401u) << "what the file holds lets nobody in";
  EXPECT_EQ(history(""), 401u);

  ServerProcess revoke({"token", "revoke", "--token-file", Tokens(), "--user", "1001"},
                       mDir / "output");
  ASSERT_EQ(revoke.Wait(), 0) << revoke.ErrorText();
  EXPECT_THAT(Output(), HasSubstr("Revoked token"));
  EXPECT_EQ(history(clerk), 200u) << "the server has not read the file again yet";
  server.Signal(SIGHUP);
  ASSERT_FALSE(server.WaitFor(std::regex("read the token file .* again: (1) tokens")).empty())
      << server.ErrorText();
  EXPECT_EQ(history(clerk), 401u);
  EXPECT_EQ(history(admin), 200u);

  // A file that no longer reads keeps the tokens in force.
  std::ofstream(Tokens()) << "garbage\n";
  server.Signal(SIGHUP);
  ASSERT_FALSE(server.WaitFor(std::regex("SIGHUP: the token file .*(holds plain tokens)")).empty())
      << server.ErrorText();
  EXPECT_EQ(history(admin), 200u);
  ServerProcess again({"token", "revoke", "--token-file", Tokens(), "--id", "abcdef"});
  EXPECT_NE(again.Wait(), 0);
  server.Signal(SIGTERM);
  EXPECT_EQ(server.Wait(), 0) << server.ErrorText();
}

TEST_F(ServerProcessTest, WithdrawTakesFormsOutAsTheAccountRunningItAndVerifyAccountsForThem) {
  ServerProcess load({"--database", mDatabase, "--load-demo"});
  ASSERT_EQ(load.Wait(), 0) << load.ErrorText();
  RangeQuery query;
  query.formType = {{Comparison::Equal, "C"}};
  const FormRange first = OpenStore(mDatabase)->FindRanges(query).front().range;

  ServerProcess withdraw({"withdraw", "--database", mDatabase, "--form-type", "C", "--from",
                          std::to_string(first.from), "--to", std::to_string(first.from + 4),
                          "--reason", "printed with a wrong number"});
  ASSERT_EQ(withdraw.Wait(), 0) << withdraw.ErrorText();
  EXPECT_THAT(withdraw.ErrorText(),
              HasSubstr(fmt::format("Withdrew forms {}-{} of form type C (ENF001 Citation)",
                                    first.from, first.from + 4)));
  EXPECT_THAT(withdraw.ErrorText(),
              HasSubstr(fmt::format("kept      {}-{}", first.from + 5, first.to)));

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
  EXPECT_THAT(again.ErrorText(), HasSubstr("are in no range"));
  ServerProcess noReason(
      {"withdraw", "--database", mDatabase, "--form-type", "C", "--from", "1", "--to", "2"});
  EXPECT_NE(noReason.Wait(), 0);
  EXPECT_THAT(noReason.ErrorText(), HasSubstr("--reason"));

  // The withdrawal is accounted for; the history's last entry lost afterwards is not.
  ServerProcess verify({"verify", "--database", mDatabase}, mDir / "output");
  ASSERT_EQ(verify.Wait(), 0) << verify.ErrorText();
  EXPECT_THAT(Output(), HasSubstr("The inventory accounts for every form number"));
  SqliteConnection(mDatabase.substr(7), std::chrono::seconds(5))
      .ExecuteScript(
          "DELETE FROM range_audit WHERE audit_id = (SELECT max(audit_id) FROM range_audit)");
  ServerProcess damaged({"verify", "--database", mDatabase}, mDir / "output");
  EXPECT_EQ(damaged.Wait(), 3) << damaged.ErrorText();
  EXPECT_THAT(Output(), HasSubstr("The inventory does not account for every form number: "));
}

TEST_F(ServerProcessTest, ACheckpointSignedByThisServerProvesTheChainAndNoOtherKeyIsTrusted) {
  ServerProcess load({"--database", mDatabase, "--load-demo"});
  ASSERT_EQ(load.Wait(), 0) << load.ErrorText();
  const std::string key = (mDir / "checkpoint.key").string();
  const std::string otherKey = (mDir / "other.key").string();
  for (const auto& path : {key, otherKey}) {
    ServerProcess keygen({"keygen", "--signing-key", path});
    ASSERT_EQ(keygen.Wait(), 0) << keygen.ErrorText();
  }
  EXPECT_EQ(fs::status(key).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  ServerProcess again({"keygen", "--signing-key", key});
  EXPECT_EQ(again.Wait(), 2);
  EXPECT_THAT(again.ErrorText(), HasSubstr("exists already"));

  auto checkpoint = [&](const std::string& signer, const std::string& file) {
    ServerProcess take({"checkpoint", "--database", mDatabase, "--signing-key", signer, "--output",
                        (mDir / file).string()});
    EXPECT_EQ(take.Wait(), 0) << take.ErrorText();
    return (mDir / file).string();
  };
  auto verify = [&](const std::string& file) {
    ServerProcess run(
        {"verify", "--database", mDatabase, "--signing-key", key, "--checkpoint", file},
        mDir / "output");
    return run.Wait();
  };
  const std::string ours = checkpoint(key, "ours.txt");
  EXPECT_EQ(verify(ours), 0) << Output();
  EXPECT_THAT(Output(), HasSubstr("changed since the checkpoint of"));

  EXPECT_EQ(verify(checkpoint(otherKey, "theirs.txt")), 3);
  EXPECT_THAT(Output(), HasSubstr("not by this server's key"));
  std::string text = ReadFile(ours);
  text.replace(text.find("link: ") + 6, 1, "9");
  std::ofstream(mDir / "altered.txt") << text;
  EXPECT_EQ(verify((mDir / "altered.txt").string()), 3);
  EXPECT_THAT(Output(), HasSubstr("was changed after it was signed"));

  fs::permissions(key, fs::perms::group_read, fs::perm_options::add);
  EXPECT_EQ(verify(ours), 2);
  fs::permissions(key, fs::perms::group_read, fs::perm_options::remove);

  SqliteConnection(mDatabase.substr(7), std::chrono::seconds(5))
      .ExecuteScript("UPDATE range_audit SET after_reg_nbr = 4242 WHERE audit_id = 3");
  EXPECT_EQ(verify(ours), 3);
  EXPECT_THAT(Output(), HasSubstr("The history entry 3 was changed after it was written"));
}

TEST_F(ServerProcessTest, ReportWritesCsvOrJsonAndRefusesAStationNotKnown) {
  ServerProcess load({"--database", mDatabase, "--load-demo"});
  ASSERT_EQ(load.Wait(), 0) << load.ErrorText();
  const std::string today = LocalDate(std::chrono::system_clock::now());
  const auto csv = mDir / "a1.csv";
  ServerProcess report({"report", "--database", mDatabase, "--station", "A1", "--from", today,
                        "--to", today, "--format", "csv", "--output", csv.string()});
  ASSERT_EQ(report.Wait(), 0) << report.ErrorText();
  const std::string text = ReadFile(csv);
  EXPECT_EQ(
      text.rfind("Holder,From,To,Form type,Description,Line,Reason,Count,Ranges,Balanced\r\n", 0),
      0u)
      << text;
  // Every form type of A1's demo stock was received today and balances.
  EXPECT_THAT(
      text, HasSubstr(fmt::format("A1 Capital City,{0},{0},C,ENF001 Citation,Received,,", today)));
  EXPECT_EQ(text.find(",no\r\n"), std::string::npos) << text;

  ServerProcess unknown({"report", "--database", mDatabase, "--station", "Q9"});
  EXPECT_EQ(unknown.Wait(), 2);
  EXPECT_THAT(unknown.ErrorText(), HasSubstr("There is no Troop/District Q9"));
}

TEST_F(ServerProcessTest, ReconcileAndClearanceExitThreeOnlyOnFindingsAndWriteWhole) {
  ServerProcess load({"--database", mDatabase, "--load-demo"});
  ASSERT_EQ(load.Wait(), 0) << load.ErrorText();
  ServerProcess clean({"reconcile", "--database", mDatabase, "--station", "A1"});
  EXPECT_EQ(clean.Wait(), 0) << clean.ErrorText();

  // A demo form lost the day before the station received it is an exception.
  RangeQuery query;
  query.formType = {{Comparison::Equal, "C"}};
  query.troop = {{Comparison::Equal, "A"}};
  query.district = {{Comparison::Equal, "1"}};
  const FormRange first = OpenStore(mDatabase)->FindRanges(query).front().range;
  const auto file = mDir / "lost.csv";
  {
    std::ofstream out(file);
    out << "form_type,number,disposition,used_on,officer,reference,note\n"
        << fmt::format("C,{},LOST,{},,,\n", first.from,
                       LocalDate(std::chrono::system_clock::now() - std::chrono::hours(24)));
  }
  ServerProcess import(
      {"usage", "import", "--database", mDatabase, "--file", file.string(), "--source", "desk"});
  ASSERT_EQ(import.Wait(), 0) << import.ErrorText();
  const auto csv = mDir / "a1.csv";
  ServerProcess found({"reconcile", "--database", mDatabase, "--station", "A1", "--format", "csv",
                       "--output", csv.string()});
  EXPECT_EQ(found.Wait(), 3) << found.ErrorText();
  const std::string text = ReadFile(csv);
  EXPECT_EQ(text.rfind("Reconciled,As of,Gap days,Holder,Form type,Description,", 0), 0u);
  EXPECT_NE(text.find(fmt::format(",C,,Used but never received,,,{},", first.from)),
            std::string::npos);

  ServerProcess unwritable({"reconcile", "--database", mDatabase, "--station", "A1", "--output",
                            (mDir / "no-such-folder" / "a1.txt").string()});
  EXPECT_EQ(unwritable.Wait(), 2);

  // An officer's clearance: one who holds forms unused is not clear (3), one who holds
  // nothing is (0), and one no registry knows is a parameter to correct (2).
  RangeQuery held;
  held.registry.push_back({Comparison::Greater, std::int64_t{0}});
  const FormRange book = OpenStore(mDatabase)->FindRanges(held).front().range;
  ServerProcess holding(
      {"clearance", "--database", mDatabase, "--officer", std::to_string(book.registry)});
  EXPECT_EQ(holding.Wait(), 3);
  EXPECT_THAT(holding.ErrorText(), HasSubstr("NOT CLEAR: "));
  std::int64_t idle = 0;
  {
    // Held open for the loop: the officers it walks are the store's own.
    const auto store = OpenStore(mDatabase);
    for (const auto& officer : store->Reference().Officers()) {
      RangeQuery his;
      his.registry.push_back({Comparison::Equal, officer.registry});
      if (store->FindRanges(his).empty()) idle = officer.registry;
    }
  }
  ASSERT_NE(idle, 0) << "every officer of the demo holds forms";
  ServerProcess clear({"clearance", "--database", mDatabase, "--officer", std::to_string(idle),
                       "--format", "json"});
  EXPECT_EQ(clear.Wait(), 0);
  EXPECT_THAT(clear.ErrorText(), HasSubstr("\"clear\":true"));
  ServerProcess unknown({"clearance", "--database", mDatabase, "--officer", "99999999"});
  EXPECT_EQ(unknown.Wait(), 2);
}

TEST_F(ServerProcessTest, StockExitsThreeOnlyWhenALineIsBelowItsMinimum) {
  ServerProcess load({"--database", mDatabase, "--load-demo"});
  ASSERT_EQ(load.Wait(), 0) << load.ErrorText();
  ServerProcess none({"stock", "--database", mDatabase, "--station", "A1"});
  EXPECT_EQ(none.Wait(), 0) << none.ErrorText();
  ServerProcess set({"stock", "set-minimum", "--database", mDatabase, "--station", "A1",
                     "--form-type", "C", "--minimum", "999999999"});
  EXPECT_EQ(set.Wait(), 0) << set.ErrorText();
  const auto csv = mDir / "stock.csv";
  ServerProcess below({"stock", "--database", mDatabase, "--station", "A1", "--format", "csv",
                       "--output", csv.string()});
  EXPECT_EQ(below.Wait(), 3) << below.ErrorText();
  EXPECT_THAT(ReadFile(csv), HasSubstr(",999999999,yes,"));
  for (std::vector<std::string> wrong :
       {std::vector<std::string>{"stock", "--station", "Q9"},
        {"stock", "set-minimum", "--station", "A1", "--form-type", "C", "--minimum", "-5"}}) {
    wrong.insert(wrong.begin() + 1, {"--database", mDatabase});
    ServerProcess refused(wrong);
    EXPECT_EQ(refused.Wait(), 2) << refused.ErrorText();
  }
}

TEST_F(ServerProcessTest, AllotmentLimitsAreSetAndListedAndAMistakeExitsTwo) {
  const std::vector<std::pair<std::vector<std::string>, int>> runs = {
      {{"cap", "set", "--station", "A1", "--form-type", "C", "--cap", "200"}, 0},
      {{"cap", "set", "--station", "Q9", "--form-type", "C", "--cap", "200"}, 2},
      {{"cap", "set", "--station", "A1", "--form-type", "C", "--cap", "-3"}, 2},
      {{"reissue-rule", "set", "--station", "A1", "--state", "on"}, 0},
      {{"reissue-rule", "set", "--station", "A1", "--state", "maybe"}, 2}};
  for (auto [arguments, status] : runs) {
    arguments.insert(arguments.begin() + 2, {"--database", mDatabase});
    ServerProcess run(arguments);
    EXPECT_EQ(run.Wait(), status) << arguments[2] << ": " << run.ErrorText();
  }
  ServerProcess caps({"cap", "--database", mDatabase});
  ASSERT_EQ(caps.Wait(), 0);
  EXPECT_THAT(caps.ErrorText(), HasSubstr("A1\tC\t200\tset by "));
  ServerProcess rules({"reissue-rule", "--database", mDatabase});
  ASSERT_EQ(rules.Wait(), 0);
  EXPECT_THAT(rules.ErrorText(), HasSubstr("A1\ton\tset by "));
}

TEST_F(ServerProcessTest, TheConfigurationFileSetsOptionsAndAMistakeInItStopsWithStatusTwo) {
  auto run = [](std::vector<std::string> arguments) {
    ServerProcess server(std::move(arguments));
    EXPECT_EQ(server.Wait(), 0) << server.ErrorText();
    return server.ErrorText();
  };
  // The command line wins over the file; the file alone; comments, blank lines and quotes.
  const std::string schemaOnly =
      Config("schema.conf", "database = sqlite:{dir}/from-file.db\ncreate-schema = true\n");
  EXPECT_THAT(
      run({"--config", schemaOnly, "--database", "sqlite:" + (mDir / "from-line.db").string()}),
      HasSubstr("from-line.db"));
  EXPECT_TRUE(fs::exists(mDir / "from-line.db"));
  EXPECT_FALSE(fs::exists(mDir / "from-file.db"));
  EXPECT_THAT(run({"--config", schemaOnly}), HasSubstr("schema version"));
  EXPECT_TRUE(fs::exists(mDir / "from-file.db"));
  EXPECT_THAT(run({"--config", Config("quoted.conf",
                                      "# the store\n\n  database = \"sqlite:{dir}/quoted #1.db\" "
                                      "# a comment\ncreate-schema=true  # migrate, then exit\n")}),
              HasSubstr("quoted #1.db"));
  EXPECT_TRUE(fs::exists(mDir / "quoted #1.db"));

  const struct {
    const char* file;
    std::vector<std::string> arguments;
    const char* message;
  } kMistakes[] = {
      {"thraeds = 4\n", {}, "line 1: unknown key \"thraeds\""},
      {"threads = 500\n", {}, "--threads: Value 500 not in range"},
      // A wrong value stops the server even where the command line overrides it.
      {"threads = 500\n", {"--threads", "4", "--create-schema"}, "not in range"},
      {"serve = maybe\n", {}, "--serve"},
      {"threads = 4\nthreads = 8\n", {}, "line 2: threads was set already on line 1"},
      {"[server]\nthreads = 4\n", {}, "sections are not used"},
      {"threads\n", {}, "\"threads\" is not a setting"},
      {"listen =\n", {}, "listen has no value"},
      {"listen = \"127.0.0.1:8750\n", {}, "lacks its closing quote"},
  };
  for (std::size_t i = 0; i < std::size(kMistakes); ++i) {
    const auto& c = kMistakes[i];
    std::vector<std::string> arguments = {"--config",
                                          Config(fmt::format("case-{}.conf", i), c.file)};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    ServerProcess server(arguments);
    EXPECT_EQ(server.Wait(), 2) << c.file;
    EXPECT_THAT(server.ErrorText(), HasSubstr(c.message));
    EXPECT_THAT(server.ErrorText(), HasSubstr("the configuration file"));
  }
  ServerProcess missing({"--config", (mDir / "missing.conf").string()});
  EXPECT_EQ(missing.Wait(), 2);
  EXPECT_THAT(missing.ErrorText(), HasSubstr("missing.conf"));
}

TEST_F(ServerProcessTest, BackupWhileTheServerRunsAndRestoreOnceItStopped) {
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

// A field of /proc/PID/status in kB (VmRSS: resident now; VmHWM: the most it has been).
std::size_t StatusKb(pid_t pid, const std::string& field) {
  std::ifstream status(fmt::format("/proc/{}/status", pid));
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) == 0) return std::stoul(line.substr(field.size() + 1));
  }
  return 0;
}

// The bodies of `bytes` that cost a server most once they are in, but their last byte: saves
// of 10,000 change rows with comments, or of 3,600 with long ones (read, applied and
// requeried), a million line breaks and a stray letter (the parser's message shows what it
// read), and rows of one null each (a few bytes each, tens once read). `client` makes each
// save's numbers its own.
std::string CostlyBody(int client, std::size_t bytes) {
  auto padded = [bytes](std::string text) {
    EXPECT_LE(text.size(), bytes);
    text.insert(text.size() - 1, bytes - std::min(bytes, text.size()), ' ');
    return text.substr(0, bytes - 1);
  };
  auto save = [&](std::int64_t rowCount) {
    const std::int64_t first = 100 + client * 20000;  // below the demo's numbers of B
    protocol::Request request = testing::Save(
        fmt::format("slow-save-{}", client), {},
        {testing::Key("REF_TYP_CD", "B"), testing::Key("FORM_SEARCH_NBR", std::to_string(first))});
    protocol::DataSet& rows = request.dataSets.at(protocol::kTroopFormDataSet);
    rows.columns.push_back({"TRP_FORM_CMMT_TXT", protocol::ColumnType::Text});
    const std::string comment(bytes / rowCount - 90, 'c');
    for (std::int64_t n = first; n < first + 2 * rowCount; n += 2) {
      rows.rows.push_back(testing::ChangeRow("ADD", "B", n, n, "A", "1", 0, "A"));
      rows.rows.back().emplace_back(comment);
    }
    return padded(protocol::RequestToJson(request));
  };
  switch (client % 4) {
    case 0:
      return save(10000);
    case 1:
      return std::string(bytes - 1, '\n');
    case 2: {
      std::string rows =
          R"({"request_id":"r","identity":"X","version":"1.0","requester":"F","user_id":1,)"
          R"("message_type":34,"criteria":[],"data_sets":{"T":{"columns":[{"name":"A",)"
          R"("type":"text"}],"rows":[[null])";
      while (rows.size() + 20 < bytes) rows += ",[null]";
      return padded(rows + "]}}}");
    }
    default:
      return save(3600);
  }
}

char LastByte(int client) { return client % 4 == 1 ? 'x' : '}'; }

// Sixty clients send a large body slowly: the header, then the body but its last byte. The
// bodies the budget takes are held; the others are answered 503 at once. Then the held ones
// are finished all together, so that the server reads and answers them at once.
TEST_F(ServerProcessTest, SixtySlowSevenMebibyteBodiesKeepTheServerUnder150Megabytes) {
  constexpr int kClients = 60;
  constexpr std::size_t kBody = 7 * 1024 * 1024;
  const std::string token = AddToken("1", "Ada Admin", "admin", "");
  // The default body limit (8 MiB) and budget (64 MiB): nine such bodies fit at once.
  ServerProcess server({"--database", mDatabase, "--load-demo", "--serve", "--listen",
                        "127.0.0.1:0", "--token-file", Tokens(), "--read-timeout", "120",
                        "--access-log", (mDir / "access.log").string()});
  const unsigned short port = ListeningPort(server);
  ASSERT_NE(port, 0);
  const std::size_t idleKb = StatusKb(server.Pid(), "VmRSS");

  // One after the other, so that the first nine, of every kind, are the ones held.
  std::vector<std::unique_ptr<HttpTestClient>> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.push_back(std::make_unique<HttpTestClient>(port));
    clients.back()->SendRaw(
        fmt::format("POST /v1/messages HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer {}\r\n"
                    "Content-Type: application/json\r\nContent-Length: {}\r\n\r\n",
                    token, kBody));
    clients.back()->SendRaw(CostlyBody(i, kBody));
  }
  int busy = 0;
  std::vector<int> held;
  for (int i = 0; i < kClients; ++i) {
    // The status answered so far; none: the body is still awaited.
    if (!clients[i]->Readable(1000)) {
      held.push_back(i);
    } else {
      busy += clients[i]->ReadReply().status == 503 ? 1 : 0;
    }
  }
  const std::size_t heldKb = StatusKb(server.Pid(), "VmHWM");
  EXPECT_EQ(held.size() + busy, std::size_t{kClients});
  EXPECT_LE(held.size(), 9u) << "64 MiB hold nine bodies of 7 MiB";
  ASSERT_GE(held.size(), 1u);
  // Others are still served meanwhile, a search with a small body included.
  HttpTestClient client(port);
  EXPECT_EQ(client.Request("GET", "/healthz").status, 200u);
  EXPECT_EQ(client.Request("GET", "/v1/history?form_type=C&number=1100050", "", token).status,
            200u);
  const protocol::Request search =
      testing::Message("small", protocol::kSearchMessage, {testing::Key("TRP_ID", "A")});
  EXPECT_EQ(client.Post(protocol::RequestToJson(search), token).status, 200u);

  // Each reply read as it comes, as clients do: a reply not taken holds its part of the
  // budget until its write time-out.
  for (int i : held) clients[i]->SendRaw(std::string(1, LastByte(i)));
  std::vector<unsigned> statuses(held.size());
  std::vector<int> applied(held.size());
  std::vector<std::thread> readers;
  for (std::size_t k = 0; k < held.size(); ++k) {
    readers.emplace_back([&, k] {
      HttpTestClient& c = *clients[held[k]];
      if (!c.Readable(120'000)) return;
      const HttpReply reply = c.ReadReply();
      statuses[k] = reply.status;
      applied[k] = reply.status == 200 && protocol::ReplyFromJson(reply.body).ok;
    });
  }
  for (auto& reader : readers) reader.join();
  std::map<unsigned, int> answered;  // by status; 0: none
  for (unsigned status : statuses) ++answered[status];
  const int saved = std::accumulate(applied.begin(), applied.end(), 0);
  EXPECT_EQ(answered.count(0), 0u) << "every request held is answered";
  const std::size_t peakKb = StatusKb(server.Pid(), "VmHWM");
  std::string tally;
  for (const auto& [status, count] : answered) tally += fmt::format(" {}x{}", count, status);
  std::cout << fmt::format(
      "[ FIGURES  ] {} bodies of {} MiB: {} held, {} answered 503; once finished:{} ({} saves "
      "applied); resident {} MB idle, {} MB at most while held, {} MB at most\n",
      kClients, kBody >> 20, held.size(), busy, tally, saved, idleKb / 1024, heldKb / 1024,
      peakKb / 1024);
  EXPECT_LT(peakKb, 150u * 1024) << "resident memory stayed under 150 MB";
  clients.clear();
  server.Signal(SIGTERM);
  EXPECT_EQ(server.Wait(), 0) << server.ErrorText();
}

}  // namespace
}  // namespace fm::server
