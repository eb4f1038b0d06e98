// The Prometheus sink: host text in labels (decoded, escaped, made UTF-8), lines it cannot read, whole
// intervals only, reconnects, expiry and the series limit.
#include <gtest/gtest.h>

#include "prometheus_support.h"

namespace {

using collecttest::FedSink;
using moxcollect::PrometheusSink;
using Samples = std::map<std::string, double>;
using std::chrono::seconds;

std::string finished(const std::string& process, const std::string& key, int value) {
  return "<metric type=\"IntAverage\" name=\"S|" + process + "|" + key + ":Finished Counter\" value=\"" +
         std::to_string(value) + "\" />\n";
}

std::string finishedSeries(const std::string& process, const std::string& instance, const std::string& method) {
  return R"(mox_finished_calls_total{system="S",process=")" + process + R"(",instance=")" + instance +
         R"(",component="A",method=")" + method + R"("})";
}

TEST(PrometheusSink, HostTextIsDecodedThenEscapedAndInvalidUtf8IsReplaced) {
  FedSink fed;
  // Entities decoded by the parser; the exposition escapes backslash, quote and line feed.
  fed.send(
      R"(<metric type="IntAverage" name="S|p&quot;q_1|A\&amp;&lt;|x&#10;y}&quot; 9:Finished Counter" value="1" />)");
  moxcollect::Record bad;
  bad.kind = moxcollect::RecordKind::Metric;
  bad.element.name = "metric";
  // A lead byte cut short, a surrogate, past U+10FFFF, an overlong, a stray continuation byte, then a
  // character kept and a sequence cut off by the end.
  const std::string name = "S|p_1|R\xC3(\xED\xA0\x80\xF4\x90\x80\x80\xC0\xAF\x80\xF0\x9F\x98\x80\xE2\x82:Current Value";
  bad.element.attributes = {{"type", "LongCounter"}, {"name", name}, {"value", "1"}};
  bad.metric = moxcollect::parseMetricName(name, moxcollect::KeyShape::Resource);
  fed.sink.write(bad);
  fed.settle();
  const std::string text = fed.sink.exposition();
  EXPECT_NE(text.find(R"(mox_finished_calls_total{system="S",process="p\"q",instance="1",component="A\\&<",)"
                      R"(method="x\ny}\" 9"} 1)"),
            std::string::npos)
      << text;
  // Each byte of a broken sequence becomes U+FFFD.
  const std::string r = "\xEF\xBF\xBD";
  EXPECT_NE(text.find("resource=\"R" + r + "(" + collecttest::repeated(r, 10) + "\xF0\x9F\x98\x80" + r + r + "\"} 1"),
            std::string::npos)
      << text;
}

TEST(PrometheusSink, LinesItCannotSplitOrReadAreCountedAndNeverExposed) {
  FedSink fed;
  fed.send(finished("p_1", "A|" + std::string(4096, 'm'), 1));
  fed.send(R"(<metric type="IntAverage" name="S|p_1|Ab:Finished Counter" value="1" />
<metric type="IntAverage" name="S|p_1|A|:Finished Counter" value="1" />
<metric type="IntAverage" name="S|p|A|b:Finished Counter" value="1" />
<metric type="IntAverage" name="S:Finished Counter" value="1" />
<metric type="LongCounter" name="S|p_1:Current Value" value="1" />
<metric type="LongCounter" name="S|p_1|Pool:Current Value" value="1.5" />
<metric type="LongCounter" name="S|p_1|Pool:Current Value" value="1" max="x" />
<metric type="LongCounter" name="S|p_1|Pool:Current Value" value="-" />
<metric type="LongCounter" name="S|p_1|Pool:Current Value" value="" />
<metric type="LongCounter" name="S|p_1|Pool:Current Value" value="+1" />
<metric type="LongCounter" name="S|p_1|Pool:Current Value" value="1" min="99999999999999999999" />
<metric type="StringEvent" name="S|p:MOX library version" value="2.3.6" />
<metric type="IntAverage" name="S|p_1|A|b:Some Future Label" value="1" />
<metric type="StringEvent" name="S|p_1|x:other" value="1" />
<metric type="IntAverage" name="S|p_1|A|b:Finished Counter" value="5" />
)");
  fed.settle();
  EXPECT_EQ(fed.samples("mox_"), Samples({{finishedSeries("p", "1", "b"), 5},
                                          {"mox_collect_expired_processes_total", 0},
                                          {"mox_collect_malformed_lines_total", 13},
                                          {"mox_collect_metric_lines_total", 15},
                                          {"mox_collect_refused_lines_total", 0},
                                          {"mox_collect_series", 1}}));
  moxcollect::Stats stats;
  fed.sink.countInto(stats);
  EXPECT_EQ(stats.prometheusMalformed, 13u);
  EXPECT_NE(stats.summary().find(" prometheus_malformed=13 prometheus_refused=0"), std::string::npos);
}

TEST(PrometheusSink, AScrapeSeesWholeIntervalsOnly) {
  FedSink fed;
  fed.send(finished("p_1", "A|a", 1) + finished("p_1", "A|b", 1));
  fed.settle();
  // Half of the next interval: the scrape still sees the first one whole.
  fed.send(finished("p_1", "A|a", 10));
  fed.pass(std::chrono::milliseconds(300));
  const Samples first = {{finishedSeries("p", "1", "a"), 1}, {finishedSeries("p", "1", "b"), 1}};
  EXPECT_EQ(fed.samples("mox_finished"), first);
  // Another process's interval does not commit this one.
  fed.send(finished("q_1", "A|a", 1));
  fed.pass(std::chrono::milliseconds(300));
  EXPECT_EQ(fed.samples("mox_finished").at(finishedSeries("p", "1", "a")), 1);
  // The rest arrives; a line of a key already staged begins the third interval and commits the second.
  fed.send(finished("p_1", "A|b", 10) + finished("p_1", "A|a", 100));
  EXPECT_EQ(fed.samples("mox_finished").at(finishedSeries("p", "1", "a")), 11);
  EXPECT_EQ(fed.samples("mox_finished").at(finishedSeries("p", "1", "b")), 11);
  // Quiet for the quiet time: the third is applied too; finish() applies whatever is staged.
  fed.settle();
  EXPECT_EQ(fed.samples("mox_finished").at(finishedSeries("p", "1", "a")), 111);
  fed.send(finished("p_1", "A|b", 1000));
  fed.sink.finish();
  EXPECT_EQ(fed.samples("mox_finished").at(finishedSeries("p", "1", "b")), 1011);
}

TEST(PrometheusSink, AReconnectedProcessGoesOnWithItsCounters) {
  FedSink fed;
  fed.send(finished("p_1", "A|a", 3), 1);
  fed.settle();
  fed.send(finished("p_1", "A|a", 4), 1);
  // The connection ended and the process connected again: what it had staged is one interval.
  fed.send(finished("p_1", "A|b", 5), 7);
  EXPECT_EQ(fed.samples("mox_finished"), Samples({{finishedSeries("p", "1", "a"), 7}}));
  fed.settle();
  EXPECT_EQ(fed.samples("mox_finished"),
            Samples({{finishedSeries("p", "1", "a"), 7}, {finishedSeries("p", "1", "b"), 5}}));
}

TEST(PrometheusSink, AProcessExpiresAfterTheGivenNumberOfItsIntervalsWithoutALine) {
  FedSink fed(2);
  const auto sendInterval = [&](const std::string& process) {
    fed.send(finished(process, "A|a", 1));
    fed.settle();
  };
  // p sends every 20 s (quiet time included); q sent once: the default interval of 61 s applies.
  sendInterval("q_1");
  for (int i = 0; i < 3; ++i) {
    sendInterval("p_1");
    fed.pass(seconds(19));
  }
  // p's last line was 20 s ago: 40 s after it p is gone, 2 x 61 s after its line q is.
  fed.pass(seconds(19));
  EXPECT_EQ(fed.samples("mox_finished").size(), 2u);
  fed.pass(seconds(2));
  EXPECT_EQ(fed.samples("mox_finished"), Samples({{finishedSeries("q", "1", "a"), 1}}));
  EXPECT_EQ(fed.samples("mox_collect_expired").begin()->second, 1);
  fed.pass(seconds(122 - 80));
  EXPECT_TRUE(fed.samples("mox_finished").empty());
  EXPECT_EQ(fed.samples("mox_collect_series").begin()->second, 0);
  // A process that comes back starts afresh.
  sendInterval("p_1");
  EXPECT_EQ(fed.samples("mox_finished"), Samples({{finishedSeries("p", "1", "a"), 1}}));

  // A burst cut by a pause is one interval, not a short one.
  FedSink cut(1);
  cut.send(finished("p_1", "A|a", 1));
  cut.pass(seconds(30));
  cut.send(finished("p_1", "A|b", 1));
  cut.settle();
  cut.send(finished("p_1", "A|c", 1));  // 1 s later, after the first part was applied
  cut.settle();
  cut.pass(seconds(20));  // one interval of 1 s would have expired it
  EXPECT_EQ(cut.samples("mox_finished").size(), 3u);
  cut.pass(seconds(10));  // 30 s after the last line
  EXPECT_TRUE(cut.samples("mox_finished").empty());
}

TEST(PrometheusSink, SeriesPastTheLimitAreRefusedAndCounted) {
  FedSink fed(3, 100);
  std::string interval;
  for (int key = 0; key < 150; ++key) interval += finished("p_1", "A|k" + std::to_string(key), 1);
  fed.send(interval);
  fed.settle();
  EXPECT_EQ(fed.samples("mox_finished").size(), 100u);
  EXPECT_EQ(fed.samples("mox_collect_series").begin()->second, 100);
  EXPECT_EQ(fed.samples("mox_collect_refused_lines_total").begin()->second, 50);
  // A new process and a new series of a known key are refused too; known series go on.
  fed.send(finished("q_1", "A|k0", 1) + interval);
  fed.settle();
  EXPECT_EQ(fed.samples("mox_finished").size(), 100u);
  EXPECT_EQ(fed.samples("mox_finished").at(finishedSeries("p", "1", "k0")), 2);
  EXPECT_EQ(fed.samples("mox_collect_refused_lines_total").begin()->second, 101);
  moxcollect::Stats stats;
  fed.sink.countInto(stats);
  EXPECT_EQ(stats.prometheusRefused, 101u);
}

}  // namespace
