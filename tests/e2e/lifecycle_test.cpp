// Lifecycle and the common frame of the exports, through the exports only.
#include <unistd.h>

#include <cstring>

#include "e2e/e2e_support.h"

namespace {

using e2e::countOf;
using e2e::LibraryTest;
using e2e::widen;

const mox_char* emptySession() { return u""; }
const mox_char* nullSession() { return nullptr; }

TEST(Unloaded, CharSizeAndNeutralResultsBeforeInit) {
  EXPECT_EQ(MOX_getCharSize(), 2u);
  EXPECT_EQ(MOX_startTiming(u"A", u"b", 0), 0u);
  EXPECT_EQ(MOX_ProcExitNestable(), 0);
  MOX_ProcExit();  // exit before init does nothing
  mox_char buffer[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(MOX_getPassport(buffer, 4), 0u);
  EXPECT_EQ(buffer[0], u'x');
  // The single-parameter getter works before init on an empty table.
  EXPECT_EQ(MOX_getSingleParameterValue(u"logdir", buffer, 4), 0u);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(MOX_getSingleParameterValue(u"logdir", buffer, 0), 1u);
  EXPECT_EQ(MOX_getSingleParameterValue(u"", buffer, 4), 0u);
  EXPECT_EQ(MOX_getSingleParameterValue(nullptr, buffer, 4), 0u);
}

TEST_F(LibraryTest, NestedInitCountsAndExitNestableUnwinds) {
  initWith({});
  initWith({{"system_name", "SECOND"}}, "other");
  EXPECT_NE(MOX_startTiming(u"A", u"b", 1), 0u);
  EXPECT_EQ(MOX_ProcExitNestable(), 1);
  // Still initialised, and the first initialisation's configuration holds.
  mox_char buffer[32];
  EXPECT_EQ(MOX_getSingleParameterValue(u"system_name", buffer, 32), 7u);
  EXPECT_EQ(std::u16string(buffer), u"VEL_MOX");
  EXPECT_NE(MOX_startTiming(u"A", u"c", 1), 0u);
  EXPECT_EQ(MOX_ProcExitNestable(), 0);
  EXPECT_EQ(MOX_startTiming(u"A", u"d", 1), 0u);
  EXPECT_EQ(MOX_ProcExitNestable(), 0);
  EXPECT_EQ(countOf(traceFile(), "MOX_ProcInitWithParam API has been invoked before\n"), 1);
}

TEST_F(LibraryTest, ProcExitEndsNestedLibraryAtOnce) {
  initWith({});
  initWith({});
  MOX_ProcExit();
  EXPECT_EQ(MOX_startTiming(u"A", u"b", 1), 0u);
  EXPECT_EQ(MOX_ProcExitNestable(), 0);
  const std::string trace = traceFile();
  EXPECT_NE(trace.find("MOX_ProcExit API started\n"), std::string::npos);
  EXPECT_NE(trace.find("MOX_ProcExit API invoked\n"), std::string::npos);
}

TEST_F(LibraryTest, InitExitInitStartsFresh) {
  initWith({{"system_name", "FIRST"}});
  EXPECT_NE(MOX_startTiming(u"A", u"b", 1), 0u);
  MOX_ProcExit();
  initWith({});
  mox_char buffer[32];
  ASSERT_EQ(MOX_getSingleParameterValue(u"system_name", buffer, 32), 7u);
  EXPECT_EQ(std::u16string(buffer), u"VEL_MOX");
  // The trace file was truncated: one header, one start line.
  const std::string trace = traceFile();
  EXPECT_EQ(countOf(trace, "trc file: \"e2e_mox.trc\""), 1);
  EXPECT_EQ(countOf(trace, "MOX library version 2.3.6 (unicode) loaded\n"), 1);
  // A new unit of work starts at recId 1 again.
  EXPECT_EQ(MOX_startTiming(u"A", u"b", 1), 1u);
}

TEST_F(LibraryTest, ProcInitReadsConfigurationFileFromEnvironmentDirectory) {
  std::ofstream(dir_ / "mox.conf") << "logdir = " << dir_.string() << "\nsystem_name = FROMFILE\n"
                                   << "datasending_method = file\n";
  setenv("MOX_CONFIG", dir_.c_str(), 1);
  MOX_ProcInit(u"filehost", 3);
  mox_char buffer[32];
  ASSERT_EQ(MOX_getSingleParameterValue(u"system_name", buffer, 32), 8u);
  EXPECT_EQ(std::u16string(buffer), u"FROMFILE");
  const std::string trace = traceFile("filehost");
  EXPECT_NE(trace.find("MOX_ProcInit API invoked\n"), std::string::npos);
  // File-based initialisation leaves the instrument level changeable: 0 switches measuring off.
  MOX_changeInstruLevelThreshold(0);
  EXPECT_EQ(MOX_startTiming(u"A", u"b", 0), 0u);
  MOX_changeInstruLevelThreshold(10);
  EXPECT_EQ(MOX_startTiming(u"A", u"b", 9), 1u);
}

TEST_F(LibraryTest, UnwritableLogdirFallsBackToTheWorkingDirectory) {
  const std::string missing = (dir_ / "missing" / "dir").string();
  std::vector<std::u16string> texts = {u"logdir", widen(missing), u"datasending_method", u"file"};
  const mox_char* pairs[] = {texts[0].c_str(), texts[1].c_str(), texts[2].c_str(), texts[3].c_str()};
  MOX_ProcInitWithParam(u"fb", 0, 2, pairs);
  MOX_endTiming(MOX_startTiming(u"K", u"m", 1));
  MOX_outputMetricData();
  MOX_ProcExit();
  // Both files land in the working directory (dir_), and the switch is traced per write.
  const std::string trace = traceFile("fb");
  EXPECT_NE(trace.find("trc file: \"fb_mox.trc\""), std::string::npos);
  EXPECT_NE(metricFile("fb").find("K|m:Finished Counter"), std::string::npos);
  EXPECT_GE(countOf(trace, "Switch to current working directory due to metric data log file " + missing +
                               "/fb_mtdata.log could not be opened!\n"),
            2);
}

TEST_F(LibraryTest, LevelTestAgainstBothThresholds) {
  initWith({{"instrument_level_threshold", "10"}});
  EXPECT_NE(MOX_startTiming(u"A", u"b", 9), 0u);
  EXPECT_EQ(MOX_startTiming(u"A", u"c", 10), 0u);
  MOX_ProcExit();
  // Level 15 passes the frame through the trace threshold; a traced unit of work times it.
  initWith({{"instrument_level_threshold", "10"},
            {"instrument_level_threshold_trace", "20"},
            {"trace_enabled_via_em", "1"}});
  EXPECT_NE(MOX_startTiming(u"A", u"b", 15), 0u);
  EXPECT_EQ(MOX_startTiming(u"A", u"c", 20), 0u);
  MOX_ProcExit();
  // An untraced one uses the metric threshold only.
  initWith({{"instrument_level_threshold", "10"}, {"instrument_level_threshold_trace", "20"}});
  EXPECT_EQ(MOX_startTiming(u"A", u"b", 15), 0u);
  EXPECT_NE(MOX_startTiming(u"A", u"b", 9), 0u);
}

TEST_F(LibraryTest, ExportsWithoutSessionIdWriteTheirErrorLines) {
  initWith({{"lib_trace_level", "1"}});
  EXPECT_EQ(MOX_startTimingEx(nullptr, u"A", u"b", 1), 0u);
  EXPECT_EQ(MOX_startTimingEx(emptySession, u"A", u"b", 1), 0u);
  mox_char buffer[8] = {u'x'};
  EXPECT_EQ(MOX_getTraceGuidEx(nullptr, buffer, 8), 0u);
  EXPECT_EQ(buffer[0], u'x');
  EXPECT_EQ(MOX_getTraceFlagEx(nullSession), 0);
  // Not timed at all: the level test comes first and calls no function.
  EXPECT_EQ(MOX_startTimingEx(nullptr, u"A", u"b", 500), 0u);
  const std::string trace = traceFile();
  EXPECT_EQ(countOf(trace, "*** ERROR => Get sessionId function point is NULL [moxmain.cpp"), 2);
  EXPECT_EQ(countOf(trace, "*** ERROR => External sessionId function returns the empty sessionId [moxmain.cpp"), 2);
}

TEST_F(LibraryTest, GetterBufferConvention) {
  initWith({{"lib_trace_level", "2"}});
  const std::u16string logdir = widen(dir_.string());
  const uint32_t len = static_cast<uint32_t>(logdir.size());
  std::vector<mox_char> buffer(len + 8, u'#');
  EXPECT_EQ(MOX_getSingleParameterValue(u"logdir", buffer.data(), len), len + 1);
  EXPECT_EQ(buffer[0], u'#');
  EXPECT_EQ(MOX_getSingleParameterValue(u"logdir", buffer.data(), 1), len + 1);
  EXPECT_EQ(MOX_getSingleParameterValue(u"logdir", buffer.data(), len + 1), len);
  EXPECT_EQ(std::u16string(buffer.data()), logdir);
  EXPECT_EQ(buffer[len + 1], u'#');
  EXPECT_EQ(countOf(traceFile(), "MOX_getSingleParameterValue: buffer size is smaller than the required\n"), 2);
}

TEST_F(LibraryTest, InstanceNumberShapesTheMetricName) {
  for (int16_t instance : {7, -1, -5}) {
    initWith({}, "inst", instance);
    MOX_endTiming(MOX_startTiming(u"C", u"m", 1));
    MOX_outputMetricData();
    MOX_ProcExit();
  }
  const std::string metrics = metricFile("inst");
  EXPECT_NE(metrics.find("name=\"VEL_MOX|inst_7|C|m:Finished Counter\""), std::string::npos);
  const std::string pid = std::to_string(getpid());
  EXPECT_NE(metrics.find("name=\"VEL_MOX|inst_" + pid + "|C|m:Finished Counter\""), std::string::npos);
  EXPECT_NE(metrics.find("name=\"VEL_MOX|inst|C|m:Finished Counter\""), std::string::npos);
}

TEST_F(LibraryTest, InstancePrefixJoinsMetricNamesButNotTheVersionLine) {
  initWith({}, "pre", 2);
  MOX_setInstancePrefix(u"tenantA");
  MOX_endTiming(MOX_startTiming(u"C", u"m", 1));
  MOX_outputMetricData();
  const std::string metrics = metricFile("pre");
  EXPECT_NE(metrics.find("name=\"VEL_MOX|pre_2|tenantA|C|m:Finished Counter\""), std::string::npos);
  EXPECT_NE(metrics.find("name=\"VEL_MOX|pre_2:MOX library version\""), std::string::npos);
}

TEST_F(LibraryTest, NullAndEmptyStringsNeverCrash) {
  initWith({{"lib_trace_level", "3"}});
  MOX_initContext(nullptr);
  MOX_initContext(u"");
  const uint32_t id = MOX_startTiming(nullptr, nullptr, 1);
  MOX_appendInfo(id, nullptr, nullptr);
  MOX_appendParameterInfo(id, nullptr, nullptr);
  std::u16string longName(1000, u'p');
  MOX_appendParameterInfo(id, longName.c_str(), u"v");
  MOX_appendContextInfo(nullptr, nullptr);
  MOX_appendUserID(nullptr);
  MOX_appendReturnInfo(id, nullptr);
  MOX_appendExceptionInfo(id, nullptr);
  MOX_appendPassportInfo(id, nullptr, 1);
  MOX_endTiming(id);
  MOX_setInstancePrefix(nullptr);
  MOX_changeInstruLevelThresholdForComponent(nullptr, 3);
  MOX_changeTraceInstruLevelThresholdForComponent(u"", 3);
  MOX_initializeResource(nullptr, 1, 0);
  MOX_reportResourceKPI(nullptr, nullptr, 1);
  EXPECT_EQ(MOX_getTraceLevel2(nullptr), 0);
  EXPECT_EQ(MOX_getPassport2(nullptr, nullptr, 0), 0u);
  EXPECT_EQ(MOX_getPassport(nullptr, 0), 1u);
  EXPECT_EQ(MOX_getPassportElement2(u"", 1, nullptr, 5), 0u);
  MOX_endTiming(0);
  MOX_terminateTiming(0);
  MOX_changeDataSendingInterval(0);
  mox_char buffer[8];
  EXPECT_EQ(MOX_getSingleParameterValue(u"datasending_interval", buffer, 8), 2u);
  EXPECT_EQ(std::u16string(buffer), u"15");
  MOX_outputMetricData();
}

}  // namespace
