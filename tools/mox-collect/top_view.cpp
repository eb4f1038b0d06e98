// TopTable::view(): the rankings of the --top tables, shared by the text and the page.
#include <algorithm>
#include <set>

#include "top_table.h"

namespace moxcollect {

namespace {

// The first `limit` of rows by `less`; ties keep the order of rows.
template <typename Row, typename Less>
std::vector<Row> leading(std::vector<Row> rows, size_t limit, Less less) {
  std::stable_sort(rows.begin(), rows.end(), less);
  if (rows.size() > limit) rows.resize(limit);
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
  std::vector<TopTimingRow> all;
  for (const auto& [key, t] : timings_) {
    processes.insert(key.first);
    if (!process.empty() && key.first != process) continue;
    all.push_back(TopTimingRow{key.first, key.second, t.average, t.lastMax, t.lastCount, t.maxSeen, t.finishedTotal,
                               t.lastFinished, t.active});
  }
  for (const auto& [key, r] : resources_) {
    processes.insert(key.first);
    if (!process.empty() && key.first != process) continue;
    if (view.resourceRows.size() < rows) {
      view.resourceRows.push_back(TopResourceRow{key.first, key.second, r.current, r.high, r.low});
    }
  }
  view.processes.assign(processes.begin(), processes.end());

  std::vector<TopTimingRow> averaged;
  std::copy_if(all.begin(), all.end(), std::back_inserter(averaged),
               [](const TopTimingRow& row) { return row.average >= 0; });
  view.slowestByAverage =
      leading(averaged, rows, [](const TopTimingRow& a, const TopTimingRow& b) { return a.average > b.average; });
  view.slowestByMaximum = leading(std::move(averaged), rows,
                                  [](const TopTimingRow& a, const TopTimingRow& b) { return a.maxSeen > b.maxSeen; });
  view.busiest = leading(std::move(all), rows, [](const TopTimingRow& a, const TopTimingRow& b) {
    return a.finishedTotal > b.finishedTotal;
  });
  return view;
}

}  // namespace moxcollect
