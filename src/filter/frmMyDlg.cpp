#include "filter/frmMyDlg.h"

#include <windows.h>

#include <algorithm>
#include <exception>
#include <utility>

#include "plugin/WindowKit.h"

using siftwell::filter::Operation;
using siftwell::ui::ToolWindow;

namespace {

constexpr wchar_t kClassName[] = L"frmMyDlg";
constexpr SIZE kDesignClient{359, 96};
constexpr COLORREF kStatusColour = RGB(176, 0, 0);

// One control at the design scale.
struct ControlLayout {
  frmMyDlg::ControlId id;
  const wchar_t* className;
  const wchar_t* text;
  int32_t x, y, width, height;
  bool autoSize;  // labels take the width and height of their text
};

// Created in this order; the keyboard order is set apart (see TabOrder).
constexpr ControlLayout kLayout[] = {
    {frmMyDlg::textBox1, L"Edit", L"", 94, 21, 100, 20, false},
    {frmMyDlg::button1, L"Button", L"Keep Pattern", 210, 21, 135, 23, false},
    {frmMyDlg::button2, L"Button", L"Everything BUT pattern", 210, 56, 135, 23, false},
    {frmMyDlg::label1, L"Static", L"Regex Pattern:", 5, 21, 78, 13, true},
    {frmMyDlg::label2, L"Static", L"Delimiter:", 5, 58, 50, 13, true},
    {frmMyDlg::textBox2, L"Edit", L"\\n", 94, 58, 100, 20, false},
};
// Below the controls, inside the client area; shown only with a message.
constexpr ControlLayout kStatus{frmMyDlg::statusLabel, L"Static", L"", 5, 82, 340, 13, false};

// Dialog-key order: pattern, delimiter, Keep, Remove (labels take no focus).
constexpr frmMyDlg::ControlId kTabOrder[] = {frmMyDlg::textBox1, frmMyDlg::textBox2, frmMyDlg::button1,
                                             frmMyDlg::button2};

DWORD StyleOf(const ControlLayout& c) {
  if (c.className == std::wstring_view(L"Edit")) return WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
  if (c.className == std::wstring_view(L"Button")) return WS_TABSTOP | BS_PUSHBUTTON;
  return SS_LEFT | SS_NOPREFIX;
}

std::wstring WindowText(HWND hwnd) {
  if (hwnd == nullptr) return {};
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

}  // namespace

class frmMyDlg::Impl : public ToolWindow {
 public:
  Impl(HINSTANCE module, HWND host, Runner run) : ToolWindow(module, host), run_(std::move(run)) {}

  bool Build() {
    if (!Open(kClassName, kClassName, kDesignClient)) return false;
    siftwell::ui::ThemeScope themed(Module());
    for (const ControlLayout& c : kLayout) {
      if (Add(c) == nullptr) return false;
    }
    HWND status = Add(kStatus);
    if (status == nullptr) return false;
    ShowWindow(status, SW_HIDE);
    // The dialog manager walks controls in z-order: put them in keyboard order.
    HWND previous = HWND_TOP;
    for (ControlId id : kTabOrder) {
      HWND control = Control(id);
      SetWindowPos(control, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      previous = control;
    }
    return true;
  }

  HWND Control(ControlId id) const { return Handle() ? GetDlgItem(Handle(), id) : nullptr; }
  std::wstring Text(ControlId id) const { return WindowText(Control(id)); }

  void Run(Operation op) {
    const std::wstring pattern = Text(textBox1);
    if (pattern.empty()) {
      SetStatus({});  // an empty pattern does nothing
      return;
    }
    const std::wstring delimiter = Text(textBox2);
    std::optional<std::wstring> problem;
    try {
      problem = run_(op, pattern, delimiter);
    } catch (const std::bad_alloc&) {
      problem = L"Not enough memory for this operation. The document is unchanged.";
    } catch (const std::exception&) {
      problem = L"The operation failed. The document is unchanged.";
    }
    SetStatus(problem.value_or(std::wstring()));
  }

 protected:
  LRESULT OnMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
    switch (msg) {
      case WM_COMMAND:
        // Only real clicks of our buttons. IDOK / IDCANCEL, which the dialog
        // manager sends for Enter and Escape, run nothing: no default button.
        if (HIWORD(wParam) == BN_CLICKED && lParam != 0) {
          const auto source = reinterpret_cast<HWND>(lParam);
          if (source == Control(button1)) Run(Operation::Keep);
          else if (source == Control(button2)) Run(Operation::Remove);
        }
        return 0;
      case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lParam) == Control(statusLabel)) {
          const auto dc = reinterpret_cast<HDC>(wParam);
          SetTextColor(dc, kStatusColour);
          SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
          return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        break;
      case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
          HWND focus = GetFocus();
          if (focus != nullptr && IsChild(hwnd, focus)) lastFocus_ = focus;
        }
        break;
      case WM_SETFOCUS: {
        HWND target = (lastFocus_ != nullptr && IsChild(hwnd, lastFocus_)) ? lastFocus_ : Control(textBox1);
        if (target != nullptr) SetFocus(target);
        return 0;
      }
      default:
        break;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }

 private:
  HWND Add(const ControlLayout& c) {
    RECT bounds = Scaled(c.x, c.y, c.width, c.height);
    if (c.autoSize) {
      const SIZE text = Font().TextExtent(c.text);
      // A label never reaches into the field to its right.
      const LONG room = Font().X(94) - Font().X(2) - bounds.left;
      bounds.right = bounds.left + std::min<LONG>(text.cx, room);
      bounds.bottom = bounds.top + text.cy;
    }
    const DWORD exStyle = c.className == std::wstring_view(L"Edit") ? WS_EX_CLIENTEDGE : 0;
    DWORD style = StyleOf(c);
    if (c.id == statusLabel) style |= SS_ENDELLIPSIS;
    return siftwell::ui::CreateControl(Handle(), Module(), c.className, c.text, style, exStyle, bounds, c.id,
                                       Font());
  }

  void SetStatus(const std::wstring& text) {
    HWND status = Control(statusLabel);
    if (status == nullptr) return;
    SetWindowTextW(status, text.c_str());
    ShowWindow(status, text.empty() ? SW_HIDE : SW_SHOW);
  }

  Runner run_;
  HWND lastFocus_ = nullptr;
};

frmMyDlg::frmMyDlg(Key, std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
frmMyDlg::~frmMyDlg() = default;

std::unique_ptr<frmMyDlg> frmMyDlg::Create(HINSTANCE module, HWND host, Runner run) {
  if (!run) return nullptr;
  auto impl = std::make_unique<Impl>(module, host, std::move(run));
  if (!impl->Build()) return nullptr;
  return std::make_unique<frmMyDlg>(Key{}, std::move(impl));
}

HWND frmMyDlg::Handle() const noexcept { return impl_->Handle(); }
bool frmMyDlg::IsClosed() const noexcept { return impl_->IsClosed(); }
void frmMyDlg::SetTitle(std::wstring_view title) { impl_->SetTitle(title); }
void frmMyDlg::Show() { impl_->Show(); }
std::wstring frmMyDlg::PatternText() const { return impl_->Text(textBox1); }
std::wstring frmMyDlg::DelimiterText() const { return impl_->Text(textBox2); }
std::wstring frmMyDlg::StatusText() const { return impl_->Text(statusLabel); }
void frmMyDlg::button1_Click() { impl_->Run(Operation::Keep); }
void frmMyDlg::button2_Click() { impl_->Run(Operation::Remove); }
