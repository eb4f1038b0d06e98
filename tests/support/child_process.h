// Running part of a test in a forked child, for what may kill or block the process it runs in (a signal, a write that
// never returns): the test process only reads how the child ended. Bounded in time: a child still running at the limit
// is killed and reported as timed out.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <string>

#include "support/test_files.h"

namespace testsupport {

struct ChildEnd {
  bool timedOut = false;
  int exitCode = -1;  // when it exited
  int signal = 0;     // when a signal ended it

  bool succeeded() const { return !timedOut && signal == 0 && exitCode == 0; }
  std::string describe() const {
    if (timedOut) return "the child was still running at the limit";
    return signal != 0 ? std::string("the child was ended by signal ") + strsignal(signal)
                       : "the child exited with " + std::to_string(exitCode);
  }
};

// In a child body: the code to exit with when the condition fails.
#define CHILD_CHECK(condition, code) \
  do {                               \
    if (!(condition)) return code;   \
  } while (0)

// Whether pid has ended, leaving it to be waited for.
inline bool hasEnded(pid_t pid) {
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

// Waits for pid until limit; kills it when it is still running then.
inline ChildEnd waitForChild(pid_t pid, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
  ChildEnd end;
  int status = 0;
  end.timedOut = !waitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, limit);
  if (end.timedOut) kill(pid, SIGKILL), waitpid(pid, &status, 0);
  if (!end.timedOut && WIFEXITED(status)) end.exitCode = WEXITSTATUS(status);
  if (!end.timedOut && WIFSIGNALED(status)) end.signal = WTERMSIG(status);
  return end;
}

// Runs body in a child with SIGPIPE and SIGXFSZ at their default disposition (ending the process), whatever the test
// process inherited; body's result is the child's exit code (0: every check held).
inline pid_t startChild(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  signal(SIGPIPE, SIG_DFL);
  signal(SIGXFSZ, SIG_DFL);
  int code = 100;
  try {
    code = body();
  } catch (...) {
  }
  _exit(code);
}

inline ChildEnd runInChild(const std::function<int()>& body,
                           std::chrono::milliseconds limit = std::chrono::seconds(30)) {
  const pid_t pid = startChild(body);
  return pid < 0 ? ChildEnd{} : waitForChild(pid, limit);
}

// A pipe of 4 KiB (the output a child fills) whose read end does not wait.
inline bool smallPipe(int fds[2]) {
  return pipe2(fds, O_NONBLOCK) == 0 && fcntl(fds[1], F_SETFL, 0) == 0 && fcntl(fds[1], F_SETPIPE_SZ, 4096) > 0;
}

// Everything the read end holds now (or, blocking, up to the end of the data).
inline std::string drain(int readEnd) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(readEnd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  return text;
}

}  // namespace testsupport
