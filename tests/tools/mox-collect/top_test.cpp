#include <gtest/gtest.h>

#include <sstream>

#include "sample_stream.h"
#include "support/test_files.h"
#include "top_sink.h"
#include "top_table.h"

namespace {

using moxcollect::TopTable;

std::string averageLine(const std::string& process, const std::string& key, int avg, int max, int count) {
  return "<metric type=\"IntAverage\" name=\"S|" + process + "|" + key + ":Avg. Elapsed Time(ms)\" value=\"" +
         std::to_string(avg) + "\" max=\"" + std::to_string(max) + "\" min=\"1\" count=\"" + std::to_string(count) +
         "\" />\n";
}

std::string finishedLine(const std::string& process, const std::string& key, int finished) {
  return "<metric type=\"IntAverage\" name=\"S|" + process + "|" + key + ":Finished Counter\" value=\"" +
         std::to_string(finished) + "\" />\n";
}

void feed(TopTable& table, const std::string& stream) {
  moxcollect::StreamSplitter splitter(
      [&](moxcollect::Element&& e, std::string&& raw) {
        table.add(moxcollect::makeRecord(std::move(e), std::move(raw)));
      },
      [](const std::string&, const std::string&) {});
  splitter.feed(stream);
}

// The section of the rendered text that starts with the title, up to the next blank line.
std::string section(const std::string& text, const std::string& title) {
  const size_t from = text.find(title);
  if (from == std::string::npos) return "";
  const size_t to = text.find("\n\n", from);
  return text.substr(from, to == std::string::npos ? std::string::npos : to - from);
}

// Rows of a section in order, as "process key" pairs.
std::vector<std::string> rowsOf(const std::string& table) {
  std::vector<std::string> rows;
  std::istringstream lines(table);
  std::string line;
  std::getline(lines, line);  // title
  std::getline(lines, line);  // column heads
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string process, key;
    words >> process >> key;
    rows.push_back(process + " " + key);
  }
  return rows;
}

TEST(TopTable, RanksTimingKeysByAverageMaximumAndCalls) {
  TopTable table;
  // Two intervals: the latest average counts, the maximum and the calls add up.
  feed(table, averageLine("p_1", "A|slowOnce", 50, 900, 2) + finishedLine("p_1", "A|slowOnce", 2) +
                  averageLine("p_1", "B|steady", 30, 40, 100) + finishedLine("p_1", "B|steady", 100) +
                  averageLine("q_2", "C|busy", 5, 8, 300) + finishedLine("q_2", "C|busy", 300));
  feed(table, averageLine("p_1", "A|slowOnce", 10, 12, 1) + finishedLine("p_1", "A|slowOnce", 1) +
                  averageLine("p_1", "B|steady", 31, 45, 150) + finishedLine("p_1", "B|steady", 150));
  const std::string text = table.render(10);
  EXPECT_EQ(rowsOf(section(text, "Slowest timing keys by average")),
            (std::vector<std::string>{"p_1 B|steady", "p_1 A|slowOnce", "q_2 C|busy"}));
  EXPECT_EQ(rowsOf(section(text, "Slowest timing keys by largest")),
            (std::vector<std::string>{"p_1 A|slowOnce", "p_1 B|steady", "q_2 C|busy"}));
  const std::string busiest = section(text, "Busiest timing keys");
  EXPECT_EQ(rowsOf(busiest), (std::vector<std::string>{"q_2 C|busy", "p_1 B|steady", "p_1 A|slowOnce"}));
  EXPECT_NE(busiest.find(" 250 "), std::string::npos);  // 100 + 150

  EXPECT_EQ(rowsOf(section(table.render(2), "Slowest timing keys by average")).size(), 2u);
}

TEST(TopTable, ShowsTheLatestResourceValuesAndKpis) {
  TopTable table;
  feed(table, collecttest::sampleStream());
  const std::string resources = section(table.render(10), "Resources");
  EXPECT_EQ(rowsOf(resources),
            (std::vector<std::string>{"disp_3 Open", "disp_3 Open", "disp_3 Zombie"}));  // names hold blanks
  EXPECT_NE(resources.find("Open Requests:waits"), std::string::npos);
  EXPECT_NE(table.render(10).find("mox-collect: 8 metric lines, 1 traces"), std::string::npos);
}

TEST(TopSink, RedrawsOncePerIntervalByTheGivenClockAndAtTheEnd) {
  std::ostringstream out;
  moxcollect::TopSink sink(out, std::chrono::seconds(5), 10, false);
  const auto t0 = std::chrono::steady_clock::time_point(std::chrono::hours(1));
  sink.tick(t0);
  EXPECT_EQ(sink.nextTick(), t0 + std::chrono::seconds(5));
  sink.tick(t0 + std::chrono::milliseconds(4999));
  EXPECT_EQ(out.str(), "");
  sink.tick(t0 + std::chrono::seconds(5));
  EXPECT_EQ(testsupport::countOf(out.str(), "mox-collect: "), 1u);
  EXPECT_EQ(sink.nextTick(), t0 + std::chrono::seconds(10));
  sink.finish();
  EXPECT_EQ(testsupport::countOf(out.str(), "mox-collect: "), 2u);
  EXPECT_EQ(out.str().find("\x1b["), std::string::npos);  // no screen control when not a terminal
}

}  // namespace
