#include "json_sink.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "sample_stream.h"

namespace {

using moxcollect::Element;
using moxcollect::Record;
using nlohmann::json;

// The sample stream through splitter, record model and sink: one parsed JSON object per line.
std::vector<json> jsonOf(const std::string& stream, bool identifyTraces = true) {
  std::vector<Record> records;
  moxcollect::StreamSplitter splitter(
      [&](Element&& e, std::string&& raw) { records.push_back(moxcollect::makeRecord(std::move(e), std::move(raw))); },
      [](const std::string&, const std::string&) {});
  splitter.feed(stream);
  std::ostringstream out;
  moxcollect::JsonSink sink(out);
  for (Record& record : records) {
    record.connection = 7;
    record.peer = "127.0.0.1:40000";
    record.received = std::chrono::system_clock::time_point(std::chrono::milliseconds(1709288102345));
    if (identifyTraces && record.kind == moxcollect::RecordKind::Trace) record.identity = records[0].identity;
    sink.write(record);
  }
  std::vector<json> objects;
  std::istringstream lines(out.str());
  for (std::string line; std::getline(lines, line);) objects.push_back(json::parse(line));
  return objects;
}

TEST(JsonSink, MetricAndVersionLinesCarryTheNamePartsAndEveryAttribute) {
  const auto objects = jsonOf(collecttest::sampleStream());
  ASSERT_EQ(objects.size(), 10u);
  const json& version = objects[0];
  EXPECT_EQ(version["kind"], "version");
  EXPECT_EQ(version["received"], "2024-03-01T10:15:02.345Z");
  EXPECT_EQ(version["connection"], 7);
  EXPECT_EQ(version["peer"], "127.0.0.1:40000");
  EXPECT_EQ(version["system"], "VEL_MOX");
  EXPECT_EQ(version["process"], "disp");
  EXPECT_EQ(version["instance"], "3");
  EXPECT_EQ(version["label"], "MOX library version");
  EXPECT_EQ(version["value"], "2.3.6");  // not a number

  const json& average = objects[4];
  EXPECT_EQ(average["kind"], "metric");
  EXPECT_EQ(average["type"], "IntAverage");
  EXPECT_EQ(average["name"], "VEL_MOX|disp_3|Order|create:Avg. Elapsed Time(ms)");
  EXPECT_EQ(average["key"], "Order|create");
  EXPECT_EQ(average["label"], "Avg. Elapsed Time(ms)");
  EXPECT_EQ(average["instance_prefix"], "");
  EXPECT_EQ(average["value"], 37);
  EXPECT_EQ(average["max"], 120);
  EXPECT_EQ(average["min"], 3);
  EXPECT_EQ(average["count"], 13);

  const json& cpu = objects[5];
  EXPECT_EQ(cpu["instance_prefix"], "blue");
  EXPECT_EQ(cpu["key"], "Db|select");
  EXPECT_EQ(cpu["value"], -1);

  const json& kpi = objects[7];
  EXPECT_EQ(kpi["type"], "LongCounter");
  EXPECT_EQ(kpi["key"], "Open Requests");
  EXPECT_EQ(kpi["label"], "waits");
  EXPECT_FALSE(kpi.contains("max"));
  EXPECT_EQ(objects[8]["type"], "LongCounterNone");
  EXPECT_EQ(objects[8]["key"], "Zombie Context Count");
}

TEST(JsonSink, TraceKeepsTheCallTreeAndParametersInOrder) {
  const auto objects = jsonOf(collecttest::sampleStream());
  const json& trace = objects[9];
  EXPECT_EQ(trace["kind"], "trace");
  EXPECT_EQ(trace["process"], "disp");
  EXPECT_EQ(trace["key"], "Order|create");
  EXPECT_EQ(trace["startTime"], "2024-03-01 10:15:02");
  EXPECT_EQ(trace["duration"], 57);
  const json params = trace["params"];
  ASSERT_EQ(params.size(), 5u);
  EXPECT_EQ(params[0], (json{{"name", "CPU Time (us)"}, {"value", "2500"}}));  // values stay text
  EXPECT_EQ(params[1]["value"], "Z\xC3\xBCrich \xE6\x97\xA5\xE6\x9C\xAC");
  EXPECT_EQ(params[2]["name"], "client.header.VEL-PASSPORT");
  EXPECT_EQ(params[3]["value"], "one");  // a repeated name keeps both values
  EXPECT_EQ(params[4]["value"], "two");

  ASSERT_EQ(trace["calls"].size(), 1u);
  const json& select = trace["calls"][0];
  EXPECT_EQ(select["resource"], "Db|select");
  EXPECT_EQ(select["offset"], 4);
  EXPECT_EQ(select["duration"], 40);
  EXPECT_EQ(select["params"][1]["value"], "a < b && c > \"d\"\nnext");
  ASSERT_EQ(select["calls"].size(), 1u);
  EXPECT_EQ(select["calls"][0]["resource"], "Db|fetch");
  EXPECT_EQ(select["calls"][0]["params"][0]["value"], "-1");
  EXPECT_TRUE(select["calls"][0]["calls"].empty());
}

TEST(JsonSink, UnidentifiedTraceHasNullProcessFields) {
  const auto objects = jsonOf(collecttest::sampleStream(), false);
  const json& trace = objects[9];
  EXPECT_TRUE(trace["system"].is_null());
  EXPECT_TRUE(trace["process"].is_null());
  EXPECT_TRUE(trace["instance"].is_null());
}

TEST(JsonSink, OnlyCanonicalIntegersBecomeNumbersAndCollidingAttributesAreKept) {
  const auto objects = jsonOf(
      "<metric type=\"IntAverage\" name=\"S|p_1|A|b:Active Counter\" value=\"007\" max=\"9223372036854775807\" "
      "min=\"9223372036854775808\" count=\"-0\" key=\"mine\" />\n"
      "<foo bar=\"1\"><param name=\"x\" value=\"y\" /></foo>\n");
  ASSERT_EQ(objects.size(), 2u);
  EXPECT_EQ(objects[0]["value"], "007");
  EXPECT_EQ(objects[0]["max"], 9223372036854775807LL);
  EXPECT_EQ(objects[0]["min"], "9223372036854775808");
  EXPECT_EQ(objects[0]["count"], "-0");
  EXPECT_EQ(objects[0]["key"], "A|b");
  EXPECT_EQ(objects[0]["attr_key"], "mine");
  EXPECT_EQ(objects[1]["kind"], "other");
  EXPECT_EQ(objects[1]["element"], "foo");
  EXPECT_EQ(objects[1]["bar"], 1);
  EXPECT_EQ(objects[1]["params"][0]["value"], "y");
}

}  // namespace
