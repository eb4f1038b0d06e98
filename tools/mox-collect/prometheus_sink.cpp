#include "prometheus_sink.h"

#include <netdb.h>
#include <prometheus/exposer.h>
#include <prometheus/text_serializer.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>

namespace moxcollect {

namespace {

// The exposer takes numeric addresses only: "127.0.0.1:9464", "[::1]:9464".
bool bindAddress(const Endpoint& endpoint, std::string& address, std::string& error) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int status = ::getaddrinfo(endpoint.host.c_str(), nullptr, &hints, &found);
  if (status != 0 || found == nullptr) {
    error = "cannot resolve " + endpoint.host + ": " + ::gai_strerror(status);
    return false;
  }
  const std::string host = addressHostText(found->ai_addr);
  const bool v6 = found->ai_family == AF_INET6;
  ::freeaddrinfo(found);
  address = (v6 ? "[" + host + "]" : host) + ":" + std::to_string(endpoint.port);
  return true;
}

}  // namespace

PrometheusSink::PrometheusSink(unsigned expiryIntervals, size_t maxSeries)
    : expiryIntervals_(std::max(expiryIntervals, 1u)),
      store_(maxSeries),
      exposition_(std::make_shared<PrometheusExposition>(store_, counters_)) {}

PrometheusSink::~PrometheusSink() { exposer_.reset(); }

bool PrometheusSink::serve(const Endpoint& endpoint, std::string& error) {
  std::string address;
  if (!bindAddress(endpoint, address, error)) return false;
  // The server's threads take the signal mask they start with: stop signals are the collector loop's business.
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &previous);
  try {
    exposer_ = std::make_unique<prometheus::Exposer>(address, 2);
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
  return true;
}

std::string PrometheusSink::exposition() const {
  return prometheus::TextSerializer().Serialize(exposition_->Collect());
}

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
    case MappedLine::Kind::Version: kept = store_.setVersion(record.metric, line.version, now_); break;
    case MappedLine::Kind::Timing:
    case MappedLine::Kind::Resource:
    case MappedLine::Kind::Kpi: kept = store_.stage(record.metric, line, now_); break;
  }
  if (!kept) counters_.refused.fetch_add(1, std::memory_order_relaxed);
}

void PrometheusSink::tick(TimePoint now) {
  now_ = now;
  if (store_.staging()) store_.commitQuiet(now, kQuietTime);
  if (now < nextExpiryCheck_) return;
  counters_.expired += store_.expire(now, expiryIntervals_);
  nextExpiryCheck_ = now + kExpiryCheck;
}

std::optional<RecordSink::TimePoint> PrometheusSink::nextTick() const {
  if (!store_.staging()) return nextExpiryCheck_;
  return std::min(nextExpiryCheck_, now_ + kQuietTime / 4);
}

void PrometheusSink::finish() { store_.commitAll(); }

void PrometheusSink::countInto(Stats& stats) const {
  stats.prometheusMalformed += counters_.malformed.load();
  stats.prometheusRefused += counters_.refused.load();
}

}  // namespace moxcollect
