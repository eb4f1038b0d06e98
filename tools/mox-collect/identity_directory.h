// Remembers which library processes have sent from which peer address, so
// that a trace connection that lost its version line (the library sends it
// once per start, a reconnected trace connection does not repeat it) can be
// given its process when exactly one process is known on that address.
//
// Constant time per call: an address keeps its first process and whether
// another one was seen. At most kMaxAddresses addresses are kept; later new
// addresses are not remembered (their traces then stay without a process).
#pragma once

#include <string>
#include <unordered_map>

#include "record.h"

namespace moxcollect {

class IdentityDirectory {
 public:
  static constexpr size_t kMaxAddresses = 4096;

  void note(const std::string& peerHost, const Identity& identity);
  // The one process seen from that address, or an unknown identity.
  Identity onlyProcessAt(const std::string& peerHost) const;

 private:
  struct Seen {
    Identity first;
    bool several = false;
  };
  std::unordered_map<std::string, Seen> seen_;
};

}  // namespace moxcollect
