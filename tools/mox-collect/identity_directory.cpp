#include "identity_directory.h"

namespace moxcollect {

void IdentityDirectory::note(const std::string& peerHost, const Identity& identity) {
  if (!identity.known()) return;
  const auto found = seen_.find(peerHost);
  if (found != seen_.end()) {
    if (!found->second.several && found->second.first != identity) found->second.several = true;
    return;
  }
  if (seen_.size() < kMaxAddresses) seen_.emplace(peerHost, Seen{identity, false});
}

Identity IdentityDirectory::onlyProcessAt(const std::string& peerHost) const {
  const auto found = seen_.find(peerHost);
  if (found == seen_.end() || found->second.several) return Identity{};
  return found->second.first;
}

}  // namespace moxcollect
