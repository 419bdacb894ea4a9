#include "filter/frmMyDlg.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <exception>
#include <utility>

#include "filter/Worker.h"
#include "plugin/WindowKit.h"

using siftwell::filter::FilterRun;
using siftwell::filter::JobControl;
using siftwell::filter::Operation;
using siftwell::filter::Worker;
using siftwell::ui::ToolWindow;

namespace {

constexpr wchar_t kClassName[] = L"frmMyDlg";
constexpr SIZE kDesignClient{359, 96};
constexpr SIZE kRunningClient{359, 126};  // with the progress row below
constexpr int32_t kProgressRange = 1000;
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
// The progress row, below the client area until a long run grows the window
// to kRunningClient; hidden otherwise.
constexpr ControlLayout kRunLayout[] = {
    {frmMyDlg::progressBar, PROGRESS_CLASSW, L"", 5, 101, 255, 15, false},
    {frmMyDlg::cancelButton, L"Button", L"Cancel", 270, 97, 75, 23, false},
};

// Dialog-key order: pattern, delimiter, Keep, Remove (labels take no focus),
// then Cancel while it shows.
constexpr frmMyDlg::ControlId kTabOrder[] = {frmMyDlg::textBox1, frmMyDlg::textBox2, frmMyDlg::button1,
                                             frmMyDlg::button2, frmMyDlg::cancelButton};

DWORD StyleOf(const ControlLayout& c) {
  if (c.className == std::wstring_view(L"Edit")) return WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
  if (c.className == std::wstring_view(L"Button")) return WS_TABSTOP | BS_PUSHBUTTON;
  if (c.className == std::wstring_view(PROGRESS_CLASSW)) return PBS_SMOOTH;
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
  ~Impl() override {
    // The worker lets go of the run's document first; then the run gives it back.
    worker_.reset();
    current_.reset();
  }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  bool Build() {
    if (!Open(kClassName, kClassName, kDesignClient)) return false;
    INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
    siftwell::ui::ThemeScope themed(Module());
    for (const ControlLayout& c : kLayout) {
      if (Add(c) == nullptr) return false;
    }
    HWND status = Add(kStatus);
    if (status == nullptr) return false;
    ShowWindow(status, SW_HIDE);
    for (const ControlLayout& c : kRunLayout) {
      HWND control = Add(c);
      if (control == nullptr) return false;
      ShowWindow(control, SW_HIDE);
    }
    SendMessageW(Control(progressBar), PBM_SETRANGE32, 0, kProgressRange);
    // Without a worker, runs compute on this thread, as they always could.
    worker_ = Worker::Create(Module());
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

  bool Running() const noexcept { return current_ != nullptr; }

  void Run(Operation op) {
    if (Running()) return;  // one run at a time
    const std::wstring pattern = Text(textBox1);
    if (pattern.empty()) {
      SetStatus({});  // an empty pattern does nothing
      return;
    }
    const std::wstring delimiter = Text(textBox2);
    std::unique_ptr<FilterRun> run;
    std::optional<std::wstring> problem;
    try {
      run = run_(op, pattern, delimiter);
    } catch (const std::bad_alloc&) {
      problem = kNoMemory;
    } catch (const std::exception&) {
      problem = kFailed;
    }
    if (!run) {
      SetStatus(problem.value_or(kFailed));
      return;
    }
    current_ = std::move(run);
    startedBy_ = op == Operation::Keep ? button1 : button2;
    FilterRun* computing = current_.get();
    auto job = [this, computing](JobControl& control) -> Worker::Delivery {
      std::optional<std::wstring> failure = Compute(*computing, control);
      return [this, failure = std::move(failure)] { Finish(failure); };
    };
    if (worker_ && worker_->Start(job, [this](JobControl::Progress p) { OnProgress(p); })) {
      // A short run ends here, before the window shows anything of it.
      if (!worker_->DeliverWithin(kQuietMilliseconds)) ShowProgress(true);
      return;
    }
    JobControl control;
    job(control)();
  }

  void Cancel() {
    if (Running() && worker_) worker_->Stop();
  }

  void CheckRun() {
    if (Running() && current_->Check() && worker_) worker_->Stop();
  }

 protected:
  LRESULT OnMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
    switch (msg) {
      case WM_COMMAND:
        // Only real clicks of our buttons. IDOK, which the dialog manager
        // sends for Enter, runs nothing: no default button. IDCANCEL (Escape)
        // cancels a run in flight.
        if (LOWORD(wParam) == IDCANCEL && HIWORD(wParam) == BN_CLICKED) {
          Cancel();
        } else if (HIWORD(wParam) == BN_CLICKED && lParam != 0) {
          const auto source = reinterpret_cast<HWND>(lParam);
          if (source == Control(button1)) Run(Operation::Keep);
          else if (source == Control(button2)) Run(Operation::Remove);
          else if (source == Control(cancelButton)) Cancel();
        }
        return 0;
      case WM_DESTROY:
        Cancel();  // closing the window ends its run; the document stays as it was
        break;
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
    // (Progress bars draw their own border.)
    DWORD style = StyleOf(c);
    if (c.id == statusLabel) style |= SS_ENDELLIPSIS;
    return siftwell::ui::CreateControl(Handle(), Module(), c.className, c.text, style, exStyle, bounds, c.id,
                                       Font());
  }

  static constexpr const wchar_t* kNoMemory = L"Not enough memory for this operation. The document is unchanged.";
  static constexpr const wchar_t* kFailed = L"The operation failed. The document is unchanged.";

  // On the worker thread. The failure, if the computation threw.
  static std::optional<std::wstring> Compute(FilterRun& run, JobControl& control) {
    try {
      run.Compute(control);
      return std::nullopt;
    } catch (const std::bad_alloc&) {
      return kNoMemory;
    } catch (...) {
      return kFailed;
    }
  }

  // Back on the UI thread: commit, give the document back, show the outcome.
  void Finish(const std::optional<std::wstring>& failure) {
    std::optional<std::wstring> problem = failure;
    if (!problem) {
      try {
        problem = current_->Commit();
      } catch (const std::bad_alloc&) {
        problem = kNoMemory;
      } catch (const std::exception&) {
        problem = kFailed;
      }
    }
    current_.reset();
    ShowProgress(false);
    SetStatus(problem.value_or(std::wstring()));
  }

  void OnProgress(JobControl::Progress progress) {
    if (!Running()) return;
    if (current_->Check() && worker_) worker_->Stop();
    HWND bar = Control(progressBar);
    if (bar == nullptr || progress.total == 0) return;
    const auto share = static_cast<WPARAM>(std::min<uint64_t>(progress.done, progress.total) * kProgressRange /
                                           progress.total);
    SendMessageW(bar, PBM_SETPOS, share, 0);
  }

  // The progress row: the window grows to show it, Keep and Remove rest.
  void ShowProgress(bool show) {
    if (Handle() == nullptr || show == progressShown_) return;
    progressShown_ = show;
    HWND focus = GetFocus();
    if (show) {
      SendMessageW(Control(progressBar), PBM_SETPOS, 0, 0);
      SetDesignClient(kRunningClient);
    }
    for (const ControlLayout& c : kRunLayout) ShowWindow(Control(c.id), show ? SW_SHOWNA : SW_HIDE);
    EnableWindow(Control(button1), !show);
    EnableWindow(Control(button2), !show);
    if (show && (focus == Control(button1) || focus == Control(button2))) SetFocus(Control(cancelButton));
    if (!show) {
      SetDesignClient(kDesignClient);
      if (focus == Control(cancelButton)) SetFocus(Control(startedBy_));
    }
  }

  void SetStatus(const std::wstring& text) {
    HWND status = Control(statusLabel);
    if (status == nullptr) return;
    SetWindowTextW(status, text.c_str());
    ShowWindow(status, text.empty() ? SW_HIDE : SW_SHOW);
  }

  Runner run_;
  HWND lastFocus_ = nullptr;
  // The run in flight, then the worker computing it: the worker goes first.
  std::unique_ptr<FilterRun> current_;
  std::unique_ptr<Worker> worker_;
  ControlId startedBy_ = button1;
  bool progressShown_ = false;
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
bool frmMyDlg::IsRunning() const noexcept { return impl_->Running(); }
void frmMyDlg::CancelRun() { impl_->Cancel(); }
void frmMyDlg::CheckRun() { impl_->CheckRun(); }
