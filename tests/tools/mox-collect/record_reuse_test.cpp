// Records and elements are filled again in storage that held earlier ones:
// nothing of an earlier element, record or metric name may show through.
#include <gtest/gtest.h>

#include "collector_support.h"
#include "metric_name.h"

namespace {

using moxcollect::Element;
using moxcollect::KeyShape;
using moxcollect::MetricName;
using moxcollect::Record;

std::string describe(const Element& e) {
  std::string text = "<" + e.name;
  for (const auto& [name, value] : e.attributes) text += " " + name + "=" + value;
  text += ">";
  for (const Element& child : e.children) text += describe(child);
  return text + "</>";
}

std::string describe(const Record& r) {
  const MetricName& m = r.metric;
  return std::string(moxcollect::kindName(r.kind)) + " " + describe(r.element) + " raw=" + r.raw +
         " metric=" + m.system + "/" + m.process + "/" + m.instance + "/" + m.instancePrefix + "/" + m.key + "/" +
         m.label + " identity=" + r.identity.system + "/" + r.identity.process + "/" + r.identity.instance;
}

TEST(RecordReuse, ARecordFilledAgainInTheSameStorageEqualsOneMadeAfresh) {
  // Long and short, with and without children, named and not: each follows each.
  const std::string stream = collecttest::sampleStream("disp_3") +
                             "<foo/>\n<metric type=\"LongCounter\" name=\"S|q_2|Pool:Current Value\" value=\"1\"/>\n"
                             "<event resource=\"r\"/>\n<x a=\"1\"><y/></x>\n" +
                             collecttest::sampleStream("other-process-with-a-long-name_12");
  const std::vector<Record> fresh = collecttest::recordsOf(stream);
  ASSERT_EQ(fresh.size(), 2 * collecttest::linesOf(collecttest::sampleStream()).size() + 4);

  // One slot, as the collector's writer hands it back: the splitter's element and bytes are
  // swapped in, so the splitter reads the next element into the storage of the one before.
  Record slot;
  std::vector<std::string> reused;
  moxcollect::StreamSplitter splitter(
      [&](Element&& element, std::string&& raw) {
        std::swap(slot.element, element);
        slot.raw.swap(raw);
        moxcollect::classify(slot);
        reused.push_back(describe(slot));
      },
      [](const std::string&, const std::string&) {});
  splitter.feed(stream);
  ASSERT_EQ(reused.size(), fresh.size());
  for (size_t i = 0; i < fresh.size(); ++i) EXPECT_EQ(reused[i], describe(fresh[i])) << "record " << i;
}

TEST(RecordReuse, AMetricNameSplitIntoUsedStorageEqualsOneSplitAfresh) {
  const std::pair<const char*, KeyShape> names[] = {
      {"V|p_1|pre|fix|A|b:Avg. Elapsed Time(ms)", KeyShape::TimingKey},
      {"S|p_1|", KeyShape::TimingKey},
      {"S|p_1||", KeyShape::TimingKey},
      {"S|p_1||", KeyShape::Resource},
      {"S|p_1|a|b|c", KeyShape::None},
      {"S|p", KeyShape::TimingKey},
      {"S", KeyShape::Resource},
      {"V|p_1|k:ey|m:Finished Counter", KeyShape::TimingKey},
      {":", KeyShape::None},
  };
  MetricName used = moxcollect::parseMetricName("LONG-SYSTEM-NAME|long-process-name_123|inst|ance|Key|method:label",
                                                KeyShape::TimingKey);
  for (const auto& [name, shape] : names) {
    const MetricName fresh = moxcollect::parseMetricName(name, shape);
    moxcollect::parseMetricName(name, shape, used);
    EXPECT_EQ(std::tie(used.system, used.process, used.instance, used.instancePrefix, used.key, used.label),
              std::tie(fresh.system, fresh.process, fresh.instance, fresh.instancePrefix, fresh.key, fresh.label))
        << name;
  }
}

}  // namespace
