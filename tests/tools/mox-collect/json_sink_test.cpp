#include "json_sink.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "collector_support.h"

namespace {

using moxcollect::Record;
using nlohmann::json;

// The stream through splitter, record model and sink: one parsed JSON object per line.
std::vector<json> jsonOf(const std::string& stream, bool identifyTraces = true) {
  std::vector<Record> records = collecttest::recordsOf(stream);
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

// The fields every record carries, then the given ones.
json expected(const std::string& fields) {
  return json::parse(R"J({"received":"2024-03-01T10:15:02.345Z","connection":7,"peer":"127.0.0.1:40000",)J" + fields +
                     "}");
}

TEST(JsonSink, WritesEveryFieldOfMetricsVersionsAndTraces) {
  const auto objects = jsonOf(collecttest::sampleStream());
  ASSERT_EQ(objects.size(), 10u);
  const std::string process = R"J("system":"VEL_MOX","process":"disp","instance":"3",)J";
  EXPECT_EQ(objects[0], expected(R"J("kind":"version",)J" + process + R"J("instance_prefix":"","key":"",
      "label":"MOX library version","type":"StringEvent","name":"VEL_MOX|disp_3:MOX library version",
      "value":"2.3.6")J"));
  EXPECT_EQ(objects[4], expected(R"J("kind":"metric",)J" + process + R"J("instance_prefix":"","key":"Order|create",
      "label":"Avg. Elapsed Time(ms)","type":"IntAverage","name":"VEL_MOX|disp_3|Order|create:Avg. Elapsed Time(ms)",
      "value":37,"max":120,"min":3,"count":13)J"));
  EXPECT_EQ(objects[5]["value"], -1);
  // The call tree in order; parameter values stay text, a repeated name keeps both.
  EXPECT_EQ(objects[9], expected(R"J("kind":"trace",)J" + process + R"J("key":"Order|create",
      "resource":"Order|create","startTime":"2024-03-01 10:15:02","duration":57,
      "params":[{"name":"CPU Time (us)","value":"2500"},{"name":"user","value":"Z\u00fcrich \u65e5\u672c"},
        {"name":"client.header.VEL-PASSPORT","value":"0123ABCD*1000"},
        {"name":"Method Call Error","value":"one"},{"name":"Method Call Error","value":"two"}],
      "calls":[{"resource":"Db|select","offset":4,"duration":40,
        "params":[{"name":"CPU Time (us)","value":"1500"},{"name":"sql","value":"a < b && c > \"d\"\nnext"}],
        "calls":[{"resource":"Db|fetch","offset":10,"duration":20,
          "params":[{"name":"CPU Time (us)","value":"-1"}],"calls":[]}]}])J"));
  const json unnamed = jsonOf(collecttest::sampleStream(), false)[9];  // its connection never named its process
  EXPECT_EQ(json::array({unnamed["system"], unnamed["process"], unnamed["instance"]}), json::parse("[null,null,null]"));
}

TEST(JsonSink, OnlyCanonicalIntegersBecomeNumbersAndCollidingAttributesAreKept) {
  const auto objects = jsonOf(
      "<metric type=\"IntAverage\" name=\"S|p_1|A|b:MOX library version\" value=\"007\" max=\"9223372036854775807\" "
      "min=\"9223372036854775808\" count=\"-0\" key=\"mine\" />\n"
      "<metric type=\"StringEvent\" name=\"S|p_1|x:other\" value=\"1\" />\n"
      "<foo bar=\"1\"><param name=\"x\" value=\"y\" /></foo>\n");
  ASSERT_EQ(objects.size(), 3u);
  EXPECT_EQ(objects[0], expected(R"J("kind":"metric","system":"S","process":"p","instance":"1","instance_prefix":"",
      "key":"A|b","label":"MOX library version","type":"IntAverage","name":"S|p_1|A|b:MOX library version",
      "value":"007","max":9223372036854775807,"min":"9223372036854775808","count":"-0","attr_key":"mine")J"));
  EXPECT_EQ(objects[1]["kind"], "metric");  // the version label alone, or the type alone, is no version line
  EXPECT_EQ(objects[2], expected(R"J("kind":"other","element":"foo","bar":1,"params":[{"name":"x","value":"y"}],
      "calls":[])J"));
}

}  // namespace
