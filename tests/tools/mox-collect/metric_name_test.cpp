#include "metric_name.h"

#include <gtest/gtest.h>

namespace {

using moxcollect::KeyShape;

TEST(MetricName, SplitsEveryPartOfTheNamesTheLibraryBuilds) {
  // Expected: system / process / instance / instance prefix / key / label.
  const struct {
    const char* name;
    KeyShape shape;
    const char* parts;
  } cases[] = {
      {"V|disp_3|blue|Order|do:Avg. CPU Time(us)", KeyShape::TimingKey, "V/disp/3/blue/Order|do/Avg. CPU Time(us)"},
      // A component or method with ":" in it: the known label decides.
      {"V|p_1|Ns::Cls|do:it:Active Counter", KeyShape::TimingKey, "V/p/1//Ns::Cls|do:it/Active Counter"},
      {"V|my_proc_12|A|b:Finished Counter", KeyShape::TimingKey, "V/my_proc/12//A|b/Finished Counter"},
      {"V|p_-2|A|b:Finished Counter", KeyShape::TimingKey, "V/p/-2//A|b/Finished Counter"},
      {"V|proc_x|A|b:Finished Counter", KeyShape::TimingKey, "V/proc_x///A|b/Finished Counter"},
      {"V|p_1|pre|Pool:High Watermark", KeyShape::Resource, "V/p/1/pre/Pool/High Watermark"},
      {"V|p_1|Pool:waits", KeyShape::Resource, "V/p/1//Pool/waits"},
      {"V|mox-demo_0:MOX library version", KeyShape::None, "V/mox-demo/0///MOX library version"},
      {"", KeyShape::TimingKey, "/////"},
  };
  for (const auto& c : cases) {
    const auto n = moxcollect::parseMetricName(c.name, c.shape);
    EXPECT_EQ(n.system + "/" + n.process + "/" + n.instance + "/" + n.instancePrefix + "/" + n.key + "/" + n.label,
              c.parts);
  }
}

}  // namespace
