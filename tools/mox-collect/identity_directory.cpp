#include "identity_directory.h"

#include <algorithm>

namespace moxcollect {

void IdentityDirectory::note(const std::string& peerHost, const Identity& identity) {
  if (!identity.known()) return;
  std::vector<Identity>& known = seen_[peerHost];
  if (std::find(known.begin(), known.end(), identity) == known.end()) known.push_back(identity);
}

Identity IdentityDirectory::onlyProcessAt(const std::string& peerHost) const {
  const auto found = seen_.find(peerHost);
  if (found == seen_.end() || found->second.size() != 1) return Identity{};
  return found->second.front();
}

}  // namespace moxcollect
