// Files of a configured directory.
#include "common/file_path.h"

#include <gtest/gtest.h>

TEST(FilePath, EmptyOrNulDirectoryMeansTheWorkingDirectory) {
  struct Case {
    std::u16string dir;
    std::u16string expected;
  };
  const Case cases[] = {
      {u"/var/log", u"/var/log/app.log"},
      {u"rel", u"rel/app.log"},
      {u"/", u"//app.log"},                          // as given: the root itself stays a directory
      {u"", u"app.log"},                             // not "/app.log"
      {std::u16string(u"/tmp\0/x", 7), u"app.log"},  // not "/tmp/app.log" behind the NUL
      {std::u16string(u"\0", 1), u"app.log"},
  };
  for (const Case& c : cases) EXPECT_EQ(fileInDirectory(c.dir, u"app.log"), c.expected);
}
