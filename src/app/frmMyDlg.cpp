#include "app/frmMyDlg.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <memory>
#include <type_traits>
#include <utility>

#include "app/EditorFilter.h"
#include "app/NamePrompt.h"
#include "app/Highlight.h"
#include "engine/MatchCount.h"
#include "win/CodePage.h"
#include "win/Worker.h"
#include "npp/HostWindow.h"
#include "npp/SciMsg.h"

using siftwell::app::Computation;
using siftwell::app::DocumentCopy;
using siftwell::app::FilterRun;
using siftwell::win::JobControl;
using siftwell::app::Operation;
using siftwell::app::RunOutcome;
using siftwell::app::RunProblem;
using siftwell::app::ShownText;
using siftwell::win::Worker;
using siftwell::win::DialogFont;
using siftwell::npp::ToolWindow;

namespace {

constexpr wchar_t kClassName[] = L"frmMyDlg";
constexpr SIZE kDesignClient{359, 163};
constexpr UINT_PTR kCountTimer = 1;  // the pattern has been quiet for kCountDelayMs
constexpr UINT_PTR kBusyTimer = 2;   // a count takes long enough to say so
constexpr UINT kBusyDelayMs = 400;
constexpr UINT_PTR kHighlightTimer = 3;  // the marks are due (pattern quiet, a scroll, an edit)
// Posted to the window itself (or, while input waits, a timer of that id):
// take the next piece of a document's copy.
constexpr UINT kRunCopyStep = WM_APP + 1;
constexpr UINT kCountCopyStep = WM_APP + 2;
constexpr UINT kFindCopyStep = WM_APP + 3;
constexpr int32_t kProgressRange = 1000;
// The status line wraps: every message can be read whole.
constexpr UINT kStatusFormat = DT_LEFT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX;

constexpr wchar_t kPatternLabel[] = L"Regex Pattern:";
constexpr wchar_t kDelimiterLabel[] = L"Delimiter:";
constexpr wchar_t kKeepText[] = L"Keep Pattern";
constexpr wchar_t kRemoveText[] = L"Everything BUT pattern";
constexpr wchar_t kCancelText[] = L"Cancel";
constexpr wchar_t kWholeLinesText[] = L"Whole lines";
constexpr wchar_t kMatchCaseText[] = L"Match case";
constexpr wchar_t kInSelectionText[] = L"In selection";
constexpr wchar_t kOutputLabel[] = L"Output:";
constexpr wchar_t kResultLabel[] = L"Result:";
constexpr wchar_t kUniqueText[] = L"Unique";
constexpr wchar_t kTallyText[] = L"Tally";
constexpr wchar_t kLineNumbersText[] = L"Line numbers";
// The result box's choices, in the order of siftwell::app::Target.
constexpr const wchar_t* kTargets[] = {L"This document", L"New tab", L"Clipboard"};
constexpr wchar_t kHighlightText[] = L"Highlight";
constexpr wchar_t kPreviousText[] = L"Previous";
constexpr wchar_t kNextText[] = L"Next";
constexpr wchar_t kNoIndicatorTip[] =
    L"This Notepad++ cannot hand out an indicator to a plugin (NPPM_ALLOCATEINDICATOR), "
    L"so Siftwell cannot mark matches without risking another plugin's marks.";

// Dialog-key order: pattern, delimiter, Keep, Remove (labels take no focus),
// then Cancel while it shows.
constexpr frmMyDlg::ControlId kTabOrder[] = {
    frmMyDlg::textBox1,     frmMyDlg::textBox2,       frmMyDlg::button1,  frmMyDlg::button2,
    frmMyDlg::wholeLinesBox, frmMyDlg::matchCaseBox,  frmMyDlg::inSelectionBox, frmMyDlg::textBox3,
    frmMyDlg::resultBox,    frmMyDlg::uniqueBox,      frmMyDlg::tallyBox, frmMyDlg::lineNumbersBox,
    frmMyDlg::highlightBox, frmMyDlg::previousButton, frmMyDlg::nextButton,
    frmMyDlg::cancelButton};

const wchar_t* ClassOf(frmMyDlg::ControlId id) {
  switch (id) {
    case frmMyDlg::textBox1:
    case frmMyDlg::textBox2:
    case frmMyDlg::textBox3:
      return L"Edit";
    case frmMyDlg::button1:
    case frmMyDlg::button2:
    case frmMyDlg::cancelButton:
    case frmMyDlg::wholeLinesBox:
    case frmMyDlg::matchCaseBox:
    case frmMyDlg::inSelectionBox:
    case frmMyDlg::historyButton:
    case frmMyDlg::highlightBox:
    case frmMyDlg::previousButton:
    case frmMyDlg::nextButton:
    case frmMyDlg::uniqueBox:
    case frmMyDlg::tallyBox:
    case frmMyDlg::lineNumbersBox:
      return L"Button";
    case frmMyDlg::resultBox:
      return L"ComboBox";
    case frmMyDlg::progressBar:
      return PROGRESS_CLASSW;
    default:
      return L"Static";
  }
}

DWORD StyleOf(frmMyDlg::ControlId id) {
  const std::wstring_view kind = ClassOf(id);
  if (kind == L"Edit") return WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
  if (id == frmMyDlg::wholeLinesBox || id == frmMyDlg::matchCaseBox || id == frmMyDlg::inSelectionBox ||
      id == frmMyDlg::highlightBox || id == frmMyDlg::uniqueBox || id == frmMyDlg::tallyBox ||
      id == frmMyDlg::lineNumbersBox)
    return WS_TABSTOP | BS_AUTOCHECKBOX;
  // The arrow draws itself; the keyboard reaches its list by Alt+Down in the pattern field.
  if (id == frmMyDlg::historyButton) return BS_OWNERDRAW;
  if (kind == L"Button") return WS_TABSTOP | BS_PUSHBUTTON;
  if (kind == L"ComboBox") return WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
  if (kind == PROGRESS_CLASSW) return PBS_SMOOTH;
  // The status line draws itself: its colours follow the host's theme.
  if (id == frmMyDlg::statusLabel) return SS_OWNERDRAW | SS_NOPREFIX;
  return SS_LEFT | SS_NOPREFIX;
}

int32_t AtDpi(int32_t pixels, uint32_t dpi) { return MulDiv(pixels, static_cast<int>(dpi), 96); }

struct ScreenDcRelease {
  void operator()(HDC dc) const noexcept { ReleaseDC(nullptr, dc); }
};
using ScreenDc = std::unique_ptr<std::remove_pointer_t<HDC>, ScreenDcRelease>;

// Height of `text` wrapped to `width` pixels in the font (0 for no text).
int32_t WrappedHeight(const DialogFont& f, std::wstring_view text, int32_t width) {
  if (text.empty()) return 0;
  ScreenDc dc(GetDC(nullptr));
  if (!dc) return 0;
  HGDIOBJ old = SelectObject(dc.get(), f.Handle());
  RECT r{0, 0, width, 0};
  DrawTextW(dc.get(), text.data(), static_cast<int>(text.size()), &r, kStatusFormat | DT_CALCRECT);
  SelectObject(dc.get(), old);
  return r.bottom - r.top;
}

// The design grid (6 x 13 per character) scaled by the font, widened or
// lowered where the font's text would not fit: the labels push the fields
// right, the button texts widen the buttons, taller text lowers the second row,
// the status line (one line, or as many as `status` takes) and the progress row
// below it (inside the client area only while a long run grows the window to
// runningHeight). At the design scale, with a one-line status, this is the
// grid itself.
frmMyDlg::Layout ComputeLayout(const DialogFont& f, std::wstring_view status) {
  frmMyDlg::Layout layout;
  const uint32_t dpi = f.Dpi();
  const int32_t line = f.CharHeight();
  const SIZE pattern = f.TextExtent(kPatternLabel), delimiter = f.TextExtent(kDelimiterLabel);
  const SIZE keep = f.TextExtent(kKeepText), remove = f.TextExtent(kRemoveText);
  const SIZE cancel = f.TextExtent(kCancelText);
  const SIZE wholeLines = f.TextExtent(kWholeLinesText), matchCase = f.TextExtent(kMatchCaseText);
  const SIZE inSelection = f.TextExtent(kInSelectionText);
  const SIZE output = f.TextExtent(kOutputLabel), result = f.TextExtent(kResultLabel);
  const SIZE highlight = f.TextExtent(kHighlightText);
  const SIZE previous = f.TextExtent(kPreviousText), next = f.TextExtent(kNextText);
  const SIZE unique = f.TextExtent(kUniqueText), tally = f.TextExtent(kTallyText);
  const SIZE lineNumbers = f.TextExtent(kLineNumbersText);
  int32_t longestTarget = 0;
  for (const wchar_t* target : kTargets) longestTarget = std::max<int32_t>(longestTarget, f.TextExtent(target).cx);

  const int32_t left = f.X(5);
  const int32_t fieldX =
      std::max<int32_t>(f.X(94), left + std::max({pattern.cx, delimiter.cx, output.cx}) + f.X(6));
  const int32_t fieldW = f.X(100);
  const int32_t fieldH = std::max<int32_t>(f.Y(20), line + AtDpi(6, dpi));  // text, edge and margin
  const int32_t buttonX = std::max<int32_t>(f.X(210), fieldX + fieldW + f.X(16));
  const int32_t buttonW = std::max<int32_t>(f.X(135), std::max(keep.cx, remove.cx) + AtDpi(16, dpi));
  const int32_t buttonH = std::max<int32_t>(f.Y(23), line + AtDpi(10, dpi));
  const int32_t row1 = f.Y(21);
  const int32_t row2Button = std::max<int32_t>(f.Y(56), row1 + std::max(buttonH, fieldH) + f.Y(12));
  const int32_t row2Field = row2Button + f.Y(58) - f.Y(56);
  const int32_t labelRoom = fieldX - f.X(2) - left;  // a label never reaches into its field
  // The options below the fields and buttons: a row of check boxes (the box
  // and its text), then the template field and the result choice.
  const int32_t checkH = std::max<int32_t>(f.Y(17), line + AtDpi(4, dpi));
  const int32_t checkBox = GetSystemMetrics(SM_CXMENUCHECK) * static_cast<int32_t>(dpi) / 96 + AtDpi(8, dpi);
  const int32_t row3 = std::max<int32_t>(f.Y(85), std::max(row2Button + buttonH, row2Field + fieldH) + f.Y(6));
  const int32_t row4 = std::max<int32_t>(f.Y(106), row3 + checkH + f.Y(4));
  const int32_t resultX = buttonX + result.cx + f.X(6);
  const int32_t resultW = std::max<int32_t>(buttonX + buttonW - resultX, longestTarget + AtDpi(24, dpi));
  // Keep's choices of what to write, a row of check boxes of their own.
  const int32_t row5 = std::max<int32_t>(f.Y(130), row4 + fieldH + f.Y(4));
  // Highlight and the two steps to a match, a row of their own.
  const int32_t row6 = row5 + checkH + f.Y(2);
  const int32_t stepW = std::max<int32_t>(f.X(60), std::max(previous.cx, next.cx) + AtDpi(16, dpi));
  const int32_t statusY = std::max<int32_t>(f.Y(128), row6 + std::max(checkH, buttonH) + f.Y(4));
  const int32_t rightEdge = std::max(buttonX + buttonW, resultX + resultW);
  const int32_t statusW = rightEdge - left;
  const int32_t statusH = std::max({f.Y(13), line, WrappedHeight(f, status, statusW)});
  const int32_t cancelW = std::max<int32_t>(f.X(75), cancel.cx + AtDpi(16, dpi));
  const int32_t cancelX = rightEdge - cancelW;
  const int32_t cancelY = statusY + statusH + f.Y(2);
  const int32_t barH = std::max<int32_t>(f.Y(15), AtDpi(10, dpi));

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
  add(frmMyDlg::statusLabel, L"", left, statusY, statusW, statusH);
  add(frmMyDlg::progressBar, L"", left, cancelY + (buttonH - barH) / 2, cancelX - f.X(10) - left, barH);
  add(frmMyDlg::cancelButton, kCancelText, cancelX, cancelY, cancelW, buttonH);
  add(frmMyDlg::wholeLinesBox, kWholeLinesText, left, row3, std::min<int32_t>(wholeLines.cx + checkBox, fieldX - f.X(4) - left),
      checkH);
  add(frmMyDlg::matchCaseBox, kMatchCaseText, fieldX, row3, std::min<int32_t>(matchCase.cx + checkBox, buttonX - f.X(4) - fieldX),
      checkH);
  add(frmMyDlg::inSelectionBox, kInSelectionText, buttonX, row3, inSelection.cx + checkBox, checkH);
  add(frmMyDlg::label3, kOutputLabel, left, row4, std::min<int32_t>(output.cx, labelRoom), output.cy);
  add(frmMyDlg::textBox3, L"", fieldX, row4, fieldW, fieldH);
  add(frmMyDlg::label4, kResultLabel, buttonX, row4, result.cx, result.cy);
  add(frmMyDlg::resultBox, L"", resultX, row4, resultW, fieldH);
  // The arrow in the gap between the pattern field and Keep (on the design grid where the field is).
  add(frmMyDlg::historyButton, L"", f.X(196) + (fieldX - f.X(94)), row1, f.X(12), fieldH);
  add(frmMyDlg::highlightBox, kHighlightText, left, row6 + (buttonH - checkH) / 2,
      std::min<int32_t>(highlight.cx + checkBox, fieldX - f.X(4) - left), checkH);
  add(frmMyDlg::previousButton, kPreviousText, fieldX, row6, stepW, buttonH);
  add(frmMyDlg::nextButton, kNextText, fieldX + stepW + f.X(6), row6, stepW, buttonH);
  add(frmMyDlg::uniqueBox, kUniqueText, left, row5, std::min<int32_t>(unique.cx + checkBox, fieldX - f.X(4) - left),
      checkH);
  add(frmMyDlg::tallyBox, kTallyText, fieldX, row5, std::min<int32_t>(tally.cx + checkBox, buttonX - f.X(4) - fieldX),
      checkH);
  add(frmMyDlg::lineNumbersBox, kLineNumbersText, buttonX, row5, lineNumbers.cx + checkBox, checkH);
  layout.width = std::max<int32_t>(f.X(kDesignClient.cx), rightEdge + f.X(14));
  layout.height = std::max<int32_t>(f.Y(kDesignClient.cy), statusY + statusH + f.Y(1));
  layout.runningHeight = cancelY + buttonH + f.Y(6);
  return layout;
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
  Impl(HINSTANCE module, HWND host, Runner run, CountSource source, ActiveView view)
      : ToolWindow(module, host), run_(std::move(run)), source_(std::move(source)), view_(std::move(view)) {}
  ~Impl() override {
    // The workers let go first (they may still hold a computation); then the run.
    counter_.reset();
    worker_.reset();
    highlighter_.reset();
    finder_.reset();
    current_.reset();
  }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  bool Build() {
    if (!Open(kClassName, kClassName, kDesignClient)) return false;
    INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    InitCommonControlsEx(&classes);
    siftwell::win::ThemeScope themed(Module());
    for (const Placement& c : ComputeLayout(Font(), {}).controls) {
      const DWORD exStyle = std::wstring_view(ClassOf(c.id)) == L"Edit" ? WS_EX_CLIENTEDGE : 0;
      const std::wstring text(c.text);
      if (siftwell::win::CreateControl(Handle(), Module(), ClassOf(c.id), text, StyleOf(c.id), exStyle, RECT{},
                                      c.id, Font()) == nullptr) {
        return false;
      }
    }
    for (ControlId hidden : {statusLabel, progressBar, cancelButton}) ShowWindow(Control(hidden), SW_HIDE);
    // Ctrl+Z / Ctrl+Y reach the document from wherever the focus is in the window.
    for (ControlId id : kTabOrder) SetWindowSubclass(Control(id), &KeyProc, static_cast<UINT_PTR>(id),
                                                     reinterpret_cast<DWORD_PTR>(this));
    SendMessageW(Control(progressBar), PBM_SETRANGE32, 0, kProgressRange);
    for (const wchar_t* target : kTargets)
      SendMessageW(Control(resultBox), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(target));
    SetOptions(siftwell::app::RunOptions{});
    LayoutControls();
    // Without a worker a run is refused (it never computes on this thread);
    // without the counting one there is no live count.
    worker_ = Worker::Create(Module());
    counter_ = Worker::Create(Module());
    highlighter_ = Worker::Create(Module());
    finder_ = Worker::Create(Module());
    // Says why Highlight is off in a host without indicators for plugins (a
    // disabled box gets no mouse messages: the tool is its rectangle in the window).
    tooltip_ = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, Handle(), nullptr, Module(), nullptr);
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

  bool Checked(ControlId id) const { return SendMessageW(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

  siftwell::app::RunOptions Options() const {
    if (Handle() == nullptr) return closedOptions_;  // as they were when the window closed
    siftwell::app::RunOptions options;
    options.wholeLines = Checked(wholeLinesBox);
    options.matchCase = Checked(matchCaseBox);
    options.inSelection = Checked(inSelectionBox);
    const LRESULT target = SendMessageW(Control(resultBox), CB_GETCURSEL, 0, 0);
    options.target = target == 1   ? siftwell::app::Target::NewTab
                     : target == 2 ? siftwell::app::Target::Clipboard
                                   : siftwell::app::Target::Document;
    options.outputTemplate = Text(textBox3);
    options.unique = Checked(uniqueBox);
    options.tally = Checked(tallyBox);
    options.lineNumbers = Checked(lineNumbersBox);
    options.highlight = highlightWanted_;
    return options;
  }

  void SetOptions(const siftwell::app::RunOptions& options) {
    if (Handle() == nullptr) return;
    SendMessageW(Control(wholeLinesBox), BM_SETCHECK, options.wholeLines ? BST_CHECKED : BST_UNCHECKED, 0);
    SendMessageW(Control(matchCaseBox), BM_SETCHECK, options.matchCase ? BST_CHECKED : BST_UNCHECKED, 0);
    SendMessageW(Control(inSelectionBox), BM_SETCHECK, options.inSelection ? BST_CHECKED : BST_UNCHECKED, 0);
    const auto target = static_cast<int32_t>(options.target);
    SendMessageW(Control(resultBox), CB_SETCURSEL, target >= 0 && target <= 2 ? target : 0, 0);
    SetWindowTextW(Control(textBox3), options.outputTemplate.c_str());
    // One of Unique and Tally at most (Tally, if both come).
    SendMessageW(Control(uniqueBox), BM_SETCHECK, options.unique && !options.tally ? BST_CHECKED : BST_UNCHECKED, 0);
    SendMessageW(Control(tallyBox), BM_SETCHECK, options.tally ? BST_CHECKED : BST_UNCHECKED, 0);
    SendMessageW(Control(lineNumbersBox), BM_SETCHECK, options.lineNumbers ? BST_CHECKED : BST_UNCHECKED, 0);
    highlightWanted_ = options.highlight;
    SendMessageW(Control(highlightBox), BM_SETCHECK, options.highlight && indicator_ ? BST_CHECKED : BST_UNCHECKED, 0);
    UpdateEnabled();
  }

  // What does not apply is disabled rather than guessed at: with whole lines
  // a line is kept as it stands (no delimiter, no template), and only lines
  // have line numbers (the box keeps its tick meanwhile); In selection
  // needs a selection in the active view (a ticked box stays enabled, so that
  // it can be cleared; a run then says there is nothing selected).
  void UpdateEnabled() {
    if (Handle() == nullptr) return;
    const bool lines = Checked(wholeLinesBox);
    for (ControlId id : {label2, textBox2, label3, textBox3}) EnableWindow(Control(id), !lines);
    EnableWindow(Control(lineNumbersBox), lines);
    bool selection = true;
    if (view_) {
      HWND view = view_();
      selection = view != nullptr &&
                  SendMessageW(view, static_cast<UINT>(SciMsg::SCI_GETSELECTIONEMPTY), 0, 0) == 0;
    }
    EnableWindow(Control(inSelectionBox), selection || Checked(inSelectionBox));
    EnableWindow(Control(highlightBox), indicator_.has_value());
  }
  std::wstring Text(ControlId id) const { return WindowText(Control(id)); }
  bool StatusIsError() const noexcept { return statusError_; }
  bool Running() const noexcept { return current_ != nullptr; }

  void Present() {
    if (Handle() == nullptr) return;
    Show();
    SetForegroundWindow(Handle());
    HWND field = Control(textBox1);
    SetFocus(field);
    SendMessageW(field, EM_SETSEL, 0, -1);
    lastFocus_ = field;
    UpdateEnabled();
  }

  void Run(Operation op) {
    if (Running()) return;  // one run at a time
    const std::wstring pattern = Text(textBox1);
    if (pattern.empty()) {
      SetStatus({}, false);  // an empty pattern does nothing
      return;
    }
    // The status line is the run's until it ends: no count shows meanwhile.
    // The count's copy of the document goes to the run, which compares it with
    // the document instead of copying it again (or drops it, if it is of
    // another document: in a 32-bit editor the write needs the addresses).
    StopCount();
    std::shared_ptr<DocumentCopy> counted = std::move(countedCopy_);
    KillTimer(Handle(), kCountTimer);
    patternChangedInRun_ = false;
    const std::wstring delimiter = Text(textBox2);
    RememberRun(pattern, delimiter);
    std::unique_ptr<FilterRun> run;
    RunProblem::Kind failure = RunProblem::Kind::Failed;
    siftwell::app::RunOptions options = Options();
    options.lineNumbers = options.lineNumbers && options.wholeLines;  // disabled without whole lines
    try {
      run = run_(op, pattern, delimiter, options, std::move(counted));
    } catch (const std::bad_alloc&) {
      failure = RunProblem::Kind::NoMemory;
    } catch (const std::exception&) {
    }
    if (!run) {
      ShowFailure(Problem(failure));
      return;
    }
    current_ = std::move(run);
    startedBy_ = op == Operation::Keep ? button1 : button2;
    shownPercent_ = -1;
    CopyStep();
  }

  void Cancel() {
    // A write under way is not cut short: a message loop running inside it
    // (another plugin's message box, say) could else end the run, and free
    // it, under its own Commit.
    if (!Running() || committing_) return;
    current_->Cancel();  // from now on nothing is written, even if the matching has ended
    if (worker_ && worker_->Busy()) worker_->Stop();
    else Finish(std::nullopt);  // still copying
  }

  void CheckRun() {
    if (Running() && current_->Check() && worker_ && worker_->Busy()) worker_->Stop();
  }

  void DocumentEdited(HWND view) {
    if (committing_) {
      documentChanged_ = true;  // the run's own write: its outcome stays in the status line
      return;
    }
    if (Running()) {
      current_->Edited(view);
      CheckRun();
    }
    StopFind();
    DocumentChanged();
  }

  // ---- recent patterns and presets ----

  // A message from outside (a preset command): it stays until the next change.
  void ShowMessage(const std::wstring& text, bool error) {
    StopCount();
    if (Handle() != nullptr) KillTimer(Handle(), kCountTimer);
    SetStatus(text, error);
  }

  void SetStore(std::shared_ptr<siftwell::app::PatternStore> store) {
    store_ = std::move(store);
    historyAt_ = -1;
  }

  siftwell::app::FieldSet Fields() const { return {Text(textBox1), Text(textBox2), Options()}; }

  void SetFields(const siftwell::app::FieldSet& fields) {
    if (Handle() == nullptr) return;
    filling_ = true;
    SetWindowTextW(Control(textBox1), fields.pattern.c_str());
    SetWindowTextW(Control(textBox2), fields.delimiter.c_str());
    SetOptions(fields.options);
    filling_ = false;
    historyAt_ = -1;
    SendMessageW(Control(textBox1), EM_SETSEL, 0, -1);
    documentUndoFirst_ = false;
    PatternChanged();  // counted with what was filled in, options included
  }

  // Up (older = 1) and Down (-1) in the pattern field: -1 is what was typed.
  void StepHistory(int32_t older) {
    if (!store_) return;
    const std::vector<siftwell::engine::HistoryEntry>& history = store_->History();
    const int32_t to = historyAt_ + older;
    if (to < -1 || to >= static_cast<int32_t>(history.size())) return;
    ShowHistoryEntry(to);
  }

  void ShowHistoryEntry(int32_t at) {
    if (historyAt_ == -1) typed_ = Fields();
    if (at == -1) SetFields(typed_);
    else SetFields(siftwell::app::FieldsOf(store_->History()[static_cast<std::size_t>(at)], Options()));
    historyAt_ = at;
  }

  void RememberRun(const std::wstring& pattern, const std::wstring& delimiter) {
    historyAt_ = -1;
    if (!store_) return;
    try {
      if (auto entry = siftwell::app::EntryOf({pattern, delimiter, Options()})) store_->Remember(*entry);
    } catch (const std::bad_alloc&) {
      // A run the history could not take still runs.
    }
  }

  // Menu command identifiers: a range each.
  static constexpr UINT kHistoryItem = 1, kClearHistory = 1000, kPresetItem = 2000, kSavePreset = 3000,
                        kRenameItem = 4000, kDeleteItem = 5000, kRangeSize = 900;
  // The list shows this many recent patterns (Up reaches them all).
  static constexpr std::size_t kListedEntries = 30;

  void ShowRecallMenu() {
    if (Handle() == nullptr || !store_) return;
    struct MenuDestroy {
      void operator()(HMENU menu) const noexcept { DestroyMenu(menu); }
    };
    using Menu = std::unique_ptr<std::remove_pointer_t<HMENU>, MenuDestroy>;
    store_->ReloadPresets();  // the CLI or an editor may have changed the file
    const std::vector<siftwell::engine::HistoryEntry> history = store_->History();
    const std::vector<siftwell::engine::Preset> presets = store_->Presets();
    const bool presetsReadable = !store_->PresetsProblem();
    Menu menu(CreatePopupMenu());
    Menu presetsMenu(CreatePopupMenu()), renameMenu(CreatePopupMenu()), deleteMenu(CreatePopupMenu());
    if (!menu || !presetsMenu || !renameMenu || !deleteMenu) return;
    if (history.empty()) AppendMenuW(menu.get(), MF_STRING | MF_GRAYED, 0, L"(no recent patterns)");
    for (std::size_t i = 0; i < history.size() && i < kListedEntries; ++i)
      AppendMenuW(menu.get(), MF_STRING, kHistoryItem + i, EntryText(history[i]).c_str());
    AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu.get(), MF_STRING | (history.empty() ? MF_GRAYED : 0), kClearHistory, L"Clear history");
    AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
    if (!presetsReadable) AppendMenuW(presetsMenu.get(), MF_STRING | MF_GRAYED, 0, L"(the presets file cannot be read)");
    else if (presets.empty()) AppendMenuW(presetsMenu.get(), MF_STRING | MF_GRAYED, 0, L"(no presets)");
    for (std::size_t i = 0; i < presets.size() && i < kRangeSize; ++i) {
      const std::wstring name = MenuEscaped(siftwell::win::Utf8ToWide(presets[i].name));
      AppendMenuW(presetsMenu.get(), MF_STRING, kPresetItem + i, (name + L"\t" + EntryText(presets[i], false)).c_str());
      AppendMenuW(renameMenu.get(), MF_STRING, kRenameItem + i, name.c_str());
      AppendMenuW(deleteMenu.get(), MF_STRING, kDeleteItem + i, name.c_str());
    }
    AppendMenuW(presetsMenu.get(), MF_SEPARATOR, 0, nullptr);
    AppendMenuW(presetsMenu.get(), MF_STRING | (presetsReadable ? 0 : MF_GRAYED), kSavePreset,
                L"&Save current as\u2026");
    const UINT some = presets.empty() ? MF_GRAYED : 0;
    // A menu appended as a submenu belongs to its parent from then on.
    if (AppendMenuW(presetsMenu.get(), MF_POPUP | some, reinterpret_cast<UINT_PTR>(renameMenu.get()), L"&Rename"))
      renameMenu.release();
    if (AppendMenuW(presetsMenu.get(), MF_POPUP | some, reinterpret_cast<UINT_PTR>(deleteMenu.get()), L"&Delete"))
      deleteMenu.release();
    if (AppendMenuW(menu.get(), MF_POPUP, reinterpret_cast<UINT_PTR>(presetsMenu.get()), L"&Presets"))
      presetsMenu.release();
    RECT field{};
    GetWindowRect(Control(textBox1), &field);
    TPMPARAMS exclude{sizeof(exclude), field};
    const UINT chosen = static_cast<UINT>(TrackPopupMenuEx(menu.get(), TPM_RETURNCMD | TPM_LEFTALIGN | TPM_TOPALIGN |
                                                                           TPM_VERTICAL,
                                                           field.left, field.bottom, Handle(), &exclude));
    menu.reset();
    if (Handle() == nullptr || !store_) return;  // closed meanwhile
    SetFocus(Control(textBox1));
    if (chosen >= kHistoryItem && chosen < kHistoryItem + kListedEntries && chosen - kHistoryItem < history.size()) {
      // Where the history stands may have changed; find the entry again.
      const auto& now = store_->History();
      for (std::size_t i = 0; i < now.size(); ++i)
        if (siftwell::engine::SameRun(now[i], history[chosen - kHistoryItem])) ShowHistoryEntry(static_cast<int32_t>(i));
    } else if (chosen == kClearHistory) {
      store_->ClearHistory();
      historyAt_ = -1;
      SetStatus(L"The history of patterns is cleared.", false);
    } else if (chosen >= kPresetItem && chosen - kPresetItem < presets.size()) {
      SetFields(siftwell::app::FieldsOf(presets[chosen - kPresetItem], Options()));
    } else if (chosen == kSavePreset) {
      SavePresetAs();
    } else if (chosen >= kRenameItem && chosen - kRenameItem < presets.size()) {
      RenamePreset(presets[chosen - kRenameItem].name);
    } else if (chosen >= kDeleteItem && chosen - kDeleteItem < presets.size()) {
      DeletePreset(presets[chosen - kDeleteItem].name);
    }
  }

  static std::wstring MenuEscaped(std::wstring_view text) {
    std::wstring out;
    for (wchar_t c : text) {
      if (c == L'&') out += L'&';
      out += c < L' ' ? L' ' : c;
    }
    return out;
  }

  // A menu line for an entry: the pattern (shortened), then what it runs with.
  static std::wstring EntryText(const siftwell::engine::Preset& entry, bool withPattern = true) {
    constexpr std::size_t kLongest = 60;
    std::wstring pattern = siftwell::win::Utf8ToWide(entry.pattern);
    if (pattern.size() > kLongest) pattern = pattern.substr(0, kLongest) + L"\u2026";
    std::wstring options;
    auto add = [&options](std::wstring_view what) { options += (options.empty() ? L"" : L", ") + std::wstring(what); };
    if (!withPattern) add(pattern);
    if (entry.lines) add(L"whole lines");
    if (!entry.matchCase) add(L"any case");
    if (!entry.lines && entry.delimiter != "\\n") add(L"delimiter " + siftwell::win::Utf8ToWide(entry.delimiter));
    if (!entry.lines && !entry.keepTemplate.empty()) add(L"output " + siftwell::win::Utf8ToWide(entry.keepTemplate));
    if (entry.unique) add(L"unique");
    if (entry.tally) add(L"tally");
    if (entry.lineNumbers) add(L"line numbers");
    if (!withPattern) return MenuEscaped(options);
    return MenuEscaped(pattern) + (options.empty() ? L"" : L"\t" + MenuEscaped(options));
  }

  static std::wstring Quoted(std::string_view name) {
    return L"\u201C" + siftwell::win::Utf8ToWide(name) + L"\u201D";
  }

  bool Confirm(const std::wstring& question) {
    return MessageBoxW(Handle(), question.c_str(), L"Siftwell", MB_YESNO | MB_ICONQUESTION) == IDYES;
  }

  // A name as typed, blanks at either end dropped; none when there is none left.
  static std::optional<std::string> TypedName(const std::wstring& typed) {
    const std::size_t from = typed.find_first_not_of(L" \t");
    if (from == std::wstring::npos) return std::nullopt;
    std::string name;
    if (!siftwell::win::WideToUtf8(typed.substr(from, typed.find_last_not_of(L" \t") - from + 1), name))
      return std::nullopt;
    return name;
  }

  void ReportChange(siftwell::app::PatternStore::Change change, std::string_view name, const wchar_t* done) {
    using Change = siftwell::app::PatternStore::Change;
    switch (change) {
      case Change::Done:
        SetStatus(done + Quoted(name) + L".", false);
        return;
      case Change::Exists:
      case Change::NoSuchPreset:
        return;  // declined, or gone meanwhile: nothing to say
      case Change::BadName:
        SetStatus(L"A preset's name cannot hold a line break.", true);
        return;
      case Change::Unreadable: {
        const auto& problem = store_->PresetsProblem();
        std::wstring where = problem && problem->line != 0 ? L" (line " + std::to_wstring(problem->line) + L")" : L"";
        SetStatus(L"The presets file cannot be read" + where + L"; nothing was changed. Mend or remove " +
                      store_->PresetsFile() + L".",
                  true);
        return;
      }
      case Change::NotWritten:
        SetStatus(L"The presets file could not be written: " + store_->PresetsFile() + L".", true);
        return;
    }
  }

  void SavePresetAs() {
    auto entry = siftwell::app::EntryOf(Fields());
    if (!entry || entry->pattern.empty()) {
      SetStatus(entry ? L"Type a pattern to save it as a preset." : L"The pattern holds a broken character (a lone surrogate).",
                true);
      return;
    }
    const auto typed = siftwell::app::PromptName(Module(), Host(), Handle(), L"Save preset", L"");
    const auto name = typed ? TypedName(*typed) : std::nullopt;
    if (!name) return;
    entry->name = *name;
    auto change = store_->SavePreset(*entry, false);
    if (change == siftwell::app::PatternStore::Change::Exists &&
        Confirm(L"A preset named " + Quoted(*name) + L" exists. Replace it?")) {
      change = store_->SavePreset(*entry, true);
    }
    ReportChange(change, *name, L"Saved the preset ");
  }

  void RenamePreset(const std::string& from) {
    const auto typed = siftwell::app::PromptName(Module(), Host(), Handle(), L"Rename preset", siftwell::win::Utf8ToWide(from));
    const auto name = typed ? TypedName(*typed) : std::nullopt;
    if (!name || *name == from) return;
    auto change = store_->RenamePreset(from, *name, false);
    if (change == siftwell::app::PatternStore::Change::Exists &&
        Confirm(L"A preset named " + Quoted(*name) + L" exists. Replace it?")) {
      change = store_->RenamePreset(from, *name, true);
    }
    ReportChange(change, *name, L"Renamed the preset to ");
  }

  void DeletePreset(const std::string& name) {
    if (!Confirm(L"Delete the preset " + Quoted(name) + L"?")) return;
    ReportChange(store_->DeletePreset(name), name, L"Deleted the preset ");
  }

  // The arrow beside the pattern field, in the window's colours.
  void DrawArrowButton(const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    auto brush = reinterpret_cast<HBRUSH>(SendMessageW(Handle(), WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(dc),
                                                       reinterpret_cast<LPARAM>(item.hwndItem)));
    if (brush == nullptr) {
      brush = GetSysColorBrush(COLOR_BTNFACE);
      SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    }
    RECT r = item.rcItem;
    FillRect(dc, &r, brush);
    const COLORREF text = (item.itemState & ODS_DISABLED) != 0 ? GetSysColor(COLOR_GRAYTEXT) : GetTextColor(dc);
    const COLORREF back = GetBkColor(dc);
    // The frame halfway between text and background: visible in either mode.
    const COLORREF frame = RGB((GetRValue(text) + GetRValue(back)) / 2, (GetGValue(text) + GetGValue(back)) / 2,
                               (GetBValue(text) + GetBValue(back)) / 2);
    struct BrushDelete {
      void operator()(HBRUSH b) const noexcept { DeleteObject(b); }
    };
    std::unique_ptr<std::remove_pointer_t<HBRUSH>, BrushDelete> frameBrush(CreateSolidBrush(frame)),
        arrowBrush(CreateSolidBrush(text));
    if (!frameBrush || !arrowBrush) return;
    FrameRect(dc, &r, frameBrush.get());
    const int32_t half = std::max<int32_t>(2, (r.right - r.left) / 4);
    const int32_t pressed = (item.itemState & ODS_SELECTED) != 0 ? 1 : 0;
    const int32_t cx = (r.left + r.right) / 2 + pressed, cy = (r.top + r.bottom) / 2 + pressed;
    // One row per step: a filled triangle pointing down, crisp at any scale.
    for (int32_t row = 0; row <= half; ++row) {
      RECT line{cx - half + row, cy - half / 2 + row, cx + half - row + 1, cy - half / 2 + row + 1};
      FillRect(dc, &line, arrowBrush.get());
    }
  }

  bool ShowNotice(const std::wstring& text) {
    if (Handle() == nullptr || Running()) return false;
    ShowFailure(text);
    return true;
  }

  void DocumentChanged() {
    documentChanged_ = true;
    // The tab a run's own commit opened (New tab): its outcome stays in the status line.
    if (committing_) return;
    UpdateEnabled();
    if (Handle() != nullptr && !Text(textBox1).empty()) SetTimer(Handle(), kCountTimer, kCountDelayMs, nullptr);
    ++findGeneration_;
    marksAfterRun_ = false;
    ScheduleHighlight(kCountDelayMs);
  }

  // ---- highlight ----

  void SetIndicator(std::optional<int32_t> indicator, std::vector<HWND> views) {
    if (Handle() != nullptr && indicator_) ClearAllMarks();
    indicator_ = indicator;
    views_ = std::move(views);
    SendMessageW(Control(highlightBox), BM_SETCHECK, highlightWanted_ && indicator_ ? BST_CHECKED : BST_UNCHECKED, 0);
    UpdateEnabled();
    UpdateTooltip();
    StyleViews();
    ScheduleHighlight(0);
  }

  std::optional<int32_t> Indicator() const noexcept { return indicator_; }

  bool HighlightOn() const {
    return Handle() != nullptr && indicator_ && Checked(highlightBox) && !marksAfterRun_ && !Text(textBox1).empty();
  }

  // The marks follow after `delay` ms (a pending update keeps its time, so
  // that a scroll that goes on still sees its marks follow).
  void ScheduleHighlight(uint32_t delay) {
    if (Handle() == nullptr || !indicator_) return;
    if (delay == kScrollDelayMs && highlightPending_) return;
    highlightPending_ = true;
    SetTimer(Handle(), kHighlightTimer, delay, nullptr);
  }

  void ViewScrolled() {
    if (!HighlightOn() || !view_) return;
    if (!ShownText::Shows(view_(), marked_.document, marked_.firstLine, marked_.linesOnScreen))
      ScheduleHighlight(kScrollDelayMs);
  }

  void StyleViews() {
    if (!indicator_) return;
    for (HWND view : views_) siftwell::app::StyleMarks(view, *indicator_);
  }

  void ClearAllMarks() {
    ++highlightGeneration_;
    if (highlighter_ && highlighter_->Busy()) highlighter_->Stop();
    marked_ = {};
    if (!indicator_) return;
    markedDocument_.Clear(*indicator_);
    for (HWND view : views_) siftwell::app::ClearMarks(view, *indicator_);
    if (view_) {
      HWND active = view_();
      if (std::find(views_.begin(), views_.end(), active) == views_.end())
        siftwell::app::ClearMarks(active, *indicator_);
    }
  }

  // Copies what the active view shows (and a screen around it) and searches
  // it on the highlight worker.
  void StartHighlight() {
    highlightPending_ = false;
    if (Handle() != nullptr) KillTimer(Handle(), kHighlightTimer);
    if (!HighlightOn()) {
      if (indicator_) ClearAllMarks();
      return;
    }
    std::string pattern;
    if (!siftwell::win::WideToUtf8(Text(textBox1), pattern)) {
      ClearAllMarks();
      return;
    }
    std::shared_ptr<const ShownText> shown;
    try {
      shown = ShownText::Take(view_ ? view_() : nullptr);
    } catch (const std::bad_alloc&) {
    }
    if (!shown || !highlighter_) return;
    siftwell::engine::CompileOptions options;
    options.matchCase = Checked(matchCaseBox);
    options.wholeLines = Checked(wholeLinesBox);
    const uint64_t generation = ++highlightGeneration_;
    auto job = [this, shown, pattern, options, generation](JobControl& control) -> Worker::Delivery {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kHighlightBudgetMs);
      const std::function<bool()> stop = [&] {
        return control.StopRequested() || std::chrono::steady_clock::now() >= deadline;
      };
      auto marks = std::make_shared<siftwell::app::Marks>(siftwell::app::FindMarks(*shown, pattern, options, stop));
      return [this, shown, marks, generation] { ShowMarks(generation, *shown, *marks); };
    };
    if (!highlighter_->Start(job)) return;
  }

  // Back on the UI thread: the marks, if the view still shows that text.
  void ShowMarks(uint64_t generation, const ShownText& shown, const siftwell::app::Marks& marks) {
    if (generation != highlightGeneration_ || !HighlightOn()) return;
    if (marks.error || marks.stopped) {
      ClearAllMarks();  // a rejected pattern, or one too slow to mark while typing
      // Not searched again for a move of the caret, only once the view shows other lines.
      marked_ = {shown.document, shown.firstLine, shown.linesOnScreen};
      return;
    }
    StyleViews();
    if (!siftwell::app::ApplyMarks(shown, marks.ranges, *indicator_)) {
      ScheduleHighlight(kScrollDelayMs);  // it changed meanwhile: again, for what it shows now
      return;
    }
    marked_ = {shown.document, shown.firstLine, shown.linesOnScreen};
    markedDocument_.Hold(shown.view, *indicator_);
    // Marks left in another view (the document shown before) go.
    for (HWND view : views_)
      if (view != shown.view && view != nullptr &&
          SendMessageW(view, static_cast<UINT>(SciMsg::SCI_GETDOCPOINTER), 0, 0) != shown.document)
        siftwell::app::ClearMarks(view, *indicator_);
  }

  void UpdateTooltip() {
    if (tooltip_ == nullptr || Handle() == nullptr) return;
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_SUBCLASS;
    tool.hwnd = Handle();
    tool.uId = 1;
    RECT box{};
    GetWindowRect(Control(highlightBox), &box);
    MapWindowPoints(nullptr, Handle(), reinterpret_cast<POINT*>(&box), 2);
    tool.rect = box;
    tool.lpszText = const_cast<wchar_t*>(kNoIndicatorTip);
    SendMessageW(tooltip_, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    if (!indicator_) {
      SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, Font().X(300));
      SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
  }

  // ---- F3 / Shift+F3 ----

  void FindNext(bool forward) {
    if (Running() || Handle() == nullptr || !finder_) return;
    StopFind();
    std::string pattern;
    const std::wstring typed = Text(textBox1);
    if (typed.empty() || !siftwell::win::WideToUtf8(typed, pattern)) return;
    HWND view = view_ ? view_() : nullptr;
    if (view == nullptr) return;
    find_ = FindRequest{};
    find_.pattern = std::move(pattern);
    find_.forward = forward;
    find_.view = view;
    find_.selStart = static_cast<std::size_t>(std::max<LRESULT>(0, SendMessageW(view, static_cast<UINT>(SciMsg::SCI_GETSELECTIONSTART), 0, 0)));
    find_.selEnd = static_cast<std::size_t>(std::max<LRESULT>(0, SendMessageW(view, static_cast<UINT>(SciMsg::SCI_GETSELECTIONEND), 0, 0)));
    find_.options.matchCase = Checked(matchCaseBox);
    find_.options.wholeLines = Checked(wholeLinesBox);
    try {
      find_.copy = source_(std::exchange(documentChanged_, false));
    } catch (...) {
      documentChanged_ = true;
      return;
    }
    if (!find_.copy) return;
    FindCopyStep();
  }

  // The next piece of a copy comes in a later turn of the message loop.
  // Messages posted to a thread come before its input, so a chain of them
  // would hold every key and click back until the copy ends: while input
  // waits, the piece comes by a timer, which comes after it.
  void NextStep(UINT step) {
    if (HIWORD(GetQueueStatus(QS_INPUT)) != 0) SetTimer(Handle(), step, USER_TIMER_MINIMUM, nullptr);
    else PostMessageW(Handle(), step, 0, 0);
  }

  void Step(UINT step) {
    if (step == kRunCopyStep) {
      if (Running() && !(worker_ && worker_->Busy())) CopyStep();
    } else if (step == kCountCopyStep) {
      CountCopyStep();
    } else if (step == kFindCopyStep) {
      FindCopyStep();
    }
  }

  // A finished run's copy and result are freed on a worker of their own:
  // giving a GB back to the system holds a thread for a fraction of a second,
  // and it should not be the editor's.
  void FreeLater(std::shared_ptr<void> memory) {
    if (!memory) return;
    if (!freer_) freer_ = Worker::Create(Module());
    if (freer_)
      freer_->Start([memory = std::move(memory)](siftwell::win::JobControl&) mutable {
        memory.reset();
        return Worker::Delivery{};
      });
  }

  void StopFind() {
    ++findGeneration_;
    find_.copy.reset();
    if (finder_ && finder_->Busy()) finder_->Stop();
  }

  void FindCopyStep() {
    if (!find_.copy) return;
    DocumentCopy::State state = DocumentCopy::State::NoMemory;
    try {
      state = find_.copy->Step();
    } catch (const std::bad_alloc&) {
    }
    if (state == DocumentCopy::State::Copying) {
      NextStep(kFindCopyStep);
      return;
    }
    if (state != DocumentCopy::State::Done) {
      if (state == DocumentCopy::State::Changed) documentChanged_ = true;
      find_.copy.reset();
      return;
    }
    const std::shared_ptr<const siftwell::app::DocumentText> text = find_.copy->Text();
    const FindRequest request = find_;
    const uint64_t generation = findGeneration_;
    auto job = [this, text, request, generation](JobControl& control) -> Worker::Delivery {
      const std::function<bool()> stop = [&] { return control.StopRequested(); };
      auto step = std::make_shared<siftwell::app::Step>(siftwell::app::FindStep(
          text->bytes, text->IsUtf8(), request.pattern, request.options, request.selStart, request.selEnd,
          request.forward, stop));
      return [this, step, generation] { ShowStep(generation, *step); };
    };
    finder_->Start(job);
  }

  // Back on the UI thread: selects the match if the document is still the one searched.
  void ShowStep(uint64_t generation, const siftwell::app::Step& step) {
    if (generation != findGeneration_ || !find_.copy) return;
    const std::shared_ptr<DocumentCopy> copy = std::exchange(find_.copy, nullptr);
    if (step.stopped || step.error) return;  // (the count says what is wrong with the pattern)
    HWND view = view_ ? view_() : nullptr;
    if (view != find_.view || !copy->SameDocument()) return;
    if (!step.match) {
      SetStatus(L"no match", false);
      return;
    }
    SendMessageW(view, static_cast<UINT>(SciMsg::SCI_SETSEL), static_cast<WPARAM>(step.match->first),
                 static_cast<LPARAM>(step.match->second));
    if (step.wrapped)
      SetStatus(find_.forward ? L"Went on from the start of the document" : L"Went on from the end of the document",
                false);
  }

 protected:
  SIZE ClientSize(const DialogFont& font) const override {
    const Layout layout = ComputeLayout(font, Text(statusLabel));
    return SIZE{layout.width, progressShown_ ? layout.runningHeight : layout.height};
  }

  void LayoutControls() override {
    for (const Placement& c : ComputeLayout(Font(), Text(statusLabel)).controls) {
      HWND control = Control(c.id);
      SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(Font().Handle()), FALSE);
      // A drop-down list's window height includes its list: room for every choice.
      // (Closed, its height is its own, from the font: about the field's.)
      const int32_t list = c.id == resultBox ? static_cast<int32_t>(std::size(kTargets) + 1) * (c.bottom - c.top) : 0;
      MoveWindow(control, c.left, c.top, c.right - c.left, c.bottom - c.top + list, TRUE);
    }
    UpdateTooltip();
  }

  LRESULT OnMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
    switch (msg) {
      case WM_COMMAND:
        // Only real clicks of our buttons. IDOK, which the dialog manager
        // sends for Enter, runs nothing: no default button. IDCANCEL (Escape)
        // cancels a run in flight, and closes the window when none is.
        if (LOWORD(wParam) == IDCANCEL && HIWORD(wParam) == BN_CLICKED) {
          if (Running()) Cancel();
          else PostMessageW(hwnd, WM_CLOSE, 0, 0);
        } else if (HIWORD(wParam) == BN_CLICKED && lParam != 0 &&
                   (LOWORD(wParam) == button1 || LOWORD(wParam) == button2 || LOWORD(wParam) == cancelButton)) {
          const auto source = reinterpret_cast<HWND>(lParam);
          if (source == Control(button1)) Run(Operation::Keep);
          else if (source == Control(button2)) Run(Operation::Remove);
          else if (source == Control(cancelButton)) Cancel();
        } else if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == historyButton) {
          ShowRecallMenu();
        } else if (HIWORD(wParam) == EN_CHANGE && LOWORD(wParam) == textBox1) {
          documentUndoFirst_ = false;
          if (!filling_) historyAt_ = -1;  // typed: Up starts again at the newest
          PatternChanged();
        } else if (HIWORD(wParam) == EN_CHANGE && (LOWORD(wParam) == textBox2 || LOWORD(wParam) == textBox3)) {
          documentUndoFirst_ = false;
        } else if (HIWORD(wParam) == BN_CLICKED &&
                   (LOWORD(wParam) == wholeLinesBox || LOWORD(wParam) == matchCaseBox)) {
          UpdateEnabled();
          documentUndoFirst_ = false;
          if (!Text(textBox1).empty()) PatternChanged();  // counted again with the new choice
        } else if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == inSelectionBox) {
          UpdateEnabled();
        } else if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == highlightBox) {
          highlightWanted_ = Checked(highlightBox);
          marksAfterRun_ = false;
          if (highlightWanted_) ScheduleHighlight(0);
          else ClearAllMarks();
        } else if (HIWORD(wParam) == BN_CLICKED && lParam != 0 &&
                   (LOWORD(wParam) == previousButton || LOWORD(wParam) == nextButton)) {
          FindNext(LOWORD(wParam) == nextButton);
        } else if (HIWORD(wParam) == BN_CLICKED && (LOWORD(wParam) == uniqueBox || LOWORD(wParam) == tallyBox)) {
          // Unique and Tally exclude each other: ticking one clears the other.
          const ControlId other = LOWORD(wParam) == uniqueBox ? tallyBox : uniqueBox;
          if (Checked(static_cast<ControlId>(LOWORD(wParam))))
            SendMessageW(Control(other), BM_SETCHECK, BST_UNCHECKED, 0);
          documentUndoFirst_ = false;
        } else if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == lineNumbersBox) {
          documentUndoFirst_ = false;
        }
        return 0;
      case kRunCopyStep:
      case kCountCopyStep:
      case kFindCopyStep:
        Step(msg);
        return 0;
      case WM_TIMER:
        if (wParam == kRunCopyStep || wParam == kCountCopyStep || wParam == kFindCopyStep) {
          KillTimer(hwnd, wParam);
          Step(static_cast<UINT>(wParam));
        } else if (wParam == kCountTimer) {
          KillTimer(hwnd, kCountTimer);
          StartCount();
        } else if (wParam == kHighlightTimer) {
          StartHighlight();
        } else if (wParam == kBusyTimer) {
          KillTimer(hwnd, kBusyTimer);
          SetStatus(L"counting\u2026", false);
        }
        return 0;
      case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item != nullptr && item->CtlID == statusLabel) {
          DrawStatus(*item);
          return TRUE;
        }
        if (item != nullptr && item->CtlID == historyButton) {
          DrawArrowButton(*item);
          return TRUE;
        }
        break;
      }
      case WM_DESTROY:
        closedOptions_ = Options();
        Cancel();  // closing the window ends its run; the document stays as it was
        StopCount();
        StopFind();
        ClearAllMarks();  // (nothing of the window stays in the documents)
        break;
      case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
          HWND focus = GetFocus();
          if (focus != nullptr && IsChild(hwnd, focus)) lastFocus_ = focus;
        } else {
          UpdateEnabled();  // the selection may have changed in the editor meanwhile
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
  // The controls' keys before the controls see them: Ctrl+Z undoes in the
  // document, Ctrl+Y and Ctrl+Shift+Z redo there.
  static LRESULT CALLBACK KeyProc(HWND control, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                  DWORD_PTR data) {
    auto* self = reinterpret_cast<Impl*>(data);
    switch (msg) {
      case WM_KEYDOWN:
        if (id == textBox1 && (wParam == VK_UP || wParam == VK_DOWN) && GetKeyState(VK_CONTROL) >= 0) {
          self->StepHistory(wParam == VK_UP ? 1 : -1);
          return 0;
        }
        if (wParam == VK_F3 && GetKeyState(VK_CONTROL) >= 0 && GetKeyState(VK_MENU) >= 0) {
          self->FindNext(GetKeyState(VK_SHIFT) >= 0);
          return 0;
        }
        if ((wParam == 'Z' || wParam == 'Y') && GetKeyState(VK_CONTROL) < 0 && GetKeyState(VK_MENU) >= 0) {
          const bool shift = GetKeyState(VK_SHIFT) < 0;
          if (wParam == 'Y' && shift) break;
          if (self->EditorKey(control, wParam == 'Z' && !shift)) {
            self->swallowChar_ = true;  // and the control character it turns into
            return 0;
          }
        }
        break;
      case WM_CHAR:
        if (std::exchange(self->swallowChar_, false) && (wParam == 0x1A || wParam == 0x19)) return 0;
        break;
      case WM_NCDESTROY:
        RemoveWindowSubclass(control, &KeyProc, id);
        break;
      case WM_SYSKEYDOWN:
        // Alt+Down (or Alt+Up) in the pattern field: the list of recent patterns.
        if (id == textBox1 && (wParam == VK_DOWN || wParam == VK_UP) && (lParam & (1 << 29)) != 0) {
          self->ShowRecallMenu();
          return 0;
        }
        break;
      default:
        break;
    }
    return DefSubclassProc(control, msg, wParam, lParam);
  }

  // Undo (or redo) in the active view; false to leave the key to `control`.
  // A field with typing of its own to undo keeps Ctrl+Z, except right after a
  // run: then the last thing the user did was change the document, and
  // Ctrl+Z is meant for that (the pattern is still there to try again).
  bool EditorKey(HWND control, bool undo) {
    if (undo && !documentUndoFirst_ && (control == Control(textBox1) || control == Control(textBox2)) &&
        SendMessageW(control, EM_CANUNDO, 0, 0) != 0) {
      return false;
    }
    // A run in flight would stop on the change and write nothing: the key waits for its end.
    if (Running()) return true;
    HWND view = view_ ? view_() : nullptr;
    if (view == nullptr) return true;
    SendMessageW(view, static_cast<UINT>(undo ? SciMsg::SCI_UNDO : SciMsg::SCI_REDO), 0, 0);
    return true;
  }

  static RunProblem Problem(RunProblem::Kind kind) {
    RunProblem problem;
    problem.kind = kind;
    return problem;
  }

  // One piece of the run's copy per turn of the message loop; then the
  // matching goes to the worker.
  void CopyStep() {
    bool copied = false;
    try {
      copied = current_->CopyStep();
    } catch (const std::bad_alloc&) {
      current_->Cancel();
      copied = true;
    }
    if (!copied) {
      NextStep(kRunCopyStep);
      return;
    }
    std::shared_ptr<Computation> computation;
    try {
      computation = current_->TakeComputation();
    } catch (const std::bad_alloc&) {
      Finish(Problem(RunProblem::Kind::NoMemory));
      return;
    }
    if (!computation) {
      Finish(std::nullopt);  // nothing to compute: the run has its answer
      return;
    }
    if (!worker_) {
      Finish(Problem(RunProblem::Kind::NoWorker));
      return;
    }
    // The worker owns the computation until it hands it back with the outcome.
    auto job = [this, computation](JobControl& control) -> Worker::Delivery {
      computation->Compute(control);
      return [this] { Finish(std::nullopt); };
    };
    if (!worker_->Start(job, [this](JobControl::Progress p) { OnProgress(p); })) {
      Finish(Problem(RunProblem::Kind::NoWorker));
      return;
    }
    // A short run ends here, before the window shows anything of it.
    if (!worker_->DeliverWithin(kQuietMilliseconds)) {
      ShowProgress(true);
      ShowRunning(0);
    }
  }

  // Back on the UI thread: verify and commit, then show the outcome.
  void Finish(std::optional<RunProblem> failure) {
    if (!Running() || committing_) return;
    std::optional<RunProblem> problem = std::move(failure);
    if (!problem) {
      committing_ = true;
      try {
        problem = current_->Commit();
      } catch (const std::bad_alloc&) {
        problem = Problem(RunProblem::Kind::NoMemory);
      } catch (const std::exception&) {
        problem = Problem(RunProblem::Kind::Failed);
      }
      committing_ = false;
    }
    std::optional<RunOutcome> outcome = problem ? std::nullopt : current_->Outcome();
    FreeLater(current_->TakeMemory());
    current_.reset();
    ShowProgress(false);
    // The focus goes back to the pattern field (now, if the user is still in
    // this window; else when they come back).
    HWND field = Control(textBox1);
    if (field != nullptr) {
      if (GetActiveWindow() == Handle()) SetFocus(field);
      lastFocus_ = field;
    }
    if (problem) {
      ShowFailure(*problem);
      return;
    }
    documentChanged_ = true;
    if (outcome) {
      // What was done stays in sight until the pattern or the document changes.
      documentUndoFirst_ = true;
      SetStatus(siftwell::app::Words(*outcome), false);
      if (patternChangedInRun_) DocumentChanged();
      // The marks were of the text the run replaced: none until the pattern,
      // an option or the document changes.
      ClearAllMarks();
      marksAfterRun_ = true;
      return;
    }
    SetStatus({}, false);
    DocumentChanged();
  }

  void OnProgress(JobControl::Progress progress) {
    if (!Running()) return;
    CheckRun();
    HWND bar = Control(progressBar);
    if (bar == nullptr || progress.total == 0) return;
    const auto share = static_cast<WPARAM>(std::min<uint64_t>(progress.done, progress.total) * kProgressRange /
                                           progress.total);
    SendMessageW(bar, PBM_SETPOS, share, 0);
    if (progressShown_) ShowRunning(static_cast<int32_t>(share * 100 / kProgressRange));
  }

  // The status line during a long run: what runs, and how far it got.
  void ShowRunning(int32_t percent) {
    if (percent == shownPercent_) return;
    shownPercent_ = percent;
    const wchar_t* what = startedBy_ == button1 ? L"Keeping\u2026 " : L"Removing\u2026 ";
    SetStatus(what + std::to_wstring(percent) + L"\u00A0%", false);
  }

  // The progress row: the window grows to show it, Keep and Remove rest.
  void ShowProgress(bool show) {
    if (Handle() == nullptr || show == progressShown_) return;
    progressShown_ = show;
    HWND focus = GetFocus();
    if (show) SendMessageW(Control(progressBar), PBM_SETPOS, 0, 0);
    Relayout();
    for (ControlId id : {progressBar, cancelButton}) ShowWindow(Control(id), show ? SW_SHOWNA : SW_HIDE);
    EnableWindow(Control(button1), !show);
    EnableWindow(Control(button2), !show);
    if (show && (focus == Control(button1) || focus == Control(button2))) SetFocus(Control(cancelButton));
    if (!show && focus == Control(cancelButton)) SetFocus(Control(startedBy_));
  }

  // A failure stays in sight: a count still on its way is dropped, also one
  // still waiting for its quiet period (a change reported during the run, a
  // reload, would else put a count over the failure a moment later). The one
  // place where a run's problem becomes words.
  void ShowFailure(const RunProblem& problem) { ShowFailure(siftwell::app::Words(problem)); }
  void ShowFailure(const std::wstring& words) {
    StopCount();
    if (Handle() != nullptr) KillTimer(Handle(), kCountTimer);
    SetStatus(words, true);
  }

  // ---- the live count ----

  void StopCount() {
    ++generation_;
    // A copy cut short stays with the window, to go on where it stopped.
    if (countCopy_) countedCopy_ = std::move(countCopy_);
    if (counter_ && counter_->Busy()) counter_->Stop();
    if (Handle() != nullptr) KillTimer(Handle(), kBusyTimer);
  }

  // Every change to the pattern restarts the quiet period; the running count
  // is for a pattern that is no longer there, so it stops now.
  void PatternChanged() {
    StopCount();
    StopFind();
    marksAfterRun_ = false;
    if (Running()) patternChangedInRun_ = true;
    if (Text(textBox1).empty()) {
      ClearAllMarks();
      KillTimer(Handle(), kCountTimer);
      SetStatus({}, false);
      return;
    }
    SetTimer(Handle(), kCountTimer, kCountDelayMs, nullptr);
    ScheduleHighlight(kCountDelayMs);
  }

  // Takes the document (a copy, reused while it is unchanged, taken step by
  // step) and counts on the worker. The document is only read.
  void StartCount() {
    StopCount();
    const std::wstring typed = Text(textBox1);
    if (typed.empty() || !counter_) return;
    if (Running()) {
      patternChangedInRun_ = true;  // counted once the run has ended
      return;
    }
    if (!siftwell::win::WideToUtf8(typed, countPattern_)) {
      SetStatus(L"The pattern holds a broken character (a lone surrogate).", true);
      return;
    }
    try {
      countCopy_ = source_(std::exchange(documentChanged_, false));
    } catch (...) {
      documentChanged_ = true;
      return;
    }
    if (!countCopy_) return;
    SetTimer(Handle(), kBusyTimer, kBusyDelayMs, nullptr);
    CountCopyStep();
  }

  void CountCopyStep() {
    if (!countCopy_) return;
    DocumentCopy::State state = DocumentCopy::State::NoMemory;
    try {
      state = countCopy_->Step();
    } catch (const std::bad_alloc&) {
    }
    switch (state) {
      case DocumentCopy::State::Copying:
        NextStep(kCountCopyStep);
        return;
      case DocumentCopy::State::Changed:
        countCopy_.reset();
        KillTimer(Handle(), kBusyTimer);
        DocumentChanged();  // counted again once the document is quiet
        return;
      case DocumentCopy::State::NoMemory:
        countCopy_.reset();
        ShowCountStatus(generation_, siftwell::app::Words(Problem(RunProblem::Kind::NoMemory)), true);
        return;
      case DocumentCopy::State::Done:
        break;
    }
    std::shared_ptr<Computation> computation;
    try {
      siftwell::engine::CompileOptions options;
      options.matchCase = Checked(matchCaseBox);
      options.wholeLines = countLines_ = Checked(wholeLinesBox);
      computation = std::make_shared<Computation>(countCopy_->Text(), Operation::Count, countPattern_, std::string(),
                                                  std::move(options));
    } catch (const std::bad_alloc&) {
      return;
    }
    computation->SetTimeBudget(std::chrono::milliseconds(kCountBudgetMs));
    countedCopy_ = std::move(countCopy_);
    const uint64_t generation = generation_;
    auto job = [this, computation, generation](JobControl& control) -> Worker::Delivery {
      computation->Compute(control);
      return [this, computation, generation] { ShowCount(generation, *computation); };
    };
    if (!counter_->Start(job)) KillTimer(Handle(), kBusyTimer);
  }

  void ShowCount(uint64_t generation, const Computation& count) {
    if (generation != generation_) return;
    // The host may have replaced the text while it was counted, telling no
    // one (a reload): that count is of a text no longer there.
    if (countedCopy_ && !countedCopy_->SameDocument()) {
      countedCopy_.reset();
      KillTimer(Handle(), kBusyTimer);
      DocumentChanged();
      return;
    }
    if (!count.Problem()) {
      ShowCountStatus(generation,
                      countLines_ ? siftwell::app::DescribeLines(count.Count())
                                  : siftwell::engine::DescribeCount(count.Count()),
                      false);
    } else if (count.Problem()->kind == RunProblem::Kind::CountTooSlow) {
      // Not an error: the pattern is fine, only too slow to follow the typing.
      ShowCountStatus(generation, siftwell::app::Words(*count.Problem()), false);
    } else if (count.Problem()->kind != RunProblem::Kind::Stopped) {
      ShowCountStatus(generation, siftwell::app::Words(*count.Problem()), true);
    }
  }

  void ShowCountStatus(uint64_t generation, const std::wstring& text, bool error) {
    if (generation != generation_ || Running()) return;  // a newer pattern, a failure or a run came since
    KillTimer(Handle(), kBusyTimer);
    SetStatus(text, error);
  }

  // The window grows or shrinks when the text takes another number of lines.
  void SetStatus(const std::wstring& text, bool error) {
    HWND status = Control(statusLabel);
    if (status == nullptr) return;
    statusError_ = error && !text.empty();
    int32_t width = 0;
    for (const Placement& c : ComputeLayout(Font(), {}).controls)
      if (c.id == statusLabel) width = c.right - c.left;
    const bool resize = WrappedHeight(Font(), Text(statusLabel), width) != WrappedHeight(Font(), text, width);
    SetWindowTextW(status, text.c_str());
    if (resize) Relayout();
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
    if (statusError_) SetTextColor(dc, siftwell::win::ErrorTextColour(GetBkColor(dc)));
    SetBkMode(dc, TRANSPARENT);
    HGDIOBJ old = SelectObject(dc, Font().Handle());
    const std::wstring text = Text(statusLabel);
    RECT bounds = item.rcItem;
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &bounds, kStatusFormat);
    SelectObject(dc, old);
  }

  Runner run_;
  CountSource source_;
  ActiveView view_;
  HWND lastFocus_ = nullptr;
  bool swallowChar_ = false;        // a Ctrl+Z / Ctrl+Y went to the document
  bool documentUndoFirst_ = false;  // a run wrote and no field has changed since
  bool patternChangedInRun_ = false;
  int32_t shownPercent_ = -1;
  bool statusError_ = false;
  bool documentChanged_ = true;
  uint64_t generation_ = 0;  // of the count the status line waits for
  std::string countPattern_;                // UTF-8, of the count being prepared
  bool countLines_ = false;                  // it counts whole lines
  siftwell::app::RunOptions closedOptions_;
  std::shared_ptr<DocumentCopy> countCopy_;  // being taken for it
  std::shared_ptr<DocumentCopy> countedCopy_;  // what the count under way reads, kept for the next
  bool committing_ = false;                  // the run's own write is under way
  // Highlight: the host's indicator (none: the host hands out none), the
  // views it lives in, what the marks were made for.
  std::optional<int32_t> indicator_;
  std::vector<HWND> views_;
  bool highlightWanted_ = true;  // the user's choice (kept while the box is disabled)
  bool highlightPending_ = false;
  bool marksAfterRun_ = false;   // a run replaced the text: no marks until something changes
  uint64_t highlightGeneration_ = 0;
  struct Marked {
    intptr_t document = 0, firstLine = -1, linesOnScreen = -1;
  } marked_;
  siftwell::app::MarkedDocument markedDocument_;
  HWND tooltip_ = nullptr;  // owned by the window: destroyed with it
  // F3 / Shift+F3 under way.
  struct FindRequest {
    std::string pattern;
    siftwell::engine::CompileOptions options;
    bool forward = true;
    HWND view = nullptr;
    std::size_t selStart = 0, selEnd = 0;
    std::shared_ptr<DocumentCopy> copy;
  } find_;
  uint64_t findGeneration_ = 0;
  // The run in flight (UI thread only), then the workers: they go first.
  std::unique_ptr<FilterRun> current_;
  std::unique_ptr<Worker> worker_;
  std::unique_ptr<Worker> counter_;
  std::unique_ptr<Worker> highlighter_;
  std::unique_ptr<Worker> finder_;
  std::unique_ptr<Worker> freer_;  // frees what finished runs held
  ControlId startedBy_ = button1;
  bool progressShown_ = false;
  // Keep's choices that have no control here yet: carried from the options set
  // (a history entry, a preset) into the runs.
  std::shared_ptr<siftwell::app::PatternStore> store_;
  int32_t historyAt_ = -1;                  // the entry shown by Up / Down; -1: what was typed
  siftwell::app::FieldSet typed_;        // what was typed, when Up left it
  bool filling_ = false;                    // the fields are being filled, not typed in
};

frmMyDlg::frmMyDlg(Key, std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
frmMyDlg::~frmMyDlg() = default;

frmMyDlg::Layout frmMyDlg::LayoutAt(uint32_t dpi, std::wstring_view status) {
  const DialogFont font(dpi);
  return ComputeLayout(font, status);
}

std::unique_ptr<frmMyDlg> frmMyDlg::Create(HINSTANCE module, HWND host, Runner run, CountSource source,
                                           ActiveView view) {
  if (!run || !source) return nullptr;
  auto impl = std::make_unique<Impl>(module, host, std::move(run), std::move(source), std::move(view));
  if (!impl->Build()) return nullptr;
  return std::make_unique<frmMyDlg>(Key{}, std::move(impl));
}

HWND frmMyDlg::Handle() const noexcept { return impl_->Handle(); }
bool frmMyDlg::IsClosed() const noexcept { return impl_->IsClosed(); }
void frmMyDlg::SetTitle(std::wstring_view title) { impl_->SetTitle(title); }
void frmMyDlg::Show() { impl_->Show(); }
void frmMyDlg::Present() { impl_->Present(); }
bool frmMyDlg::MoveTo(int32_t left, int32_t top) { return impl_->MoveTo(POINT{left, top}); }
std::pair<int32_t, int32_t> frmMyDlg::LastPosition() const noexcept {
  const RECT r = impl_->LastRect();
  return {r.left, r.top};
}
std::wstring frmMyDlg::PatternText() const { return impl_->Text(textBox1); }
std::wstring frmMyDlg::DelimiterText() const { return impl_->Text(textBox2); }
siftwell::app::RunOptions frmMyDlg::Options() const { return impl_->Options(); }
void frmMyDlg::SetOptions(const siftwell::app::RunOptions& options) { impl_->SetOptions(options); }
std::wstring frmMyDlg::StatusText() const { return impl_->Text(statusLabel); }
bool frmMyDlg::StatusIsError() const noexcept { return impl_->StatusIsError(); }
void frmMyDlg::button1_Click() { impl_->Run(Operation::Keep); }
void frmMyDlg::button2_Click() { impl_->Run(Operation::Remove); }
bool frmMyDlg::IsRunning() const noexcept { return impl_->Running(); }
void frmMyDlg::CancelRun() { impl_->Cancel(); }
void frmMyDlg::CheckRun() { impl_->CheckRun(); }
void frmMyDlg::DocumentEdited(HWND view) { impl_->DocumentEdited(view); }
void frmMyDlg::SelectionChanged() { impl_->UpdateEnabled(); }
void frmMyDlg::HostThemeChanged() {
  impl_->ApplyHostTheme(true);
  impl_->StyleViews();
  // The host may switch the editor's colours after telling: styled again with the next marks.
  impl_->ScheduleHighlight(kScrollDelayMs);
}
void frmMyDlg::DocumentChanged() { impl_->DocumentChanged(); }
void frmMyDlg::SetPatternStore(std::shared_ptr<siftwell::app::PatternStore> store) {
  impl_->SetStore(std::move(store));
}
void frmMyDlg::SetFields(const siftwell::app::FieldSet& fields) { impl_->SetFields(fields); }
void frmMyDlg::ShowRecallMenu() { impl_->ShowRecallMenu(); }
void frmMyDlg::ShowMessage(const std::wstring& text, bool error) { impl_->ShowMessage(text, error); }
void frmMyDlg::SetHighlightIndicator(std::optional<int32_t> indicator, std::vector<HWND> views) {
  impl_->SetIndicator(indicator, std::move(views));
}
std::optional<int32_t> frmMyDlg::HighlightIndicator() const noexcept { return impl_->Indicator(); }
void frmMyDlg::ViewScrolled() { impl_->ViewScrolled(); }
void frmMyDlg::FindNext(bool forward) { impl_->FindNext(forward); }
bool frmMyDlg::ShowNotice(const std::wstring& text) { return impl_->ShowNotice(text); }
