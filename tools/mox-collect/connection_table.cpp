#include "connection_table.h"

namespace moxcollect {

Connection& ConnectionTable::add(std::unique_ptr<Connection> connection) {
  ++perAddress_[connection->peerHost()];
  ++open_;
  connections_.push_back(std::move(connection));
  return *connections_.back();
}

void ConnectionTable::noteClosed(const Connection& connection) {
  --open_;
  const auto found = perAddress_.find(connection.peerHost());
  if (found != perAddress_.end() && --found->second == 0) perAddress_.erase(found);
}

void ConnectionTable::removeClosed() {
  connections_.remove_if([](const std::unique_ptr<Connection>& c) { return !c->isOpen(); });
}

size_t ConnectionTable::countAt(const std::string& peerHost) const {
  const auto found = perAddress_.find(peerHost);
  return found == perAddress_.end() ? 0 : found->second;
}

Connection* ConnectionTable::longestIdle(const std::string* peerHost) const {
  Connection* idlest = nullptr;
  for (const auto& connection : connections_) {
    if (!connection->isOpen() || (peerHost != nullptr && connection->peerHost() != *peerHost)) continue;
    if (idlest == nullptr || connection->lastActive < idlest->lastActive) idlest = connection.get();
  }
  return idlest;
}

std::optional<ConnectionTable::TimePoint> ConnectionTable::oldestActivity() const {
  const Connection* idlest = longestIdle();
  if (idlest == nullptr) return std::nullopt;
  return idlest->lastActive;
}

}  // namespace moxcollect
