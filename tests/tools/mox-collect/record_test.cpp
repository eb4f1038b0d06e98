#include "record.h"

#include <gtest/gtest.h>

#include "metric_name.h"

namespace {

using moxcollect::Element;
using moxcollect::KeyShape;
using moxcollect::makeRecord;
using moxcollect::parseMetricName;
using moxcollect::RecordKind;

TEST(MetricName, SplitsEveryPartOfTheNamesTheLibraryBuilds) {
  struct Case {
    const char* name;
    KeyShape shape;
    const char* system;
    const char* process;
    const char* instance;
    const char* prefix;
    const char* key;
    const char* label;
  } cases[] = {
      {"ABC|disp_3|Order|create:Finished Counter", KeyShape::TimingKey, "ABC", "disp", "3", "", "Order|create",
       "Finished Counter"},
      {"VEL_MOX|disp_3|blue|Order|create:Avg. Elapsed Time(ms)", KeyShape::TimingKey, "VEL_MOX", "disp", "3", "blue",
       "Order|create", "Avg. Elapsed Time(ms)"},
      // A component or method with ":" in it: the known label decides.
      {"VEL_MOX|p_1|Ns::Cls|do:it:Active Counter", KeyShape::TimingKey, "VEL_MOX", "p", "1", "", "Ns::Cls|do:it",
       "Active Counter"},
      {"VEL_MOX|my_proc_12|A|b:Finished with undefined state", KeyShape::TimingKey, "VEL_MOX", "my_proc", "12", "",
       "A|b", "Finished with undefined state"},
      {"VEL_MOX|p_-2|A|b:Finished Counter", KeyShape::TimingKey, "VEL_MOX", "p", "-2", "", "A|b", "Finished Counter"},
      {"VEL_MOX|proc_x|A|b:Finished Counter", KeyShape::TimingKey, "VEL_MOX", "proc_x", "", "", "A|b",
       "Finished Counter"},
      {"VEL_MOX|p_1|Open Requests:Current Value", KeyShape::Resource, "VEL_MOX", "p", "1", "", "Open Requests",
       "Current Value"},
      {"VEL_MOX|p_1|pre|Pool:High Watermark", KeyShape::Resource, "VEL_MOX", "p", "1", "pre", "Pool", "High Watermark"},
      {"VEL_MOX|p_1|Pool:waits", KeyShape::Resource, "VEL_MOX", "p", "1", "", "Pool", "waits"},
      {"VEL_MOX|mox-demo_0:MOX library version", KeyShape::None, "VEL_MOX", "mox-demo", "0", "", "",
       "MOX library version"},
      {"", KeyShape::TimingKey, "", "", "", "", "", ""},
  };
  for (const auto& c : cases) {
    const auto n = parseMetricName(c.name, c.shape);
    EXPECT_EQ(n.system, c.system) << c.name;
    EXPECT_EQ(n.process, c.process) << c.name;
    EXPECT_EQ(n.instance, c.instance) << c.name;
    EXPECT_EQ(n.instancePrefix, c.prefix) << c.name;
    EXPECT_EQ(n.key, c.key) << c.name;
    EXPECT_EQ(n.label, c.label) << c.name;
  }
}

Element metric(const char* type, const char* name) {
  return Element{"metric", {{"type", type}, {"name", name}, {"value", "1"}}, {}};
}

TEST(Record, ClassifiesElementsAndTakesTheProcessFromMetricNames) {
  struct Case {
    Element element;
    RecordKind kind;
    const char* process;
  } cases[] = {
      {metric("StringEvent", "S|p_1:MOX library version"), RecordKind::Version, "p"},
      {metric("StringEvent", "S|p_1|x:other label"), RecordKind::Metric, "p"},
      {metric("IntAverage", "S|q_2|A|b:Finished Counter"), RecordKind::Metric, "q"},
      {Element{"metric", {}, {}}, RecordKind::Metric, ""},
      {Element{"event", {{"resource", "A|b"}}, {}}, RecordKind::Trace, ""},
      {Element{"calledComponent", {}, {}}, RecordKind::Other, ""},
  };
  for (auto& c : cases) {
    const auto record = makeRecord(Element(c.element), "raw");
    EXPECT_EQ(record.kind, c.kind) << c.element.name;
    EXPECT_EQ(record.identity.process, c.process) << c.element.name;
    EXPECT_EQ(record.raw, "raw");
  }
}

}  // namespace
