// --prometheus: serves the collected metric lines on /metrics in the
// Prometheus text format (see prometheus_mapping.h for the series), with
// prometheus-cpp's exposer.
//
// The sink writer thread stages each process's lines and applies them one
// interval at a time (SeriesStore): when a line for a (key, label) already
// staged arrives (the next interval has begun), or when the process has sent
// nothing for kQuietTime (ticks), when its lines come on another connection
// (it reconnected), or at finish(). A scrape sees only whole
// intervals. A process's series expire after `expiryIntervals` of its
// intervals without a line (ProcessActivity); the series are at most
// maxSeries.
//
// Malformed and refused lines are counted (countInto) and exposed, as are the
// lines received and the processes expired.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "endpoint.h"
#include "prometheus_exposition.h"
#include "record_sink.h"
#include "series_store.h"

namespace prometheus {
class Exposer;
}

namespace moxcollect {

class PrometheusSink : public RecordSink {
 public:
  static constexpr unsigned kDefaultExpiryIntervals = 3;
  static constexpr size_t kDefaultMaxSeries = 250000;
  static constexpr std::chrono::milliseconds kQuietTime{1000};
  // How often ticks look for processes quiet for kQuietTime, and for silent processes to expire.
  static constexpr std::chrono::milliseconds kQuietCheck{250};
  static constexpr size_t kServerThreads = 2;
  static constexpr size_t kServerDescriptors = 1 + kServerThreads + 20;  // 20: the server's accept queue
  static constexpr std::chrono::milliseconds kExpiryCheck{1000};

  // Process-wide, for a process that serves scrapes: the threads share one
  // glibc arena, which keeps a scrape's freed memory (up to kKeptFreeBytes;
  // blocks up to kHeapBlockBytes) for the next scrape instead of giving it
  // back and page-faulting all of it again, a third of a scrape's time. What
  // is kept is bounded by the largest scrape, about 1 KB a series. Call before
  // the threads start; their ingest rate is the same either way.
  static constexpr int kHeapBlockBytes = 32 << 20;  // glibc's upper bound for the threshold
  static constexpr int kKeptFreeBytes = 256 << 20;  // a scrape of the default series limit
  static void keepScrapeMemory();

  explicit PrometheusSink(unsigned expiryIntervals = kDefaultExpiryIntervals, size_t maxSeries = kDefaultMaxSeries);
  // Stops serving before anything else goes.
  ~PrometheusSink() override;
  PrometheusSink(const PrometheusSink&) = delete;
  PrometheusSink& operator=(const PrometheusSink&) = delete;

  // Serves /metrics on the endpoint (a host name is resolved to its first
  // address; port 0 takes a free port). False with a message when it cannot,
  // e.g. when the port is in use.
  bool serve(const Endpoint& endpoint, std::string& error);
  // The port served, after serve().
  uint16_t port() const { return port_; }

  // What a scrape would get: the families, and their text.
  std::vector<prometheus::MetricFamily> families() const;
  std::string exposition() const;

  void write(const Record& record) override;
  bool readsRaw() const override { return false; }
  bool readsNames() const override { return false; }  // mapLine() splits the name into views
  void tick(TimePoint now) override;
  std::optional<TimePoint> nextTick() const override;
  void finish() override;
  void countInto(Stats& stats) const override;
  // The HTTP server's: its listening socket, a connection per thread and those accepted waiting for one.
  size_t descriptors() const override { return exposer_ ? kServerDescriptors : 0; }

 private:
  unsigned expiryIntervals_;
  SeriesStore store_;
  PrometheusCounters counters_;
  std::shared_ptr<PrometheusExposition> exposition_;
  std::unique_ptr<prometheus::Exposer> exposer_;
  uint16_t port_ = 0;
  sockaddr_storage served_{};  // the address served, with the port
  TimePoint now_{};            // the latest tick: the arrival time of the lines written after it
  TimePoint nextQuietCheck_{};
  TimePoint nextExpiryCheck_{};
};

}  // namespace moxcollect
