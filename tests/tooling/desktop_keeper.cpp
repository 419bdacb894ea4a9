// Holds Wine's desktop open for a whole test run. Wine closes its desktop
// (and ends its explorer.exe) a while after the last program on it exits;
// each test program then starts a new one, which keeps the test's output
// pipe open until it goes, so every window-opening test took about 20 s
// instead of a fraction of one. This program only has a message-only window
// on the desktop and waits; scripts/test starts it and ends it.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // (Never shown and never focused: the tests that type keys are not disturbed.)
  const HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  if (window == nullptr) return 1;
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}
