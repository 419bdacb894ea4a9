// What the tests of the plugin's windows share: this module, a fixed document for
// the live count, the message loop, and control geometry.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>

#include "app/frmMyDlg.h"

namespace windowtests {

inline HINSTANCE Module() { return GetModuleHandleW(nullptr); }

inline std::string Narrow(std::wstring_view text) { return std::string(text.begin(), text.end()); }

// The live count's document: these bytes, as a view in that code page would hold them.
inline frmMyDlg::CountSource FixedDocument(std::string bytes, uint32_t codePage = 65001) {
  auto text = std::make_shared<siftwell::app::DocumentText>();
  text->bytes = std::move(bytes);
  text->codePage = codePage;
  return [text](bool) { return siftwell::app::DocumentCopy::Ready(text); };
}

// Runs pending messages, handing each to the dialog manager first (when there is a
// dialog), as the host's message loop does for the windows announced to it.
inline void Pump(HWND dialog = nullptr) {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (dialog != nullptr && IsDialogMessageW(dialog, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// Pumps until `done` holds or `ms` pass.
template <typename Done>
bool PumpUntil(Done done, DWORD ms = 5000) {
  const ULONGLONG end = GetTickCount64() + ms;
  while (!done()) {
    if (GetTickCount64() >= end) return false;
    Pump();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return true;
}

// A control's rectangle in its parent's client coordinates.
inline RECT ChildRect(HWND child) {
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

}  // namespace windowtests
