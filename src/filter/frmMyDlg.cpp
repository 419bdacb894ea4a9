#include "filter/frmMyDlg.h"

#include <windows.h>

#include <algorithm>
#include <exception>
#include <mutex>
#include <utility>

#include "filter/LatestJob.h"
#include "filter/MatchCount.h"
#include "plugin/WindowKit.h"

using siftwell::filter::DocumentText;
using siftwell::filter::FilterError;
using siftwell::filter::MatchCount;
using siftwell::filter::Operation;
using siftwell::ui::DialogFont;
using siftwell::ui::ToolWindow;

namespace {

constexpr wchar_t kClassName[] = L"frmMyDlg";
constexpr SIZE kDesignClient{359, 96};
constexpr UINT_PTR kCountTimer = 1;  // the pattern has been quiet for kCountDelayMs
constexpr UINT_PTR kBusyTimer = 2;   // a count takes long enough to say so
constexpr UINT kBusyDelayMs = 400;
constexpr UINT kCountDone = WM_APP + 1;  // posted by the worker; the result waits in the mailbox

constexpr wchar_t kPatternLabel[] = L"Regex Pattern:";
constexpr wchar_t kDelimiterLabel[] = L"Delimiter:";
constexpr wchar_t kKeepText[] = L"Keep Pattern";
constexpr wchar_t kRemoveText[] = L"Everything BUT pattern";

// Dialog-key order: pattern, delimiter, Keep, Remove (labels take no focus).
constexpr frmMyDlg::ControlId kTabOrder[] = {frmMyDlg::textBox1, frmMyDlg::textBox2, frmMyDlg::button1,
                                             frmMyDlg::button2};

const wchar_t* ClassOf(frmMyDlg::ControlId id) {
  switch (id) {
    case frmMyDlg::textBox1:
    case frmMyDlg::textBox2:
      return L"Edit";
    case frmMyDlg::button1:
    case frmMyDlg::button2:
      return L"Button";
    default:
      return L"Static";
  }
}

DWORD StyleOf(frmMyDlg::ControlId id) {
  const std::wstring_view kind = ClassOf(id);
  if (kind == L"Edit") return WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
  if (kind == L"Button") return WS_TABSTOP | BS_PUSHBUTTON;
  // The status line draws itself: its colours follow the host's theme.
  if (id == frmMyDlg::statusLabel) return SS_OWNERDRAW | SS_NOPREFIX;
  return SS_LEFT | SS_NOPREFIX;
}

int32_t AtDpi(int32_t pixels, uint32_t dpi) { return MulDiv(pixels, static_cast<int>(dpi), 96); }

// The design grid (6 x 13 per character) scaled by the font, widened or
// lowered where the font's text would not fit: the labels push the fields
// right, the button texts widen the buttons, taller text lowers the second row
// and the status line. At the design scale this is the grid itself.
frmMyDlg::Layout ComputeLayout(const DialogFont& f) {
  frmMyDlg::Layout layout;
  const uint32_t dpi = f.Dpi();
  const int32_t line = f.CharHeight();
  const SIZE pattern = f.TextExtent(kPatternLabel), delimiter = f.TextExtent(kDelimiterLabel);
  const SIZE keep = f.TextExtent(kKeepText), remove = f.TextExtent(kRemoveText);

  const int32_t left = f.X(5);
  const int32_t fieldX = std::max<int32_t>(f.X(94), left + std::max(pattern.cx, delimiter.cx) + f.X(6));
  const int32_t fieldW = f.X(100);
  const int32_t fieldH = std::max<int32_t>(f.Y(20), line + AtDpi(6, dpi));  // text, edge and margin
  const int32_t buttonX = std::max<int32_t>(f.X(210), fieldX + fieldW + f.X(16));
  const int32_t buttonW = std::max<int32_t>(f.X(135), std::max(keep.cx, remove.cx) + AtDpi(16, dpi));
  const int32_t buttonH = std::max<int32_t>(f.Y(23), line + AtDpi(10, dpi));
  const int32_t row1 = f.Y(21);
  const int32_t row2Button = std::max<int32_t>(f.Y(56), row1 + std::max(buttonH, fieldH) + f.Y(12));
  const int32_t row2Field = row2Button + f.Y(58) - f.Y(56);
  const int32_t labelRoom = fieldX - f.X(2) - left;  // a label never reaches into its field
  const int32_t statusY = std::max<int32_t>(f.Y(82), std::max(row2Button + buttonH, row2Field + fieldH) + f.Y(2));
  const int32_t statusH = std::max<int32_t>(f.Y(13), line);

  auto add = [&](frmMyDlg::ControlId id, std::wstring_view text, int32_t x, int32_t y, int32_t w, int32_t h) {
    layout.controls.push_back({id, x, y, x + w, y + h, text});
  };
  // Created in this order; the keyboard order is set apart (kTabOrder).
  add(frmMyDlg::textBox1, L"", fieldX, row1, fieldW, fieldH);
  add(frmMyDlg::button1, kKeepText, buttonX, row1, buttonW, buttonH);
  add(frmMyDlg::button2, kRemoveText, buttonX, row2Button, buttonW, buttonH);
  add(frmMyDlg::label1, kPatternLabel, left, row1, std::min<int32_t>(pattern.cx, labelRoom), pattern.cy);
  add(frmMyDlg::label2, kDelimiterLabel, left, row2Field, std::min<int32_t>(delimiter.cx, labelRoom),
      delimiter.cy);
  add(frmMyDlg::textBox2, L"\\n", fieldX, row2Field, fieldW, fieldH);
  add(frmMyDlg::statusLabel, L"", left, statusY, buttonX + buttonW - left, statusH);
  layout.width = std::max<int32_t>(f.X(kDesignClient.cx), buttonX + buttonW + f.X(14));
  layout.height = std::max<int32_t>(f.Y(kDesignClient.cy), statusY + statusH + f.Y(1));
  return layout;
}

std::wstring WindowText(HWND hwnd) {
  if (hwnd == nullptr) return {};
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::string ToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                    nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring FromUtf8(std::string_view text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

// Where the worker leaves the latest count for the UI thread.
struct CountMailbox {
  std::mutex mutex;
  uint64_t generation = 0;
  std::optional<MatchCount> result;
};

}  // namespace

class frmMyDlg::Impl : public ToolWindow {
 public:
  Impl(HINSTANCE module, HWND host, Runner run, CountSource source)
      : ToolWindow(module, host), run_(std::move(run)), source_(std::move(source)) {}
  ~Impl() override { counter_.Cancel(); }  // the worker's destructor then waits for it

  bool Build() {
    if (!Open(kClassName, kClassName, kDesignClient)) return false;
    siftwell::ui::ThemeScope themed(Module());
    for (const Placement& c : ComputeLayout(Font()).controls) {
      const DWORD exStyle = std::wstring_view(ClassOf(c.id)) == L"Edit" ? WS_EX_CLIENTEDGE : 0;
      const std::wstring text(c.text);
      if (siftwell::ui::CreateControl(Handle(), Module(), ClassOf(c.id), text, StyleOf(c.id), exStyle, RECT{},
                                      c.id, Font()) == nullptr) {
        return false;
      }
    }
    ShowWindow(Control(statusLabel), SW_HIDE);
    LayoutControls();
    // The dialog manager walks controls in z-order: put them in keyboard order.
    HWND previous = HWND_TOP;
    for (ControlId id : kTabOrder) {
      HWND control = Control(id);
      SetWindowPos(control, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      previous = control;
    }
    ApplyHostTheme(false);
    return true;
  }

  HWND Control(ControlId id) const { return Handle() ? GetDlgItem(Handle(), id) : nullptr; }
  std::wstring Text(ControlId id) const { return WindowText(Control(id)); }
  bool StatusIsError() const noexcept { return statusError_; }

  void Run(Operation op) {
    const std::wstring pattern = Text(textBox1);
    if (pattern.empty()) {
      SetStatus({}, false);  // an empty pattern does nothing
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
    if (problem) {
      ++generation_;  // a count still on its way would hide the failure
      counter_.Cancel();
      SetStatus(*problem, true);
      return;
    }
    // The document is new: its count follows.
    SetStatus({}, false);
    DocumentChanged();
  }

  void DocumentChanged() {
    documentChanged_ = true;
    if (Handle() != nullptr && !Text(textBox1).empty()) SetTimer(Handle(), kCountTimer, kCountDelayMs, nullptr);
  }

 protected:
  SIZE ClientSize(const DialogFont& font) const override {
    const Layout layout = ComputeLayout(font);
    return SIZE{layout.width, layout.height};
  }

  void LayoutControls() override {
    for (const Placement& c : ComputeLayout(Font()).controls) {
      HWND control = Control(c.id);
      SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(Font().Handle()), FALSE);
      MoveWindow(control, c.left, c.top, c.right - c.left, c.bottom - c.top, TRUE);
    }
  }

  LRESULT OnMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
    switch (msg) {
      case WM_COMMAND:
        // Only real clicks of our buttons. IDOK / IDCANCEL, which the dialog
        // manager sends for Enter and Escape, run nothing: no default button.
        if (HIWORD(wParam) == BN_CLICKED && lParam != 0) {
          const auto source = reinterpret_cast<HWND>(lParam);
          if (source == Control(button1)) Run(Operation::Keep);
          else if (source == Control(button2)) Run(Operation::Remove);
        } else if (HIWORD(wParam) == EN_CHANGE && LOWORD(wParam) == textBox1) {
          PatternChanged();
        }
        return 0;
      case WM_TIMER:
        if (wParam == kCountTimer) {
          KillTimer(hwnd, kCountTimer);
          StartCount();
        } else if (wParam == kBusyTimer) {
          KillTimer(hwnd, kBusyTimer);
          SetStatus(L"counting\u2026", false);
        }
        return 0;
      case kCountDone:
        ShowCount();
        return 0;
      case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item != nullptr && item->CtlID == statusLabel) {
          DrawStatus(*item);
          return TRUE;
        }
        break;
      }
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
      case WM_DESTROY:
        ++generation_;
        counter_.Cancel();
        break;
      default:
        break;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }

 private:
  // Every change to the pattern restarts the quiet period; the running count
  // is for a pattern that is no longer there, so it stops now.
  void PatternChanged() {
    ++generation_;
    counter_.Cancel();
    KillTimer(Handle(), kBusyTimer);
    if (Text(textBox1).empty()) {
      KillTimer(Handle(), kCountTimer);
      SetStatus({}, false);
      return;
    }
    SetTimer(Handle(), kCountTimer, kCountDelayMs, nullptr);
  }

  // Takes the document (a copy, reused while it is unchanged) and counts on
  // the worker. The document is only read.
  void StartCount() {
    const std::wstring pattern = Text(textBox1);
    const uint64_t generation = ++generation_;
    if (pattern.empty()) {
      counter_.Cancel();
      return;
    }
    std::shared_ptr<const DocumentText> document;
    try {
      document = source_(std::exchange(documentChanged_, false));
    } catch (...) {
      document = nullptr;
    }
    if (!document) return;
    HWND window = Handle();
    counter_.Submit([document, pattern = ToUtf8(pattern), generation, window, mailbox = mailbox_](
                        std::stop_token stop) {
      std::string converted;
      if (!document->IsUtf8()) converted = document->Utf8();
      const std::string_view text = document->IsUtf8() ? std::string_view(document->bytes) : converted;
      MatchCount count = siftwell::filter::CountMatches(text, pattern, stop);
      if (stop.stop_requested()) return;
      {
        std::lock_guard lock(mailbox->mutex);
        mailbox->generation = generation;
        mailbox->result = std::move(count);
      }
      PostMessageW(window, kCountDone, 0, 0);
    });
    SetTimer(window, kBusyTimer, kBusyDelayMs, nullptr);
  }

  void ShowCount() {
    std::optional<MatchCount> count;
    {
      std::lock_guard lock(mailbox_->mutex);
      if (mailbox_->generation != generation_) return;  // a newer pattern is on its way
      count = std::exchange(mailbox_->result, std::nullopt);
    }
    if (!count) return;
    KillTimer(Handle(), kBusyTimer);
    if (count->ok) SetStatus(siftwell::filter::DescribeCount(count->count), false);
    else if (count->error.kind != FilterError::Kind::Stopped) SetStatus(FromUtf8(count->error.message), true);
  }

  void SetStatus(const std::wstring& text, bool error) {
    HWND status = Control(statusLabel);
    if (status == nullptr) return;
    statusError_ = error && !text.empty();
    SetWindowTextW(status, text.c_str());
    ShowWindow(status, text.empty() ? SW_HIDE : SW_SHOW);
    InvalidateRect(status, nullptr, TRUE);
  }

  // The status line in the window's own colours (the host's theme answers
  // WM_CTLCOLORSTATIC), errors in a red readable on that background.
  void DrawStatus(const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    auto brush = reinterpret_cast<HBRUSH>(SendMessageW(Handle(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                                       reinterpret_cast<LPARAM>(item.hwndItem)));
    if (brush == nullptr) brush = GetSysColorBrush(COLOR_BTNFACE);
    FillRect(dc, &item.rcItem, brush);
    if (statusError_) SetTextColor(dc, siftwell::ui::ErrorTextColour(GetBkColor(dc)));
    SetBkMode(dc, TRANSPARENT);
    HGDIOBJ old = SelectObject(dc, Font().Handle());
    const std::wstring text = Text(statusLabel);
    RECT bounds = item.rcItem;
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &bounds,
              DT_LEFT | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(dc, old);
  }

  Runner run_;
  CountSource source_;
  HWND lastFocus_ = nullptr;
  bool statusError_ = false;
  bool documentChanged_ = true;
  uint64_t generation_ = 0;
  std::shared_ptr<CountMailbox> mailbox_ = std::make_shared<CountMailbox>();
  siftwell::filter::LatestJob counter_;  // last member: stops before the rest goes
};

frmMyDlg::frmMyDlg(Key, std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
frmMyDlg::~frmMyDlg() = default;

frmMyDlg::Layout frmMyDlg::LayoutAt(uint32_t dpi) {
  const DialogFont font(dpi);
  return ComputeLayout(font);
}

std::unique_ptr<frmMyDlg> frmMyDlg::Create(HINSTANCE module, HWND host, Runner run, CountSource source) {
  if (!run || !source) return nullptr;
  auto impl = std::make_unique<Impl>(module, host, std::move(run), std::move(source));
  if (!impl->Build()) return nullptr;
  return std::make_unique<frmMyDlg>(Key{}, std::move(impl));
}

HWND frmMyDlg::Handle() const noexcept { return impl_->Handle(); }
bool frmMyDlg::IsClosed() const noexcept { return impl_->IsClosed(); }
void frmMyDlg::SetTitle(std::wstring_view title) { impl_->SetTitle(title); }
void frmMyDlg::Show() { impl_->Show(); }
bool frmMyDlg::MoveTo(int32_t left, int32_t top) { return impl_->MoveTo(POINT{left, top}); }
std::pair<int32_t, int32_t> frmMyDlg::LastPosition() const noexcept {
  const RECT r = impl_->LastRect();
  return {r.left, r.top};
}
std::wstring frmMyDlg::PatternText() const { return impl_->Text(textBox1); }
std::wstring frmMyDlg::DelimiterText() const { return impl_->Text(textBox2); }
std::wstring frmMyDlg::StatusText() const { return impl_->Text(statusLabel); }
bool frmMyDlg::StatusIsError() const noexcept { return impl_->StatusIsError(); }
void frmMyDlg::button1_Click() { impl_->Run(Operation::Keep); }
void frmMyDlg::button2_Click() { impl_->Run(Operation::Remove); }
void frmMyDlg::HostThemeChanged() { impl_->ApplyHostTheme(true); }
void frmMyDlg::DocumentChanged() { impl_->DocumentChanged(); }
