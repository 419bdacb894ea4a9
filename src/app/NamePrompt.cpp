#include "app/NamePrompt.h"

#include <windows.h>

#include <algorithm>

#include "npp/HostWindow.h"

namespace siftwell::app {

namespace {

constexpr wchar_t kClassName[] = L"SiftwellName";
constexpr SIZE kDesignClient{240, 84};
constexpr wchar_t kLabel[] = L"Name:";
constexpr int32_t kField = 100;

class Prompt : public siftwell::npp::ToolWindow {
 public:
  using ToolWindow::ToolWindow;

  bool Build(std::wstring_view title, std::wstring_view initial) {
    if (!Open(kClassName, std::wstring(title).c_str(), kDesignClient)) return false;
    siftwell::win::ThemeScope themed(Module());
    using siftwell::win::CreateControl;
    label_ = CreateControl(Handle(), Module(), L"Static", kLabel, SS_LEFT | SS_NOPREFIX, 0, RECT{}, 0, Font());
    field_ = CreateControl(Handle(), Module(), L"Edit", initial, WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL,
                           WS_EX_CLIENTEDGE, RECT{}, kField, Font());
    ok_ = CreateControl(Handle(), Module(), L"Button", L"OK", WS_TABSTOP | BS_DEFPUSHBUTTON, 0, RECT{}, IDOK, Font());
    cancel_ = CreateControl(Handle(), Module(), L"Button", L"Cancel", WS_TABSTOP | BS_PUSHBUTTON, 0, RECT{}, IDCANCEL,
                            Font());
    if (label_ == nullptr || field_ == nullptr || ok_ == nullptr || cancel_ == nullptr) return false;
    LayoutControls();
    ApplyHostTheme(false);
    return true;
  }

  // Shows it over `owner` and runs its own message loop until it is answered.
  std::optional<std::wstring> Ask(HWND owner) {
    RECT over{}, own{};
    if (owner != nullptr && GetWindowRect(owner, &over) && GetWindowRect(Handle(), &own)) {
      MoveTo(POINT{over.left + (over.right - over.left - (own.right - own.left)) / 2, over.top});
      SetWindowLongPtrW(Handle(), GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
    }
    const bool ownerWasEnabled = owner != nullptr && IsWindowEnabled(owner);
    if (ownerWasEnabled) EnableWindow(owner, FALSE);
    Show();
    SetForegroundWindow(Handle());
    SetFocus(field_);
    SendMessageW(field_, EM_SETSEL, 0, -1);
    MSG msg{};
    bool quit = false;
    while (!answered_ && !IsClosed()) {
      const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
      if (got == 0 || got == -1) {
        quit = got == 0;
        break;
      }
      if (!IsDialogMessageW(Handle(), &msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
    std::optional<std::wstring> answer;
    if (accepted_) {
      std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(field_)) + 1, L'\0');
      text.resize(static_cast<std::size_t>(GetWindowTextW(field_, text.data(), static_cast<int>(text.size()))));
      answer = std::move(text);
    }
    // The owner comes back before this window goes, so that it gets the activation.
    if (ownerWasEnabled) EnableWindow(owner, TRUE);
    if (owner != nullptr) SetForegroundWindow(owner);
    if (quit) PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop that waits for it
    return answer;
  }

 protected:
  void LayoutControls() override {
    RECT client{};
    GetClientRect(Handle(), &client);
    const auto& f = Font();
    const int32_t margin = f.X(8);
    const int32_t line = f.CharHeight();
    const int32_t fieldH = std::max<int32_t>(f.Y(20), line + MulDiv(6, static_cast<int>(f.Dpi()), 96));
    const int32_t buttonH = std::max<int32_t>(f.Y(23), line + MulDiv(10, static_cast<int>(f.Dpi()), 96));
    const int32_t buttonW = std::max<int32_t>(f.X(75), f.TextExtent(L"Cancel").cx + f.X(16));
    auto place = [&](HWND control, int32_t x, int32_t y, int32_t w, int32_t h) {
      SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(f.Handle()), FALSE);
      MoveWindow(control, x, y, w, h, TRUE);
    };
    const SIZE label = f.TextExtent(kLabel);
    place(label_, margin, f.Y(10), label.cx, label.cy);
    place(field_, margin, f.Y(10) + label.cy + f.Y(3), client.right - 2 * margin, fieldH);
    const int32_t buttonsY = client.bottom - buttonH - f.Y(8);
    place(cancel_, client.right - margin - buttonW, buttonsY, buttonW, buttonH);
    place(ok_, client.right - 2 * margin - 2 * buttonW + f.X(2), buttonsY, buttonW, buttonH);
  }

  LRESULT OnMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
    if (msg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
      answered_ = true;
      accepted_ = LOWORD(wParam) == IDOK;
      return 0;
    }
    if (msg == WM_CLOSE) {
      answered_ = true;
      return 0;
    }
    return ToolWindow::OnMessage(hwnd, msg, wParam, lParam);
  }

 private:
  HWND label_ = nullptr, field_ = nullptr, ok_ = nullptr, cancel_ = nullptr;
  bool answered_ = false, accepted_ = false;
};

}  // namespace

std::optional<std::wstring> PromptName(HINSTANCE module, HWND host, HWND owner, std::wstring_view title,
                                       std::wstring_view initial) {
  auto prompt = std::make_unique<Prompt>(module, host);
  if (!prompt->Build(title, initial)) return std::nullopt;
  return prompt->Ask(owner);
}

}  // namespace siftwell::app
