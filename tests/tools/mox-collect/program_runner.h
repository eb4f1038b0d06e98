// Runs a program of the project as a separate process, for the tests that
// check a real binary end to end.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <vector>

#include "support/test_files.h"

extern char** environ;

namespace collecttest {

// A program (mox-collect unless another is named) started with its standard
// output and error in files of dir, or its standard output on a descriptor
// given (a pipe); killed if still running at destruction.
class Program {
 public:
  Program(const testsupport::TempDir& dir, std::vector<std::string> args, const std::string& binary = MOX_COLLECT_BIN,
          const std::string& outputName = "", int stdoutFd = -1)
      : out_(dir.file(outputName + "stdout")), err_(dir.file(outputName + "stderr")) {
    args.insert(args.begin(), binary);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0) {
      posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    } else {
      posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Program() {
    if (pid_ > 0 && status_ < 0) signal(SIGKILL), waitpid(pid_, nullptr, 0);
  }
  // The exit status, or -1 if it has not ended within limit.
  int exitCode(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    int status = 0;
    if (testsupport::waitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, limit)) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return status_;
  }
  void signal(int number) { kill(pid_, number); }
  std::string out() const { return testsupport::readFile(out_); }
  std::string err() const { return testsupport::readFile(err_); }

 private:
  std::string out_, err_;
  pid_t pid_ = -1;
  int status_ = -1;
};

// mox-collect's arguments to listen on a free loopback port, written to dir/port, then `more`.
inline std::vector<std::string> listening(const testsupport::TempDir& dir, std::vector<std::string> more = {}) {
  more.insert(more.begin(), {"--listen", "127.0.0.1:0", "--port-file", dir.file("port")});
  return more;
}

// The port a program started with --port-file dir/port writes once it listens; 0 if not within 20 s.
inline uint16_t portOf(const testsupport::TempDir& dir) {
  if (!testsupport::waitUntil([&] { return !testsupport::readFile(dir.file("port")).empty(); })) return 0;
  return static_cast<uint16_t>(std::stoi(testsupport::readFile(dir.file("port"))));
}

}  // namespace collecttest
