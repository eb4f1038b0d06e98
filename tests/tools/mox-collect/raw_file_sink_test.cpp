#include "raw_file_sink.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/test_files.h"

namespace {

using moxcollect::Identity;
using moxcollect::rawFileName;
using moxcollect::RawFileSink;
using moxcollect::Record;

TEST(RawFileSink, NamesFilesAfterProcessAndInstanceAndKeepsThemInsideTheDirectory) {
  struct Case {
    Identity identity;
    const char* peerHost;
    const char* name;
  } cases[] = {
      {{"VEL_MOX", "mox-demo", "0"}, "127.0.0.1", "mox-demo_0_mtdata.log"},
      {{"VEL_MOX", "disp", "-1"}, "127.0.0.1", "disp_-1_mtdata.log"},
      {{"VEL_MOX", "", "12"}, "127.0.0.1", "VEL_MOX_12_mtdata.log"},
      {{"VEL_MOX", "../../etc/passwd", "1"}, "127.0.0.1", "_._.._etc_passwd_1_mtdata.log"},
      {{"S", "a b\xC3\xBC", ""}, "::1", "a_b___mtdata.log"},
      {{"S", std::string(300, 'x'), "7"}, "::1", nullptr},  // cut, see below
      {{}, "127.0.0.1", "unknown_127.0.0.1_mtdata.log"},
      {{}, "::1", "unknown___1_mtdata.log"},
  };
  for (const auto& c : cases) {
    const std::string name = rawFileName(c.identity, c.peerHost);
    if (c.name != nullptr) {
      EXPECT_EQ(name, c.name);
    }
    EXPECT_EQ(name.find('/'), std::string::npos) << name;
    EXPECT_NE(name.front(), '.') << name;
    EXPECT_LE(name.size(), 220u) << name;
  }
}

Record recordOf(const Identity& identity, const std::string& raw) {
  Record record;
  record.identity = identity;
  record.raw = raw;
  record.peerHost = "127.0.0.1";
  return record;
}

TEST(RawFileSink, AppendsEachElementAndALineFeedPerProcess) {
  testsupport::TempDir dir;
  std::ostringstream log;
  const Identity a{"S", "a", "1"};
  const Identity b{"S", "b", "2"};
  {
    RawFileSink sink(dir.path(), log);
    sink.write(recordOf(a, "<metric n=\"1\" />"));
    sink.write(recordOf(b, "<metric n=\"2\" />"));
    sink.write(recordOf(a, "<event x=\"&amp;\"></event>"));
    sink.finish();
    EXPECT_FALSE(sink.failed());
  }
  {
    RawFileSink sink(dir.path(), log);  // a second run appends
    sink.write(recordOf(a, "<metric n=\"3\" />"));
    sink.finish();
  }
  EXPECT_EQ(testsupport::readFile(dir.file("a_1_mtdata.log")),
            "<metric n=\"1\" />\n<event x=\"&amp;\"></event>\n<metric n=\"3\" />\n");
  EXPECT_EQ(testsupport::readFile(dir.file("b_2_mtdata.log")), "<metric n=\"2\" />\n");
  EXPECT_EQ(log.str(), "");
}

TEST(RawFileSink, FailsOnceWhenTheDirectoryCannotBeWritten) {
  testsupport::TempDir dir;
  std::ostringstream log;
  RawFileSink sink(dir.file("missing"), log);
  sink.write(recordOf({"S", "a", "1"}, "<m />"));
  sink.write(recordOf({"S", "a", "1"}, "<m />"));
  EXPECT_TRUE(sink.failed());
  EXPECT_EQ(testsupport::countOf(log.str(), "cannot write"), 1u);
}

}  // namespace
