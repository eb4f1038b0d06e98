#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <sys/uio.h>
#include <unistd.h>

#include "port/quiet_write.h"

namespace {

sigset_t quietSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  sigaddset(&set, SIGXFSZ);
  return set;
}

// Takes signal off the pending set when the write raised it. One that was
// pending before belongs to the host and stays.
void consumeRaised(int signal, const sigset_t& pendingBefore) {
  sigset_t pendingAfter;
  if (sigismember(&pendingBefore, signal) == 1 || sigpending(&pendingAfter) != 0 ||
      sigismember(&pendingAfter, signal) != 1) {
    return;
  }
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  const timespec noWait{0, 0};
  while (sigtimedwait(&only, nullptr, &noWait) < 0 && errno == EINTR) {
  }
}

// Holds both signals back in the calling thread while it lives.
class HeldBack {
 public:
  HeldBack() {
    static const sigset_t quiet = quietSignals();
    sigemptyset(&pendingBefore_);
    masked_ = pthread_sigmask(SIG_BLOCK, &quiet, &saved_) == 0;
    if (masked_) sigpending(&pendingBefore_);
  }
  // Only a write that did not take every byte raises either signal: EPIPE,
  // EFBIG, or a pipe whose reader left while the write was under way (the
  // bytes it took are returned, and SIGPIPE is raised all the same).
  void writeFellShort() {
    if (!masked_) return;
    consumeRaised(SIGPIPE, pendingBefore_);
    consumeRaised(SIGXFSZ, pendingBefore_);
  }
  ~HeldBack() {
    const int error = errno;
    if (masked_) pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
    errno = error;
  }
  HeldBack(const HeldBack&) = delete;
  HeldBack& operator=(const HeldBack&) = delete;

 private:
  sigset_t saved_, pendingBefore_;
  bool masked_ = false;
};

// Runs write (which returns like write(2)) with both signals held back.
template <typename Write>
ssize_t quietly(size_t size, Write write) {
  HeldBack held;
  ssize_t written;
  do {
    written = write();
  } while (written < 0 && errno == EINTR);
  const int error = errno;
  if (written < 0 || static_cast<size_t>(written) < size) held.writeFellShort();
  errno = error;
  return written;
}

}  // namespace

ssize_t portWriteQuietly(int fd, const void* data, size_t size) {
  return quietly(size, [&] { return ::write(fd, data, size); });
}

ssize_t portWriteQuietlyNoWait(int fd, const void* data, size_t size) {
  iovec piece{const_cast<void*>(data), size};
  // Offset -1: at the descriptor's position, as write(2).
  return quietly(size, [&] { return ::pwritev2(fd, &piece, 1, -1, RWF_NOWAIT); });
}

bool portWriteStreamQuietly(std::FILE* out, const void* data, size_t size) {
  HeldBack held;
  const bool complete = std::fwrite(data, 1, size, out) == size && std::fflush(out) == 0;
  if (!complete) {
    held.writeFellShort();
    std::clearerr(out);  // the next write tries again, as after any failed one
  }
  return complete;
}
