#include "record.h"

#include <gtest/gtest.h>

#include "metric_name.h"

namespace {

using moxcollect::Element;
using moxcollect::KeyShape;
using moxcollect::RecordKind;

TEST(MetricName, SplitsEveryPartOfTheNamesTheLibraryBuilds) {
  // Expected: system / process / instance / instance prefix / key / label.
  const struct {
    const char* name;
    KeyShape shape;
    const char* parts;
  } cases[] = {
      {"ABC|disp_3|Order|create:Finished Counter", KeyShape::TimingKey, "ABC/disp/3//Order|create/Finished Counter"},
      {"V|disp_3|blue|Order|create:Avg. Elapsed Time(ms)", KeyShape::TimingKey,
       "V/disp/3/blue/Order|create/Avg. Elapsed Time(ms)"},
      // A component or method with ":" in it: the known label decides.
      {"V|p_1|Ns::Cls|do:it:Active Counter", KeyShape::TimingKey, "V/p/1//Ns::Cls|do:it/Active Counter"},
      {"V|my_proc_12|A|b:Finished with undefined state", KeyShape::TimingKey,
       "V/my_proc/12//A|b/Finished with undefined state"},
      {"V|p_-2|A|b:Finished Counter", KeyShape::TimingKey, "V/p/-2//A|b/Finished Counter"},
      {"V|proc_x|A|b:Finished Counter", KeyShape::TimingKey, "V/proc_x///A|b/Finished Counter"},
      {"V|p_1|Open Requests:Current Value", KeyShape::Resource, "V/p/1//Open Requests/Current Value"},
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

TEST(Record, ClassifiesElementsAndTakesTheProcessFromMetricNames) {
  const auto metric = [](const char* type, const char* name) {
    return Element{"metric", {{"type", type}, {"name", name}, {"value", "1"}}, {}};
  };
  const struct {
    Element element;
    RecordKind kind;
    const char* process;
  } cases[] = {
      {metric("StringEvent", "S|p_1:MOX library version"), RecordKind::Version, "p"},
      {metric("StringEvent", "S|p_1|x:other label"), RecordKind::Metric, "p"},
      {metric("IntAverage", "S|q_2|A|b:MOX library version"), RecordKind::Metric, "q"},
      {Element{"metric", {}, {}}, RecordKind::Metric, ""},
      {Element{"event", {{"resource", "A|b"}}, {}}, RecordKind::Trace, ""},
      {Element{"calledComponent", {}, {}}, RecordKind::Other, ""},
  };
  for (const auto& c : cases) {
    const auto record = moxcollect::makeRecord(Element(c.element), "raw");
    EXPECT_EQ(record.kind, c.kind) << c.element.name;
    EXPECT_EQ(record.identity.process, c.process) << c.element.name;
    EXPECT_EQ(record.raw, "raw");
  }
}

}  // namespace
