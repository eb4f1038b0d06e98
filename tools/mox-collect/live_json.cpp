#include "live_json.h"

#include <nlohmann/json.hpp>

namespace moxcollect {

namespace {

using Json = nlohmann::ordered_json;

// -1 stands for "not reported yet".
Json measured(int64_t value) { return value < 0 ? Json(nullptr) : Json(value); }

Json timingRows(const std::vector<TopTimingRow>& rows) {
  Json out = Json::array();
  for (const TopTimingRow& row : rows) {
    out.push_back({{"process", row.process},
                   {"key", row.key},
                   {"average", measured(row.average)},
                   {"max", measured(row.lastMax)},
                   {"count", row.lastCount},
                   {"max_seen", measured(row.maxSeen)},
                   {"finished", row.finishedTotal},
                   {"last_finished", row.lastFinished},
                   {"active", row.active}});
  }
  return out;
}

Json resourceRows(const std::vector<TopResourceRow>& rows) {
  Json out = Json::array();
  for (const TopResourceRow& row : rows) {
    out.push_back({{"process", row.process},
                   {"resource", row.name},
                   {"current", row.current},
                   {"high", row.high},
                   {"low", row.low}});
  }
  return out;
}

// Names come from any peer: bytes that are not UTF-8 become U+FFFD rather than failing the answer.
std::string dumped(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

}  // namespace

std::string tablesJson(const TopView& view) {
  const Json json = {{"totals",
                      {{"metric_lines", view.metricLines},
                       {"traces", view.traces},
                       {"timing_keys", view.timingKeys},
                       {"resources", view.resources}}},
                     {"processes", view.processes},
                     {"slowest_by_average", timingRows(view.slowestByAverage)},
                     {"slowest_by_maximum", timingRows(view.slowestByMaximum)},
                     {"busiest", timingRows(view.busiest)},
                     {"resources", resourceRows(view.resourceRows)}};
  return dumped(json);
}

std::string tracesJson(const std::vector<TraceSummary>& traces, size_t capacity) {
  Json list = Json::array();
  for (const TraceSummary& trace : traces) {
    list.push_back({{"id", trace.id},
                    {"process", trace.process},
                    {"key", trace.key},
                    {"start", trace.start},
                    {"duration", measured(trace.duration)},
                    {"passport", trace.passport},
                    {"calls", trace.calls}});
  }
  return dumped(Json{{"capacity", capacity}, {"traces", std::move(list)}});
}

}  // namespace moxcollect
