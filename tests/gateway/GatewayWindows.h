// Windows test helpers: a real Scintilla view, and a receiver window of our own that
// records what arrives and answers what the test tells it to.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "npp/SciMsg.h"

inline UINT M(SciMsg m) { return static_cast<UINT>(m); }

struct Received {
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  std::string lParamText;  // the zero-terminated bytes at lParam, when asked to capture them
};

class Recorder {
 public:
  Recorder();
  ~Recorder();
  HWND Handle() const { return hwnd; }
  // Reply for one message number (default 0).
  void Answer(UINT msg, LRESULT reply);
  void CaptureText(bool on) { capture = on; }
  const std::vector<Received>& Log() const { return log; }
  void Clear() { log.clear(); }

 private:
  static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
  HWND hwnd = nullptr;
  std::vector<Received> log;
  std::vector<std::pair<UINT, LRESULT>> answers;
  bool capture = false;
};

// A Scintilla view that lives as long as the object.
class ScintillaView {
 public:
  ScintillaView();
  ~ScintillaView();
  HWND Handle() const { return hwnd; }
  LRESULT Send(UINT msg, WPARAM w = 0, LPARAM l = 0) const { return SendMessageA(hwnd, msg, w, l); }

 private:
  HWND hwnd = nullptr;
};
