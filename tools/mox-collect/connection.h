// One accepted library connection: its socket, its stream splitter and the
// process identity it has named so far. The collector's loop calls
// readSome() when the socket is readable; complete elements go to the
// element callback as they are found, a slow peer holds up nothing since
// reads never block.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "listener.h"
#include "record.h"
#include "stream_splitter.h"
#include "unique_fd.h"

namespace moxcollect {

class Connection {
 public:
  using ElementHandler = std::function<void(Connection&, Element&&, std::string&&)>;
  using ErrorHandler = std::function<void(Connection&, const std::string& message, const std::string& excerpt)>;
  using TimePoint = std::chrono::steady_clock::time_point;

  // A whole turn's budget in one call when that much is waiting: reads are few and large.
  static constexpr size_t kReadBytes = 64 * 1024;

  Connection(uint64_t number, Listener::Accepted accepted, const ElementLimits& limits, TimePoint now,
             ElementHandler onElement, ErrorHandler onError);
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  enum class ReadResult { Data, Idle, Closed };
  // One read of at most min(maxBytes, kReadBytes) into the splitter; `bytes` gets the count.
  ReadResult readSome(size_t maxBytes, size_t& bytes);
  // End of the connection: true when an unfinished element was dropped.
  bool finish();

  bool isOpen() const { return fd_.valid(); }
  int fd() const { return fd_.get(); }
  // What the connection's splitter holds of an unfinished element.
  size_t bytesHeld() const { return splitter_.bytesHeld(); }
  // See StreamSplitter::keepRaw() and elementBytes().
  void keepRaw(bool keep) { splitter_.keepRaw(keep); }
  size_t elementBytes() const { return splitter_.elementBytes(); }
  uint64_t number() const { return number_; }
  const std::string& peer() const { return peer_; }
  const std::string& peerHost() const { return peerHost_; }

  Identity identity;  // set by the collector from the metric and version lines
  // The process part of the last metric or version line's name (kept when short), and whether it names one.
  std::string identityPrefix;
  bool identityPrefixKept = false;
  bool prefixNamesProcess = false;
  TimePoint lastActive;  // the last time bytes arrived (or the accept)
  size_t heldBytes = 0;  // the collector's share of its memory budget for this connection
  uint64_t records = 0;
  uint64_t errors = 0;

 private:
  uint64_t number_;
  UniqueFd fd_;
  std::string peer_;
  std::string peerHost_;
  StreamSplitter splitter_;
};

}  // namespace moxcollect
