// "localhost" is the loopback address even where the resolver does not know it.
#include <gtest/gtest.h>

#include "ni/ni_internal.h"

TEST(NiLoopbackName, LocalhostAndNamesUnderItInAnyCaseButNothingElse) {
  for (const char* name : {"localhost", "LocalHost", "localhost.", "db.localhost", "A.B.LOCALHOST."}) {
    EXPECT_TRUE(niIsLoopbackName(name)) << name;
  }
  for (const char* name : {"", ".", "localhos", "mylocalhost", "localhost.com", "localhost..", "local-host"}) {
    EXPECT_FALSE(niIsLoopbackName(name)) << name;
  }
}
