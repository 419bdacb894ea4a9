// The entry point of the Windows test programs (run under Wine).
//
// Now and then Wine never finishes a test program's exit after every test has
// reported: the verdict printed, the process still there when ctest's two
// minutes ran out (about one process in a few hundred on a loaded machine, in
// tests that start no thread of their own). The verdict is in by then, so the
// program ends at once, without the runtime's and the system's teardown. The
// plugin's own unload and Notepad++'s exit are checked elsewhere (the entry
// points test, the real-host suite's clean exit).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  std::fflush(stdout);
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(result));
  return result;
}
