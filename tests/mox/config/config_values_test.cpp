// Typed fields, limits, list and number reading, run-time changes and the parameter pairs.
#include <map>

#include "config_test_support.h"
#include "mox/config/component_lists.h"
#include "mox/config/number_reading.h"

namespace {

// The typed fields the cases below read, through their own getters: a getter reading a neighbour's field shows as a
// wrong value.
int64_t number(const CConfiguration& cfg, const std::string& key) {
  using C = const CConfiguration&;
  static const std::map<std::string, std::function<int64_t(C)>> getters = {
      {"tracecheck_interval", [](C c) { return c.getTracecheckInterval(); }},
      {"tracesize_threshold", [](C c) { return c.getTracesizeThreshold(); }},
      {"trace_preview_timeout", [](C c) { return c.getTracePreviewTimeout(); }},
      {"auto_transaction_trace_threshold", [](C c) { return c.getAutoTransactionTraceThreshold(); }},
      {"datasending_interval", [](C c) { return c.getDatasendingInterval(); }},
      {"zombie_check_interval", [](C c) { return c.getZombieCheckInterval(); }},
      {"zombie_timeout", [](C c) { return c.getZombieTimeout(); }},
      {"empty_timeout", [](C c) { return c.getEmptyTimeout(); }},
      {"agent_type_4", [](C c) { return c.getAgentType(4); }},
      {"agent_type_5", [](C c) { return c.getAgentType(5); }},
      {"agent_port", [](C c) { return c.getAgentPort(1); }},
      {"agent_port_2", [](C c) { return c.getAgentPort(2); }},
      {"agent_port_3", [](C c) { return c.getAgentPort(3); }},
      {"cache_section_count", [](C c) { return c.getCacheSectionCount(); }},
      {"context_map_bucket", [](C c) { return c.getContextMapBucketCount(); }}};
  return getters.at(key)(cfg);
}

using ConfigValuesTest = ConfigTest;
using Levels = std::map<std::u16string, uint16_t>;

TEST(ComponentListsTest, LevelsTakenByPosition) {
  const struct {
    const char16_t* names;
    const char16_t* levels;
    Levels expected;
  } cases[] = {
      {u"P,Q,R,", u"5,,7,", {{u"P", 5}, {u"R", 7}}},
      {u"P,Q,R,", u"1,", {{u"P", 1}}},
      {u"P,Q", u"3,4,", {{u"P", 3}}},  // text after the last comma is not an element
      {u"P,", u"3", {}},
      {u",P,,Q,", u"1,2,", {{u"P", 1}, {u"Q", 2}}},                   // empty names consume no level
      {u" P,P,P ,", u"1,2,3,", {{u" P", 1}, {u"P", 2}, {u"P ", 3}}},  // blanks are kept
      {u"P,P,", u"4,9,", {{u"P", 4}}},                                // the first level wins
      {u"P,Q,R,", u" 7x,-1,70000,", {{u"P", 7}, {u"Q", 65535}, {u"R", 70000 - 65536}}},
  };
  for (const auto& c : cases) EXPECT_EQ(parseComponentLevels(c.names, c.levels), c.expected);
}

// Only C white space is skipped and only ASCII digits count; the value wraps modulo 2^32.
TEST(NumberReadingTest, BehavesLikeAtolWithWrapping) {
  std::vector<uint32_t> read;
  for (const char16_t* text : {u"", u"abc", u" \t\r\n+42xyz", u"-1", u"1 2", u"--1", u"\u00A05", u"\uFF15",
                               u"4294967296", u"99999999999999999999"})
    read.push_back(readNumber(text));
  EXPECT_EQ(read, (std::vector<uint32_t>{0, 0, 42, 0xFFFFFFFFu, 1, 0, 0, 0, 0, 1661992959u}));
}

TEST_F(ConfigValuesTest, LimitsApplyInTableOrderAfterTheCutToTheFieldWidth) {
  const struct {
    const char* given;  // parameter pairs
    const char* expected;
  } cases[] = {
      {"", "zombie_check_interval=300 tracecheck_interval=5 context_map_bucket=16"},  // the defaults
      {"datasending_interval=10 zombie_check_interval=5 zombie_timeout=1 empty_timeout=3 context_map_bucket=0",
       "datasending_interval=15 zombie_check_interval=15 zombie_timeout=15 empty_timeout=15 context_map_bucket=4"},
      {"zombie_check_interval=20 zombie_timeout=10 context_map_bucket=5",
       "zombie_check_interval=60 zombie_timeout=60 empty_timeout=300 context_map_bucket=8"},
      {"datasending_interval=0 zombie_check_interval=20 context_map_bucket=1024",
       "datasending_interval=0 zombie_check_interval=20 context_map_bucket=1024"},
      {"datasending_interval=x zombie_check_interval=0 empty_timeout=0 context_map_bucket=32769",  // no digits: off
       "datasending_interval=0 zombie_check_interval=0 empty_timeout=0 context_map_bucket=32768"},
      {"tracecheck_interval=1 tracesize_threshold=abc trace_preview_timeout=29 auto_transaction_trace_threshold=59",
       "tracecheck_interval=2 tracesize_threshold=10000 trace_preview_timeout=30 auto_transaction_trace_threshold=60"},
      // -1 passes "at least"; 65536 cut to 16 bits is 0.
      {"tracecheck_interval=0 tracesize_threshold=-1 cache_section_count=65536 agent_port=70000 context_map_bucket=-1",
       "tracecheck_interval=0 tracesize_threshold=4294967295 cache_section_count=2 agent_port=4464 "
       "context_map_bucket=32768"},
      {"cache_section_count=1 agent_port_3=6000 agent_type_4=7 agent_port=1",
       "cache_section_count=2 agent_port=1 agent_port_2=59818 agent_port_3=6000 agent_type_4=7 agent_type_5=2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.given);
    configure(c.given);
    for (const auto& [key, expected] : settings(c.expected))
      EXPECT_EQ(std::to_string(number(cfg(), key)), expected) << key;
  }
  // An agent number out of range reads the first agent.
  configure("agent_port=1 agent_port_2=2 agent_host_2=h2");
  EXPECT_EQ(cfg().getAgentPort(0), 1u);
  EXPECT_EQ(cfg().getAgentPort(6), 1u);
  EXPECT_EQ(cfg().getAgentHost(9), u"localhost");
}

TEST_F(ConfigValuesTest, PairsSkipEmptyAndRepeatedEntriesAndTwentyFourConfigureNothing) {
  const char16_t* pairs[] = {u"datasending_interval", u"30",   nullptr, u"1", u"tracecheck_interval",  u"",
                             u"tracecheck_interval",  nullptr, u"",     u"9", u"datasending_interval", u"45",
                             u"custom_key",           u"c"};
  configureFromPairs(cfg(), 7, pairs);
  EXPECT_EQ(cfg().getDatasendingInterval(), 30u);
  EXPECT_EQ(cfg().getTracecheckInterval(), 5u);
  EXPECT_EQ(value("custom_key"), "c");
  fresh();
  configureFromPairs(cfg(), 3, nullptr);
  EXPECT_EQ(value("system_name"), "VEL_MOX");

  std::string many;
  for (int i = 0; i < 24; ++i) many += "datasending_interval=30 ";
  configure(many);
  EXPECT_EQ(cfg().getDatasendingInterval(), 60u);
  EXPECT_EQ(cfg().getZombieCheckInterval(), 60u);  // the initial value, not the default
  EXPECT_EQ(cfg().getContextMapBucketCount(), 4u);
  EXPECT_EQ(value("logdir"), "");
}

TEST_F(ConfigValuesTest, RunTimeChangesAndTheTraceThresholdThatFollows) {
  configure("zombie_check_interval=60 custom_key=c");
  EXPECT_FALSE(cfg().setParameter(u"instrument_level_threshold", u"0"));  // not changeable from pairs
  EXPECT_EQ(cfg().getInstrumentLevelThreshold(), 10u);
  EXPECT_FALSE(cfg().setParameter(u"custom_key", u"d"));
  EXPECT_FALSE(cfg().setParameter(u"no_such_key", u"1"));
  EXPECT_EQ(value("custom_key"), "c");
  EXPECT_EQ(value("no_such_key"), "");
  EXPECT_TRUE(cfg().setParameter(u"datasending_interval", u"120"));
  EXPECT_EQ(cfg().getDatasendingInterval(), 120u);
  EXPECT_EQ(cfg().getZombieCheckInterval(), 120u);  // limits derived again

  for (const std::string file : {"instrument_level_threshold = 6\n", "instrument_level_threshold_trace = 7\n"}) {
    SCOPED_TRACE(file);
    loadFile(file);
    const bool follows = file.find("_trace") == std::string::npos;
    EXPECT_EQ(cfg().getInstrumentLevelThresholdTrace(), follows ? 6u : 7u);
    EXPECT_TRUE(cfg().setParameter(u"instrument_level_threshold", u"3"));
    EXPECT_EQ(cfg().getInstrumentLevelThreshold(), 3u);
    EXPECT_EQ(cfg().getInstrumentLevelThresholdTrace(), follows ? 3u : 7u);
    EXPECT_FALSE(cfg().setParameter(u"instrument_level_threshold_trace", u"1"));
  }
}

}  // namespace
