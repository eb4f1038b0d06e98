// The load driver's stream is what the library itself writes for the same
// values, so what the driver measures holds for real hosts.
#include "load_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "mox/metrics/int_average_text.h"
#include "mox/metrics/metric_line.h"

namespace {

std::string narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

std::u16string widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// The values the driver claims for a key, as the library's record would hold them.
PerfValues recordOf(int key, int interval) {
  const auto finished = static_cast<uint32_t>(moxload::finishedCalls(key, interval));
  const int32_t elapsed = 1 + key % 50;
  const int64_t cpu = 100 + key, netCpu = 50 + key;
  const int32_t netElapsed = elapsed / 2;
  PerfValues v;
  v.active = static_cast<uint32_t>(key % 3);
  v.finished = finished;
  v.count = finished;
  v.terminated = key % 5 == 0 ? 1 : 0;  // undefined = terminated - count + finished
  v.sumElapsed = elapsed * static_cast<int32_t>(finished), v.maxElapsed = elapsed * 2, v.minElapsed = elapsed / 2;
  v.sumCpu = cpu * finished, v.maxCpu = cpu * 2, v.minCpu = cpu / 2;
  v.sumNetElapsed = netElapsed * static_cast<int32_t>(finished), v.maxNetElapsed = netElapsed * 2;
  v.minNetElapsed = netElapsed / 2;
  v.sumNetCpu = netCpu * finished, v.maxNetCpu = netCpu * 2, v.minNetCpu = netCpu / 2;
  return v;
}

std::string libraryInterval(const moxload::LoadShape& shape, int process, int interval) {
  MetricFormat format;
  format.prefix = u"VEL_MOX|load-host_" + widen(std::to_string(process));
  format.agentType = 2;
  format.scope = PerfMetricScope::kNetCpu;  // CPU, net elapsed and net CPU: every average line
  std::u16string text;
  for (int key = 0; key < shape.keys; ++key) {
    const std::string name = "Component" + std::to_string(key / 10) + "|method" + std::to_string(key);
    text += intAverageText(recordOf(key, interval), widen(name), format);
  }
  for (int resource = 0; resource < shape.resources; ++resource) {
    const std::u16string name = u"Pool" + widen(std::to_string(resource));
    MetricLineWriter line(format.prefix, name);
    line.open(u"LongCounter", u"Current Value", int64_t{interval % 10});
    line.attribute(u"max", int64_t{10});
    line.attribute(u"min", int64_t{0});
    line.attribute(u"count", uint32_t{1});
    line.close();
    text += line.take();
  }
  return narrow(text);
}

TEST(LoadStream, IntervalsAreTheLibrarysTextForTheSameValues) {
  const moxload::LoadShape shape{3, 60, 2};
  for (int process : {0, 2}) {
    for (int interval : {0, 1, 7}) {
      std::string driver;
      moxload::appendInterval(driver, shape, process, interval);
      EXPECT_EQ(driver, libraryInterval(shape, process, interval)) << "process " << process << " interval " << interval;
      EXPECT_EQ(std::count(driver.begin(), driver.end(), '\n'), moxload::linesPerInterval(shape));
    }
  }
  std::string version;
  moxload::appendVersionLine(version, 12);
  EXPECT_EQ(version,
            "<metric type=\"StringEvent\" name=\"VEL_MOX|load-host_12:MOX library version\" value=\"2.3.6\" />\n");
}

}  // namespace
