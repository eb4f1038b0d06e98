// TopTable::view(): the rankings of the --top tables, shared by the text and the page.
#include <algorithm>
#include <set>

#include "top_table.h"

namespace moxcollect {

namespace {

// The first `limit` entries by `better`, ties in the given order; only those are copied into rows.
template <typename Entry, typename Better>
std::vector<TopTimingRow> leading(const std::vector<Entry>& entries, size_t limit, Better better) {
  std::vector<size_t> order(entries.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  const size_t count = std::min(limit, order.size());
  std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(count), order.end(),
                    [&](size_t a, size_t b) {
                      const auto& x = entries[a]->second;
                      const auto& y = entries[b]->second;
                      return better(x, y) || (!better(y, x) && a < b);
                    });
  std::vector<TopTimingRow> rows;
  for (size_t i = 0; i < count; ++i) {
    const auto& [key, t] = *entries[order[i]];
    rows.push_back(TopTimingRow{key.first, key.second, t.average, t.lastMax, t.lastCount, t.maxSeen, t.finishedTotal,
                                t.lastFinished, t.active});
  }
  return rows;
}

}  // namespace

TopView TopTable::view(size_t rows, const std::string& process) const {
  TopView view;
  view.metricLines = metricLines_;
  view.traces = traces_;
  view.timingKeys = timings_.size();
  view.resources = resources_.size();
  std::set<std::string> processes;
  std::vector<std::map<Key, Timing>::const_iterator> all;
  std::vector<std::map<Key, Timing>::const_iterator> averaged;
  for (auto it = timings_.begin(); it != timings_.end(); ++it) {
    processes.insert(it->first.first);
    if (!process.empty() && it->first.first != process) continue;
    all.push_back(it);
    if (it->second.average >= 0) averaged.push_back(it);
  }
  for (const auto& [key, r] : resources_) {
    processes.insert(key.first);
    if (!process.empty() && key.first != process) continue;
    if (view.resourceRows.size() < rows) {
      view.resourceRows.push_back(TopResourceRow{key.first, key.second, r.current, r.high, r.low});
    }
  }
  view.processes.assign(processes.begin(), processes.end());
  view.slowestByAverage =
      leading(averaged, rows, [](const Timing& a, const Timing& b) { return a.average > b.average; });
  view.slowestByMaximum =
      leading(averaged, rows, [](const Timing& a, const Timing& b) { return a.maxSeen > b.maxSeen; });
  view.busiest = leading(all, rows, [](const Timing& a, const Timing& b) { return a.finishedTotal > b.finishedTotal; });
  return view;
}

}  // namespace moxcollect
