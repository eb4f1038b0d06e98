// main of the export-level tests under Wine: runs the tests, then ends the
// process with their result at once, so that the run's result never depends
// on the loader's detach of the DLLs. A process that loaded mox.dll used to
// stall there now and then (a lock of a killed thread waited for at the
// process's end; mox.dll's entry point now skips that detach).
// MOX_TEST_NATURAL_EXIT=1 takes the ordinary exit instead, to check it.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  const int failed = RUN_ALL_TESTS();
  std::fflush(nullptr);
  if (std::getenv("MOX_TEST_NATURAL_EXIT") != nullptr) return failed;
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(failed));
  return failed;
}
