// The collecting agent: listens, accepts any number of library connections,
// splits each stream into records and hands them to the sinks.
//
// One thread runs the loop (run()); it waits with poll() on the listening
// sockets, the connections and a wake-up pipe, reads at most one chunk per
// readable connection per turn, so one busy, stalled or broken peer never
// holds up another. requestStop() may be called from any thread and from a
// signal handler. On stop the loop reads what the peers have already sent,
// drops elements left unfinished, lets every sink finish and returns.
//
// Stops by itself when the record limit is reached (records past it are not
// passed on), when every connection has closed after at least one was
// accepted (stopWhenIdle), when the run time is over, or when a sink fails.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "connection.h"
#include "element_limits.h"
#include "endpoint.h"
#include "identity_directory.h"
#include "listener.h"
#include "record_sink.h"
#include "stats.h"
#include "unique_fd.h"

namespace moxcollect {

struct CollectorSettings {
  std::vector<Endpoint> listen;
  uint64_t recordLimit = 0;  // 0: no limit
  bool stopWhenIdle = false;
  std::optional<std::chrono::milliseconds> runFor;
  bool quiet = false;  // no lines about connections and dropped elements
  size_t maxConnections = 1024;
  ElementLimits elementLimits;  // per element of each connection
};

class Collector {
 public:
  Collector(CollectorSettings settings, std::vector<RecordSink*> sinks, std::ostream& log);
  ~Collector();
  Collector(const Collector&) = delete;
  Collector& operator=(const Collector&) = delete;

  // Binds every listening endpoint; false with a message on the log when one fails.
  bool open();
  const std::vector<Listener>& listeners() const { return listeners_; }

  // Runs until stopped; returns false when a sink failed.
  bool run();
  void requestStop();

  const Stats& stats() const { return stats_; }

 private:
  using Clock = std::chrono::steady_clock;

  void turn();
  int pollTimeout(Clock::time_point now) const;
  void acceptAll(const Listener& listener);
  void readFrom(Connection& connection);
  void close(Connection& connection);
  void onElement(Connection& connection, Element&& element, std::string&& raw);
  void onError(Connection& connection, const std::string& message, const std::string& excerpt);
  bool shouldStop(Clock::time_point now) const;
  void drainAndClose();
  void flushSinks();

  static constexpr uint64_t kErrorLinesPerConnection = 10;

  CollectorSettings settings_;
  std::vector<RecordSink*> sinks_;
  std::ostream& log_;
  std::vector<Listener> listeners_;
  std::list<std::unique_ptr<Connection>> connections_;
  IdentityDirectory directory_;
  Stats stats_;
  UniqueFd wakeRead_;
  UniqueFd wakeWrite_;
  std::atomic<bool> stopRequested_{false};
  Clock::time_point started_;
  uint64_t nextNumber_ = 1;
};

}  // namespace moxcollect
