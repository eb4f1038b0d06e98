// What the live page shows, apart from serving it: the structured --top
// tables, the ring of the latest traces and the request limit per address.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "collector_support.h"
#include "json_sink.h"
#include "live_json.h"
#include "page_html.h"
#include "rate_limiter.h"
#include "support/test_files.h"
#include "top_table.h"
#include "trace_ring.h"

namespace {

using collecttest::timingLines;
using moxcollect::RateLimiter;
using moxcollect::TopTable;
using moxcollect::TraceRing;
using moxcollect::TraceSummary;
using nlohmann::json;

TEST(TopTableView, RanksEachTableFiltersByProcessAndGivesTheSameFiguresAsTheText) {
  TopTable table;
  const std::string stream =
      timingLines("a_1", "A|slow", 50, 100, 1) + timingLines("a_1", "A|busy", 5, 10, 90) +
      timingLines("b_2", "B|mid", 20, 40, 10) + timingLines("b_2", "B|mid", 20, 40, 15) +
      "<metric type=\"LongCounter\" name=\"VEL_MOX|b_2|Pool:Current Value\" value=\"4\" max=\"7\" "
      "min=\"2\" count=\"1\" />\n";
  for (const auto& record : collecttest::recordsOf(stream)) table.add(record);

  const auto keys = [](const std::vector<moxcollect::TopTimingRow>& rows) {
    std::string out;
    for (const auto& row : rows) out += row.process + "/" + row.key + " ";
    return out;
  };
  const moxcollect::TopView all = table.view(2);
  EXPECT_EQ(all.processes, (std::vector<std::string>{"a_1", "b_2"}));
  EXPECT_EQ(keys(all.slowestByAverage), "a_1/A|slow b_2/B|mid ");
  EXPECT_EQ(keys(all.slowestByMaximum), "a_1/A|slow b_2/B|mid ");
  EXPECT_EQ(keys(all.busiest), "a_1/A|busy b_2/B|mid ");
  EXPECT_EQ(all.busiest[1].finishedTotal, 25u);  // both intervals
  ASSERT_EQ(all.resourceRows.size(), 1u);
  EXPECT_EQ(all.resourceRows[0].high, 7);

  const moxcollect::TopView b = table.view(10, "b_2");
  EXPECT_EQ(keys(b.busiest), "b_2/B|mid ");
  EXPECT_EQ(b.timingKeys, 3u);  // the totals stay those of the whole table
  EXPECT_TRUE(table.view(10, "c_3").busiest.empty());

  // The text and the JSON show the same rows.
  const std::string text = table.render(2);
  const size_t busiest = text.find("Busiest");
  ASSERT_NE(busiest, std::string::npos);
  EXPECT_LT(text.find("A|busy", busiest), text.find("B|mid", busiest)) << text;
  const json tables = json::parse(moxcollect::tablesJson(all));
  EXPECT_EQ(tables["busiest"][0]["key"], "A|busy");
  EXPECT_EQ(tables["busiest"][0]["finished"], 90);
  EXPECT_EQ(tables["slowest_by_average"][0]["max"], 100);
  EXPECT_EQ(tables["resources"][0]["resource"], "Pool");
  EXPECT_EQ(tables["totals"]["metric_lines"], 9);
}

TEST(TraceRing, SummarisesATraceAndKeepsTheLatestByCountAndBytesUnderStableIds) {
  const auto records = collecttest::recordsOf(collecttest::sampleStream());
  const moxcollect::Record& trace = records.back();
  ASSERT_EQ(trace.kind, moxcollect::RecordKind::Trace);
  const TraceSummary summary = moxcollect::summarizeTrace(trace);
  EXPECT_EQ(summary.key, "Order|create");
  EXPECT_EQ(summary.start, "2024-03-01 10:15:02");
  EXPECT_EQ(summary.duration, 57);
  EXPECT_EQ(summary.passport, "0123ABCD*1000");
  EXPECT_EQ(summary.calls, 3u);

  TraceRing ring(3, 1000);
  for (int i = 0; i < 5; ++i) ring.add(summary, "{\"n\":" + std::to_string(i) + "}");
  EXPECT_EQ(ring.size(), 3u);
  EXPECT_EQ(ring.json(2), nullptr);  // left the ring
  ASSERT_NE(ring.json(3), nullptr);
  EXPECT_EQ(*ring.json(3), "{\"n\":2}");
  EXPECT_EQ(ring.json(6), nullptr);
  const auto latest = ring.latest(2);
  ASSERT_EQ(latest.size(), 2u);
  EXPECT_EQ(latest[0].id, 5u);
  EXPECT_EQ(latest[1].id, 4u);
  EXPECT_TRUE(ring.latest(10, "other_1").empty());

  // A large trace pushes out as many old ones as its bytes need; one over the whole budget is not kept.
  EXPECT_EQ(ring.add(summary, std::string(950, ' ')), 6u);
  EXPECT_EQ(ring.size(), 1u);
  EXPECT_LE(ring.bytes(), 1000u);
  EXPECT_EQ(ring.add(summary, std::string(1001, ' ')), 0u);
  EXPECT_EQ(ring.tooLarge(), 1u);
  EXPECT_NE(ring.json(6), nullptr);
}

TEST(PageHtml, InsertsPeerTextsAsTextAndShowsAChosenTraceAsNestedRows) {
  const std::string hostile = "<img src=x onerror=alert(1)></script>\"'&\x01";
  EXPECT_EQ(moxcollect::htmlEscaped(hostile), "&lt;img src=x onerror=alert(1)&gt;&lt;/script&gt;&quot;&#39;&amp;&#1;");

  moxcollect::TopView view;
  view.processes = {hostile};
  view.busiest.push_back({hostile, hostile, 1, 1, 1, 1, 1, 1, 0});
  view.resourceRows.push_back({hostile, hostile, 1, 1, 1});
  TraceSummary summary;
  summary.id = 7;
  summary.process = summary.key = summary.passport = summary.start = hostile;
  const auto records = collecttest::recordsOf(collecttest::sampleStream());
  const std::string trace = "{\"id\":7," + moxcollect::recordJson(records.back()).substr(1);
  const std::string page = moxcollect::pageHtml(view, {summary}, {hostile, 7}, trace);
  EXPECT_EQ(page.find("<img"), std::string::npos);
  EXPECT_EQ(testsupport::countOf(page, "<script"), 1u);  // the page's own
  EXPECT_EQ(testsupport::countOf(page, "</script>"), 1u);
  EXPECT_NE(
      page.find(
          "href=\"/?process=%3Cimg%20src%3Dx%20onerror%3Dalert%281%29%3E%3C%2Fscript%3E%22%27%26%01&amp;trace=7\""),
      std::string::npos);

  // The tree depth first: the event, its call, that call's call.
  size_t at = 0;
  for (const std::string row :
       {"data-depth=\"0\"", "Order|create", "data-depth=\"1\"", "Db|select", "data-depth=\"2\"", "Db|fetch"}) {
    at = page.find(row, at);
    ASSERT_NE(at, std::string::npos) << row;
  }
  EXPECT_PRED_FORMAT2(testing::IsSubstring, "sql = a &lt; b &amp;&amp; c &gt; &quot;d&quot;&#10;next", page);
  EXPECT_NE(moxcollect::pageHtml(view, {}, {"", 8}, std::nullopt).find("It is no longer kept."), std::string::npos);
}

TEST(RateLimiter, AllowsABurstThenTheRateAndForgetsClientsAtRestWhenFull) {
  using std::chrono::milliseconds;
  const RateLimiter::TimePoint start{};
  RateLimiter limiter(8, 3, 2);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(limiter.allow("a", start));
  EXPECT_FALSE(limiter.allow("a", start));
  EXPECT_TRUE(limiter.allow("b", start));                      // each address has its own bucket
  EXPECT_TRUE(limiter.allow("a", start + milliseconds(125)));  // one more every 125 ms
  EXPECT_FALSE(limiter.allow("a", start + milliseconds(125)));

  // Two buckets at most: "c" lets go of "b", which is full again by now, and keeps busy "a".
  const auto later = start + milliseconds(200);
  EXPECT_TRUE(limiter.allow("c", later));
  EXPECT_FALSE(limiter.allow("a", later));
}

}  // namespace
