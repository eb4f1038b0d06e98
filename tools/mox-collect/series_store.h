// The Prometheus series of every library process the sink knows, in two
// stages, so that a scrape never sees half an interval:
//   - staged: the lines of a process's current interval, written by the sink
//     writer thread only;
//   - applied: what a scrape reads, changed only under the store's mutex, one
//     whole interval of a process at a time (commit()).
// A scrape holds the mutex only to copy the applied values (snapshot()): the
// labels of an owner are immutable and shared, so the copy is one pointer and
// a few numbers per timing key or resource.
//
// State is kept by process identity (system, process, instance, instance
// prefix), not by connection: a process that reconnects goes on with its
// counters.
//
// Bounded: at most maxSeries series, counted when a staged line first makes
// one (so staged lines count too). A line that would take the total over is
// refused, and its process or owner is not made. A process is dropped with
// all its series by expire().
#pragma once

#include <prometheus/client_metric.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "metric_name.h"
#include "process_activity.h"
#include "prometheus_mapping.h"

namespace moxcollect {

using LabelSet = std::vector<prometheus::ClientMetric::Label>;

class SeriesStore {
 public:
  using Clock = std::chrono::steady_clock;

  struct Item {
    std::shared_ptr<const LabelSet> labels;
    SeriesOwner owner;
    SeriesMask present;
    SeriesValues values;
  };
  struct Snapshot {
    std::vector<Item> items;
    size_t series = 0;  // exposed series: the present bits of all items
  };

  explicit SeriesStore(size_t maxSeries);
  ~SeriesStore();
  SeriesStore(const SeriesStore&) = delete;
  SeriesStore& operator=(const SeriesStore&) = delete;

  // Writer thread. Stages a metric line (kind Timing, Resource or Kpi) of
  // the process its name names, that arrived on `connection`. The process's interval
  // is committed first when the line is for a (key, label) already staged
  // (the next interval has begun) or comes on another connection (the
  // process reconnected: the old connection has ended). False when refused
  // (the series limit).
  bool stage(const MappedLine& line, uint64_t connection, Clock::time_point now);
  // Writer thread. Applies a version line at once. False when refused.
  bool setVersion(const MetricNameView& name, std::string_view version, Clock::time_point now);
  // Writer thread. Commits every process whose last line is at least `quiet` old.
  void commitQuiet(Clock::time_point now, Clock::duration quiet);
  void commitAll();
  bool staging() const { return !staging_.empty(); }
  // Writer thread. Drops the processes silent for `intervals` of their
  // intervals; returns how many.
  size_t expire(Clock::time_point now, unsigned intervals);
  // Series counted against the limit (applied and staged).
  size_t seriesCounted() const { return seriesCounted_; }

  // Any thread.
  Snapshot snapshot() const;

 private:
  struct Entry;
  struct Resource;
  struct Process;
  using ProcessKey = std::array<std::string, 4>;  // system, process, instance, instance prefix
  using ProcessView = std::array<std::string_view, 4>;
  // Finds a process by the parts of a line's name, without copying them.
  struct ProcessKeyLess {
    using is_transparent = void;
    static ProcessView view(const ProcessKey& key) { return {key[0], key[1], key[2], key[3]}; }
    static const ProcessView& view(const ProcessView& key) { return key; }
    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const {
      return view(a) < view(b);
    }
  };

  Process* processFor(const MetricNameView& name, SeriesMask wanted, Clock::time_point now);
  Entry* entryFor(Process& process, const MappedLine& line);
  // A key or label as the text the owners' maps are looked up by, in storage kept for it.
  const std::string& lookupText(std::string_view text);
  bool reserve(Entry* entry, SeriesMask wanted);
  // Removes an owner that has no series (its line was refused).
  void forget(Process& process, const MappedLine& line);
  std::unique_ptr<Entry> makeEntry(const Process& process, SeriesOwner owner, const MetricNameView& name,
                                   std::string_view extra) const;
  void commit(Process& process);
  void list(Entry& entry);
  void unlist(Entry& entry);
  void drop(Process& process);

  const size_t maxSeries_;
  size_t seriesCounted_ = 0;
  std::map<ProcessKey, std::unique_ptr<Process>, ProcessKeyLess> processes_;
  Process* lastProcess_ = nullptr;  // the process of the latest line: most lines come in bursts of one
  std::vector<Process*> staging_;   // processes with staged lines
  std::string lookup_;              // lookupText()'s

  mutable std::mutex mutex_;
  std::vector<Entry*> listed_;  // guarded by mutex_: the owners a scrape sees
};

}  // namespace moxcollect
