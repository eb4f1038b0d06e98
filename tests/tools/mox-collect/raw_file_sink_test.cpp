#include "raw_file_sink.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/test_files.h"

namespace {

using moxcollect::Identity;

TEST(RawFileSink, NamesFilesAfterProcessAndInstanceAndKeepsThemInsideTheDirectory) {
  const std::tuple<Identity, const char*, std::string> cases[] = {
      {{"VEL_MOX", "mox-demo", "0"}, "127.0.0.1", "mox-demo_0_mtdata.log"},
      {{"VEL_MOX", "disp", "-1"}, "127.0.0.1", "disp_-1_mtdata.log"},
      {{"VEL_MOX", "", "12"}, "127.0.0.1", "VEL_MOX_12_mtdata.log"},
      {{"VEL_MOX", "../../etc/passwd", "1"}, "127.0.0.1", "_._.._etc_passwd_1_mtdata.log"},
      {{"S", "a b\xC3\xBC", ""}, "::1", "a_b___mtdata.log"},
      {{"S", std::string(300, 'x'), "7"}, "::1", std::string(100, 'x') + "_7_mtdata.log"},
      {{}, "127.0.0.1", "unknown_127.0.0.1_mtdata.log"},
      {{}, "::1", "unknown___1_mtdata.log"},
  };
  for (const auto& [identity, peerHost, name] : cases) EXPECT_EQ(moxcollect::rawFileName(identity, peerHost), name);
}

moxcollect::Record recordOf(const std::string& process, const std::string& raw) {
  moxcollect::Record record;
  record.identity = Identity{"S", process, "1"};
  record.raw = raw;
  return record;
}

TEST(RawFileSink, AppendsEachElementAndALineFeedPerProcessAcrossRunsAndReportsAFailureOnce) {
  testsupport::TempDir dir;
  std::ostringstream log;
  for (const std::string run : {"1", "2"}) {
    moxcollect::RawFileSink sink(dir.path(), log);
    sink.write(recordOf("a", "<metric n=\"" + run + "\" />"));
    sink.write(recordOf("b", "<event x=\"&amp;\"></event>"));
    sink.finish();
    EXPECT_FALSE(sink.failed());
  }
  EXPECT_EQ(testsupport::readFile(dir.file("a_1_mtdata.log")), "<metric n=\"1\" />\n<metric n=\"2\" />\n");
  EXPECT_EQ(testsupport::readFile(dir.file("b_1_mtdata.log")),
            std::string("<event x=\"&amp;\"></event>\n") + "<event x=\"&amp;\"></event>\n");
  EXPECT_EQ(log.str(), "");

  moxcollect::RawFileSink broken(dir.file("missing"), log);
  broken.write(recordOf("a", "<m />"));
  broken.write(recordOf("a", "<m />"));
  EXPECT_TRUE(broken.failed());
  EXPECT_EQ(testsupport::countOf(log.str(), "cannot write"), 1u);
}

}  // namespace
