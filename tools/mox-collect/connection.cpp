#include "connection.h"

#include <errno.h>
#include <sys/socket.h>

#include <algorithm>

namespace moxcollect {

Connection::Connection(uint64_t number, Listener::Accepted accepted, const ElementLimits& limits, TimePoint now,
                       ElementHandler onElement, ErrorHandler onError)
    : lastActive(now),
      number_(number),
      fd_(std::move(accepted.fd)),
      peer_(std::move(accepted.peer)),
      peerHost_(std::move(accepted.peerHost)),
      splitter_(
          [this, onElement](Element&& e, std::string&& raw) { onElement(*this, std::move(e), std::move(raw)); },
          [this, onError](const std::string& message, const std::string& excerpt) { onError(*this, message, excerpt); },
          limits) {}

Connection::ReadResult Connection::readSome(size_t maxBytes, size_t& bytes) {
  char buffer[kReadBytes];
  bytes = 0;
  for (;;) {
    const ssize_t n = ::recv(fd_.get(), buffer, std::min(maxBytes, sizeof buffer), 0);
    if (n > 0) {
      bytes = static_cast<size_t>(n);
      splitter_.feed(std::string_view(buffer, bytes));
      return ReadResult::Data;
    }
    if (n == 0) return ReadResult::Closed;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return ReadResult::Idle;
    return ReadResult::Closed;  // reset by the peer or another hard error
  }
}

bool Connection::finish() {
  fd_.reset();
  return splitter_.finish();
}

}  // namespace moxcollect
