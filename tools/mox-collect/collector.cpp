#include "collector.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

namespace moxcollect {

namespace {

std::string seconds(std::chrono::milliseconds duration) {
  return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(duration).count()) + " s";
}

// The metric name is split on the writer thread, which has time to spare, and
// only when a sink reads it.
std::function<void(Record&)> nameSplitter(const std::vector<RecordSink*>& sinks) {
  const bool read = std::any_of(sinks.begin(), sinks.end(), [](const RecordSink* sink) { return sink->readsNames(); });
  return read ? std::function<void(Record&)>(splitName) : std::function<void(Record&)>();
}

// The slot mostly held a record of the same connection: comparing is cheaper than copying.
void assignIfChanged(std::string& to, const std::string& from) {
  if (to != from) to.assign(from);
}

}  // namespace

Collector::Collector(CollectorSettings settings, std::vector<RecordSink*> sinks, Log& log)
    : settings_(std::move(settings)),
      sinks_(std::move(sinks)),
      log_(log),
      writer_(
          sinks_, settings_.queueBytes, [this] { wake(); }, nameSplitter(sinks_)),
      maxConnections_(std::max<size_t>(settings_.maxConnections, 1)) {
  settings_.maxPerAddress = std::max<size_t>(settings_.maxPerAddress, 1);
  keepRaw_ = std::any_of(sinks_.begin(), sinks_.end(), [](const RecordSink* sink) { return sink->readsRaw(); });
  if (!settings_.clock) settings_.clock = [] { return std::chrono::steady_clock::now(); };
  int fds[2];
  if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
    wakeRead_ = UniqueFd(fds[0]);
    wakeWrite_ = UniqueFd(fds[1]);
  }
}

Collector::~Collector() = default;

Collector::TimePoint Collector::now() const { return settings_.clock(); }

bool Collector::open() {
  // Connections stay below the descriptor limit by a reserve, so that a new
  // one can always be accepted (closing the longest-idle one) and a listener
  // never stays readable with accept() failing.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY) {
    size_t reserve = kReservedDescriptors;
    for (const RecordSink* sink : sinks_) reserve += sink->descriptors();
    const size_t limit = static_cast<size_t>(files.rlim_cur);
    const size_t room = limit > reserve ? limit - reserve : 0;
    maxConnections_ = std::min(maxConnections_, std::max(room, kMinConnections));
  }
  spare_ = UniqueFd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  if (!wakeRead_.valid()) {
    log_.line("cannot create the wake-up pipe");
    return false;
  }
  for (const Endpoint& endpoint : settings_.listen) {
    std::string error;
    if (!Listener::open(endpoint, listeners_, error)) {
      log_.line(error);
      return false;
    }
  }
  for (const Listener& listener : listeners_) log_.line("listening on " + listener.address());
  return true;
}

void Collector::wake() {
  const char byte = 'w';
  if (wakeWrite_.valid()) (void)!::write(wakeWrite_.get(), &byte, 1);
}

void Collector::requestStop() {
  stopRequested_ = true;
  wake();
}

bool Collector::run() {
  started_ = now();
  nextIdleCheck_ = started_ + settings_.idleTimeout;
  writer_.start();
  while (!shouldStop(now())) turn();
  drainAndClose();
  outputStalled_ = !writer_.finish(kOutputStall);
  stats_.sinkDropped = writer_.dropped();
  for (const RecordSink* sink : sinks_) sink->countInto(stats_);
  return !outputStalled_ && !writer_.failed();
}

bool Collector::shouldStop(TimePoint now) const {
  if (stopRequested_ || writer_.failed()) return true;
  if (settings_.recordLimit != 0 && stats_.records() >= settings_.recordLimit) return true;
  if (settings_.stopWhenIdle && stats_.connections > 0 && table_.openCount() == 0) return true;
  return settings_.runFor && now - started_ >= *settings_.runFor;
}

int Collector::pollTimeout(TimePoint now) const {
  std::optional<TimePoint> wake;
  if (settings_.runFor) wake = started_ + *settings_.runFor;
  if (settings_.idleTimeout.count() > 0 && table_.openCount() > 0 && (!wake || nextIdleCheck_ < *wake)) {
    wake = nextIdleCheck_;
  }
  if (!wake) return -1;
  if (*wake <= now) return 0;
  // Round up, so the loop does not spin through the last partial millisecond.
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*wake - now).count();
  return static_cast<int>(std::min<int64_t>(ms, 60000));
}

void Collector::turn() {
  std::vector<pollfd> fds;
  fds.reserve(1 + listeners_.size() + table_.openCount());
  fds.push_back({wakeRead_.get(), POLLIN, 0});
  for (const Listener& listener : listeners_) fds.push_back({listener.fd(), POLLIN, 0});
  std::vector<Connection*> polled;
  polled.reserve(table_.openCount());
  for (const auto& connection : table_) {
    if (!connection->isOpen()) continue;
    fds.push_back({connection->fd(), POLLIN, 0});
    polled.push_back(connection.get());
  }

  const int ready = ::poll(fds.data(), fds.size(), pollTimeout(now()));
  if (ready < 0 && errno != EINTR) {
    log_.line("poll failed, stopping");
    requestStop();
    return;
  }
  const TimePoint at = now();
  if (ready > 0) {
    if (fds[0].revents != 0) {
      char bytes[64];
      while (::read(wakeRead_.get(), bytes, sizeof bytes) > 0) {
      }
    }
    for (size_t i = 0; i < listeners_.size(); ++i) {
      if (fds[1 + i].revents != 0) acceptFrom(listeners_[i], at);
    }
    const size_t first = 1 + listeners_.size();
    for (size_t i = 0; i < polled.size() && !stopRequested_; ++i) {
      // A connection closed earlier in this turn (evicted) is skipped.
      if (fds[first + i].revents != 0 && polled[i]->isOpen()) readFrom(*polled[i], at);
    }
  }
  closeIdle(now());
  table_.removeClosed();
}

void Collector::acceptFrom(const Listener& listener, TimePoint now) {
  for (int i = 0; i < kAcceptsPerTurn; ++i) {
    Listener::Accepted accepted;
    const Listener::AcceptResult result = listener.accept(accepted);
    if (result == Listener::AcceptResult::None) return;
    if (result == Listener::AcceptResult::Accepted) {
      admit(std::move(accepted), now);
      continue;
    }
    // Out of descriptors: the longest-idle connection gives up its own.
    if (Connection* idlest = table_.longestIdle()) {
      ++stats_.evicted;
      close(*idlest, "to make room: no file descriptor left");
      continue;
    }
    refuseOne(listener);
    return;
  }
}

void Collector::refuseOne(const Listener& listener) {
  spare_.reset();
  Listener::Accepted refused;
  if (listener.accept(refused) == Listener::AcceptResult::Accepted) {
    ++stats_.refused;
    if (!settings_.quiet) log_.line("refusing " + refused.peer + ": no file descriptor left");
  }
  refused.fd.reset();
  spare_ = UniqueFd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
}

void Collector::admit(Listener::Accepted&& accepted, TimePoint now) {
  Connection* idlest = nullptr;
  std::string why;
  if (table_.countAt(accepted.peerHost) >= settings_.maxPerAddress) {
    idlest = table_.longestIdle(&accepted.peerHost);
    why = "to make room: " + std::to_string(settings_.maxPerAddress) + " connections from " + accepted.peerHost;
  } else if (table_.openCount() >= maxConnections_) {
    idlest = table_.longestIdle();
    why = "to make room: " + std::to_string(maxConnections_) + " connections";
  }
  if (idlest != nullptr) {
    ++stats_.evicted;
    close(*idlest, why);
  }
  const uint64_t number = nextNumber_++;
  Connection& connection = table_.add(std::make_unique<Connection>(
      number, std::move(accepted), settings_.elementLimits, now,
      [this](Connection& c, Element&& e, std::string&& raw) { onElement(c, std::move(e), std::move(raw)); },
      [this](Connection& c, const std::string& message, const std::string& excerpt) { onError(c, message, excerpt); }));
  connection.keepRaw(keepRaw_);
  ++stats_.connections;
  ++stats_.open;
  if (!settings_.quiet) log_.line("connection " + std::to_string(number) + " from " + connection.peer());
}

void Collector::readFrom(Connection& connection, TimePoint now) {
  size_t budget = kTurnBytes;
  Connection::ReadResult result = Connection::ReadResult::Data;
  while (budget > 0 && !stopRequested_) {
    size_t bytes = 0;
    receivedAt_ = std::chrono::system_clock::now();
    result = connection.readSome(budget, bytes);
    stats_.bytes += bytes;
    budget -= bytes;
    if (result != Connection::ReadResult::Data) break;
    connection.lastActive = now;
  }
  writer_.publish();
  if (withinBudget(connection) && result == Connection::ReadResult::Closed) close(connection);
}

bool Collector::withinBudget(Connection& connection) {
  // What the connection's splitter holds between reads: at most one
  // unfinished element (its bytes and, when large, its tree so far) and its
  // small fixed buffers.
  const size_t held = connection.bytesHeld();
  heldTotal_ = heldTotal_ - connection.heldBytes + held;
  connection.heldBytes = held;
  if (heldTotal_ <= settings_.memoryBudget) return true;
  ++stats_.overBudget;
  close(connection,
        "over the memory budget (" + std::to_string(settings_.memoryBudget) + " bytes held by all connections)");
  return false;
}

void Collector::closeIdle(TimePoint now) {
  if (settings_.idleTimeout.count() <= 0 || now < nextIdleCheck_) return;
  for (const auto& connection : table_) {
    if (connection->isOpen() && now - connection->lastActive >= settings_.idleTimeout) {
      ++stats_.idleClosed;
      close(*connection, "silent for " + seconds(settings_.idleTimeout));
    }
  }
  const auto oldest = table_.oldestActivity();
  nextIdleCheck_ = (oldest ? *oldest : now) + settings_.idleTimeout;
}

void Collector::close(Connection& connection, const std::string& why) {
  if (!connection.isOpen()) return;
  table_.noteClosed(connection);
  heldTotal_ -= connection.heldBytes;
  connection.heldBytes = 0;
  if (connection.finish()) ++stats_.truncated;
  --stats_.open;
  if (!settings_.quiet) {
    log_.line("connection " + std::to_string(connection.number()) + " closed after " +
              std::to_string(connection.records) + " records" + (why.empty() ? "" : ", " + why));
  }
}

void Collector::onElement(Connection& connection, Element&& element, std::string&& raw) {
  if (settings_.recordLimit != 0 && stats_.records() >= settings_.recordLimit) return;
  // The record is filled in a slot of the writer's batch. The element and
  // its bytes are swapped in, so the splitter reads the next element into
  // the storage of one already written.
  Record& record = writer_.slot();
  std::swap(record.element, element);
  record.raw.swap(raw);
  record.bytes = connection.elementBytes();
  // Found once here; the writer thread reads the attributes at the same places.
  record.places = attributePlaces(record.element);
  const MetricAttributes attributes = attributesOf(record);
  record.kind = kindOf(record.element, attributes);
  record.connection = connection.number();
  assignIfChanged(record.peer, connection.peer());
  assignIfChanged(record.peerHost, connection.peerHost());
  record.received = receivedAt_;
  noteIdentity(connection, record, attributes);
  ++connection.records;
  stats_.count(record.kind);
  writer_.commit();
}

void Collector::noteIdentity(Connection& connection, Record& record, const MetricAttributes& attributes) {
  if (record.kind == RecordKind::Metric || record.kind == RecordKind::Version) {
    // A connection's lines mostly name one process: only a name of another one is read.
    const std::string_view prefix = identityPrefix(attributes);
    if (!connection.identityPrefixKept || prefix != connection.identityPrefix) readIdentity(connection, prefix);
    // The writer thread takes the identity from the name (splitName).
    if (connection.prefixNamesProcess) return;
  }
  record.identity = connection.identity.known() ? connection.identity : directory_.onlyProcessAt(connection.peerHost());
}

void Collector::readIdentity(Connection& connection, std::string_view prefix) {
  identityFrom(prefix, named_);
  connection.prefixNamesProcess = named_.known();
  if (named_.known() && named_ != connection.identity) {
    connection.identity = named_;
    directory_.note(connection.peerHost(), connection.identity);
  }
  // A long one is read again each time rather than kept for every connection.
  connection.identityPrefixKept = prefix.size() <= kKeptPrefixBytes;
  if (connection.identityPrefixKept) {
    connection.identityPrefix.assign(prefix);
  } else {
    std::string().swap(connection.identityPrefix);
    named_ = Identity();
  }
}

void Collector::onError(Connection& connection, const std::string& message, const std::string& excerpt) {
  ++stats_.malformed;
  if (settings_.quiet) return;
  const uint64_t seen = ++connection.errors;
  if (seen > kErrorLinesPerConnection) return;
  const std::string prefix = "connection " + std::to_string(connection.number()) + ": ";
  log_.line(prefix + "dropped an element (" + message + "): " + excerpt);
  if (seen == kErrorLinesPerConnection) log_.line(prefix + "further dropped elements are only counted");
}

void Collector::drainAndClose() {
  const TimePoint deadline = now() + kDrainTime;
  // Connections still waiting in the backlog have sent their data too.
  for (const Listener& listener : listeners_) acceptFrom(listener, now());
  for (const auto& connection : table_) {
    size_t drained = 0;
    Connection::ReadResult result = Connection::ReadResult::Data;
    while (connection->isOpen() && result == Connection::ReadResult::Data && drained < kDrainBytes &&
           now() < deadline) {
      size_t bytes = 0;
      receivedAt_ = std::chrono::system_clock::now();
      result = connection->readSome(kDrainBytes - drained, bytes);
      stats_.bytes += bytes;
      drained += bytes;
    }
    writer_.publish();
    if (connection->isOpen() && withinBudget(*connection)) close(*connection);
  }
  table_.removeClosed();
}

}  // namespace moxcollect
