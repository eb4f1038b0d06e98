// Listening TCP sockets for one endpoint: every address the host resolves to
// is bound (IPv6 sockets accept IPv6 only, so "[::]" and "0.0.0.0" can be
// used side by side). With port 0 the first socket takes a free port and the
// others try to take the same. Sockets are non-blocking; accept() returns
// connections that are non-blocking too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "endpoint.h"
#include "unique_fd.h"

namespace moxcollect {

class Listener {
 public:
  // Appends the bound sockets to out; false with a message when none could be bound.
  static bool open(const Endpoint& endpoint, std::vector<Listener>& out, std::string& error);

  int fd() const { return fd_.get(); }
  const std::string& address() const { return address_; }  // as bound, e.g. "127.0.0.1:40211"
  uint16_t port() const { return port_; }

  struct Accepted {
    UniqueFd fd;
    std::string peer;      // "address:port"
    std::string peerHost;  // address alone
  };
  enum class AcceptResult { Accepted, None, NoDescriptor };
  // None when no connection is waiting (or on a transient error);
  // NoDescriptor when one waits but the process or system is out of file
  // descriptors (it stays waiting, and the listener readable).
  AcceptResult accept(Accepted& out) const;

 private:
  Listener(UniqueFd fd, std::string address, uint16_t port)
      : fd_(std::move(fd)), address_(std::move(address)), port_(port) {}

  UniqueFd fd_;
  std::string address_;
  uint16_t port_ = 0;
};

}  // namespace moxcollect
