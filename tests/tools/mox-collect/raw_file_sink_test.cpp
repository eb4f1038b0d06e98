#include "raw_file_sink.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/test_files.h"

namespace {

using moxcollect::Identity;
using moxcollect::rawFileName;
using moxcollect::Record;

TEST(RawFileSink, NamesFilesAfterProcessAndInstanceAndKeepsThemInsideTheDirectory) {
  const struct {
    Identity identity;
    const char* peerHost;
    const char* name;  // nullptr: only the safety rules are checked
  } cases[] = {
      {{"VEL_MOX", "mox-demo", "0"}, "127.0.0.1", "mox-demo_0_mtdata.log"},
      {{"VEL_MOX", "disp", "-1"}, "127.0.0.1", "disp_-1_mtdata.log"},
      {{"VEL_MOX", "", "12"}, "127.0.0.1", "VEL_MOX_12_mtdata.log"},
      {{"VEL_MOX", "../../etc/passwd", "1"}, "127.0.0.1", "_._.._etc_passwd_1_mtdata.log"},
      {{"S", "a b\xC3\xBC", ""}, "::1", "a_b___mtdata.log"},
      {{"S", std::string(300, 'x'), "7"}, "::1", nullptr},
      {{}, "127.0.0.1", "unknown_127.0.0.1_mtdata.log"},
      {{}, "::1", "unknown___1_mtdata.log"},
  };
  for (const auto& c : cases) {
    const std::string name = rawFileName(c.identity, c.peerHost);
    EXPECT_EQ(name, c.name ? c.name : name);
    EXPECT_EQ(name.find('/'), std::string::npos) << name;
    EXPECT_NE(name.front(), '.') << name;
    EXPECT_LE(name.size(), 220u) << name;
  }
}

Record recordOf(const std::string& process, const std::string& raw) {
  Record record;
  record.identity = Identity{"S", process, "1"};
  record.raw = raw;
  return record;
}

TEST(RawFileSink, AppendsEachElementAndALineFeedPerProcessAcrossRuns) {
  testsupport::TempDir dir;
  std::ostringstream log;
  for (const char* run : {"1", "2"}) {
    moxcollect::RawFileSink sink(dir.path(), log);
    sink.write(recordOf("a", "<metric n=\"" + std::string(run) + "\" />"));
    sink.write(recordOf("b", "<event x=\"&amp;\"></event>"));
    sink.finish();
    EXPECT_FALSE(sink.failed());
  }
  EXPECT_EQ(testsupport::readFile(dir.file("a_1_mtdata.log")), "<metric n=\"1\" />\n<metric n=\"2\" />\n");
  const std::string event = "<event x=\"&amp;\"></event>\n";
  EXPECT_EQ(testsupport::readFile(dir.file("b_1_mtdata.log")), event + event);
  EXPECT_EQ(log.str(), "");

  moxcollect::RawFileSink broken(dir.file("missing"), log);
  broken.write(recordOf("a", "<m />"));
  broken.write(recordOf("a", "<m />"));
  EXPECT_TRUE(broken.failed());
  EXPECT_EQ(testsupport::countOf(log.str(), "cannot write"), 1u);
}

}  // namespace
