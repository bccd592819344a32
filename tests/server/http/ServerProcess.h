#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

namespace fm::server::testing {

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

}  // namespace fm::server::testing
