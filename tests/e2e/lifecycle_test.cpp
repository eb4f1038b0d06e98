// Lifecycle and the common frame of the exports, through the exports only.
#include "e2e/e2e_support.h"

namespace {

using e2e::countOf;
using e2e::LibraryTest;
using e2e::widen;

const mox_char* emptySession() { return u""; }
const mox_char* nullSession() { return nullptr; }

TEST_F(LibraryTest, NestedStartsUnwindOneByOneProcExitEndsAllAndARestartIsFresh) {
  initWith({{"system_name", "FIRST"}});
  EXPECT_NE(MOX_startTiming(u"A", u"b", 1), 0u);
  initWith({{"system_name", "SECOND"}}, "other");
  EXPECT_EQ(MOX_ProcExitNestable(), 1);
  EXPECT_EQ(parameter(u"system_name"), "FIRST");  // still running, as first configured
  EXPECT_NE(MOX_startTiming(u"A", u"c", 1), 0u);
  EXPECT_EQ(MOX_ProcExitNestable(), 0);
  EXPECT_EQ(MOX_startTiming(u"A", u"d", 1), 0u);
  EXPECT_EQ(MOX_ProcExitNestable(), 0);
  EXPECT_EQ(countOf(traceFile(), "MOX_ProcInitWithParam API has been invoked before\n"), 1);

  initWith({});
  initWith({});
  MOX_ProcExit();
  EXPECT_EQ(MOX_startTiming(u"A", u"b", 1), 0u);
  EXPECT_EQ(MOX_ProcExitNestable(), 0);
  EXPECT_EQ(countOf(traceFile(), "MOX_ProcExit API invoked\n"), 1);

  // A new start: default configuration, a truncated trace file, a new unit of work.
  initWith({});
  EXPECT_EQ(parameter(u"system_name"), "VEL_MOX");
  EXPECT_EQ(countOf(traceFile(), "MOX library version 2.3.6 (unicode) loaded\n"), 1);
  EXPECT_EQ(MOX_startTiming(u"A", u"b", 1), 1u);
}

TEST_F(LibraryTest, NullProfileDirectoryReadsTheWorkingDirectorysConfiguration) {
  std::ofstream(dir_ / "mox.conf") << "logdir = " << dir_.string() << "\nsystem_name = FROMCWD\n";
  MOX_ProcInitWithProfilePath(u"e2e", 0, nullptr);  // not the root's
  EXPECT_EQ(parameter(u"system_name"), "FROMCWD");
}

// An untraced unit of work is held to the metric threshold only, a traced one to the trace threshold.
TEST_F(LibraryTest, LevelTestAgainstBothThresholds) {
  for (const auto& [traced, limit] : {std::pair{"0", 10}, std::pair{"1", 20}}) {
    initWith({{"instrument_level_threshold", "10"},
              {"instrument_level_threshold_trace", "20"},
              {"trace_enabled_via_em", traced}});
    EXPECT_NE(MOX_startTiming(u"A", u"b", uint16_t(limit - 1)), 0u) << traced;
    EXPECT_EQ(MOX_startTiming(u"A", u"c", uint16_t(limit)), 0u) << traced;
    MOX_ProcExit();
  }
}

// A flat unit of work at level; whether it was timed.
bool timedAt(uint16_t level) {
  const uint32_t recId = MOX_startTiming(u"A", u"b", level);
  MOX_endTiming(recId);
  return recId != 0;
}

// The level test ahead of the entry gate follows every change of the thresholds and of the active state.
TEST_F(LibraryTest, UntimedLevelsFollowThresholdChangesExitsAndRestarts) {
  EXPECT_FALSE(timedAt(0));  // never initialised
  std::ofstream(dir_ / "mox.conf") << "logdir = " << dir_.string()
                                   << "\ninstrument_level_threshold = 10\ninstrument_level_threshold_trace = 5\n";
  MOX_ProcInitWithProfilePath(u"e2e", 0, widen(dir_.string()).c_str());
  EXPECT_TRUE(timedAt(9));
  EXPECT_FALSE(timedAt(10));
  MOX_changeInstruLevelThreshold(30);
  EXPECT_TRUE(timedAt(29));
  EXPECT_FALSE(timedAt(30));
  MOX_changeInstruLevelThreshold(0);  // measuring off
  EXPECT_FALSE(timedAt(0));
  MOX_changeInstruLevelThreshold(3);
  EXPECT_TRUE(timedAt(2));
  EXPECT_FALSE(timedAt(5));  // at or above both
  MOX_endTiming(0);          // nothing to end: no effect, no trace
  MOX_ProcExit();
  EXPECT_FALSE(timedAt(0));
  initWith({{"instrument_level_threshold", "40"}});
  EXPECT_TRUE(timedAt(39));
  EXPECT_FALSE(timedAt(40));
}

TEST_F(LibraryTest, InstanceNumberShapesTheMetricName) {
  for (int16_t instance : std::initializer_list<int16_t>{7, -1, -5}) {
    initWith({}, "inst", instance);
    MOX_endTiming(MOX_startTiming(u"C", u"m", 1));
    MOX_outputMetricData();
    MOX_ProcExit();
  }
  for (const std::string& name : {std::string("inst_7"), "inst_" + std::to_string(getpid()), std::string("inst")}) {
    EXPECT_EQ(e2e::sumOf(metricFile("inst"), name + "|C|m"), 1) << name;
  }
}

// Null, empty and bad arguments: neutral results, error lines, never a crash.
TEST_F(LibraryTest, BadArgumentsGetNeutralResults) {
  // Before initialisation.
  EXPECT_EQ(MOX_getCharSize(), 2u);
  EXPECT_EQ(MOX_startTiming(u"A", u"b", 0), 0u);
  EXPECT_EQ(MOX_ProcExitNestable(), 0);
  MOX_ProcExit();
  MOX_initializeResource(u"Early", 1, 0);
  MOX_registerResourceCallBack(
      1, [] {}, 0, 0);
  mox_char small[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(MOX_getPassport(small, 4), 0u);
  EXPECT_EQ(small[0], u'x');
  EXPECT_EQ(MOX_getSingleParameterValue(u"logdir", small, 4), 0u);  // an empty table
  EXPECT_EQ(small[0], 0);
  EXPECT_EQ(MOX_getSingleParameterValue(u"logdir", small, 0), 1u);

  initWith({{"lib_trace_level", "3"}});
  MOX_initContext(nullptr), MOX_initContext(u"");
  const uint32_t id = MOX_startTiming(nullptr, nullptr, 1);
  MOX_appendInfo(id, nullptr, nullptr), MOX_appendParameterInfo(id, nullptr, nullptr);
  MOX_appendParameterInfo(id, std::u16string(1000, u'p').c_str(), u"v");
  MOX_appendContextInfo(nullptr, nullptr), MOX_appendUserID(nullptr), MOX_appendReturnInfo(id, nullptr);
  MOX_appendExceptionInfo(id, nullptr), MOX_appendPassportInfo(id, nullptr, 1), MOX_endTiming(id);
  MOX_setInstancePrefix(nullptr), MOX_changeInstruLevelThresholdForComponent(nullptr, 3);
  MOX_changeTraceInstruLevelThresholdForComponent(u"", 3);
  MOX_initializeResource(nullptr, 1, 0), MOX_reportResourceKPI(nullptr, nullptr, 1);
  MOX_reportResourceKPI(u"Pool", nullptr, 1), MOX_registerResourceCallBack(2, nullptr, 0, 0);
  EXPECT_EQ(MOX_getTraceLevel2(nullptr), 0);
  EXPECT_EQ(MOX_getPassport2(nullptr, nullptr, 0), 0u);
  EXPECT_EQ(MOX_getPassport(nullptr, 0), 1u);
  EXPECT_EQ(MOX_getPassportElement2(u"", 1, nullptr, 5), 0u);
  MOX_endTiming(0), MOX_terminateTiming(0), MOX_changeDataSendingInterval(0);
  EXPECT_EQ(parameter(u"datasending_interval"), "15");
  // Too small a buffer receives nothing but the length needed, and a line at level 2.
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
  // Without a session id: one error line per call, unless the level test, which comes first, refuses it.
  EXPECT_EQ(MOX_startTimingEx(nullptr, u"A", u"b", 1), 0u);
  EXPECT_EQ(MOX_startTimingEx(emptySession, u"A", u"b", 1), 0u);
  EXPECT_EQ(MOX_startTimingEx(nullptr, u"A", u"b", 500), 0u);
  mox_char guid[8] = {u'x'};
  EXPECT_EQ(MOX_getTraceGuidEx(nullptr, guid, 8), 0u);
  EXPECT_EQ(guid[0], u'x');
  EXPECT_EQ(MOX_getTraceFlagEx(nullSession), 0);
  EXPECT_EQ(countOf(traceFile(), "*** ERROR => Get sessionId function point is NULL [moxmain.cpp"), 2);
  EXPECT_EQ(countOf(traceFile(), "*** ERROR => External sessionId function returns the empty sessionId [moxmain"), 2);
  MOX_outputMetricData();
  // No resource came of it: the two built-in counters only.
  EXPECT_EQ(countOf(metricFile(), "type=\"LongCounter\""), 2);
}

}  // namespace
