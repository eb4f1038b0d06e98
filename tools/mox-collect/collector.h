// The collecting agent: listens, accepts library connections, splits each
// stream into records and hands them to the sinks.
//
// One thread runs the loop (run()); it waits with poll() on the listening
// sockets, the connections and a wake-up pipe. Each turn every readable
// connection may deliver up to kTurnBytes, however many reads that takes, so
// a busy, flooding or broken peer costs the others the work of at most that
// many bytes per turn; a stop request is seen between reads. Records go through a bounded queue to the sinks,
// which write on a thread of their own (SinkWriter): a slow output never
// stops the reading. requestStop() may be called from any thread and from a
// signal handler.
//
// The limits (every peer may be hostile):
//   - idleTimeout: a connection that sends nothing for that long is closed;
//   - maxPerAddress: a new connection from an address that has that many
//     open closes the address's longest-idle connection;
//   - maxConnections (kept below the descriptor limit, with a reserve for the
//     listeners, the sinks' files and a spare): at the limit a new connection
//     closes the longest-idle one rather than being refused;
//   - memoryBudget: a connection whose read takes the memory all connections
//     hold in unfinished elements (their bytes, and the trees of those parsed
//     as they arrive) over the budget is closed.
//
// On stop the loop reads what the peers have already sent (at most
// kDrainBytes per connection, kDrainTime in all), drops elements left
// unfinished, and lets the sinks finish; an output that makes no progress for
// kOutputStall is given up (outputStalled()).
//
// Stops by itself when the record limit is reached (records past it are not
// passed on), when every connection has closed after at least one was
// accepted (stopWhenIdle), when the run time is over, or when a sink fails.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "connection.h"
#include "connection_table.h"
#include "element_limits.h"
#include "endpoint.h"
#include "identity_directory.h"
#include "listener.h"
#include "log.h"
#include "record_sink.h"
#include "sink_writer.h"
#include "stats.h"
#include "unique_fd.h"

namespace moxcollect {

using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

struct CollectorSettings {
  // Well above the longest silence of a library connection that sends metric
  // data: every datasending_interval + 1 seconds, 61 s by default.
  static constexpr std::chrono::milliseconds kDefaultIdleTimeout = std::chrono::minutes(15);
  static constexpr size_t kDefaultMaxConnections = 1024;
  // A host runs many library processes, two connections each.
  static constexpr size_t kDefaultMaxPerAddress = 256;
  static constexpr size_t kDefaultMemoryBudget = 256u << 20;

  std::vector<Endpoint> listen;
  uint64_t recordLimit = 0;  // 0: no limit
  bool stopWhenIdle = false;
  std::optional<std::chrono::milliseconds> runFor;
  bool quiet = false;  // no lines about connections and dropped elements
  size_t maxConnections = kDefaultMaxConnections;
  size_t maxPerAddress = kDefaultMaxPerAddress;
  std::chrono::milliseconds idleTimeout = kDefaultIdleTimeout;  // zero: never
  size_t memoryBudget = kDefaultMemoryBudget;                   // bytes held by all connections together
  size_t queueBytes = SinkWriter::kDefaultQueueBytes;           // records waiting for the sinks
  SteadyClock clock;                                            // null: std::chrono::steady_clock::now
  ElementLimits elementLimits;                                  // per element of each connection
};

class Collector {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  static constexpr size_t kTurnBytes = 64 * 1024;
  static constexpr size_t kDrainBytes = 4u << 20;
  static constexpr std::chrono::milliseconds kDrainTime{500};
  static constexpr std::chrono::milliseconds kOutputStall{1000};
  // Descriptors kept free of connections for the listeners, the wake-up pipe, the standard streams and the spare.
  static constexpr size_t kReservedDescriptors = 64;
  static constexpr size_t kMinConnections = 16;

  Collector(CollectorSettings settings, std::vector<RecordSink*> sinks, Log& log);
  ~Collector();
  Collector(const Collector&) = delete;
  Collector& operator=(const Collector&) = delete;

  // Binds every listening endpoint; false with a message on the log when one fails.
  bool open();
  const std::vector<Listener>& listeners() const { return listeners_; }
  // The connection limit in force after open().
  size_t maxConnections() const { return maxConnections_; }

  // Runs until stopped; returns false when a sink failed or the output stalled.
  bool run();
  void requestStop();
  // Makes the loop run one more turn (e.g. after the injected clock moved on).
  void wake();
  // After run(): the sinks made no progress at the end; their thread is still
  // blocked in a write, so the program must end without destroying the collector.
  bool outputStalled() const { return outputStalled_; }

  const Stats& stats() const { return stats_; }

 private:
  TimePoint now() const;
  void turn();
  int pollTimeout(TimePoint now) const;
  void acceptFrom(const Listener& listener, TimePoint now);
  void admit(Listener::Accepted&& accepted, TimePoint now);
  void refuseOne(const Listener& listener);
  void readFrom(Connection& connection, TimePoint now);
  bool withinBudget(Connection& connection);
  void closeIdle(TimePoint now);
  void close(Connection& connection, const std::string& why = std::string());
  void onElement(Connection& connection, Element&& element, std::string&& raw);
  // Gives a record without a process the connection's, or the only one seen
  // at its address; remembers a named one for both.
  void noteIdentity(Connection& connection, Record& record, const MetricAttributes& attributes);
  // Reads the process a line's name names, when it is not the connection's last.
  void readIdentity(Connection& connection, std::string_view prefix);
  void onError(Connection& connection, const std::string& message, const std::string& excerpt);
  bool shouldStop(TimePoint now) const;
  void drainAndClose();

  static constexpr uint64_t kErrorLinesPerConnection = 10;
  static constexpr size_t kKeptPrefixBytes = 256;
  static constexpr int kAcceptsPerTurn = 64;

  CollectorSettings settings_;
  std::vector<RecordSink*> sinks_;
  Log& log_;
  std::vector<Listener> listeners_;
  ConnectionTable table_;
  IdentityDirectory directory_;
  Identity named_;  // readIdentity()'s, kept for its storage
  Stats stats_;
  SinkWriter writer_;
  UniqueFd wakeRead_;
  UniqueFd wakeWrite_;
  UniqueFd spare_;  // given up for a moment to accept and close a connection when descriptors run out
  std::atomic<bool> stopRequested_{false};
  TimePoint started_;
  TimePoint nextIdleCheck_;
  uint64_t nextNumber_ = 1;
  // The wall-clock time of the current read, for the records it completes:
  // read once per read rather than once per record.
  std::chrono::system_clock::time_point receivedAt_;
  size_t maxConnections_;
  size_t heldTotal_ = 0;
  bool keepRaw_ = true;  // some sink reads the records' bytes
  bool outputStalled_ = false;
};

}  // namespace moxcollect
