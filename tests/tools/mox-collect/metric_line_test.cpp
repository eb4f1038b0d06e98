// Reading a metric line's attributes and name: what the one-pass and
// end-first scans find is what a plain look-up finds.
#include <gtest/gtest.h>

#include "metric_attributes.h"
#include "metric_name.h"

namespace {

using moxcollect::Element;
using moxcollect::KeyShape;

TEST(MetricAttributes, FindTheFirstOfEachNameAsALookUpDoes) {
  Element e;
  e.name = "metric";
  e.attributes = {{"nam", "x"},   {"names", "x"},   {"value", "1"}, {"Type", "x"}, {"type", "IntAverage"},
                  {"maxi", "x"},  {"max", "9"},     {"value", "2"}, {"mix", "x"},  {"name", "S|p_1|A|b:L"},
                  {"count", "3"}, {"type", "none"}, {"min", ""}};
  const moxcollect::MetricAttributes found = moxcollect::metricAttributes(e);
  const std::pair<const std::string*, const char*> expected[] = {
      {found.type, "type"}, {found.name, "name"}, {found.value, "value"},
      {found.max, "max"},   {found.min, "min"},   {found.count, "count"},
  };
  for (const auto& [pointer, name] : expected) EXPECT_EQ(pointer, e.attribute(name)) << name;
  EXPECT_EQ(*found.value, "1");
  EXPECT_EQ(*found.type, "IntAverage");

  e.attributes = {{"value", "1"}};
  const moxcollect::MetricAttributes few = moxcollect::metricAttributes(e);
  EXPECT_EQ(few.value, e.attribute("value"));
  for (const std::string* absent : {few.type, few.name, few.max, few.min, few.count}) EXPECT_EQ(absent, nullptr);
}

// The label and the key's parts are found from the end of the name: near it and far from it.
TEST(MetricName, SplitsNamesWhoseSeparatorsLieFarFromTheirEnd) {
  const std::string longMethod(100, 'm');
  const std::string longLabel(70, 'L');
  EXPECT_EQ(moxcollect::labelSeparator("S|p_1|A|b:" + longLabel), 9u);
  EXPECT_EQ(moxcollect::labelSeparator(":" + longLabel), 0u);
  EXPECT_EQ(moxcollect::labelSeparator(longLabel), std::string::npos);
  EXPECT_EQ(moxcollect::labelSeparator(""), std::string::npos);
  EXPECT_EQ(moxcollect::labelSeparator(longLabel + ":"), longLabel.size());

  const moxcollect::MetricName timing =
      moxcollect::parseMetricName("S|p_1|pre|A|" + longMethod + ":" + longLabel, KeyShape::TimingKey);
  EXPECT_EQ(timing.instancePrefix, "pre");
  EXPECT_EQ(timing.key, "A|" + longMethod);
  EXPECT_EQ(timing.label, longLabel);
  const moxcollect::MetricName resource =
      moxcollect::parseMetricName("S|" + longMethod + "_12|" + longMethod + ":Current Value", KeyShape::Resource);
  EXPECT_EQ(resource.process, longMethod);
  EXPECT_EQ(resource.instance, "12");
  EXPECT_EQ(resource.key, longMethod);
  const moxcollect::MetricName noInstance = moxcollect::parseMetricName("S|" + longMethod + ":x", KeyShape::None);
  EXPECT_EQ(noInstance.process, longMethod);
  EXPECT_EQ(noInstance.instance, "");
}

}  // namespace
