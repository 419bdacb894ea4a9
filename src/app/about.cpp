#include "app/about.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "npp/HostWindow.h"
#include "siftwell/BuildConfig.h"

namespace {
constexpr wchar_t kClassName[] = L"about";
constexpr SIZE kDesignClient{284, 92};
constexpr int32_t kLabelX = 23, kLabelY = 44, kLabelWidth = 238, kLabelHeight = 13;
constexpr int32_t kVersionY = kLabelY + kLabelHeight + 5;
constexpr int32_t kBottomMargin = kDesignClient.cy - kVersionY - kLabelHeight;
}  // namespace

class about::Impl : public siftwell::npp::ToolWindow {
 public:
  using ToolWindow::ToolWindow;

  // Shows it; the first time centred on the host's window.
  void ShowCentredOnce() {
    RECT host{}, own{};
    if (!shown_ && Host() != nullptr && IsWindowVisible(Host()) && GetWindowRect(Host(), &host) &&
        GetWindowRect(Handle(), &own)) {
      const LONG width = own.right - own.left, height = own.bottom - own.top;
      MoveTo(POINT{host.left + (host.right - host.left - width) / 2, host.top + (host.bottom - host.top - height) / 2});
    }
    shown_ = true;
    Show();
  }

  bool Build() {
    if (!Open(kClassName, L"About", kDesignClient)) return false;
    siftwell::win::ThemeScope themed(Module());
    label_ = siftwell::win::CreateControl(Handle(), Module(), L"Static", CreditText, SS_LEFT | SS_NOPREFIX, 0,
                                         RECT{}, label1, Font());
    version_ = siftwell::win::CreateControl(Handle(), Module(), L"Static", VersionText(), SS_LEFT | SS_NOPREFIX, 0,
                                           RECT{}, versionLabel, Font());
    if (label_ == nullptr || version_ == nullptr) return false;
    LayoutControls();
    ApplyHostTheme(false);
    return true;
  }

 protected:
  // The client area fits the credit line at any DPI; the label takes the size
  // of its text.
  SIZE ClientSize(const siftwell::win::DialogFont& font) const override {
    const SIZE text = font.TextExtent(CreditText);
    return SIZE{std::max<LONG>(font.X(kDesignClient.cx), font.X(kLabelX) * 2 + text.cx),
                std::max<LONG>(font.Y(kDesignClient.cy), font.Y(kVersionY) + text.cy + font.Y(kBottomMargin))};
  }

  void LayoutControls() override {
    Place(label_, kLabelY, CreditText);
    Place(version_, kVersionY, VersionText());
  }

  LRESULT OnMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
    // Escape and Enter close it: as keys when the window itself has the focus,
    // as IDCANCEL / IDOK when the host's dialog manager translates them.
    const bool closeKey = msg == WM_KEYDOWN && (wParam == VK_ESCAPE || wParam == VK_RETURN);
    const bool closeCommand = msg == WM_COMMAND && (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK);
    if (closeKey || closeCommand) {
      PostMessageW(hwnd, WM_CLOSE, 0, 0);
      return 0;
    }
    return ToolWindow::OnMessage(hwnd, msg, wParam, lParam);
  }

 private:
  // A label the size of its text, at the design row `y`.
  void Place(HWND label, int32_t y, std::wstring_view text) {
    RECT bounds = Scaled(kLabelX, y, kLabelWidth, kLabelHeight);
    const SIZE extent = Font().TextExtent(text);
    RECT client{};
    GetClientRect(Handle(), &client);
    bounds.right = bounds.left + std::min<LONG>(extent.cx, client.right - bounds.left);
    bounds.bottom = bounds.top + extent.cy;
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(Font().Handle()), FALSE);
    MoveWindow(label, bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, TRUE);
  }

  HWND label_ = nullptr;
  HWND version_ = nullptr;
  bool shown_ = false;
};

about::about(Key, std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
about::~about() = default;

std::unique_ptr<about> about::Create(HINSTANCE module, HWND host) {
  auto impl = std::make_unique<Impl>(module, host);
  if (!impl->Build()) return nullptr;
  return std::make_unique<about>(Key{}, std::move(impl));
}

HWND about::Handle() const noexcept { return impl_->Handle(); }
bool about::IsClosed() const noexcept { return impl_->IsClosed(); }
void about::SetTitle(std::wstring_view title) { impl_->SetTitle(title); }
void about::Show() { impl_->ShowCentredOnce(); }

std::wstring about::VersionText() { return L"Version " SIFTWELL_VERSION_TEXT; }
void about::HostThemeChanged() { impl_->ApplyHostTheme(true); }
