// The figures behind the live table of --top, kept per process and key:
//   - timing keys (IntAverage lines): the latest interval's average elapsed
//     time with its maximum and count, the largest elapsed time seen since
//     the start, the finished calls since the start and in the latest
//     interval, the latest active count;
//   - resources (LongCounter, LongCounterNone): the latest current value and
//     its watermarks.
// render() lays them out as four plain-text tables of at most `rows` lines:
// slowest by average, slowest by maximum, busiest by finished calls, and the
// resources. Not thread-safe; the top sink's owner feeds and renders it.
//
// Bounded: at most maxKeys timing keys and maxKeys resources. When a new key
// takes a kind over that, the table keeps only the keys it could show, with a
// margin: the best quarter of maxKeys by each ranking (for resources, which
// are listed by name, the first half by name), and counts the others as
// dropped. A dropped key that comes back starts afresh, so its calls since
// the start count from then.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "record.h"
#include "top_view.h"

namespace moxcollect {

class TopTable {
 public:
  static constexpr size_t kDefaultMaxKeys = 10000;
  static constexpr size_t kMinMaxKeys = 8;

  // maxKeys of at least kMinMaxKeys; render() shows the true leaders for rows up to maxKeys / 4.
  explicit TopTable(size_t maxKeys = kDefaultMaxKeys) : maxKeys_(std::max(maxKeys, kMinMaxKeys)) {}

  void add(const Record& record);
  std::string render(size_t rows) const;
  // The four tables with at most `rows` lines each; with a process label, only its keys.
  TopView view(size_t rows, const std::string& process = std::string()) const;
  uint64_t droppedKeys() const { return droppedKeys_; }

 private:
  struct Timing {
    int64_t average = -1;  // -1: no average line yet
    int64_t lastMax = -1;
    int64_t lastCount = 0;
    int64_t maxSeen = -1;
    uint64_t finishedTotal = 0;
    int64_t lastFinished = 0;
    int64_t active = 0;
  };
  struct Resource {
    int64_t current = 0;
    int64_t high = 0;
    int64_t low = 0;
  };
  using Key = std::pair<std::string, std::string>;  // process label, timing key or resource

  void addTiming(const Key& key, const Record& record, int64_t value);
  void addResource(const Key& key, const Record& record, int64_t value);
  Timing& timing(const Key& key);
  Resource& resource(const Key& key);
  void pruneTimings();
  void pruneResources();

  // The key of the record being added, filled in place (no allocation once
  // its strings have grown), and the entries the last look-ups found: a
  // library sends the lines of one key one after another, so most records
  // find their entry without a search. Pruning forgets them.
  template <typename Value>
  struct LastFound {
    bool valid = false;
    Key key;
    typename std::map<Key, Value>::iterator at;
  };
  void fillKey(const MetricName& name);

  size_t maxKeys_;
  uint64_t droppedKeys_ = 0;
  std::map<Key, Timing> timings_;
  std::map<Key, Resource> resources_;
  Key key_;
  LastFound<Timing> lastTiming_;
  LastFound<Resource> lastResource_;
  uint64_t metricLines_ = 0;
  uint64_t traces_ = 0;
};

}  // namespace moxcollect
