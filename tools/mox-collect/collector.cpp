#include "collector.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

namespace moxcollect {

namespace {

// What one connection may still deliver after a stop was requested.
constexpr size_t kDrainBytes = 16u << 20;

// Descriptors kept free of connections for the sinks' files and the listeners.
constexpr size_t kSpareDescriptors = 320;

}  // namespace

Collector::Collector(CollectorSettings settings, std::vector<RecordSink*> sinks, std::ostream& log)
    : settings_(std::move(settings)), sinks_(std::move(sinks)), log_(log) {
  int fds[2];
  if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
    wakeRead_ = UniqueFd(fds[0]);
    wakeWrite_ = UniqueFd(fds[1]);
  }
}

Collector::~Collector() = default;

bool Collector::open() {
  // Refuse connections before the descriptors run out: a listener whose
  // accept() keeps failing would stay readable and spin the loop.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY) {
    const rlim_t spare = kSpareDescriptors;
    const size_t room = files.rlim_cur > spare ? static_cast<size_t>(files.rlim_cur - spare) : 16;
    settings_.maxConnections = std::min(settings_.maxConnections, std::max<size_t>(room, 16));
  }
  if (!wakeRead_.valid()) {
    log_ << "mox-collect: cannot create the wake-up pipe\n";
    return false;
  }
  for (const Endpoint& endpoint : settings_.listen) {
    std::string error;
    if (!Listener::open(endpoint, listeners_, error)) {
      log_ << "mox-collect: " << error << '\n';
      return false;
    }
  }
  for (const Listener& listener : listeners_) log_ << "mox-collect: listening on " << listener.address() << '\n';
  return true;
}

void Collector::requestStop() {
  stopRequested_ = true;
  const char byte = 's';
  if (wakeWrite_.valid()) (void)!::write(wakeWrite_.get(), &byte, 1);
}

bool Collector::run() {
  started_ = Clock::now();
  for (RecordSink* sink : sinks_) sink->tick(started_);
  while (!shouldStop(Clock::now())) turn();
  drainAndClose();
  for (RecordSink* sink : sinks_) sink->finish();
  return std::none_of(sinks_.begin(), sinks_.end(), [](RecordSink* s) { return s->failed(); });
}

bool Collector::shouldStop(Clock::time_point now) const {
  if (stopRequested_) return true;
  if (settings_.recordLimit != 0 && stats_.records() >= settings_.recordLimit) return true;
  if (settings_.stopWhenIdle && stats_.connections > 0 && connections_.empty()) return true;
  if (settings_.runFor && now - started_ >= *settings_.runFor) return true;
  return std::any_of(sinks_.begin(), sinks_.end(), [](RecordSink* s) { return s->failed(); });
}

int Collector::pollTimeout(Clock::time_point now) const {
  std::optional<Clock::time_point> wake;
  if (settings_.runFor) wake = started_ + *settings_.runFor;
  for (RecordSink* sink : sinks_) {
    const auto next = sink->nextTick();
    if (next && (!wake || *next < *wake)) wake = next;
  }
  if (!wake) return -1;
  if (*wake <= now) return 0;
  // Round up, so the loop does not spin through the last partial millisecond.
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*wake - now).count();
  return static_cast<int>(std::min<int64_t>(ms, 60000));
}

void Collector::turn() {
  std::vector<pollfd> fds;
  fds.push_back({wakeRead_.get(), POLLIN, 0});
  for (const Listener& listener : listeners_) fds.push_back({listener.fd(), POLLIN, 0});
  std::vector<Connection*> polled;
  for (const auto& connection : connections_) {
    fds.push_back({connection->fd(), POLLIN, 0});
    polled.push_back(connection.get());
  }

  flushSinks();
  const int ready = ::poll(fds.data(), fds.size(), pollTimeout(Clock::now()));
  if (ready < 0 && errno != EINTR) {
    log_ << "mox-collect: poll failed, stopping\n";
    requestStop();
    return;
  }
  if (ready > 0) {
    if (fds[0].revents != 0) {
      char bytes[64];
      while (::read(wakeRead_.get(), bytes, sizeof bytes) > 0) {
      }
    }
    for (size_t i = 0; i < listeners_.size(); ++i) {
      if (fds[1 + i].revents != 0) acceptAll(listeners_[i]);
    }
    const size_t first = 1 + listeners_.size();
    for (size_t i = 0; i < polled.size(); ++i) {
      if (fds[first + i].revents != 0) readFrom(*polled[i]);
    }
    connections_.remove_if([](const std::unique_ptr<Connection>& c) { return c->fd() < 0; });
  }
  const Clock::time_point now = Clock::now();
  for (RecordSink* sink : sinks_) sink->tick(now);
}

void Collector::acceptAll(const Listener& listener) {
  Listener::Accepted accepted;
  while (listener.accept(accepted)) {
    if (connections_.size() >= settings_.maxConnections) {
      log_ << "mox-collect: refusing " << accepted.peer << ": " << settings_.maxConnections
           << " connections are open\n";
      continue;  // the accepted socket closes with `accepted` being reused
    }
    const uint64_t number = nextNumber_++;
    auto connection = std::make_unique<Connection>(
        number, std::move(accepted), settings_.elementLimits,
        [this](Connection& c, Element&& e, std::string&& raw) { onElement(c, std::move(e), std::move(raw)); },
        [this](Connection& c, const std::string& message, const std::string& excerpt) {
          onError(c, message, excerpt);
        });
    ++stats_.connections;
    ++stats_.open;
    if (!settings_.quiet) log_ << "mox-collect: connection " << number << " from " << connection->peer() << '\n';
    connections_.push_back(std::move(connection));
    accepted = Listener::Accepted();
  }
}

void Collector::readFrom(Connection& connection) {
  size_t bytes = 0;
  const Connection::ReadResult result = connection.readSome(bytes);
  stats_.bytes += bytes;
  if (result == Connection::ReadResult::Closed) close(connection);
}

void Collector::close(Connection& connection) {
  if (connection.finish()) ++stats_.truncated;
  --stats_.open;
  if (!settings_.quiet) {
    log_ << "mox-collect: connection " << connection.number() << " closed after " << connection.records << " records\n";
  }
}

void Collector::onElement(Connection& connection, Element&& element, std::string&& raw) {
  if (settings_.recordLimit != 0 && stats_.records() >= settings_.recordLimit) return;
  Record record = makeRecord(std::move(element), std::move(raw));
  record.connection = connection.number();
  record.peer = connection.peer();
  record.peerHost = connection.peerHost();
  record.received = std::chrono::system_clock::now();
  if (record.identity.known()) {
    connection.identity = record.identity;
    directory_.note(connection.peerHost(), record.identity);
  } else {
    record.identity =
        connection.identity.known() ? connection.identity : directory_.onlyProcessAt(connection.peerHost());
  }
  ++connection.records;
  stats_.count(record.kind);
  for (RecordSink* sink : sinks_) sink->write(record);
}

void Collector::onError(Connection& connection, const std::string& message, const std::string& excerpt) {
  ++stats_.malformed;
  if (settings_.quiet) return;
  const uint64_t seen = ++connection.errors;
  if (seen <= kErrorLinesPerConnection) {
    log_ << "mox-collect: connection " << connection.number() << ": dropped an element (" << message << "): " << excerpt
         << '\n';
  }
  if (seen == kErrorLinesPerConnection) {
    log_ << "mox-collect: connection " << connection.number() << ": further dropped elements are only counted\n";
  }
}

void Collector::drainAndClose() {
  // Connections still waiting in the backlog have sent their data too.
  for (const Listener& listener : listeners_) acceptAll(listener);
  for (const auto& connection : connections_) {
    size_t drained = 0;
    Connection::ReadResult result = Connection::ReadResult::Data;
    while (result == Connection::ReadResult::Data && drained < kDrainBytes) {
      size_t bytes = 0;
      result = connection->readSome(bytes);
      stats_.bytes += bytes;
      drained += bytes;
    }
    close(*connection);
  }
  connections_.clear();
}

void Collector::flushSinks() {
  for (RecordSink* sink : sinks_) sink->flush();
}

}  // namespace moxcollect
