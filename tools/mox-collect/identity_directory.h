// Remembers which library processes have sent from which peer address, so
// that a trace connection that lost its version line (the library sends it
// once per start, a reconnected trace connection does not repeat it) can be
// given its process when exactly one process is known on that address.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "record.h"

namespace moxcollect {

class IdentityDirectory {
 public:
  void note(const std::string& peerHost, const Identity& identity);
  // The one process seen from that address, or an unknown identity.
  Identity onlyProcessAt(const std::string& peerHost) const;

 private:
  std::map<std::string, std::vector<Identity>> seen_;
};

}  // namespace moxcollect
