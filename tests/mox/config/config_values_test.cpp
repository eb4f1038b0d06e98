// Typed fields, limits, run-time changes and the parameter pairs.
#include <vector>

#include "config_test_support.h"
#include "mox/config/config_sources.h"

namespace {

class ConfigValuesTest : public ConfigTest {
 protected:
  // A fresh configuration from (key, value) pairs given as ASCII.
  void configure(std::vector<std::pair<const char*, const char*>> pairs) {
    CConfiguration::destroyInstance();
    std::vector<std::u16string> texts;
    for (auto& [k, v] : pairs) {
      texts.push_back(asciiToUtf16(k));
      texts.push_back(asciiToUtf16(v));
    }
    std::vector<const char16_t*> pointers;
    for (auto& t : texts) pointers.push_back(t.c_str());
    configureFromPairs(cfg(), static_cast<uint32_t>(pairs.size()), pointers.data());
  }
};

TEST_F(ConfigValuesTest, InitialValuesStayWhenTwentyFourPairsAreGiven) {
  configure(std::vector<std::pair<const char*, const char*>>(24, {"datasending_interval", "30"}));
  EXPECT_EQ(cfg().getInstrumentLevelThreshold(), 10u);
  EXPECT_EQ(cfg().getDatasendingInterval(), 60u);
  EXPECT_EQ(cfg().getZombieCheckInterval(), 60u);
  EXPECT_EQ(cfg().getAgentPort(5), 59818u);
  EXPECT_EQ(cfg().getContextMapBucketCount(), 4u);  // empty value
  EXPECT_EQ(value("logdir"), "");

  configure({});  // defaults after conversion
  EXPECT_EQ(cfg().getZombieCheckInterval(), 300u);
  EXPECT_EQ(cfg().getTracecheckInterval(), 5u);
  EXPECT_EQ(cfg().getContextMapBucketCount(), 16u);
  EXPECT_EQ(cfg().getSystemName(), u"VEL_MOX");
  EXPECT_EQ(cfg().getLogdir(), u"/usr/vel/mox/log");
}

TEST_F(ConfigValuesTest, IntervalLimitsFollowEachOther) {
  configure({{"datasending_interval", "10"},
             {"zombie_check_interval", "5"},
             {"zombie_timeout", "1"},
             {"empty_timeout", "3"}});
  EXPECT_EQ(cfg().getDatasendingInterval(), 15u);
  EXPECT_EQ(cfg().getZombieCheckInterval(), 15u);
  EXPECT_EQ(cfg().getZombieTimeout(), 15u);
  EXPECT_EQ(cfg().getEmptyTimeout(), 15u);

  configure({{"zombie_check_interval", "20"}, {"zombie_timeout", "10"}});
  EXPECT_EQ(cfg().getZombieCheckInterval(), 60u);
  EXPECT_EQ(cfg().getZombieTimeout(), 60u);
  EXPECT_EQ(cfg().getEmptyTimeout(), 300u);

  configure({{"datasending_interval", "0"}, {"zombie_check_interval", "20"}});
  EXPECT_EQ(cfg().getDatasendingInterval(), 0u);
  EXPECT_EQ(cfg().getZombieCheckInterval(), 20u);

  configure({{"datasending_interval", "x"}, {"zombie_check_interval", "0"}, {"empty_timeout", "0"}});
  EXPECT_EQ(cfg().getDatasendingInterval(), 0u);  // no digits: sending off
  EXPECT_EQ(cfg().getZombieCheckInterval(), 0u);
  EXPECT_EQ(cfg().getEmptyTimeout(), 0u);
}

TEST_F(ConfigValuesTest, LowerLimits) {
  configure({{"tracecheck_interval", "1"},
             {"tracesize_threshold", "abc"},
             {"trace_preview_timeout", "29"},
             {"auto_transaction_trace_threshold", "59"},
             {"cache_section_count", "1"}});
  EXPECT_EQ(cfg().getTracecheckInterval(), 2u);
  EXPECT_EQ(cfg().getTracesizeThreshold(), 10000u);
  EXPECT_EQ(cfg().getTracePreviewTimeout(), 30u);
  EXPECT_EQ(cfg().getAutoTransactionTraceThreshold(), 60u);
  EXPECT_EQ(cfg().getCacheSectionCount(), 2u);

  configure({{"tracecheck_interval", "0"},
             {"tracesize_threshold", "-1"},
             {"cache_section_count", "65536"},
             {"agent_port", "70000"}});
  EXPECT_EQ(cfg().getTracecheckInterval(), 0u);
  EXPECT_EQ(cfg().getTracesizeThreshold(), 4294967295u);  // negative passes "at least"
  EXPECT_EQ(cfg().getCacheSectionCount(), 2u);            // 65536 cut to 16 bits is 0
  EXPECT_EQ(cfg().getAgentPort(), 70000u - 65536u);
}

TEST_F(ConfigValuesTest, BucketCountRounding) {
  const std::pair<const char*, uint16_t> cases[] = {{"0", 4},       {"4", 4},         {"5", 8},         {"17", 32},
                                                    {"1024", 1024}, {"32768", 32768}, {"32769", 32768}, {"-1", 32768}};
  for (const auto& [text, expected] : cases) {
    configure({{"context_map_bucket", text}});
    EXPECT_EQ(cfg().getContextMapBucketCount(), expected) << text;
  }
}

TEST_F(ConfigValuesTest, FurtherAgentsKeepInitialValuesUnlessGiven) {
  configure({{"agent_port_3", "6000"}, {"agent_type_4", "7"}, {"agent_host_2", "h2"}, {"agent_port", "1"}});
  const uint16_t ports[] = {1, 59818, 6000, 59818, 59818};
  const uint16_t types[] = {2, 2, 2, 7, 2};
  for (int agent = 1; agent <= 5; ++agent) {
    EXPECT_EQ(cfg().getAgentPort(agent), ports[agent - 1]) << agent;
    EXPECT_EQ(cfg().getAgentType(agent), types[agent - 1]) << agent;
  }
  EXPECT_EQ(cfg().getAgentPort(0), 1u);  // out of range means the first agent
  EXPECT_EQ(cfg().getAgentHost(2), u"h2");
  EXPECT_EQ(cfg().getAgentHost(3), u"");
  EXPECT_EQ(cfg().getAgentHost(9), u"localhost");
}

TEST_F(ConfigValuesTest, PairsSkipEmptyAndRepeatedEntries) {
  const char16_t* pairs[] = {u"datasending_interval", u"30",   nullptr, u"1", u"tracecheck_interval",  u"",
                             u"tracecheck_interval",  nullptr, u"",     u"9", u"datasending_interval", u"45",
                             u"custom_key",           u"c"};
  configureFromPairs(cfg(), 7, pairs);
  EXPECT_EQ(cfg().getDatasendingInterval(), 30u);
  EXPECT_EQ(cfg().getTracecheckInterval(), 5u);
  EXPECT_EQ(value("custom_key"), "c");
  CConfiguration::destroyInstance();
  configureFromPairs(cfg(), 3, nullptr);
  EXPECT_EQ(value("system_name"), "VEL_MOX");
}

TEST_F(ConfigValuesTest, SetParameterAfterPairs) {
  configure({{"zombie_check_interval", "60"}, {"custom_key", "c"}});
  EXPECT_FALSE(cfg().setParameter(u"instrument_level_threshold", u"0"));  // not changeable from pairs
  EXPECT_EQ(cfg().getInstrumentLevelThreshold(), 10u);
  EXPECT_FALSE(cfg().setParameter(u"custom_key", u"d"));
  EXPECT_FALSE(cfg().setParameter(u"no_such_key", u"1"));
  EXPECT_EQ(value("custom_key"), "c");
  EXPECT_EQ(value("no_such_key"), "");
  EXPECT_TRUE(cfg().setParameter(u"datasending_interval", u"120"));
  EXPECT_EQ(cfg().getDatasendingInterval(), 120u);
  EXPECT_EQ(cfg().getZombieCheckInterval(), 120u);
}

TEST_F(ConfigValuesTest, TraceThresholdFollowsUnlessConfigured) {
  writeFile(configDir_ / "mox.conf", "instrument_level_threshold = 6\n");
  configureFromProfileDir(cfg(), configDir16());
  EXPECT_EQ(cfg().getInstrumentLevelThresholdTrace(), 6u);
  EXPECT_TRUE(cfg().setParameter(u"instrument_level_threshold", u"3"));
  EXPECT_EQ(cfg().getInstrumentLevelThreshold(), 3u);
  EXPECT_EQ(cfg().getInstrumentLevelThresholdTrace(), 3u);

  CConfiguration::destroyInstance();
  writeFile(configDir_ / "mox.conf", "instrument_level_threshold_trace = 7\n");
  configureFromProfileDir(cfg(), configDir16());
  EXPECT_TRUE(cfg().setParameter(u"instrument_level_threshold", u"3"));
  EXPECT_EQ(cfg().getInstrumentLevelThreshold(), 3u);
  EXPECT_EQ(cfg().getInstrumentLevelThresholdTrace(), 7u);
  EXPECT_FALSE(cfg().setParameter(u"instrument_level_threshold_trace", u"1"));
}

TEST_F(ConfigValuesTest, DumpListsEveryEntryInKeyOrder) {
  configure({{"zz_extra", "v=1"}, {"agent_host_2", "h\xC3"}});
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  cfg().dumpParameters(out);
  std::rewind(out);
  std::vector<std::string> lines;
  char buf[512];
  while (std::fgets(buf, sizeof buf, out)) lines.emplace_back(buf);
  std::fclose(out);

  ASSERT_EQ(lines.size(), 25u);
  EXPECT_EQ(lines[0], "Parameter Name: agent_host |Parameter Value: localhost\n");
  EXPECT_EQ(lines[1], "Parameter Name: agent_host_2 |Parameter Value: h\xC3\x83\n");
  EXPECT_EQ(lines.back(), "Parameter Name: zz_extra |Parameter Value: v=1\n");
  for (size_t i = 1; i < lines.size(); ++i) EXPECT_LT(lines[i - 1], lines[i]);
}

}  // namespace
