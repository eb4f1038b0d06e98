// The trace and data jobs: what they send through the agents they hold, and a run that finds another one running.
#include <string>
#include <vector>

#include "dispatch_test_support.h"

namespace {

using Texts = std::vector<std::u16string>;

const std::u16string kPrefix = u"VEL_MOX|shop_7";
const std::u16string kVersion =
    u"<metric type=\"StringEvent\" name=\"VEL_MOX|shop_7:MOX library version\" value=\"2.3.6\" />\n";

class JobsTest : public ::testing::Test {
 protected:
  void runTraceJob() { world.dispatcher->traceJob().run(world.traces, kPrefix); }
  void runDataJob() { world.dispatcher->dataJob().run(world.metrics, MetricFormat()); }

  DispatchWorld world{{{u"cache_section_count", u"2"}}, u"shop", u"7"};
  CMTTraceDataManager& traces = world.traces;
  RecordingAgent& agent = *world.traceAgent;
};

TEST_F(JobsTest, VersionEventGoesFirstOnceAReadyAgentIsThereAndTextsFollowInOrder) {
  agent.ready = false;
  traces.addTrace(u"lost");
  runTraceJob();
  EXPECT_TRUE(agent.texts().empty());
  EXPECT_FALSE(world.dispatcher->traceJob().versionSent());
  agent.ready = true;  // texts of a run without a ready agent are not sent later
  traces.addTrace(u"<event a/>\n");
  traces.addTrace(u"");
  traces.addTrace(u"<event b/>\n");
  runTraceJob();
  runTraceJob();  // an interval without texts sends nothing
  traces.addTrace(u"later");
  runTraceJob();
  EXPECT_EQ(agent.texts(), (Texts{kVersion, u"<event a/>\n", u"", u"<event b/>\n", u"later"}));
}

// Re-entered from its agent, a job neither rotates, nor sends, nor waits.
TEST_F(JobsTest, SecondRunWhileOneRunsReturnsAtOnce) {
  traces.addTrace(u"a");
  int nested = 0;
  agent.onSend = [&] {
    if (nested++ > 0) return;
    EXPECT_TRUE(world.dispatcher->traceJob().busy());
    traces.addTrace(u"b");  // producers are not blocked while texts go out
    runTraceJob();
  };
  runTraceJob();
  agent.onSend = nullptr;
  EXPECT_EQ(agent.texts(), (Texts{kVersion, u"a"}));
  EXPECT_FALSE(world.dispatcher->traceJob().busy());
  runTraceJob();
  EXPECT_EQ(agent.texts(), (Texts{kVersion, u"a", u"b"}));

  CPerfDataManager& store = world.metrics;
  RecordingAgent& data = *world.dataAgent;
  const PerfUpdate finished{false, false, 0, -1, 0, -1, PerfUpdate::End::Finished};
  store.updatePerfRecord(u"A|m", finished);
  data.onSend = [&] {
    EXPECT_TRUE(world.dispatcher->dataJob().busy());
    store.updatePerfRecord(u"Late|k", finished);
    runDataJob();
  };
  runDataJob();
  data.onSend = nullptr;
  const auto sentFor = [&](const std::u16string& key) {
    size_t count = 0;
    for (const std::u16string& text : data.texts()) count += text.find(u"|" + key + u":") != std::u16string::npos;
    return count;
  };
  EXPECT_EQ(sentFor(u"A|m"), 1u);
  EXPECT_EQ(sentFor(u"Late|k"), 0u);  // the inner run neither rotated nor sent it
  runDataJob();
  EXPECT_EQ(sentFor(u"Late|k"), 1u);
}

}  // namespace
