// A server program run by a test: its output in files, stopped with SIGTERM
// (then SIGKILL) when the test ends, and killed by the kernel if the test
// process dies first, so no server outlives a failed or killed test.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/test_files.h"

namespace promtest {

class ServerProcess {
 public:
  // Started before the test starts any thread, so the fork copies only this one.
  ServerProcess(const std::vector<std::string>& args, const std::string& outputPrefix)
      : out_(outputPrefix + ".out"), err_(outputPrefix + ".err") {
    std::vector<char*> argv;
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      // Only async-signal-safe calls from here to exec.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(127);
      const int out = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, 1);
      dup2(err, 2);
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~ServerProcess() { stop(); }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  bool running() {
    if (pid_ <= 0) return false;
    if (waitpid(pid_, &status_, WNOHANG) != pid_) return true;
    pid_ = -1;
    return false;
  }
  // SIGTERM, and SIGKILL if it has not ended within 10 s.
  void stop() {
    if (!running()) return;
    kill(pid_, SIGTERM);
    if (!testsupport::waitUntil([&] { return !running(); }, std::chrono::seconds(10))) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status_, 0);
      pid_ = -1;
    }
  }
  std::string output() const { return testsupport::readFile(out_) + testsupport::readFile(err_); }

 private:
  std::string out_, err_;
  pid_t pid_ = -1;
  int status_ = 0;
};

// The full path of a program found in PATH, or "" when there is none.
inline std::string findInPath(const std::string& name) {
  const char* path = getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  for (size_t start = 0; start <= dirs.size();) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

}  // namespace promtest
