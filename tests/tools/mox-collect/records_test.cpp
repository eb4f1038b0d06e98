// The record model and the three sinks that write records out.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

#include "collector_support.h"
#include "identity_directory.h"
#include "json_sink.h"
#include "metric_name.h"
#include "raw_file_sink.h"
#include "support/test_files.h"
#include "top_sink.h"
#include "top_table.h"

namespace {

using collecttest::timingLines;
using moxcollect::Identity;
using moxcollect::KeyShape;
using moxcollect::Record;
using nlohmann::json;

// Each name is split fresh and into storage that held a longer name: nothing of that shows through.
TEST(MetricName, SplitsSystemProcessInstancePrefixKeyAndLabel) {
  const std::tuple<const char*, KeyShape, const char*> cases[] = {
      {"V|p_1|Ns::Cls|do:it:Active Counter", KeyShape::TimingKey, "V/p/1//Ns::Cls|do:it/Active Counter"},
      {"V|my_proc_-12|A|b:Finished Counter", KeyShape::TimingKey, "V/my_proc/-12//A|b/Finished Counter"},
      {"V|proc_x|A|b:Finished Counter", KeyShape::TimingKey, "V/proc_x///A|b/Finished Counter"},
      {"V|p_1|pre|Pool:High Watermark", KeyShape::Resource, "V/p/1/pre/Pool/High Watermark"},
      {"V|p_1|Pool:waits", KeyShape::Resource, "V/p/1//Pool/waits"},
      {"V|mox-demo_0:MOX library version", KeyShape::None, "V/mox-demo/0///MOX library version"},
      {"", KeyShape::TimingKey, "/////"},
      {"V|p_1|pre|fix|A|b:Avg. Elapsed Time(ms)", KeyShape::TimingKey, "V/p/1/pre|fix/A|b/Avg. Elapsed Time(ms)"},
      {"S|p_1|", KeyShape::TimingKey, "S/p/1///"},
      {"S|p_1||", KeyShape::TimingKey, "S/p/1//|/"},
      {"S|p_1||", KeyShape::Resource, "S/p/1///"},
      {"S|p_1|a|b|c", KeyShape::None, "S/p/1//a|b|c/"},
      {"S|p", KeyShape::TimingKey, "S/p////"},
      {"S", KeyShape::Resource, "S/////"},
      {"V|p_1|k:ey|m:Finished Counter", KeyShape::TimingKey, "V/p/1//k:ey|m/Finished Counter"},
      {":", KeyShape::None, "/////"},
  };
  const auto parts = [](const moxcollect::MetricName& n) {
    return n.system + "/" + n.process + "/" + n.instance + "/" + n.instancePrefix + "/" + n.key + "/" + n.label;
  };
  for (const auto& [name, shape, expected] : cases) {
    EXPECT_EQ(parts(moxcollect::parseMetricName(name, shape)), expected);
    moxcollect::MetricName used = moxcollect::parseMetricName(
        "LONG-SYSTEM-NAME|long-process-name_123|inst|ance|Key|method:label", KeyShape::TimingKey);
    moxcollect::parseMetricName(name, shape, used);
    EXPECT_EQ(parts(used), expected) << name;
  }
}

// Records and elements are filled again in storage that held earlier ones:
// nothing of an earlier element, record or metric name may show through.
std::string describe(const moxcollect::Element& e) {
  std::string text = "<" + e.name;
  for (const auto& [name, value] : e.attributes) text += " " + name + "=" + value;
  text += ">";
  for (const moxcollect::Element& child : e.children) text += describe(child);
  return text + "</>";
}

std::string describe(const Record& r) {
  const moxcollect::MetricName& m = r.metric;
  // The attributes as a reader finds them at the places the record carries.
  const moxcollect::MetricAttributes a = moxcollect::attributesOf(r);
  std::string found;
  for (const std::string* value : {a.type, a.name, a.value, a.max, a.min, a.count}) {
    found += (value != nullptr ? *value : "-") + "/";
  }
  return std::string(moxcollect::kindName(r.kind)) + " " + describe(r.element) + " raw=" + r.raw +
         " metric=" + m.system + "/" + m.process + "/" + m.instance + "/" + m.instancePrefix + "/" + m.key + "/" +
         m.label + " identity=" + r.identity.system + "/" + r.identity.process + "/" + r.identity.instance +
         " attributes=" + found;
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
      [&](moxcollect::Element&& element, std::string&& raw) {
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

// The stream through splitter, record model and sink: one parsed JSON object per line. As on a
// connection, a trace takes the process of the last version line before it.
std::vector<json> jsonOf(const std::string& stream) {
  std::ostringstream out;
  moxcollect::JsonSink sink(out);
  for (Record& record : collecttest::connectionRecordsOf(stream)) {
    record.connection = 7;
    record.peer = "127.0.0.1:40000";
    record.received = std::chrono::system_clock::time_point(std::chrono::milliseconds(1709288102345));
    sink.write(record);
  }
  std::vector<json> objects;
  for (const std::string& line : collecttest::linesOf(out.str())) objects.push_back(json::parse(line));
  return objects;
}

// The fields every record carries, then the given ones.
json expected(const std::string& fields) {
  return json::parse(R"J({"received":"2024-03-01T10:15:02.345Z","connection":7,"peer":"127.0.0.1:40000",)J" + fields +
                     "}");
}

TEST(JsonSink, WritesEveryFieldAndOnlyCanonicalIntegersAsNumbers) {
  const auto objects = jsonOf(
      "<event resource=\"A|b\" calls=\"1\"></event>\n" + collecttest::sampleStream() +
      R"J(<metric type="IntAverage" name="S|p_1|A|b:MOX library version" value="007" max="9223372036854775807" )J"
      R"J(min="9223372036854775808" count="-0" key="mine" />
<metric type="StringEvent" name="S|p_1|x:other" value="1" />
<foo bar="1"><param name="x" value="y" /></foo>
)J");
  ASSERT_EQ(objects.size(), 12u);
  EXPECT_EQ(objects[0], expected(R"J("kind":"trace","system":null,"process":null,"instance":null,"key":"A|b",
      "resource":"A|b","attr_calls":1,"params":[],"calls":[])J"));  // its connection never named its process
  const std::string process = R"J("system":"VEL_MOX","process":"disp","instance":"3",)J";
  // The call tree in order; parameter values stay text, a repeated name keeps both.
  EXPECT_EQ(objects[8], expected(R"J("kind":"trace",)J" + process + R"J("key":"Order|create",
      "resource":"Order|create","startTime":"2024-03-01 10:15:02","duration":57,
      "params":[{"name":"CPU Time (us)","value":"2500"},{"name":"user","value":"Z\u00fcrich \u65e5\u672c"},
        {"name":"client.header.VEL-PASSPORT","value":"0123ABCD*1000"},
        {"name":"Method Call Error","value":"one"},{"name":"Method Call Error","value":"two"}],
      "calls":[{"resource":"Db|select","offset":4,"duration":40,
        "params":[{"name":"CPU Time (us)","value":"1500"},{"name":"sql","value":"a < b && c > \"d\"\nnext"}],
        "calls":[{"resource":"Db|fetch","offset":10,"duration":20,
          "params":[{"name":"CPU Time (us)","value":"-1"}],"calls":[]}]}])J"));
  EXPECT_EQ(objects[9], expected(R"J("kind":"metric","system":"S","process":"p","instance":"1","instance_prefix":"",
      "key":"A|b","label":"MOX library version","type":"IntAverage","name":"S|p_1|A|b:MOX library version",
      "value":"007","max":9223372036854775807,"min":"9223372036854775808","count":"-0","attr_key":"mine")J"));
  EXPECT_EQ(objects[10]["kind"], "metric");  // the version label or type alone makes no version line
  EXPECT_EQ(objects[11], expected(R"J("kind":"other","element":"foo","bar":1,"params":[{"name":"x","value":"y"}],
      "calls":[])J"));
}

TEST(JsonSink, WritesAndFreesATreeOfAnyDepthWithoutRecursion) {
  // Calls nested far deeper than any stack allows, the innermost holding other elements as deep.
  constexpr size_t kDepth = 200000;
  moxcollect::Element event;
  event.name = "event";
  moxcollect::Element* at = &event;
  for (size_t i = 0; i < 2 * kDepth; ++i) {
    at = &at->children.emplace_back();
    at->name = i < kDepth ? "calledComponent" : "x";
    at->attributes.emplace_back("level", std::to_string(i));
  }
  std::ostringstream out;
  moxcollect::JsonSink sink(out);
  sink.write(moxcollect::makeRecord(std::move(event), "<event>"));

  const std::string text = out.str();
  ASSERT_EQ(text.back(), '\n');
  const json parsed = json::parse(text);  // the parser keeps its own stack too
  const json* node = &parsed;
  for (size_t i = 0; i < 2 * kDepth; ++i) {
    const json& list = (*node)[i < kDepth ? "calls" : "elements"];
    ASSERT_EQ(list.size(), 1u) << i;
    node = &list[0];
    ASSERT_EQ((*node)["level"], i);
  }
  EXPECT_EQ((*node)["element"], "x");
  EXPECT_EQ(testsupport::countOf(text, "\"elements\""), kDepth);
}

TEST(RawFileSink, NamesFilesAfterProcessAndInstanceSafelyAndReportsAFailedWriteOnce) {
  const std::tuple<Identity, const char*, std::string> cases[] = {
      {{"VEL_MOX", "mox-demo", "-1"}, "127.0.0.1", "mox-demo_-1_mtdata.log"},
      {{"VEL_MOX", "", "12"}, "127.0.0.1", "VEL_MOX_12_mtdata.log"},
      {{"VEL_MOX", "../../etc/passwd", "1"}, "127.0.0.1", "_._.._etc_passwd_1_mtdata.log"},
      {{"S", "a b\xC3\xBC", ""}, "::1", "a_b___mtdata.log"},
      {{"S", std::string(300, 'x'), "7"}, "::1", std::string(100, 'x') + "_7_mtdata.log"},
      {{}, "127.0.0.1", "unknown_127.0.0.1_mtdata.log"},
      {{}, "::1", "unknown___1_mtdata.log"},
  };
  for (const auto& [identity, peerHost, name] : cases) EXPECT_EQ(moxcollect::rawFileName(identity, peerHost), name);

  testsupport::TempDir dir;
  std::ostringstream text;
  moxcollect::Log log(text);
  moxcollect::RawFileSink sink(dir.file("missing"), log);
  const Record record = collecttest::recordsOf(collecttest::sampleStream())[0];
  for (int i = 0; i < 3; ++i) sink.write(record);
  EXPECT_TRUE(sink.failed());
  EXPECT_EQ(testsupport::countOf(text.str(), "cannot write"), 1u);
}

// The descriptors of this process open on files below dir.
size_t openFilesIn(const std::string& dir) {
  size_t count = 0;
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (std::filesystem::read_symlink(fd.path(), error).string().rfind(dir + "/", 0) == 0) ++count;
  }
  return count;
}

TEST(RawFileSink, WritesAtMostItsFilesSendsTheRestToTheOverflowFileAndKeepsFewOpen) {
  testsupport::TempDir dir;
  std::ostringstream text;
  moxcollect::Log log(text);
  moxcollect::RawFileSink sink(dir.path(), log, 3, 2);
  std::map<std::string, std::string> expected;
  // p0 p1 p2 p3 p4 p0 p1 p2 p3 p4 p0 ...: every file is closed and opened again.
  for (int i = 0; i < 20; ++i) {
    const std::string process = "p" + std::to_string(i % 5);
    Record record = collecttest::recordsOf(collecttest::sampleStream(process + "_1"))[1];
    record.raw += "#" + std::to_string(i);
    sink.write(record);
    expected[i % 5 < 3 ? process + "_1_mtdata.log" : "mox-collect-overflow.log"] += record.raw + "\n";
    EXPECT_LE(openFilesIn(dir.path()), 2u);
  }
  sink.flush();
  EXPECT_FALSE(sink.failed());
  std::map<std::string, std::string> written;
  for (const auto& file : std::filesystem::directory_iterator(dir.path())) {
    written[file.path().filename().string()] = testsupport::readFile(file.path().string());
  }
  EXPECT_EQ(written, expected);
  moxcollect::Stats stats;
  sink.countInto(stats);
  EXPECT_EQ(stats.fileOverflow, 8u);
}

// The keys (second word) of the rows of the table whose title starts with `title`.
std::string keysOf(const std::string& text, const std::string& title) {
  std::istringstream lines(text.substr(text.find(title)));
  std::string line, process, key, keys;
  std::getline(lines, line), std::getline(lines, line);  // title, column heads
  while (std::getline(lines, line) && std::istringstream(line) >> process >> key) keys += key + " ";
  return keys;
}

TEST(TopSink, RanksTimingKeysShowsResourcesAndRedrawsLiveOncePerIntervalByTheGivenClock) {
  std::ostringstream out;
  moxcollect::TopSink sink(out, std::chrono::seconds(5), 3, true);
  const auto t0 = std::chrono::steady_clock::time_point(std::chrono::hours(1));
  sink.tick(t0);
  // Two intervals: the latest average counts, the maximum and the calls add up.
  const std::string stream = timingLines("p_1", "A", 50, 900, 2) + timingLines("p_1", "B", 30, 40, 100) +
                             timingLines("p_1", "A", 10, 12, 1) + timingLines("p_1", "B", 31, 45, 150) +
                             collecttest::sampleStream();
  for (const Record& record : collecttest::recordsOf(stream)) sink.write(record);
  sink.tick(t0 + std::chrono::milliseconds(4999));
  EXPECT_EQ(out.str(), "");
  sink.tick(t0 + std::chrono::seconds(5));
  EXPECT_EQ(sink.nextTick(), t0 + std::chrono::seconds(10));
  const std::string text = out.str();
  EXPECT_EQ(text.rfind("\x1b[H\x1b[2J", 0), 0u);  // a terminal: the screen is cleared first
  EXPECT_EQ(keysOf(text, "Slowest timing keys by average"), "Order|create B A ");
  EXPECT_EQ(keysOf(text, "Slowest timing keys by largest"), "A Order|create B ");
  EXPECT_EQ(keysOf(text, "Busiest"), "B Order|create A ");    // Db|select, 0 calls, is past the 3 rows
  EXPECT_NE(text.find(" 250 "), std::string::npos);           // 100 + 150 calls
  EXPECT_EQ(keysOf(text, "Resources"), "Open Open Zombie ");  // a KPI has a row of its own
  sink.finish();
  EXPECT_EQ(testsupport::countOf(out.str(), "\x1b[H\x1b[2J"), 2u);
}

// Many more keys than the table keeps: it stays within its bound and still ranks the leaders first.
TEST(TopTable, KeepsAtMostItsKeysAndStillShowsTheLeadersOfEveryRanking) {
  moxcollect::TopTable table(40);
  std::string stream;
  for (int i = 0; i < 5000; ++i) {
    const std::string key = "K" + std::to_string(i) + "|m";
    // The slowest keys are 1000..1002, the most called 2000..2002, the slowest ever 3000..3002.
    const int avg = i >= 1000 && i < 1003 ? 100000 + i : i % 97;
    const int max = i >= 3000 && i < 3003 ? 900000 + i : avg;
    const int calls = i >= 2000 && i < 2003 ? 500000 + i : i % 89;
    stream += timingLines("p_1", key, avg, max, calls);
    stream +=
        "<metric type=\"LongCounter\" name=\"S|p_1|R" + std::to_string(10000 + i) + ":Current Value\" value=\"1\" />\n";
  }
  for (const Record& record : collecttest::recordsOf(stream)) table.add(record);
  const std::string text = table.render(3);
  const size_t keys = std::stoul(text.substr(text.find("traces, ") + 8));
  EXPECT_LE(keys, 40u);
  EXPECT_EQ(keysOf(text, "Slowest timing keys by average"), "K1002|m K1001|m K1000|m ");
  EXPECT_EQ(keysOf(text, "Slowest timing keys by largest"), "K3002|m K3001|m K3000|m ");
  EXPECT_EQ(keysOf(text, "Busiest"), "K2002|m K2001|m K2000|m ");
  EXPECT_EQ(keysOf(text, "Resources"), "R10000 R10001 R10002 ");  // by name
  const size_t resources = std::stoul(text.substr(text.find("keys, ") + 6));
  EXPECT_EQ(table.droppedKeys(), 10000u - keys - resources);
}

TEST(IdentityDirectory, NamesTheOnlyProcessOfAnAddressInConstantTimePerRecord) {
  moxcollect::IdentityDirectory directory;
  directory.note("10.0.0.1", {"S", "p", "1"});
  directory.note("10.0.0.1", {"S", "p", "1"});
  directory.note("10.0.0.2", {"S", "p", "1"});
  directory.note("10.0.0.2", {"S", "q", "1"});
  directory.note("10.0.0.2", {"S", "p", "1"});
  EXPECT_EQ(directory.onlyProcessAt("10.0.0.1"), (Identity{"S", "p", "1"}));
  EXPECT_FALSE(directory.onlyProcessAt("10.0.0.2").known());
  EXPECT_FALSE(directory.onlyProcessAt("10.0.0.3").known());
  // 200,000 processes on one address: a scan per record would take minutes.
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 200000; ++i) directory.note("10.0.0.4", {"S", "proc" + std::to_string(i), "1"});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(directory.onlyProcessAt("10.0.0.4").known());
}

}  // namespace
