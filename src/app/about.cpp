#include "app/about.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "npp/HostWindow.h"

namespace {
constexpr wchar_t kClassName[] = L"about";
constexpr SIZE kDesignClient{284, 92};
constexpr int32_t kLabelX = 23, kLabelY = 44, kLabelWidth = 238, kLabelHeight = 13;
}  // namespace

class about::Impl : public siftwell::ui::ToolWindow {
 public:
  using ToolWindow::ToolWindow;

  bool Build() {
    if (!Open(kClassName, L"About", kDesignClient)) return false;
    siftwell::ui::ThemeScope themed(Module());
    label_ = siftwell::ui::CreateControl(Handle(), Module(), L"Static", CreditText, SS_LEFT | SS_NOPREFIX, 0,
                                         RECT{}, label1, Font());
    if (label_ == nullptr) return false;
    LayoutControls();
    ApplyHostTheme(false);
    return true;
  }

 protected:
  // The client area fits the credit line at any DPI; the label takes the size
  // of its text.
  SIZE ClientSize(const siftwell::ui::DialogFont& font) const override {
    const SIZE text = font.TextExtent(CreditText);
    return SIZE{std::max<LONG>(font.X(kDesignClient.cx), font.X(kLabelX) * 2 + text.cx),
                std::max<LONG>(font.Y(kDesignClient.cy), font.Y(kLabelY) + text.cy + font.Y(kLabelX))};
  }

  void LayoutControls() override {
    RECT bounds = Scaled(kLabelX, kLabelY, kLabelWidth, kLabelHeight);
    const SIZE text = Font().TextExtent(CreditText);
    RECT client{};
    GetClientRect(Handle(), &client);
    bounds.right = bounds.left + std::min<LONG>(text.cx, client.right - bounds.left);
    bounds.bottom = bounds.top + text.cy;
    SendMessageW(label_, WM_SETFONT, reinterpret_cast<WPARAM>(Font().Handle()), FALSE);
    MoveWindow(label_, bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, TRUE);
  }

 private:
  HWND label_ = nullptr;
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
void about::Show() { impl_->Show(); }
void about::HostThemeChanged() { impl_->ApplyHostTheme(true); }
