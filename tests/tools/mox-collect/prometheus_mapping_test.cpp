// The Prometheus series of each kind of metric line, as the library's own
// text builders write them, in every perf_metric_scope and both forms.
#include <gtest/gtest.h>

#include "common/utf.h"
#include "mox/config/perf_metric_scope.h"
#include "mox/metrics/int_average_text.h"
#include "mox/metrics/perf_data_manager.h"
#include "mox/metrics/resource_record.h"
#include "prometheus_support.h"

namespace {

using collecttest::FedSink;
using Samples = std::map<std::string, double>;

const std::string kProcess = R"(system="S",process="p",instance="1")";

MetricFormat format(uint16_t agentType, uint16_t scope) {
  return MetricFormat{u"S|p_1", agentType, PerfMetricScope{scope}};
}

// One interval of a timing key that measures what the scope measures: 10 finished, 2 of them
// without times; averages 100 ms elapsed, 500 us CPU, 50 ms net elapsed, 250 us net CPU.
PerfValues timingValues(PerfMetricScope scope) {
  PerfValues v;
  v.active = 2;
  v.finished = 10;
  v.count = 8;
  v.sumElapsed = 800;
  v.maxElapsed = 300;
  v.minElapsed = 20;
  if (measuresCpu(scope)) v.sumCpu = 4000, v.maxCpu = 900, v.minCpu = 100;
  if (measuresNetElapsed(scope)) v.sumNetElapsed = 400, v.maxNetElapsed = 150, v.minNetElapsed = 10;
  if (measuresNetCpu(scope)) v.sumNetCpu = 2000, v.maxNetCpu = 700, v.minNetCpu = 50;
  return v;
}

// What two such intervals make: sums doubled, the gauges of the latest.
Samples expectedTiming(PerfMetricScope scope, bool plain) {
  const auto name = [](const std::string& metric) {
    return metric + "{" + kProcess + R"(,component="Order",method="create"})";
  };
  Samples s = {{name("mox_finished_calls_total"), 20},
               {name("mox_undefined_state_calls_total"), 4},
               {name("mox_timed_calls_total"), 16},
               {name("mox_elapsed_seconds_total"), 1.6}};
  if (countsActive(scope)) s[name("mox_active_calls")] = 2;
  if (measuresCpu(scope)) s[name("mox_cpu_seconds_total")] = 0.008;
  if (measuresNetElapsed(scope)) s[name("mox_net_elapsed_seconds_total")] = 0.8;
  if (measuresNetCpu(scope)) s[name("mox_net_cpu_seconds_total")] = 0.004;
  if (!plain) {
    s[name("mox_elapsed_max_seconds")] = 0.3;
    if (measuresCpu(scope)) s[name("mox_cpu_max_seconds")] = 0.0009;
    if (measuresNetElapsed(scope)) s[name("mox_net_elapsed_max_seconds")] = 0.15;
    if (measuresNetCpu(scope)) s[name("mox_net_cpu_max_seconds")] = 0.0007;
  } else if (printsWatermarks(scope)) {
    // The plain form's High Watermark lines: net elapsed (not measured) is 0, net CPU is left out.
    s[name("mox_elapsed_max_seconds")] = 0.3;
    s[name("mox_cpu_max_seconds")] = 0.0009;
    s[name("mox_net_elapsed_max_seconds")] = 0;
  }
  return s;
}

TEST(PrometheusMapping, TimingKeysInEveryScopeAndBothForms) {
  for (uint16_t scope = 0; scope <= 5; ++scope) {
    for (const uint16_t agentType : {uint16_t{0}, uint16_t{2}}) {
      const PerfMetricScope s{scope};
      const std::string text =
          utf16ToUtf8Lenient(intAverageText(timingValues(s), u"Order|create", format(agentType, scope)));
      FedSink fed;
      fed.send(text);
      fed.send(text);  // a repeated line begins the next interval
      fed.settle();
      Samples got = fed.samples("mox_");
      for (auto it = got.begin(); it != got.end();) it = it->first.rfind("mox_collect_", 0) == 0 ? got.erase(it) : ++it;
      const Samples expected = expectedTiming(s, agentType == 0);
      ASSERT_EQ(got.size(), expected.size()) << "scope " << scope << " form " << agentType << "\n" << text;
      for (const auto& [series, value] : expected) {
        ASSERT_TRUE(got.count(series)) << series << " scope " << scope << " form " << agentType;
        EXPECT_NEAR(got[series], value, 1e-9) << series << " scope " << scope << " form " << agentType;
      }
    }
  }
}

std::string resourceText(const CResourceRecord& record, uint16_t agentType) {
  return utf16ToUtf8Lenient(CPerfDataManager::formatLongCounter(record, format(agentType, 0)));
}

TEST(PrometheusMapping, ResourcesKpisAndTheVersionLine) {
  CResourceRecord full(u"Pool");
  full.report(7, 9, 3, 4, 0);  // a full counter: max, min, count and KPIs
  full.setKpi(u"waits", 12);
  full.setKpi(u"timeouts", -2);
  CResourceRecord plainValue(u"Queue");
  plainValue.report(5, 6, 1, 1, 1);  // sent as LongCounterNone in the full form
  const std::string pool = R"({system="S",process="p",instance="1",resource="Pool"})";
  const std::string queue = R"({system="S",process="p",instance="1",resource="Queue"})";

  FedSink fed;
  fed.send(R"(<metric type="StringEvent" name="S|p_1:MOX library version" value="2.3.6" />)");
  fed.send(resourceText(full, 2) + resourceText(plainValue, 2));
  fed.settle();
  EXPECT_EQ(fed.samples("mox_resource"), Samples({{"mox_resource_high_watermark" + pool, 9},
                                                  {"mox_resource_low_watermark" + pool, 3},
                                                  {"mox_resource_value" + pool, 7},
                                                  {"mox_resource_value" + queue, 5}}));
  EXPECT_EQ(fed.samples("mox_kpi"),
            Samples({{R"(mox_kpi{system="S",process="p",instance="1",resource="Pool",kpi="timeouts"})", -2},
                     {R"(mox_kpi{system="S",process="p",instance="1",resource="Pool",kpi="waits"})", 12}}));
  EXPECT_EQ(fed.samples("mox_library_info"),
            Samples({{R"(mox_library_info{system="S",process="p",instance="1",version="2.3.6"})", 1}}));

  // The plain form (and agent type 1) sends the watermarks as lines of their own.
  FedSink plain;
  plain.send(resourceText(plainValue, 0));
  plain.settle();
  EXPECT_EQ(plain.samples("mox_resource"), Samples({{"mox_resource_high_watermark" + queue, 6},
                                                    {"mox_resource_low_watermark" + queue, 1},
                                                    {"mox_resource_value" + queue, 5}}));
}

TEST(PrometheusMapping, AnInstancePrefixIsALabelOnlyWhenTheNameHasOne) {
  FedSink fed;
  fed.send(R"(<metric type="IntAverage" name="S|p_1|blue|A|b:Finished Counter" value="3" />
<metric type="LongCounter" name="S|p_2|Pool:Current Value" value="4" />
)");
  fed.settle();
  EXPECT_EQ(fed.samples("mox_finished"),
            Samples({{R"(mox_finished_calls_total{system="S",process="p",instance="1",instance_prefix="blue",)"
                      R"(component="A",method="b"})",
                      3}}));
  EXPECT_EQ(fed.samples("mox_resource"),
            Samples({{R"(mox_resource_value{system="S",process="p",instance="2",resource="Pool"})", 4}}));
}

}  // namespace
