#include "GatewayWindows.h"

#include <stdexcept>

#include "Scintilla.h"

Recorder::Recorder() {
  static const ATOM atom = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &Recorder::Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"SiftwellGatewayRecorder";
    return RegisterClassW(&wc);
  }();
  if (!atom) throw std::runtime_error("RegisterClass failed");
  hwnd = CreateWindowExW(0, L"SiftwellGatewayRecorder", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                         GetModuleHandleW(nullptr), this);
  if (!hwnd) throw std::runtime_error("CreateWindow failed");
}

Recorder::~Recorder() { DestroyWindow(hwnd); }

void Recorder::Answer(UINT msg, LRESULT reply) { answers.emplace_back(msg, reply); }

LRESULT CALLBACK Recorder::Proc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  if (msg == WM_NCCREATE) {
    SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams));
  }
  auto* self = reinterpret_cast<Recorder*>(GetWindowLongPtrW(h, GWLP_USERDATA));
  if (!self || msg < WM_USER) return DefWindowProcW(h, msg, w, l);
  Received r{msg, w, l, {}};
  if (self->capture && l != 0) r.lParamText = reinterpret_cast<const char*>(l);
  self->log.push_back(r);
  for (auto it = self->answers.rbegin(); it != self->answers.rend(); ++it)
    if (it->first == msg) return it->second;
  return 0;
}

ScintillaView::ScintillaView() {
  static const bool registered = Scintilla_RegisterClasses(GetModuleHandleW(nullptr)) != 0;
  if (!registered) throw std::runtime_error("Scintilla_RegisterClasses failed");
  hwnd = CreateWindowExW(0, L"Scintilla", L"", WS_CHILD, 0, 0, 400, 300, HWND_MESSAGE, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
  if (!hwnd) throw std::runtime_error("cannot create a Scintilla view");
}

ScintillaView::~ScintillaView() { DestroyWindow(hwnd); }
