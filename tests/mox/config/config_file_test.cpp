// mox.conf: line syntax, where the file is looked for, and damaged files.
#include <random>

#include "config_test_support.h"
#include "mox/config/flatfile_profile.h"

using namespace std::string_literals;

namespace {

using ConfigFileTest = ConfigTest;

TEST_F(ConfigFileTest, LineSyntax) {
  loadFile(
      "   tracecheck_interval  =  7   \n"
      "   # datasending_interval = 30\n"
      "logdir =\n"
      "system_name =  A=B # not a comment  \n"
      "trace_preview_timeout = 45\n"
      "trace_preview_timeout = 99\n"
      "= 5\n"
      "no equals sign here\n"
      "\n"
      "key#1 = x\n"
      "\tperf_metric_scope = 3\n"
      "datasending_method = file\r\n"
      "lib_trace_level=3");
  EXPECT_EQ(cfg().getTracecheckInterval(), 7u);
  EXPECT_EQ(cfg().getDatasendingInterval(), 60u);  // comment line
  EXPECT_EQ(value("logdir"), "/usr/vel/mox/log");  // empty value keeps the default
  EXPECT_EQ(value("system_name"), "A=B # not a comment");
  EXPECT_EQ(cfg().getTracePreviewTimeout(), 45u);  // the first line of a key wins
  EXPECT_EQ(value("key#1"), "x");                  // "#" after the first non-blank is text
  EXPECT_EQ(value("\tperf_metric_scope"), "3");    // a tab is not a blank
  EXPECT_EQ(value("datasending_method"), "file");  // carriage return dropped
  EXPECT_EQ(cfg().getLibTraceLevel(), 3);          // last line without line feed
  EXPECT_EQ(value(""), "");

  loadFile("\xEF\xBB\xBFsystem_name = Pr\xC3\xBC"s + "f \xE2\x82\xAC\n");  // byte order mark
  EXPECT_EQ(cfg().getSystemName(), u"Pr\u00FCf \u20AC");
}

TEST_F(ConfigFileTest, ConfigDirThenWorkingDirectoryThenDefaults) {
  std::ofstream(workDir_ / "mox.conf") << "tracecheck_interval = 8\nzombie_timeout = 5000\n";
  loadFile("tracecheck_interval = 9\n");
  EXPECT_EQ(cfg().getTracecheckInterval(), 9u);
  EXPECT_EQ(cfg().getZombieTimeout(), 1800u);  // only one file is read

  std::filesystem::remove(configDir_ / "mox.conf");
  load();
  EXPECT_EQ(cfg().getTracecheckInterval(), 8u);
  std::filesystem::create_directory(configDir_ / "mox.conf");  // not a regular file
  load();
  EXPECT_EQ(cfg().getTracecheckInterval(), 8u);
  load(u"\xD800");  // not convertible
  EXPECT_EQ(cfg().getTracecheckInterval(), 8u);

  std::filesystem::remove(workDir_ / "mox.conf");
  load();
  EXPECT_EQ(cfg().getTracecheckInterval(), 5u);
  EXPECT_EQ(value("logdir"), "/usr/vel/mox/log");
}

TEST_F(ConfigFileTest, BinaryAndHugeContentIsHarmless) {
  std::mt19937 random(12345);
  std::string bytes;
  for (int i = 0; i < 200000; ++i) bytes.push_back(static_cast<char>(random() & 0xFF));
  bytes += "\nsystem_name = with\0nul\n"s + "\xFF\xFE\xC3 = \xED\xA0\x80\x80\n";  // invalid UTF-8 on both sides
  bytes += "max_components_per_transaction = " + std::string(1 << 19, '7') + "\n\ntracecheck_interval = 9\n";
  loadFile(bytes);
  EXPECT_EQ(cfg().getTracecheckInterval(), 9u);
  EXPECT_EQ(cfg().getSystemName(), std::u16string(u"with\0nul", 8));
  cfg().getMaxComponentsPerTransaction();  // wrapped, not undefined
  EXPECT_EQ(cfg().getInstrumentLevelThreshold(), 10u);
}

TEST_F(ConfigFileTest, OversizedFileIsRefusedAndTheDefaultsStand) {
  std::ofstream(workDir_ / "mox.conf") << "tracecheck_interval = 8\n";  // not read instead of a refused file
  const uint64_t limit = moxprofile::kConfigFileMaxBytes;
  for (const auto& [size, expected] : {std::pair{limit, 9u}, {limit + 1, 5u}, {uint64_t{2} << 30, 5u}}) {
    // Sparse after the setting, so even the 2 GiB file costs nothing to make.
    std::ofstream(configDir_ / "mox.conf") << "tracecheck_interval = 9\n";
    std::filesystem::resize_file(configDir_ / "mox.conf", size);
    load();
    EXPECT_EQ(cfg().getTracecheckInterval(), expected) << size;
  }
}

}  // namespace
