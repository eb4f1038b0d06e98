// mox.conf: line syntax, where the file is looked for, and damaged files.
#include <random>
#include <string>

using namespace std::string_literals;

#include "config_test_support.h"
#include "mox/config/config_sources.h"
#include "mox/config/flatfile_profile.h"

namespace {

class ConfigFileTest : public ConfigTest {
 protected:
  void loadFromConfigDir(const std::string& text) {
    writeFile(configDir_ / "mox.conf", text);
    configureFromProfileDir(cfg(), configDir16());
  }
};

TEST_F(ConfigFileTest, LineSyntax) {
  loadFromConfigDir(
      "   tracecheck_interval  =  7   \n"
      "   # datasending_interval = 30\n"
      "logdir =\n"
      "agent_host =    \n"
      "system_name =  A=B # not a comment  \n"
      "trace_preview_timeout = 45\n"
      "trace_preview_timeout = 99\n"
      "= 5\n"
      "no equals sign here\n"
      "\n"
      "      \n"
      "key#1 = x\n"
      "\tperf_metric_scope = 3\n"
      "datasending_method = file\r\n"
      "lib_trace_level=3");

  EXPECT_EQ(cfg().getTracecheckInterval(), 7u);
  EXPECT_EQ(cfg().getDatasendingInterval(), 60u);  // comment line
  EXPECT_EQ(value("logdir"), "/usr/vel/mox/log");  // empty value keeps the default
  EXPECT_EQ(value("agent_host"), "localhost");
  EXPECT_EQ(value("system_name"), "A=B # not a comment");
  EXPECT_EQ(cfg().getTracePreviewTimeout(), 45u);  // the first line of a key wins
  EXPECT_EQ(value("key#1"), "x");                  // "#" after the first non-blank is text
  EXPECT_EQ(value("\tperf_metric_scope"), "3");    // a tab is not a blank
  EXPECT_EQ(cfg().getPerfMetricScope(), 0u);
  EXPECT_EQ(value("datasending_method"), "file");  // carriage return dropped
  EXPECT_EQ(cfg().getLibTraceLevel(), 3);          // last line without line feed
  EXPECT_EQ(value(""), "");
}

TEST_F(ConfigFileTest, Utf8TextAndByteOrderMark) {
  loadFromConfigDir("\xEF\xBB\xBFsystem_name = Pr\xC3\xBC" "f \xE2\x82\xAC\n");
  EXPECT_EQ(cfg().getSystemName(), u"Pr\u00FCf \u20AC");
}

TEST_F(ConfigFileTest, ConfigDirWinsOverWorkingDirectory) {
  writeFile(workDir_ / "mox.conf", "tracecheck_interval = 8\nzombie_timeout = 5000\n");
  loadFromConfigDir("tracecheck_interval = 9\n");
  EXPECT_EQ(cfg().getTracecheckInterval(), 9u);
  EXPECT_EQ(cfg().getZombieTimeout(), 1800u);  // only one file is read
}

TEST_F(ConfigFileTest, FallsBackToWorkingDirectoryThenToDefaults) {
  writeFile(workDir_ / "mox.conf", "tracecheck_interval = 8\n");
  configureFromProfileDir(cfg(), configDir16());
  EXPECT_EQ(cfg().getTracecheckInterval(), 8u);

  CConfiguration::destroyInstance();
  std::filesystem::remove(workDir_ / "mox.conf");
  configureFromProfileDir(cfg(), configDir16());
  EXPECT_EQ(cfg().getTracecheckInterval(), 5u);
  EXPECT_EQ(value("logdir"), "/usr/vel/mox/log");
  EXPECT_EQ(value("instrument_level_threshold_trace"), "");
}

TEST_F(ConfigFileTest, UnusableConfigPathsFallBackToWorkingDirectory) {
  writeFile(workDir_ / "mox.conf", "tracecheck_interval = 8\n");

  std::filesystem::create_directory(configDir_ / "mox.conf");  // not a regular file
  configureFromProfileDir(cfg(), configDir16());
  EXPECT_EQ(cfg().getTracecheckInterval(), 8u);

  CConfiguration::destroyInstance();
  configureFromProfileDir(cfg(), configDir16() + u"\xD800");  // not convertible
  EXPECT_EQ(cfg().getTracecheckInterval(), 8u);
}

TEST_F(ConfigFileTest, DefaultLocationFollowsMoxConfig) {
  setenv("MOX_CONFIG", configDir_.c_str(), 1);
  writeFile(configDir_ / "mox.conf", "tracecheck_interval = 11\n");
  configureFromDefaultLocation(cfg());
  EXPECT_EQ(cfg().getConfigDir(), configDir16());
  EXPECT_EQ(cfg().getTracecheckInterval(), 11u);
}

TEST_F(ConfigFileTest, EmptyMoxConfigUsesBuiltInDirectory) {
  if (std::filesystem::exists("/usr/vel/mox/config/mox.conf")) GTEST_SKIP() << "machine has a real mox.conf";
  setenv("MOX_CONFIG", "", 1);
  writeFile(workDir_ / "mox.conf", "tracecheck_interval = 12\n");
  configureFromDefaultLocation(cfg());
  EXPECT_EQ(cfg().getConfigDir(), u"/usr/vel/mox/config");
  EXPECT_EQ(cfg().getTracecheckInterval(), 12u);
  // The file read makes the threshold changeable.
  EXPECT_TRUE(cfg().setParameter(u"instrument_level_threshold", u"4"));
}

TEST_F(ConfigFileTest, BinaryAndHugeContentIsHarmless) {
  std::mt19937 random(12345);
  std::string bytes;
  for (int i = 0; i < 200000; ++i) bytes.push_back(static_cast<char>(random() & 0xFF));
  bytes += "\nsystem_name = with\0nul\n"s;
  bytes += "\xFF\xFE\xC3 = \xED\xA0\x80\x80\n";        // invalid UTF-8 on both sides
  bytes += "max_components_per_transaction = " + std::string(1 << 20, '7') + "\n";
  bytes += "\ntracecheck_interval = 9\n";
  loadFromConfigDir(bytes);

  EXPECT_EQ(cfg().getTracecheckInterval(), 9u);
  EXPECT_EQ(cfg().getSystemName(), std::u16string(u"with\0nul", 8));
  cfg().getMaxComponentsPerTransaction();  // wrapped, not undefined
  EXPECT_EQ(cfg().getInstrumentLevelThreshold(), 10u);
}

TEST_F(ConfigFileTest, ProfileStatusAndContents) {
  cfg().setConfigDir(configDir16());
  moxprofile::CFlatfileProfile profile;
  EXPECT_EQ(profile.getStatus(), moxprofile::kProfileNotRead);

  ParameterMap untouched{{u"k", CParameter{u"k", u"v", true}}};
  profile.load(untouched, cfg());
  EXPECT_EQ(profile.getStatus(), moxprofile::kProfileNotOpened);
  EXPECT_EQ(untouched.size(), 1u);

  writeFile(configDir_ / "mox.conf", "a = 1\nb = 2\n");
  ParameterMap loaded;
  profile.load(loaded, cfg());
  EXPECT_EQ(profile.getStatus(), moxprofile::kProfileRead);
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_EQ(loaded[u"b"].value, u"2");
  EXPECT_FALSE(loaded[u"b"].changeable);
}

}  // namespace
