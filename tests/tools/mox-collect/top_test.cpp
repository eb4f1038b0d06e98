#include <gtest/gtest.h>

#include <sstream>

#include "collector_support.h"
#include "support/test_files.h"
#include "top_sink.h"
#include "top_table.h"

namespace {

using moxcollect::TopTable;
using Rows = std::vector<std::string>;

// One interval of a timing key: its average line and its finished counter.
std::string interval(const std::string& process, const std::string& key, int avg, int max, int count) {
  const std::string name = "<metric type=\"IntAverage\" name=\"S|" + process + "|" + key;
  return name + ":Avg. Elapsed Time(ms)\" value=\"" + std::to_string(avg) + "\" max=\"" + std::to_string(max) +
         "\" min=\"1\" count=\"" + std::to_string(count) + "\" />\n" + name + ":Finished Counter\" value=\"" +
         std::to_string(count) + "\" />\n";
}

void feed(TopTable& table, const std::string& stream) {
  for (const auto& record : collecttest::recordsOf(stream)) table.add(record);
}

// The first two words ("process key") of each row of the table whose title starts with `title`.
Rows rowsOf(const std::string& text, const std::string& title) {
  std::istringstream lines(text.substr(text.find(title)));
  Rows rows;
  std::string line, process, key;
  std::getline(lines, line), std::getline(lines, line);  // title, column heads
  while (std::getline(lines, line) && std::istringstream(line) >> process >> key) rows.push_back(process + " " + key);
  return rows;
}

TEST(TopTable, RanksTimingKeysByLatestAverageLargestMaximumAndAllCallsAndShowsResources) {
  TopTable table;
  feed(table, interval("p_1", "A|slowOnce", 50, 900, 2) + interval("p_1", "B|steady", 30, 40, 100) +
                  interval("q_2", "C|busy", 5, 8, 300));
  feed(table, interval("p_1", "A|slowOnce", 10, 12, 1) + interval("p_1", "B|steady", 31, 45, 150));
  const std::string text = table.render(10);
  EXPECT_EQ(rowsOf(text, "Slowest timing keys by average"), (Rows{"p_1 B|steady", "p_1 A|slowOnce", "q_2 C|busy"}));
  EXPECT_EQ(rowsOf(text, "Slowest timing keys by largest"), (Rows{"p_1 A|slowOnce", "p_1 B|steady", "q_2 C|busy"}));
  EXPECT_EQ(rowsOf(text, "Busiest"), (Rows{"q_2 C|busy", "p_1 B|steady", "p_1 A|slowOnce"}));
  EXPECT_NE(text.find(" 250 "), std::string::npos);  // 100 + 150 calls
  EXPECT_EQ(rowsOf(table.render(2), "Slowest timing keys by average").size(), 2u);

  feed(table, collecttest::sampleStream());
  const std::string resources = table.render(10);
  EXPECT_EQ(rowsOf(resources, "Resources"), (Rows{"disp_3 Open", "disp_3 Open", "disp_3 Zombie"}));
  EXPECT_NE(resources.find("Open Requests:waits"), std::string::npos);  // a KPI: a row of its own
  EXPECT_NE(resources.find("mox-collect: 18 metric lines, 1 traces"), std::string::npos);
}

TEST(TopSink, RedrawsOncePerIntervalByTheGivenClockAndAtTheEnd) {
  std::ostringstream out;
  moxcollect::TopSink sink(out, std::chrono::seconds(5), 10, false);
  const auto t0 = std::chrono::steady_clock::time_point(std::chrono::hours(1));
  sink.tick(t0);
  sink.tick(t0 + std::chrono::milliseconds(4999));
  EXPECT_EQ(out.str(), "");
  sink.tick(t0 + std::chrono::seconds(5));
  EXPECT_EQ(sink.nextTick(), t0 + std::chrono::seconds(10));
  sink.finish();
  EXPECT_EQ(testsupport::countOf(out.str(), "mox-collect: "), 2u);
  EXPECT_EQ(out.str().find("\x1b["), std::string::npos);  // no screen control when not a terminal
}

}  // namespace
