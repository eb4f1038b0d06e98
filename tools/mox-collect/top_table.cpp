#include "top_table.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <vector>

namespace moxcollect {

namespace {

bool readNumber(const std::string* text, int64_t& out) {
  if (text == nullptr) return false;
  const char* end = text->data() + text->size();
  const auto [ptr, ec] = std::from_chars(text->data(), end, out);
  return ec == std::errc() && ptr == end;
}

void processLabelInto(const MetricName& name, std::string& label) {
  if (name.process.empty()) {
    label.assign(name.system);
    return;
  }
  label.assign(name.process);
  if (name.instance.empty()) return;
  label += '_';
  label += name.instance;
}

// The entry of key in map, through the last one found when it is the same.
template <typename Value, typename Last, typename Make>
Value& lookUp(std::map<std::pair<std::string, std::string>, Value>& map, Last& last,
              const std::pair<std::string, std::string>& key, Make make) {
  if (last.valid && last.key == key) return last.at->second;
  auto found = map.find(key);
  if (found == map.end()) found = make();
  last.key = key;
  last.at = found;
  last.valid = true;
  return found->second;
}

std::string fit(const std::string& text, size_t width) {
  if (text.size() <= width) return text + std::string(width - text.size(), ' ');
  return text.substr(0, width - 1) + "~";
}

std::string number(int64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%12lld", static_cast<long long>(value));
  return text;
}

std::string heading(const char* a, const char* b, const char* c) {
  char text[64];
  std::snprintf(text, sizeof text, "%12s%12s%12s", a, b, c);
  return text;
}

constexpr size_t kProcessWidth = 22;
constexpr size_t kKeyWidth = 44;

const std::string& nameOf(const TopTimingRow& row) { return row.key; }
const std::string& nameOf(const TopResourceRow& row) { return row.name; }

template <typename Row, typename Cells>
void table(std::string& out, const char* title, const char* keyTitle, const std::string& columns,
           const std::vector<Row>& rows, Cells cells) {
  out += "\n";
  out += title;
  out += "\n" + fit("PROCESS", kProcessWidth) + " " + fit(keyTitle, kKeyWidth) + columns + "\n";
  for (const Row& row : rows)
    out += fit(row.process, kProcessWidth) + " " + fit(nameOf(row), kKeyWidth) + cells(row) + "\n";
}

}  // namespace

void TopTable::add(const Record& record) {
  if (record.kind == RecordKind::Trace) ++traces_;
  if (record.kind != RecordKind::Metric) return;
  ++metricLines_;
  int64_t value = 0;
  if (!readNumber(record.element.attribute("value"), value)) return;
  const std::string* type = record.element.attribute("type");
  if (type == nullptr) return;
  switch (keyShapeOf(*type)) {
    case KeyShape::TimingKey:
      fillKey(record.metric);
      addTiming(key_, record, value);
      break;
    case KeyShape::Resource:
      fillKey(record.metric);
      addResource(key_, record, value);
      break;
    case KeyShape::None: break;
  }
}

void TopTable::fillKey(const MetricName& name) {
  processLabelInto(name, key_.first);
  key_.second.assign(name.key);
}

TopTable::Timing& TopTable::timing(const Key& key) {
  return lookUp(timings_, lastTiming_, key, [&] {
    if (timings_.size() >= maxKeys_) pruneTimings();
    return timings_.emplace(key, Timing()).first;
  });
}

TopTable::Resource& TopTable::resource(const Key& key) {
  return lookUp(resources_, lastResource_, key, [&] {
    if (resources_.size() >= maxKeys_) pruneResources();
    return resources_.emplace(key, Resource()).first;
  });
}

void TopTable::pruneTimings() {
  lastTiming_.valid = false;
  using Entry = std::map<Key, Timing>::iterator;
  std::vector<Entry> order;
  order.reserve(timings_.size());
  for (auto it = timings_.begin(); it != timings_.end(); ++it) order.push_back(it);
  std::vector<bool> keep(order.size(), false);
  std::vector<size_t> index(order.size());
  const size_t best = std::min(order.size(), maxKeys_ / 4);
  // Marks the best of one ranking; ties go to the earlier key, as in render().
  const auto markBest = [&](auto better) {
    for (size_t i = 0; i < index.size(); ++i) index[i] = i;
    std::partial_sort(index.begin(), index.begin() + static_cast<ptrdiff_t>(best), index.end(),
                      [&](size_t a, size_t b) {
                        const Timing& x = order[a]->second;
                        const Timing& y = order[b]->second;
                        return better(x, y) || (!better(y, x) && a < b);
                      });
    for (size_t i = 0; i < best; ++i) keep[index[i]] = true;
  };
  markBest([](const Timing& a, const Timing& b) { return a.average > b.average; });
  markBest([](const Timing& a, const Timing& b) { return a.maxSeen > b.maxSeen; });
  markBest([](const Timing& a, const Timing& b) { return a.finishedTotal > b.finishedTotal; });
  for (size_t i = 0; i < order.size(); ++i) {
    if (keep[i]) continue;
    timings_.erase(order[i]);
    ++droppedKeys_;
  }
}

void TopTable::pruneResources() {
  // Listed by name: the first half by name is all that can ever be shown of them.
  lastResource_.valid = false;
  auto from = resources_.begin();
  std::advance(from, static_cast<ptrdiff_t>(maxKeys_ / 2));
  droppedKeys_ += static_cast<uint64_t>(std::distance(from, resources_.end()));
  resources_.erase(from, resources_.end());
}

void TopTable::addTiming(const Key& key, const Record& record, int64_t value) {
  Timing& t = timing(key);
  const std::string& label = record.metric.label;
  const Element& e = record.element;
  if (label == "Avg. Elapsed Time(ms)") {
    t.average = value;
    t.lastMax = value;
    readNumber(e.attribute("max"), t.lastMax);
    t.lastCount = 0;
    readNumber(e.attribute("count"), t.lastCount);
    t.maxSeen = std::max(t.maxSeen, t.lastMax);
  } else if (label == "Avg. Elapsed Time High Watermark(ms)") {
    t.maxSeen = std::max(t.maxSeen, value);
  } else if (label == "Finished Counter") {
    t.lastFinished = value;
    if (value > 0) t.finishedTotal += static_cast<uint64_t>(value);
  } else if (label == "Active Counter") {
    t.active = value;
  }
}

void TopTable::addResource(const Key& key, const Record& record, int64_t value) {
  const std::string& label = record.metric.label;
  const Element& e = record.element;
  if (label == "Current Value") {
    Resource& r = resource(key);
    r.current = r.high = r.low = value;
    readNumber(e.attribute("max"), r.high);
    readNumber(e.attribute("min"), r.low);
  } else if (label == "High Watermark") {
    resource(key).high = value;
  } else if (label == "Low Watermark") {
    resource(key).low = value;
  } else {
    // A KPI of a resource: its own row, named resource:kpi.
    Resource& r = resource(Key{key.first, key.second + ":" + label});
    r.current = r.high = r.low = value;
  }
}

std::string TopTable::render(size_t rows) const {
  const TopView v = view(rows);
  std::string out = "mox-collect: " + std::to_string(v.metricLines) + " metric lines, " + std::to_string(v.traces) +
                    " traces, " + std::to_string(v.timingKeys) + " timing keys, " + std::to_string(v.resources) +
                    " resources\n";
  table(out, "Slowest timing keys by average elapsed time (ms), latest interval", "TIMING KEY",
        heading("AVG", "MAX", "COUNT"), v.slowestByAverage,
        [](const TopTimingRow& t) { return number(t.average) + number(t.lastMax) + number(t.lastCount); });
  table(out, "Slowest timing keys by largest elapsed time (ms), since the start", "TIMING KEY",
        heading("MAX", "AVG", "COUNT"), v.slowestByMaximum,
        [](const TopTimingRow& t) { return number(t.maxSeen) + number(t.average) + number(t.lastCount); });
  table(out, "Busiest timing keys by finished calls, since the start", "TIMING KEY",
        heading("FINISHED", "LAST", "ACTIVE"), v.busiest, [](const TopTimingRow& t) {
          return number(static_cast<int64_t>(t.finishedTotal)) + number(t.lastFinished) + number(t.active);
        });
  table(out, "Resources, latest interval", "RESOURCE", heading("CURRENT", "HIGH", "LOW"), v.resourceRows,
        [](const TopResourceRow& r) { return number(r.current) + number(r.high) + number(r.low); });
  return out;
}

}  // namespace moxcollect
