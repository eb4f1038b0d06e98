// Files of a configured directory.
#include "common/file_path.h"

#include <gtest/gtest.h>

TEST(FilePath, EmptyOrNulDirectoryMeansTheWorkingDirectory) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"/var/log", u"/var/log/app.log"},
      {u"rel", u"rel/app.log"},
      {u"/", u"//app.log"},                          // as given: the root itself stays a directory
      {u"", u"app.log"},                             // not "/app.log"
      {std::u16string(u"/tmp\0/x", 7), u"app.log"},  // not "/tmp/app.log" behind the NUL
  };
  for (const auto& [dir, expected] : cases) EXPECT_EQ(fileInDirectory(dir, u"app.log"), expected);
}
