// The filter window and the About window as real windows under the platform:
// geometry at the dialog font's scale, controls, keyboard order, Enter, the
// buttons' runs, closing, and the announcements to a stand-in host window.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "WindowTestKit.h"
#include "win/Worker.h"
#include "app/ErrorText.h"
#include "app/about.h"
#include "app/NamePrompt.h"
#include "npp/HostWindow.h"
#include "npp/Tables.h"

using siftwell::app::PromptName;

using siftwell::app::Operation;

namespace {

using namespace windowtests;

// The scale a window should use, measured here independently: the system
// message font, average width over the alphabet, line height.
struct Scale {
  double width = 6;
  int32_t height = 13;
  int32_t X(int32_t v) const { return static_cast<int32_t>(std::lround(v * width / 6)); }
  int32_t Y(int32_t v) const { return static_cast<int32_t>(std::lround(v * height / 13.0)); }
  SIZE Extent(const std::wstring& text) const {
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return size;
  }
  HFONT font = nullptr;
};

const Scale& Measured() {
  static Scale scale = [] {
    Scale s;
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    EXPECT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0));
    s.font = CreateFontIndirectW(&metrics.lfMessageFont);
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, s.font);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    SIZE alphabet{};
    GetTextExtentPoint32W(dc, L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ", 52, &alphabet);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    s.width = alphabet.cx / 52.0;
    s.height = tm.tmHeight;
    return s;
  }();
  return scale;
}

// A window of a class of this module's, registered on first use.
HWND MakeWindow(const wchar_t* className, WNDPROC proc, DWORD style, HWND parent, void* param) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = proc;
  wc.hInstance = Module();
  wc.lpszClassName = className;
  RegisterClassW(&wc);
  return CreateWindowExW(0, className, L"", style, 0, 0, 200, 100, parent, nullptr, Module(), param);
}

// Stands in for the host's main window: records NPPM_MODELESSDIALOG.
class TestHost {
 public:
  struct Call {
    WPARAM action;
    HWND window;
  };
  TestHost() { hwnd_ = MakeWindow(L"SiftwellTestHost", &Proc, WS_OVERLAPPEDWINDOW, nullptr, this); }
  ~TestHost() { DestroyWindow(hwnd_); }
  HWND Handle() const { return hwnd_; }
  const std::vector<Call>& Calls() const { return calls_; }

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
      SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    }
    auto* self = reinterpret_cast<TestHost*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self != nullptr && msg == static_cast<UINT>(NppMsg::NPPM_MODELESSDIALOG)) {
      self->calls_.push_back({wParam, reinterpret_cast<HWND>(lParam)});
      return lParam;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
  HWND hwnd_ = nullptr;
  std::vector<Call> calls_;
};

// A run that computes nothing and answers with the engine error it was given.
class AnsweringRun : public siftwell::app::FilterRun {
 public:
  explicit AnsweringRun(std::optional<siftwell::engine::FilterError> answer,
                        std::optional<siftwell::app::RunOutcome> outcome = std::nullopt)
      : answer_(std::move(answer)), outcome_(outcome) {}
  std::optional<siftwell::app::RunOutcome> Outcome() const override { return answer_ ? std::nullopt : outcome_; }
  std::optional<siftwell::app::RunProblem> Commit() override {
    if (!answer_) return std::nullopt;
    siftwell::app::RunProblem problem;
    problem.kind = siftwell::app::RunProblem::Kind::Engine;
    problem.engine = answer_;
    return problem;
  }

 private:
  std::optional<siftwell::engine::FilterError> answer_;
  std::optional<siftwell::app::RunOutcome> outcome_;
};

// Records what the filter window asks to run.
struct RecordingRunner {
  struct Call {
    Operation op;
    std::wstring pattern;
    std::wstring delimiter;
    siftwell::app::RunOptions options;
  };
  std::vector<Call> calls;
  std::optional<siftwell::engine::FilterError> answer;
  std::optional<siftwell::app::RunOutcome> outcome;  // what a run without `answer` did
  bool fail = false;

  frmMyDlg::Runner Runner() {
    return [this](Operation op, std::wstring_view pattern, std::wstring_view delimiter,
                  const siftwell::app::RunOptions& options,
                  std::shared_ptr<siftwell::app::DocumentCopy>) -> std::unique_ptr<siftwell::app::FilterRun> {
      calls.push_back({op, std::wstring(pattern), std::wstring(delimiter), options});
      if (fail) throw std::runtime_error("engine failure");
      return std::make_unique<AnsweringRun>(answer, outcome);
    };
  }
};

std::wstring Text(HWND hwnd) {
  wchar_t buffer[256] = {};
  GetWindowTextW(hwnd, buffer, 256);
  return buffer;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t buffer[64] = {};
  GetClassNameW(hwnd, buffer, 64);
  return buffer;
}

SIZE ClientSize(HWND hwnd) {
  RECT r{};
  GetClientRect(hwnd, &r);
  return SIZE{r.right, r.bottom};
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> found;
  for (HWND c = GetWindow(parent, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) found.push_back(c);
  return found;
}

// A key press as the message loop would see it, handed to the dialog manager.
void PressKey(HWND dialog, HWND target, WPARAM key) {
  MSG down{target, WM_KEYDOWN, key, 1, 0, {}};
  if (!IsDialogMessageW(dialog, &down)) {
    TranslateMessage(&down);
    DispatchMessageW(&down);
  }
  MSG up{target, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u), 0, {}};
  if (!IsDialogMessageW(dialog, &up)) DispatchMessageW(&up);
  Pump(dialog);
}

void ExpectFixedToolWindow(HWND hwnd) {
  const LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
  const LONG_PTR exStyle = GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
  EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_CHILD | WS_POPUP));
  EXPECT_TRUE(exStyle & WS_EX_TOOLWINDOW) << "a tool window stays out of the taskbar";
  EXPECT_FALSE(exStyle & WS_EX_APPWINDOW);
  EXPECT_EQ(GetWindow(hwnd, GW_OWNER), nullptr);
  EXPECT_EQ(GetParent(hwnd), nullptr);

  // Dragging can neither shrink nor grow it.
  RECT outer{};
  GetWindowRect(hwnd, &outer);
  MINMAXINFO info{};
  info.ptMinTrackSize = POINT{1, 1};
  info.ptMaxTrackSize = POINT{10000, 10000};
  SendMessageW(hwnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.ptMinTrackSize.x, outer.right - outer.left);
  EXPECT_EQ(info.ptMaxTrackSize.x, outer.right - outer.left);
  EXPECT_EQ(info.ptMinTrackSize.y, outer.bottom - outer.top);
  EXPECT_EQ(info.ptMaxTrackSize.y, outer.bottom - outer.top);
  // No sizing border anywhere on the frame.
  const POINT probes[] = {{outer.left, outer.top},          {outer.right - 1, outer.bottom - 1},
                          {outer.left, (outer.top + outer.bottom) / 2}, {outer.right - 1, outer.top + 2},
                          {(outer.left + outer.right) / 2, outer.bottom - 1}};
  for (POINT p : probes) {
    const LRESULT hit = SendMessageW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(p.x, p.y));
    EXPECT_FALSE(hit >= HTLEFT && hit <= HTBOTTOMRIGHT) << "sizing hit code " << hit;
  }
}

// Of the controls that show: hidden ones (the progress row between runs) may lie outside.
void ExpectNoOverlapInside(HWND parent) {
  const SIZE client = ClientSize(parent);
  std::vector<HWND> controls;
  for (HWND c : Children(parent))
    if (GetWindowLongPtrW(c, GWL_STYLE) & WS_VISIBLE) controls.push_back(c);
  for (size_t i = 0; i < controls.size(); ++i) {
    const RECT a = ChildRect(controls[i]);
    EXPECT_GE(a.left, 0);
    EXPECT_GE(a.top, 0);
    EXPECT_LE(a.right, client.cx) << Text(controls[i]);
    EXPECT_LE(a.bottom, client.cy) << Text(controls[i]);
    for (size_t j = i + 1; j < controls.size(); ++j) {
      const RECT b = ChildRect(controls[j]);
      RECT both{};
      EXPECT_FALSE(IntersectRect(&both, &a, &b)) << "'" << Narrow(Text(controls[i]))
                                                 << "' overlaps control " << GetDlgCtrlID(controls[j]);
    }
  }
}

class FilterWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    window = frmMyDlg::Create(Module(), host.Handle(), runner.Runner(), FixedDocument(""));
    ASSERT_NE(window, nullptr);
    ASSERT_NE(window->Handle(), nullptr);
  }
  HWND Item(int32_t id) const { return GetDlgItem(window->Handle(), id); }

  TestHost host;
  RecordingRunner runner;
  std::unique_ptr<frmMyDlg> window;
};

TEST_F(FilterWindow, ClientAreaIs359By96AtTheDesignScaleOfTheDialogFont) {
  const Scale& s = Measured();
  const SIZE client = ClientSize(window->Handle());
  EXPECT_EQ(client.cx, s.X(359));
  EXPECT_EQ(client.cy, s.Y(190)) << "96, and the rows of options below";
  ExpectFixedToolWindow(window->Handle());
  EXPECT_EQ(Text(window->Handle()), L"frmMyDlg");
  EXPECT_EQ(ClassOf(window->Handle()), L"frmMyDlg");
}

TEST_F(FilterWindow, ControlsHaveTheirTextsPlacesAndFont) {
  const Scale& s = Measured();
  struct Expected {
    int32_t id;
    const wchar_t* cls;
    const wchar_t* text;
    int32_t x, y, w, h;
    bool autoSize;
  };
  const Expected expected[] = {
      {frmMyDlg::textBox1, L"Edit", L"", 94, 21, 100, 20, false},
      {frmMyDlg::button1, L"Button", L"Keep Pattern", 210, 21, 135, 23, false},
      {frmMyDlg::button2, L"Button", L"Everything BUT pattern", 210, 56, 135, 23, false},
      {frmMyDlg::label1, L"Static", L"Regex Pattern:", 5, 21, 78, 13, true},
      {frmMyDlg::label2, L"Static", L"Delimiter:", 5, 58, 50, 13, true},
      {frmMyDlg::textBox2, L"Edit", L"\\n", 94, 58, 100, 20, false},
      {frmMyDlg::label3, L"Static", L"Output:", 5, 106, 0, 0, true},
      {frmMyDlg::textBox3, L"Edit", L"", 94, 106, 100, 20, false},
      {frmMyDlg::label4, L"Static", L"Result:", 210, 106, 0, 0, true},
      {frmMyDlg::historyButton, L"Button", L"", 196, 21, 12, 20, false},
  };
  std::vector<HWND> visible;
  for (HWND c : Children(window->Handle())) {
    if (GetWindowLongPtrW(c, GWL_STYLE) & WS_VISIBLE) visible.push_back(c);
  }
  // Below them the check boxes and the result choice (their sizes follow their texts).
  const std::pair<int32_t, const wchar_t*> options[] = {{frmMyDlg::wholeLinesBox, L"Whole lines"},
                                                        {frmMyDlg::matchCaseBox, L"Match case"},
                                                        {frmMyDlg::inSelectionBox, L"In selection"},
                                                        {frmMyDlg::resultBox, L"This document"},
                                                        {frmMyDlg::highlightBox, L"Highlight"},
                                                        {frmMyDlg::previousButton, L"Previous"},
                                                        {frmMyDlg::nextButton, L"Next"},
                                                        {frmMyDlg::uniqueBox, L"Unique"},
                                                        {frmMyDlg::tallyBox, L"Tally"},
                                                        {frmMyDlg::lineNumbersBox, L"Line numbers"}};
  for (const auto& [id, text] : options) {
    EXPECT_EQ(Text(Item(id)), text);
    const int32_t row = id == frmMyDlg::resultBox                                       ? 106
                        : id == frmMyDlg::highlightBox                                  ? 152
                        : id == frmMyDlg::previousButton || id == frmMyDlg::nextButton ? 149
                        : id >= frmMyDlg::uniqueBox                                     ? 130
                                                                                        : 85;
    EXPECT_EQ(ChildRect(Item(id)).top, s.Y(row)) << text;
  }
  EXPECT_EQ(SendMessageW(Item(frmMyDlg::matchCaseBox), BM_GETCHECK, 0, 0), BST_CHECKED) << "today's behaviour";
  EXPECT_EQ(SendMessageW(Item(frmMyDlg::wholeLinesBox), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(visible.size(), std::size(expected) + std::size(options)) << "nothing but these controls shows";
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.id);
    HWND c = Item(e.id);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(ClassOf(c), e.cls);
    EXPECT_EQ(Text(c), e.text);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(c, WM_GETFONT, 0, 0)) != nullptr, true);
    const RECT r = ChildRect(c);
    EXPECT_EQ(r.left, s.X(e.x));
    EXPECT_EQ(r.top, s.Y(e.y));
    if (e.autoSize) {
      const SIZE text = s.Extent(e.text);
      EXPECT_EQ(r.right - r.left, text.cx) << "a label is as wide as its text";
      EXPECT_EQ(r.bottom - r.top, text.cy);
    } else {
      EXPECT_EQ(r.right - r.left, s.X(e.w));
      EXPECT_EQ(r.bottom - r.top, s.Y(e.h));
    }
  }
  ExpectNoOverlapInside(window->Handle());
}

TEST_F(FilterWindow, FieldsAreSingleLineAndNoButtonIsDefault) {
  for (int32_t id : {frmMyDlg::textBox1, frmMyDlg::textBox2}) {
    EXPECT_FALSE(GetWindowLongPtrW(Item(id), GWL_STYLE) & (ES_MULTILINE | ES_WANTRETURN));
  }
  for (int32_t id : {frmMyDlg::button1, frmMyDlg::button2}) {
    const LRESULT code = SendMessageW(Item(id), WM_GETDLGCODE, 0, 0);
    EXPECT_FALSE(code & DLGC_DEFPUSHBUTTON);
    EXPECT_NE(id, IDOK);
  }
  EXPECT_EQ(GetDlgItem(window->Handle(), IDOK), nullptr) << "Enter's IDOK must reach no control";
}

TEST_F(FilterWindow, ButtonsUseTheThemedCommonControls) {
  // Only version-6 buttons answer BCM_GETIDEALSIZE; this process itself has no
  // manifest asking for them, like the host as far as the plugin knows.
  HWND plain = CreateWindowExW(0, L"Button", L"plain", WS_CHILD | BS_PUSHBUTTON, 0, 0, 50, 20, window->Handle(),
                               nullptr, Module(), nullptr);
  ASSERT_NE(plain, nullptr);
  SIZE plainIdeal{};
  EXPECT_FALSE(SendMessageW(plain, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&plainIdeal)));
  DestroyWindow(plain);
  for (int32_t id : {frmMyDlg::button1, frmMyDlg::button2}) {
    SIZE ideal{};
    EXPECT_TRUE(SendMessageW(Item(id), BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal)));
    EXPECT_GT(ideal.cx, 0);
  }
}

TEST_F(FilterWindow, TabGoesPatternDelimiterKeepRemove) {
  HWND dialog = window->Handle();
  const HWND order[] = {Item(frmMyDlg::textBox1),      Item(frmMyDlg::textBox2),     Item(frmMyDlg::button1),
                        Item(frmMyDlg::button2),       Item(frmMyDlg::wholeLinesBox), Item(frmMyDlg::matchCaseBox),
                        Item(frmMyDlg::inSelectionBox), Item(frmMyDlg::textBox3),     Item(frmMyDlg::resultBox),
                        Item(frmMyDlg::uniqueBox),      Item(frmMyDlg::tallyBox),  // (Line numbers: disabled)
                        Item(frmMyDlg::previousButton), Item(frmMyDlg::nextButton)};  // (Highlight: disabled, no indicator)
  for (size_t i = 0; i < std::size(order); ++i) {
    EXPECT_EQ(GetNextDlgTabItem(dialog, order[i], FALSE), order[(i + 1) % std::size(order)]) << i;
    EXPECT_EQ(GetNextDlgTabItem(dialog, order[(i + 1) % std::size(order)], TRUE), order[i]) << i;
  }
  for (int32_t id : {frmMyDlg::label1, frmMyDlg::label2, frmMyDlg::statusLabel}) {
    EXPECT_FALSE(GetWindowLongPtrW(Item(id), GWL_STYLE) & WS_TABSTOP);
  }
  // The real keys, through the dialog manager as the host's loop runs them.
  window->Show();
  SetForegroundWindow(dialog);
  SetFocus(order[0]);
  ASSERT_EQ(GetFocus(), order[0]);
  for (size_t i = 1; i <= std::size(order); ++i) {
    PressKey(dialog, GetFocus(), VK_TAB);
    EXPECT_EQ(GetFocus(), order[i % std::size(order)]) << i;
  }
}

TEST_F(FilterWindow, EnterInAFieldRunsNothingAndChangesNothing) {
  HWND dialog = window->Handle();
  window->Show();
  SetForegroundWindow(dialog);
  SetWindowTextW(Item(frmMyDlg::textBox1), L"a+");
  for (int32_t id : {frmMyDlg::textBox1, frmMyDlg::textBox2}) {
    SetFocus(Item(id));
    ASSERT_EQ(GetFocus(), Item(id));
    PressKey(dialog, Item(id), VK_RETURN);
  }
  // What the dialog manager sends for Enter and Escape without a default button.
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  EXPECT_TRUE(runner.calls.empty());
  EXPECT_EQ(window->PatternText(), L"a+");
  EXPECT_EQ(window->DelimiterText(), L"\\n");
  EXPECT_FALSE(window->IsClosed());
}

// Stands in for the editor view: counts the undo and redo requests it gets.
class RecordingView {
 public:
  RecordingView() { hwnd_ = MakeWindow(L"SiftwellTestView", &Proc, 0, HWND_MESSAGE, nullptr); }
  ~RecordingView() { DestroyWindow(hwnd_); }
  HWND Handle() const { return hwnd_; }
  static inline int undos = 0, redos = 0;

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == static_cast<UINT>(SciMsg::SCI_UNDO)) ++undos;
    if (msg == static_cast<UINT>(SciMsg::SCI_REDO)) ++redos;
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
  HWND hwnd_ = nullptr;
};

// A key pressed with Ctrl held, as the dialog manager hands it on.
void PressCtrlKey(HWND dialog, HWND target, WPARAM key, bool shift = false) {
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  keys[VK_CONTROL] = 0x80;
  keys[VK_SHIFT] = shift ? 0x80 : 0;
  SetKeyboardState(keys);
  PressKey(dialog, target, key);
  keys[VK_CONTROL] = keys[VK_SHIFT] = 0;
  SetKeyboardState(keys);
}

TEST_F(FilterWindow, FocusAndKeysFollowTheWork) {
  RecordingView view;
  window = frmMyDlg::Create(Module(), host.Handle(), runner.Runner(), FixedDocument(""),
                            [&view] { return view.Handle(); });
  ASSERT_NE(window, nullptr);
  HWND dialog = window->Handle();
  HWND pattern = Item(frmMyDlg::textBox1);
  SetWindowTextW(pattern, L"\\d+");
  // Opening again (the window is open, the focus elsewhere) puts the caret in
  // the pattern field with its text selected.
  window->Show();
  SetForegroundWindow(host.Handle());
  SetFocus(host.Handle());
  window->Present();
  EXPECT_EQ(GetFocus(), pattern);
  DWORD from = 1, to = 0;
  SendMessageW(pattern, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
  EXPECT_EQ(from, 0u);
  EXPECT_EQ(to, 3u);

  // Typing of its own to undo: Ctrl+Z stays in the field.
  SendMessageW(pattern, EM_SETSEL, 3, 3);
  SendMessageW(pattern, WM_CHAR, L'x', 1);
  ASSERT_EQ(window->PatternText(), L"\\d+x");
  RecordingView::undos = RecordingView::redos = 0;
  PressCtrlKey(dialog, pattern, 'Z');
  EXPECT_EQ(window->PatternText(), L"\\d+");
  EXPECT_EQ(RecordingView::undos, 0);

  // After a run the focus is back in the pattern field, the status line says
  // what was done, and Ctrl+Z / Ctrl+Y go to the document.
  runner.outcome = siftwell::app::RunOutcome{true, 1234, false};
  SetFocus(Item(frmMyDlg::button2));
  SendMessageW(Item(frmMyDlg::button2), BM_CLICK, 0, 0);
  ASSERT_EQ(runner.calls.size(), 1u);
  EXPECT_EQ(GetFocus(), pattern);
  EXPECT_EQ(window->StatusText(), L"Kept 1\u00A0234 matches \u2014 Ctrl+Z to undo");
  EXPECT_FALSE(window->StatusIsError());
  PressCtrlKey(dialog, pattern, 'Z');
  EXPECT_EQ(RecordingView::undos, 1);
  EXPECT_EQ(window->PatternText(), L"\\d+") << "the field is left as it was";
  PressCtrlKey(dialog, Item(frmMyDlg::textBox2), 'Y');
  PressCtrlKey(dialog, Item(frmMyDlg::button1), 'Z', true);
  EXPECT_EQ(RecordingView::redos, 2);
  EXPECT_EQ(window->DelimiterText(), L"\\n");

  // The other outcomes' words.
  const std::pair<siftwell::app::RunOutcome, std::wstring> outcomes[] = {
      {{false, 200, false}, L"Removed 200 matches \u2014 Ctrl+Z to undo"},
      {{false, 1, true}, L"Removed 1 match \u2014 Ctrl+Z to undo"},
      {{true, 0, true}, L"Kept 0 matches: the document is now empty \u2014 Ctrl+Z to undo"},
      {{false, 0, false}, L"no match"},
      {{true, 345, false, false, 0, 0, 0, false, false, 12}, L"Kept 12 distinct values (345 matches) \u2014 Ctrl+Z to undo"},
      {{true, 9, false, true, 20, 1, 0, false, false, 1, true, true},
       L"Kept 1 distinct line with its count (9 lines of 20) into a new tab; the document is unchanged. "
       L"Double-click a line there to go to it in the document."},
  };
  for (const auto& [outcome, words] : outcomes) {
    runner.outcome = outcome;
    window->button1_Click();
    EXPECT_EQ(window->StatusText(), words);
  }

  // Escape with no run in flight closes the window.
  PressKey(dialog, pattern, VK_ESCAPE);
  EXPECT_TRUE(window->IsClosed());
}

TEST_F(FilterWindow, ButtonsRunTheirOperationWithTheFieldTexts) {
  SetWindowTextW(Item(frmMyDlg::textBox1), L"(\\d+)-x");
  SetWindowTextW(Item(frmMyDlg::textBox2), L"; \\t");
  SendMessageW(Item(frmMyDlg::button1), BM_CLICK, 0, 0);
  SendMessageW(Item(frmMyDlg::button2), BM_CLICK, 0, 0);
  ASSERT_EQ(runner.calls.size(), 2u);
  EXPECT_EQ(runner.calls[0].op, Operation::Keep);
  EXPECT_EQ(runner.calls[1].op, Operation::Remove);
  for (const auto& call : runner.calls) {
    EXPECT_EQ(call.pattern, L"(\\d+)-x");
    EXPECT_EQ(call.delimiter, L"; \\t");
  }
  // Fields keep their text between presses.
  EXPECT_EQ(window->PatternText(), L"(\\d+)-x");
  EXPECT_EQ(window->DelimiterText(), L"; \\t");
  EXPECT_TRUE(runner.calls[0].options.matchCase);
  EXPECT_EQ(runner.calls[0].options.target, siftwell::app::Target::Document);

  // The options as clicked reach the run; what does not apply with whole
  // lines (the delimiter, the template) is disabled, and enabled again.
  SetWindowTextW(Item(frmMyDlg::textBox3), L"$1");
  SendMessageW(Item(frmMyDlg::resultBox), CB_SETCURSEL, 2, 0);
  for (int32_t id : {frmMyDlg::matchCaseBox, frmMyDlg::wholeLinesBox, frmMyDlg::inSelectionBox})
    SendMessageW(Item(id), BM_CLICK, 0, 0);
  for (int32_t id : {frmMyDlg::textBox2, frmMyDlg::label2, frmMyDlg::textBox3, frmMyDlg::label3})
    EXPECT_FALSE(IsWindowEnabled(Item(id))) << id;
  // Line numbers go with whole lines; Unique and Tally exclude each other.
  EXPECT_TRUE(IsWindowEnabled(Item(frmMyDlg::lineNumbersBox)));
  for (int32_t id : {frmMyDlg::uniqueBox, frmMyDlg::tallyBox, frmMyDlg::lineNumbersBox})
    SendMessageW(Item(id), BM_CLICK, 0, 0);
  EXPECT_EQ(SendMessageW(Item(frmMyDlg::uniqueBox), BM_GETCHECK, 0, 0), BST_UNCHECKED) << "Tally cleared Unique";
  SendMessageW(Item(frmMyDlg::button1), BM_CLICK, 0, 0);
  ASSERT_EQ(runner.calls.size(), 3u);
  const siftwell::app::RunOptions& o = runner.calls[2].options;
  EXPECT_FALSE(o.matchCase);
  EXPECT_TRUE(o.wholeLines);
  EXPECT_TRUE(o.inSelection);
  EXPECT_EQ(o.target, siftwell::app::Target::Clipboard);
  EXPECT_EQ(o.outputTemplate, L"$1");
  EXPECT_TRUE(o.tally && !o.unique && o.lineNumbers);
  SendMessageW(Item(frmMyDlg::wholeLinesBox), BM_CLICK, 0, 0);
  for (int32_t id : {frmMyDlg::textBox2, frmMyDlg::textBox3}) EXPECT_TRUE(IsWindowEnabled(Item(id))) << id;
  EXPECT_FALSE(IsWindowEnabled(Item(frmMyDlg::lineNumbersBox)));
  SendMessageW(Item(frmMyDlg::uniqueBox), BM_CLICK, 0, 0);
  EXPECT_EQ(SendMessageW(Item(frmMyDlg::tallyBox), BM_GETCHECK, 0, 0), BST_UNCHECKED) << "Unique cleared Tally";
  SendMessageW(Item(frmMyDlg::button1), BM_CLICK, 0, 0);
  ASSERT_EQ(runner.calls.size(), 4u);
  EXPECT_TRUE(runner.calls[3].options.unique && !runner.calls[3].options.tally);
  EXPECT_FALSE(runner.calls[3].options.lineNumbers) << "no line numbers without whole lines";
  EXPECT_TRUE(window->Options().lineNumbers) << "the box keeps its tick";
  // What the window shows is what it gives back (kept in the settings file).
  siftwell::app::RunOptions saved = window->Options();
  saved.target = siftwell::app::Target::NewTab;
  window->SetOptions(saved);
  EXPECT_EQ(window->Options().target, siftwell::app::Target::NewTab);
  EXPECT_EQ(window->Options().outputTemplate, L"$1");
  EXPECT_FALSE(window->Options().matchCase);
}

// A folder of its own for the files a test writes, emptied first.
std::filesystem::path EmptyFolder(const wchar_t* name) {
  const auto folder = std::filesystem::temp_directory_path() /
                      (std::wstring(name) + L"-" + std::to_wstring(GetCurrentProcessId()));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

void WriteBytes(const std::filesystem::path& file, std::string_view bytes) {
  std::ofstream(file, std::ios::binary) << bytes;
}

// Every run goes to the history, once; Up and Down in the pattern field step
// through it with each run's delimiter and options; Down past the newest gives
// back what was being typed; the list (Alt+Down) fills the fields too; the
// history is there again for the next session, a damaged file included.
TEST_F(FilterWindow, UpAndDownStepThroughTheHistoryAndBackToWhatWasTyped) {
  using siftwell::app::PatternStore;
  const auto folder = EmptyFolder(L"siftwell-history");
  window->SetPatternStore(std::make_shared<PatternStore>(folder.wstring()));
  HWND dialog = window->Handle(), pattern = Item(frmMyDlg::textBox1);
  auto checked = [&](int32_t id) { return SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; };
  auto fill = [&](const wchar_t* p, const wchar_t* d, bool lines, bool matchCase) {
    SetWindowTextW(pattern, p);
    SetWindowTextW(Item(frmMyDlg::textBox2), d);
    if (checked(frmMyDlg::wholeLinesBox) != lines) SendMessageW(Item(frmMyDlg::wholeLinesBox), BM_CLICK, 0, 0);
    if (checked(frmMyDlg::matchCaseBox) != matchCase) SendMessageW(Item(frmMyDlg::matchCaseBox), BM_CLICK, 0, 0);
  };
  auto run = [&](const wchar_t* p, const wchar_t* d, bool lines) {
    fill(p, d, lines, true);
    SendMessageW(Item(frmMyDlg::button1), BM_CLICK, 0, 0);
    Pump(dialog);
  };
  auto shows = [&](const wchar_t* p, const wchar_t* d, bool lines, bool matchCase) {
    EXPECT_EQ(window->PatternText(), p);
    EXPECT_EQ(window->DelimiterText(), d);
    EXPECT_EQ(checked(frmMyDlg::wholeLinesBox), lines) << ::testing::PrintToString(std::wstring(p));
    EXPECT_EQ(checked(frmMyDlg::matchCaseBox), matchCase) << ::testing::PrintToString(std::wstring(p));
  };
  run(L"one", L",", false);
  run(L"two", L"\\n", true);
  run(L"one", L",", false);  // again: to the front, not twice
  ASSERT_EQ(runner.calls.size(), 3u);
  fill(L"typed", L";", false, false);
  PressKey(dialog, pattern, VK_UP);
  shows(L"one", L",", false, true);
  PressKey(dialog, pattern, VK_UP);
  shows(L"two", L"\\n", true, true);
  PressKey(dialog, pattern, VK_UP);  // the oldest stays
  shows(L"two", L"\\n", true, true);
  PressKey(dialog, pattern, VK_DOWN);
  shows(L"one", L",", false, true);
  PressKey(dialog, pattern, VK_DOWN);
  shows(L"typed", L";", false, false);
  PressKey(dialog, pattern, VK_DOWN);
  shows(L"typed", L";", false, false);
  EXPECT_EQ(runner.calls.size(), 3u) << "stepping runs nothing";
  // Typing over an entry starts again from the newest.
  PressKey(dialog, pattern, VK_UP);
  SetWindowTextW(pattern, L"edited");
  PressKey(dialog, pattern, VK_UP);
  shows(L"one", L",", false, true);
  PressKey(dialog, pattern, VK_DOWN);
  EXPECT_EQ(window->PatternText(), L"edited");

  // Alt+Down lists them: Down, Down, Enter takes the second.
  PostMessageW(pattern, WM_SYSKEYDOWN, VK_DOWN, 1 << 29);
  for (WPARAM key : {VK_DOWN, VK_DOWN, VK_RETURN}) PostMessageW(pattern, WM_KEYDOWN, key, 1);
  Pump(dialog);
  shows(L"two", L"\\n", true, true);

  // The next session has them, in order.
  const PatternStore again(folder.wstring());
  ASSERT_EQ(again.History().size(), 2u);
  EXPECT_EQ(again.History()[0].pattern, "one");
  EXPECT_EQ(again.History()[0].delimiter, ",");
  EXPECT_TRUE(again.History()[1].lines);
  // A damaged file costs only its damaged entries, and is written whole again.
  WriteBytes(folder / PatternStore::kHistoryFileName, "[1]\npattern = kept\n[2\npattern = lost\n\xFF\xFE");
  PatternStore damaged(folder.wstring());
  ASSERT_EQ(damaged.History().size(), 1u);
  EXPECT_EQ(damaged.History()[0].pattern, "kept");
  damaged.Remember(damaged.History()[0]);
  EXPECT_EQ(PatternStore(folder.wstring()).History().size(), 1u);
  std::filesystem::remove_all(folder);
}

// Saving, replacing, renaming and deleting presets, in the file the CLI
// reads; a file that does not read is never written over.
TEST(PresetsFile, ChangesReachTheFileAndAnUnreadableFileIsKept) {
  using siftwell::app::PatternStore;
  using Change = PatternStore::Change;
  const auto folder = EmptyFolder(L"siftwell-presets");
  PatternStore store(folder.wstring());
  int32_t heard = 0;
  store.presetsChanged = [&heard] { ++heard; };
  auto preset = [](const char* name, const char* pattern) {
    siftwell::engine::Preset p;
    p.name = name;
    p.pattern = pattern;
    return p;
  };
  auto names = [&] {
    std::string out;
    const PatternStore fresh(folder.wstring());  // what the file says
    for (const auto& p : fresh.Presets()) out += p.name + "=" + p.pattern + " ";
    return out;
  };
  struct Step {
    std::function<Change()> change;
    Change expected;
    const char* file;
  };
  const Step steps[] = {
      {[&] { return store.SavePreset(preset("Errors", "ERROR"), false); }, Change::Done, "Errors=ERROR "},
      {[&] { return store.SavePreset(preset("Words", "\\w+"), false); }, Change::Done, "Errors=ERROR Words=\\w+ "},
      {[&] { return store.SavePreset(preset("Errors", "E"), false); }, Change::Exists, "Errors=ERROR Words=\\w+ "},
      {[&] { return store.SavePreset(preset("Errors", "E"), true); }, Change::Done, "Errors=E Words=\\w+ "},
      {[&] { return store.SavePreset(preset(" padded", "x"), false); }, Change::BadName, "Errors=E Words=\\w+ "},
      {[&] { return store.RenamePreset("Errors", "Words", false); }, Change::Exists, "Errors=E Words=\\w+ "},
      {[&] { return store.RenamePreset("Errors", "Errs", false); }, Change::Done, "Errs=E Words=\\w+ "},
      {[&] { return store.RenamePreset("Errs", "Words", true); }, Change::Done, "Words=E "},
      {[&] { return store.RenamePreset("gone", "x", false); }, Change::NoSuchPreset, "Words=E "},
      {[&] { return store.DeletePreset("Words"); }, Change::Done, ""},
      {[&] { return store.DeletePreset("Words"); }, Change::NoSuchPreset, ""},
  };
  for (const Step& step : steps) {
    EXPECT_EQ(step.change(), step.expected) << step.file;
    EXPECT_EQ(names(), step.file);
  }
  EXPECT_EQ(heard, 6);
  // Another program's change is seen; a broken file stays as it is.
  const std::string broken = "[a]\npattern = x\nbogus = 1\n";
  WriteBytes(folder / PatternStore::kPresetsFileName, broken);
  EXPECT_EQ(store.SavePreset(preset("b", "y"), false), Change::Unreadable);
  ASSERT_TRUE(store.PresetsProblem());
  EXPECT_EQ(store.PresetsProblem()->line, 3u);
  EXPECT_TRUE(store.Presets().empty());
  {
    std::ifstream in(folder / PatternStore::kPresetsFileName, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), broken);
  }
  std::filesystem::remove_all(folder);
}

TEST_F(FilterWindow, EmptyPatternRunsNothingAndShowsNothing) {
  SendMessageW(Item(frmMyDlg::button1), BM_CLICK, 0, 0);
  window->button2_Click();
  EXPECT_TRUE(runner.calls.empty());
  EXPECT_EQ(window->StatusText(), L"");
  EXPECT_FALSE(IsWindowVisible(Item(frmMyDlg::statusLabel)));
}

TEST_F(FilterWindow, RejectionIsShownInTheWindowAndClearedBySuccess) {
  window->Show();
  const SIZE before = ClientSize(window->Handle());
  SetWindowTextW(Item(frmMyDlg::textBox1), L"(");
  runner.answer = siftwell::engine::Compile("(").error;
  ASSERT_TRUE(runner.answer);
  SendMessageW(Item(frmMyDlg::button1), BM_CLICK, 0, 0);
  EXPECT_EQ(window->StatusText(), siftwell::app::ErrorText(*runner.answer));
  EXPECT_TRUE(IsWindowVisible(Item(frmMyDlg::statusLabel)));
  EXPECT_EQ(ClientSize(window->Handle()).cx, before.cx);
  EXPECT_EQ(ClientSize(window->Handle()).cy, before.cy);
  ExpectNoOverlapInside(window->Handle());

  runner.answer.reset();
  SendMessageW(Item(frmMyDlg::button2), BM_CLICK, 0, 0);
  EXPECT_EQ(window->StatusText(), L"");
  EXPECT_FALSE(IsWindowVisible(Item(frmMyDlg::statusLabel)));
}

TEST_F(FilterWindow, AFailingRunIsReportedNotPropagated) {
  SetWindowTextW(Item(frmMyDlg::textBox1), L"x");
  runner.fail = true;
  SendMessageW(Item(frmMyDlg::button1), BM_CLICK, 0, 0);
  EXPECT_EQ(runner.calls.size(), 1u);
  EXPECT_FALSE(window->StatusText().empty());
  EXPECT_FALSE(window->IsClosed());
}

TEST_F(FilterWindow, ARunsFailureStaysInSightOverACountStillWaiting) {
  SetWindowTextW(Item(frmMyDlg::textBox1), L"x");  // its count waits for the quiet period
  window->DocumentChanged();                        // as a change (or reload) during the run reports
  runner.answer = siftwell::engine::Compile("(").error;
  SendMessageW(Item(frmMyDlg::button1), BM_CLICK, 0, 0);
  const std::wstring failure = window->StatusText();
  ASSERT_NE(failure.find(L"parenthesis"), std::wstring::npos);
  const ULONGLONG until = GetTickCount64() + 3 * frmMyDlg::kCountDelayMs;
  while (GetTickCount64() < until) {
    Pump(window->Handle());
    Sleep(10);
  }
  EXPECT_EQ(window->StatusText(), failure);
}

// A message loop inside the write (another plugin's message box) may deliver
// Escape or the window's closing: the run being written must live on.
TEST_F(FilterWindow, CancelOrClosingDuringTheWriteLeavesTheRunAlive) {
  struct WritingRun : siftwell::app::FilterRun {
    std::function<void()> meanwhile;
    bool* survived = nullptr;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
    ~WritingRun() override { *alive = false; }
    std::optional<siftwell::app::RunProblem> Commit() override {
      const std::shared_ptr<bool> stillAlive = alive;
      bool* const survivedFlag = survived;
      meanwhile();
      *survivedFlag = *stillAlive;  // read through copies: `this` may be gone
      return std::nullopt;
    }
  };
  for (const bool close : {false, true}) {
    SCOPED_TRACE(close ? "closed" : "cancelled");
    bool survived = false;
    frmMyDlg* self = nullptr;
    auto writing = frmMyDlg::Create(
        Module(), host.Handle(),
        [&](Operation, std::wstring_view, std::wstring_view,
            const siftwell::app::RunOptions&, std::shared_ptr<siftwell::app::DocumentCopy>) -> std::unique_ptr<siftwell::app::FilterRun> {
          auto run = std::make_unique<WritingRun>();
          run->survived = &survived;
          run->meanwhile = [&self, close, once = true]() mutable {
            if (!std::exchange(once, false)) return;
            if (close) DestroyWindow(self->Handle());
            else self->CancelRun();
          };
          return run;
        },
        FixedDocument(""));
    ASSERT_NE(writing, nullptr);
    self = writing.get();
    SetWindowTextW(GetDlgItem(writing->Handle(), frmMyDlg::textBox1), L"x");
    writing->button1_Click();
    EXPECT_TRUE(survived);
    EXPECT_FALSE(writing->IsRunning());
  }
}

TEST_F(FilterWindow, AnnouncedToTheHostWhileItLivesAndClosingIsNoticed) {
  HWND hwnd = window->Handle();
  ASSERT_EQ(host.Calls().size(), 1u);
  EXPECT_EQ(host.Calls()[0].action, static_cast<WPARAM>(NppMsg::MODELESSDIALOGADD));
  EXPECT_EQ(host.Calls()[0].window, hwnd);

  window->Show();
  EXPECT_TRUE(IsWindowVisible(hwnd));
  window->Show();  // already visible: stays
  EXPECT_TRUE(IsWindowVisible(hwnd));
  window->SetTitle(L"Siftwelle");
  EXPECT_EQ(Text(hwnd), L"Siftwelle");

  EXPECT_FALSE(window->IsClosed());
  SendMessageW(hwnd, WM_CLOSE, 0, 0);
  EXPECT_TRUE(window->IsClosed());
  EXPECT_EQ(window->Handle(), nullptr);
  EXPECT_FALSE(IsWindow(hwnd));
  ASSERT_EQ(host.Calls().size(), 2u);
  EXPECT_EQ(host.Calls()[1].action, static_cast<WPARAM>(NppMsg::MODELESSDIALOGREMOVE));
  EXPECT_EQ(host.Calls()[1].window, hwnd);
  // A closed window takes calls quietly.
  window->Show();
  window->SetTitle(L"x");
  EXPECT_EQ(window->PatternText(), L"");
}

TEST_F(FilterWindow, ReleasingAnOpenWindowDestroysItAndTellsTheHost) {
  HWND hwnd = window->Handle();
  window.reset();
  EXPECT_FALSE(IsWindow(hwnd));
  ASSERT_EQ(host.Calls().size(), 2u);
  EXPECT_EQ(host.Calls()[1].action, static_cast<WPARAM>(NppMsg::MODELESSDIALOGREMOVE));
}

TEST_F(FilterWindow, ANewWindowHasFreshDefaults) {
  SetWindowTextW(Item(frmMyDlg::textBox1), L"abc");
  SetWindowTextW(Item(frmMyDlg::textBox2), L",");
  SendMessageW(window->Handle(), WM_CLOSE, 0, 0);
  ASSERT_TRUE(window->IsClosed());
  auto second = frmMyDlg::Create(Module(), nullptr, runner.Runner(), FixedDocument(""));  // no host: still works
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->PatternText(), L"");
  EXPECT_EQ(second->DelimiterText(), std::wstring(L"\\n"));
  EXPECT_EQ(second->StatusText(), L"");
}

TEST_F(FilterWindow, ClassesUnregisteredAtShutdownAndRegisteredAgainOnNextUse) {
  window.reset();
  WNDCLASSEXW info{};
  info.cbSize = sizeof(info);
  ASSERT_TRUE(GetClassInfoExW(Module(), L"frmMyDlg", &info));
  siftwell::win::UnregisterWindowClasses(Module());
  EXPECT_FALSE(GetClassInfoExW(Module(), L"frmMyDlg", &info));
  auto again = frmMyDlg::Create(Module(), nullptr, runner.Runner(), FixedDocument(""));
  ASSERT_NE(again, nullptr);
  EXPECT_NE(again->Handle(), nullptr);
}

// What the "user" does once the name prompt is up: the keys go to its
// focused field (the close to the prompt), as the message loop would get them.
std::vector<std::pair<UINT, WPARAM>> promptScript;
void CALLBACK AnswerPrompt(HWND, UINT, UINT_PTR id, DWORD) {
  HWND prompt = FindWindowW(L"SiftwellName", nullptr);
  if (prompt == nullptr || !IsWindowVisible(prompt)) return;
  KillTimer(nullptr, id);
  HWND field = GetFocus();
  SendMessageW(field, EM_SETSEL, static_cast<WPARAM>(-1), -1);  // typing goes after the name
  for (const auto& [msg, key] : promptScript)
    PostMessageW(msg == WM_CLOSE ? prompt : field, msg, key, msg == WM_KEYDOWN ? 1 : 0);
}

// The name prompt answers by keys: Enter gives what was typed, Escape and
// closing give nothing; either way its owner can be used again afterwards.
TEST(NamePromptWindow, EnterEscapeAndCloseAnswerAndTheOwnerComesBack) {
  TestHost host;
  struct Row {
    std::vector<std::pair<UINT, WPARAM>> keys;
    std::optional<std::wstring> answer;
  };
  const Row rows[] = {
      {{{WM_CHAR, 'x'}, {WM_CHAR, 'y'}, {WM_KEYDOWN, VK_RETURN}}, L"old namexy"},
      {{{WM_CHAR, 'x'}, {WM_KEYDOWN, VK_ESCAPE}}, std::nullopt},
      {{{WM_CLOSE, 0}}, std::nullopt},
  };
  for (const Row& row : rows) {
    promptScript = row.keys;
    ASSERT_NE(SetTimer(nullptr, 0, 50, &AnswerPrompt), 0u);
    const auto answer = PromptName(Module(), nullptr, host.Handle(), L"Rename preset", L"old name");
    EXPECT_EQ(answer, row.answer);
    EXPECT_TRUE(IsWindowEnabled(host.Handle())) << "the owner is usable again";
    EXPECT_EQ(FindWindowW(L"SiftwellName", nullptr), nullptr) << "the prompt is gone";
  }
}

TEST(AboutWindow, LayoutStylesAndLifetime) {
  const Scale& s = Measured();
  TestHost host;
  auto window = about::Create(Module(), host.Handle());
  ASSERT_NE(window, nullptr);
  HWND hwnd = window->Handle();
  EXPECT_EQ(Text(hwnd), L"About");
  EXPECT_EQ(ClassOf(hwnd), L"about");
  const SIZE client = ClientSize(hwnd);
  EXPECT_EQ(client.cx, s.X(284));
  EXPECT_EQ(client.cy, s.Y(92));
  ExpectFixedToolWindow(hwnd);

  const std::vector<HWND> controls = Children(hwnd);
  ASSERT_EQ(controls.size(), 2u);
  HWND label = GetDlgItem(hwnd, about::label1);
  ASSERT_EQ(label, controls[0]);
  EXPECT_EQ(Text(label), std::wstring(about::CreditText));
  HWND version = GetDlgItem(hwnd, about::versionLabel);
  ASSERT_EQ(version, controls[1]);
  EXPECT_EQ(Text(version), std::wstring(L"Version " SIFTWELL_TEST_VERSION));
  for (HWND control : controls) EXPECT_FALSE(GetWindowLongPtrW(control, GWL_STYLE) & WS_TABSTOP);
  const RECT r = ChildRect(label);
  EXPECT_EQ(r.left, s.X(23));
  EXPECT_EQ(r.top, s.Y(44));
  EXPECT_EQ(r.right - r.left, s.Extent(std::wstring(about::CreditText)).cx);
  EXPECT_EQ(ChildRect(version).left, r.left);
  EXPECT_GT(ChildRect(version).top, r.bottom);
  ExpectNoOverlapInside(hwnd);

  ASSERT_EQ(host.Calls().size(), 1u);
  EXPECT_EQ(host.Calls()[0].action, static_cast<WPARAM>(NppMsg::MODELESSDIALOGADD));
  // Opened over a host in the middle of the screen: centred on it.
  ShowWindow(host.Handle(), SW_SHOWNOACTIVATE);
  SetWindowPos(host.Handle(), nullptr, 300, 200, 700, 500, SWP_NOZORDER | SWP_NOACTIVATE);
  window->Show();
  EXPECT_TRUE(IsWindowVisible(hwnd));
  RECT own{}, around{};
  GetWindowRect(hwnd, &own);
  GetWindowRect(host.Handle(), &around);
  EXPECT_NEAR((own.left + own.right) / 2, (around.left + around.right) / 2, 1);
  EXPECT_NEAR((own.top + own.bottom) / 2, (around.top + around.bottom) / 2, 1);
  SendMessageW(hwnd, WM_KEYDOWN, VK_ESCAPE, 0);  // Escape closes it
  Pump(nullptr);
  EXPECT_TRUE(window->IsClosed());
  ASSERT_EQ(host.Calls().size(), 2u);
  EXPECT_EQ(host.Calls()[1].action, static_cast<WPARAM>(NppMsg::MODELESSDIALOGREMOVE));
  EXPECT_EQ(host.Calls()[1].window, hwnd);

  auto again = about::Create(Module(), host.Handle());  // the next command makes a new one
  ASSERT_NE(again, nullptr);
  EXPECT_NE(again->Handle(), nullptr);
  EXPECT_FALSE(again->IsClosed());
  SendMessageW(again->Handle(), WM_COMMAND, IDOK, 0);  // Enter, as the host's dialog manager gives it
  Pump(nullptr);
  EXPECT_TRUE(again->IsClosed());
}

}  // namespace
