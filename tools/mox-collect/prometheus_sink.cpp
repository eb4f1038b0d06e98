#include "prometheus_sink.h"

#include <arpa/inet.h>
#include <malloc.h>
#include <netdb.h>
#include <prometheus/exposer.h>
#include <prometheus/text_serializer.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <system_error>
#include <thread>

namespace moxcollect {

namespace {

// The exposer takes numeric addresses only: "127.0.0.1:9464", "[::1]:9464".
bool bindAddress(const Endpoint& endpoint, sockaddr_storage& resolved, std::string& address, std::string& error) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int status = ::getaddrinfo(endpoint.host.c_str(), nullptr, &hints, &found);
  if (status != 0 || found == nullptr) {
    error = "cannot resolve " + endpoint.host + ": " + ::gai_strerror(status);
    return false;
  }
  std::memcpy(&resolved, found->ai_addr, std::min<size_t>(found->ai_addrlen, sizeof resolved));
  ::freeaddrinfo(found);
  const std::string host = addressHostText(reinterpret_cast<const sockaddr*>(&resolved));
  address = (resolved.ss_family == AF_INET6 ? "[" + host + "]" : host) + ":" + std::to_string(endpoint.port);
  return true;
}

// Opens and closes a connection to address.
void knock(sockaddr_storage address) {
  const int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  const socklen_t size = address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  (void)!::connect(fd, reinterpret_cast<const sockaddr*>(&address), size);
  ::close(fd);
}

}  // namespace

void PrometheusSink::keepScrapeMemory() {
  // A thread's own arena gives back each of its heaps that empties.
  mallopt(M_ARENA_MAX, 1);
  mallopt(M_MMAP_THRESHOLD, kHeapBlockBytes);
  mallopt(M_TRIM_THRESHOLD, kKeptFreeBytes);
}

PrometheusSink::PrometheusSink(unsigned expiryIntervals, size_t maxSeries)
    : expiryIntervals_(std::max(expiryIntervals, 1u)),
      store_(maxSeries),
      exposition_(std::make_shared<PrometheusExposition>(store_, counters_)) {}

PrometheusSink::~PrometheusSink() {
  if (!exposer_) return;
  // The server's accept loop sees a stop only when a connection arrives or its poll times out,
  // every 2 s: knocking while it stops ends the wait at once.
  std::atomic<bool> stopped{false};
  std::thread knocker;
  try {
    knocker = std::thread([this, &stopped] {
      for (int i = 0; i < 200 && !stopped; ++i) {
        knock(served_);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    });
  } catch (const std::system_error&) {
    // No thread to spare: the stop takes the poll's time.
  }
  exposer_.reset();
  stopped = true;
  if (knocker.joinable()) knocker.join();
}

bool PrometheusSink::serve(const Endpoint& endpoint, std::string& error) {
  std::string address;
  if (!bindAddress(endpoint, served_, address, error)) return false;
  // The server's threads take the signal mask they start with: stop signals are the collector loop's business.
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &previous);
  try {
    exposer_ = std::make_unique<prometheus::Exposer>(address, kServerThreads);
  } catch (const std::exception& e) {
    error = "cannot serve Prometheus metrics on " + address + ": " + e.what();
    // Debian's build of the HTTP server underneath has no IPv6.
    if (address.front() == '[') error += " (the HTTP server may have been built without IPv6)";
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (!exposer_) return false;
  exposer_->RegisterCollectable(exposition_);
  const std::vector<int> ports = exposer_->GetListeningPorts();
  port_ = ports.empty() ? endpoint.port : static_cast<uint16_t>(ports.front());
  // sin_port and sin6_port lie at the same offset.
  reinterpret_cast<sockaddr_in*>(&served_)->sin_port = htons(port_);
  return true;
}

std::vector<prometheus::MetricFamily> PrometheusSink::families() const { return exposition_->Collect(); }

std::string PrometheusSink::exposition() const { return prometheus::TextSerializer().Serialize(families()); }

void PrometheusSink::write(const Record& record) {
  if (record.kind == RecordKind::Metric) {
    counters_.lines.fetch_add(1, std::memory_order_relaxed);
  } else if (record.kind != RecordKind::Version) {
    return;
  }
  const MappedLine line = mapLine(record);
  bool kept = true;
  switch (line.kind) {
    case MappedLine::Kind::Ignored: return;
    case MappedLine::Kind::Malformed: counters_.malformed.fetch_add(1, std::memory_order_relaxed); return;
    case MappedLine::Kind::Version: kept = store_.setVersion(line.name, line.version, now_); break;
    case MappedLine::Kind::Timing:
    case MappedLine::Kind::Resource:
    case MappedLine::Kind::Kpi: kept = store_.stage(line, record.connection, now_); break;
  }
  if (!kept) counters_.refused.fetch_add(1, std::memory_order_relaxed);
}

void PrometheusSink::tick(TimePoint now) {
  now_ = now;
  // The writer ticks after every batch: the staged processes are looked at only a few times per quiet time.
  if (store_.staging() && now >= nextQuietCheck_) {
    store_.commitQuiet(now, kQuietTime);
    nextQuietCheck_ = now + kQuietCheck;
  }
  if (now < nextExpiryCheck_) return;
  counters_.expired += store_.expire(now, expiryIntervals_);
  nextExpiryCheck_ = now + kExpiryCheck;
}

std::optional<RecordSink::TimePoint> PrometheusSink::nextTick() const {
  if (!store_.staging()) return nextExpiryCheck_;
  return std::min(nextExpiryCheck_, std::max(nextQuietCheck_, now_));
}

void PrometheusSink::finish() { store_.commitAll(); }

void PrometheusSink::countInto(Stats& stats) const {
  stats.prometheusMalformed += counters_.malformed.load();
  stats.prometheusRefused += counters_.refused.load();
}

}  // namespace moxcollect
