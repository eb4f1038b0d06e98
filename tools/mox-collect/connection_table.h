// The collector's connections with the bookkeeping its limits need: how many
// are open from each peer address, which one has been silent longest, and the
// earliest last activity (when the next one may reach the idle time-out).
// Scans are linear, as is the poll() over every connection in each turn.
//
// A closed connection stays in the table, so that pointers to it held during
// a loop turn stay valid, until removeClosed(); it no longer counts in
// openCount(), countAt(), longestIdle() or oldestActivity().
#pragma once

#include <list>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "connection.h"

namespace moxcollect {

class ConnectionTable {
 public:
  using TimePoint = Connection::TimePoint;
  using List = std::list<std::unique_ptr<Connection>>;

  Connection& add(std::unique_ptr<Connection> connection);
  // To be called once when a connection of the table has been closed.
  void noteClosed(const Connection& connection);
  void removeClosed();

  size_t openCount() const { return open_; }
  size_t countAt(const std::string& peerHost) const;
  // The open connection silent for the longest time, of that address when one is given; null if none.
  Connection* longestIdle(const std::string* peerHost = nullptr) const;
  std::optional<TimePoint> oldestActivity() const;

  List::const_iterator begin() const { return connections_.begin(); }
  List::const_iterator end() const { return connections_.end(); }

 private:
  List connections_;
  std::unordered_map<std::string, size_t> perAddress_;
  size_t open_ = 0;
};

}  // namespace moxcollect
