// The filter window at other DPIs (computed layouts at 100 %, 125 %, 150 % and
// 200 %, and a live window told its monitor changed), readable error colours,
// placement on a visible monitor, and the live match count.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "WindowTestKit.h"
#include "app/about.h"
#include "npp/HostWindow.h"

using siftwell::win::DialogFont;

namespace {

using namespace windowtests;

int32_t AtDpi(int32_t pixels, uint32_t dpi) { return MulDiv(pixels, static_cast<int>(dpi), 96); }

frmMyDlg::Runner NoRun() {
  return [](siftwell::app::Operation, std::wstring_view, std::wstring_view, const siftwell::app::RunOptions&,
            std::shared_ptr<siftwell::app::DocumentCopy>) {
    return std::unique_ptr<siftwell::app::FilterRun>();
  };
}

// A message that takes several lines at any scale (a refusal naming a file).
constexpr wchar_t kLongMessage[] =
    L"The editor failed while writing the result (12 MB, out of memory) and now refuses changes to this "
    L"document, so its text could not be put back. The original text is kept in C:\\Users\\someone\\AppData"
    L"\\Local\\Temp\\Siftwell-original-123456789.txt. Do not save this document; close it without saving and "
    L"reopen the file.";

// The height `text` takes wrapped to `width` pixels in `font`.
int32_t WrappedHeight(const DialogFont& font, std::wstring_view text, int32_t width) {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font.Handle());
  RECT r{0, 0, width, 0};
  DrawTextW(dc, text.data(), static_cast<int>(text.size()), &r, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return r.bottom;
}

TEST(FilterWindowScale, NothingClippedOrOverlappingAt100To200Percent) {
  const int32_t base = DialogFont(96).CharHeight();
  for (const uint32_t dpi : {96u, 120u, 144u, 192u})
  for (const std::wstring_view status : {std::wstring_view(), std::wstring_view(kLongMessage)}) {
    SCOPED_TRACE("dpi " + std::to_string(dpi) + (status.empty() ? "" : ", long message"));
    const DialogFont font(dpi);
    // The font follows the DPI.
    EXPECT_NEAR(font.CharHeight(), base * static_cast<double>(dpi) / 96, 0.2 * base * dpi / 96);
    const frmMyDlg::Layout layout = frmMyDlg::LayoutAt(dpi, status);
    if (!status.empty()) EXPECT_GT(layout.height, frmMyDlg::LayoutAt(dpi).height) << "grown for the message";
    ASSERT_EQ(layout.controls.size(), 23u);
    EXPECT_GT(layout.runningHeight, layout.height);
    for (size_t i = 0; i < layout.controls.size(); ++i) {
      const auto& c = layout.controls[i];
      const RECT a{c.left, c.top, c.right, c.bottom};
      SCOPED_TRACE("control " + std::to_string(c.id) + " '" + Narrow(c.text) + "'");
      EXPECT_GE(a.left, 0);
      EXPECT_GE(a.top, 0);
      EXPECT_LE(a.right, layout.width);
      // The progress row shows only while a long run makes the window taller.
      const bool progressRow = c.id == frmMyDlg::progressBar || c.id == frmMyDlg::cancelButton;
      EXPECT_LE(a.bottom, progressRow ? layout.runningHeight : layout.height);
      if (progressRow) EXPECT_GE(a.top, layout.height) << "hidden below the normal client area";
      for (size_t j = i + 1; j < layout.controls.size(); ++j) {
        const auto& d = layout.controls[j];
        const RECT b{d.left, d.top, d.right, d.bottom};
        RECT both{};
        EXPECT_FALSE(IntersectRect(&both, &a, &b)) << "overlaps control " << d.id;
      }
      const SIZE text = font.TextExtent(c.text);
      const int32_t width = c.right - c.left, height = c.bottom - c.top;
      switch (c.id) {
        case frmMyDlg::label1:
        case frmMyDlg::label2:
        case frmMyDlg::label3:
        case frmMyDlg::label4:
          EXPECT_GE(width, text.cx);
          EXPECT_GE(height, text.cy);
          break;
        case frmMyDlg::button1:
        case frmMyDlg::button2:
        case frmMyDlg::cancelButton:
        case frmMyDlg::previousButton:
        case frmMyDlg::nextButton:
          EXPECT_GE(width, text.cx + AtDpi(12, dpi)) << "caption and the button's edges";
          EXPECT_GE(height, font.CharHeight() + AtDpi(6, dpi));
          break;
        case frmMyDlg::wholeLinesBox:
        case frmMyDlg::matchCaseBox:
        case frmMyDlg::inSelectionBox:
        case frmMyDlg::highlightBox:
        case frmMyDlg::uniqueBox:
        case frmMyDlg::tallyBox:
        case frmMyDlg::lineNumbersBox:
          EXPECT_GE(width, text.cx + GetSystemMetrics(SM_CXMENUCHECK) * static_cast<int32_t>(dpi) / 96)
              << "the box and its caption";
          EXPECT_GE(height, font.CharHeight());
          break;
        case frmMyDlg::resultBox:
          EXPECT_GE(width, font.TextExtent(L"This document").cx + AtDpi(20, dpi)) << "the longest choice and the arrow";
          EXPECT_GE(height, font.CharHeight() + AtDpi(6, dpi));
          break;
        case frmMyDlg::textBox1:
        case frmMyDlg::textBox2:
        case frmMyDlg::textBox3:
          EXPECT_GE(height, font.CharHeight() + AtDpi(6, dpi)) << "text, sunken edge and margin";
          EXPECT_GE(width, font.TextExtent(L"\\d+\\s*[a-z]+").cx);
          break;
        case frmMyDlg::progressBar:
          EXPECT_GE(height, AtDpi(10, dpi));
          break;
        case frmMyDlg::historyButton:
          EXPECT_GE(width, AtDpi(10, dpi)) << "room for the arrow";
          EXPECT_GE(height, font.CharHeight() + AtDpi(6, dpi)) << "as tall as the field beside it";
          break;
        case frmMyDlg::statusLabel:
          EXPECT_GE(height, font.CharHeight());
          EXPECT_GE(width, font.TextExtent(L"12\u00A0345\u00A0678 matches").cx);
          EXPECT_GE(height, WrappedHeight(font, status, width)) << "the whole message can be read";
          break;
        default:
          ADD_FAILURE() << "unexpected control";
      }
    }
  }
}

TEST(FilterWindowScale, AMoveToAMonitorOfAnotherDpiLaysTheWindowOutAgain) {
  auto window = frmMyDlg::Create(Module(), nullptr, NoRun(), FixedDocument(""));
  ASSERT_NE(window, nullptr);
  HWND hwnd = window->Handle();
  for (const uint32_t dpi : {192u, 144u, 96u}) {
    SCOPED_TRACE("dpi " + std::to_string(dpi));
    const frmMyDlg::Layout layout = frmMyDlg::LayoutAt(dpi);
    const SIZE outer = siftwell::win::FixedToolWindowSize(SIZE{layout.width, layout.height}, dpi);
    RECT suggested{40, 60, 40 + outer.cx, 60 + outer.cy};
    SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    RECT client{}, placed{};
    GetClientRect(hwnd, &client);
    GetWindowRect(hwnd, &placed);
    EXPECT_EQ(client.right, layout.width);
    EXPECT_EQ(client.bottom, layout.height);
    EXPECT_EQ(placed.left, 40);
    EXPECT_EQ(placed.top, 60);
    LOGFONTW expected{}, used{};
    GetObjectW(DialogFont(dpi).Handle(), sizeof(expected), &expected);
    for (const auto& c : layout.controls) {
      HWND control = GetDlgItem(hwnd, c.id);
      const RECT r = ChildRect(control);
      EXPECT_EQ(r.left, c.left) << c.id;
      EXPECT_EQ(r.top, c.top) << c.id;
      EXPECT_EQ(r.right, c.right) << c.id;
      if (c.id == frmMyDlg::resultBox) {
        // A closed drop-down list takes its height from its font.
        EXPECT_NEAR(r.bottom, c.bottom, AtDpi(3, dpi));
        EXPECT_LT(r.bottom, layout.controls[6].top) << "clear of the status line";
      } else {
        EXPECT_EQ(r.bottom, c.bottom) << c.id;
      }
      auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
      ASSERT_NE(font, nullptr);
      GetObjectW(font, sizeof(used), &used);
      EXPECT_EQ(used.lfHeight, expected.lfHeight) << "control " << c.id << " has the font of that DPI";
    }
  }
}

TEST(AboutWindowScale, TheCreditLineFollowsTheDpiAndStaysInside) {
  auto window = about::Create(Module(), nullptr);
  ASSERT_NE(window, nullptr);
  HWND hwnd = window->Handle();
  HWND label = GetDlgItem(hwnd, about::label1);
  for (const uint32_t dpi : {192u, 144u, 96u}) {
    SCOPED_TRACE("dpi " + std::to_string(dpi));
    RECT suggested{50, 50, 600, 400};
    SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    const DialogFont font(dpi);
    RECT client{};
    GetClientRect(hwnd, &client);
    const RECT r = ChildRect(label);
    EXPECT_GE(r.right - r.left, font.TextExtent(about::CreditText).cx) << "not clipped";
    EXPECT_LE(r.right, client.right);
    EXPECT_LE(r.bottom, client.bottom);
    EXPECT_GE(client.right, font.X(284));
    LOGFONTW expected{}, used{};
    GetObjectW(font.Handle(), sizeof(expected), &expected);
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)), sizeof(used), &used);
    EXPECT_EQ(used.lfHeight, expected.lfHeight);
  }
}

TEST(HostColours, ErrorTextIsReadableOnLightAndDarkBackgrounds) {
  const COLORREF backgrounds[] = {GetSysColor(COLOR_BTNFACE), RGB(255, 255, 255), RGB(240, 240, 240),
                                  RGB(0x20, 0x20, 0x20), RGB(0x40, 0x40, 0x40), RGB(0, 0, 0)};
  for (COLORREF bg : backgrounds) {
    const COLORREF error = siftwell::win::ErrorTextColour(bg);
    EXPECT_GE(siftwell::win::Contrast(error, bg), 4.5) << std::hex << bg;
    EXPECT_GT(GetRValue(error), GetGValue(error) + 60) << "still red";
  }
  EXPECT_NEAR(siftwell::win::Contrast(RGB(0, 0, 0), RGB(255, 255, 255)), 21.0, 0.01);
}

TEST(Placement, KeptOnAVisibleMonitor) {
  HMONITOR primary = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  ASSERT_TRUE(GetMonitorInfoW(primary, &info));
  const RECT work = info.rcWork;
  const RECT inside{work.left + 10, work.top + 10, work.left + 210, work.top + 110};
  const auto same = siftwell::win::KeptOnScreen(inside);
  ASSERT_TRUE(same.has_value());
  EXPECT_TRUE(EqualRect(&*same, &inside));
  // Half over the right edge: pushed back inside, size kept.
  const RECT over{work.right - 100, work.top + 20, work.right + 100, work.top + 120};
  const auto pushed = siftwell::win::KeptOnScreen(over);
  ASSERT_TRUE(pushed.has_value());
  EXPECT_EQ(pushed->right, work.right);
  EXPECT_EQ(pushed->right - pushed->left, 200);
  EXPECT_EQ(pushed->top, work.top + 20);
  // On no monitor at all (a monitor that has been unplugged).
  EXPECT_FALSE(siftwell::win::KeptOnScreen(RECT{-30000, -30000, -29800, -29900}).has_value());
}

class LiveCount : public ::testing::Test {
 protected:
  void Open(std::string document, uint32_t codePage = 65001) {
    window = frmMyDlg::Create(Module(), nullptr, NoRun(), FixedDocument(std::move(document), codePage));
    ASSERT_NE(window, nullptr);
  }
  void SetPattern(const wchar_t* text) { SetWindowTextW(GetDlgItem(window->Handle(), frmMyDlg::textBox1), text); }
  bool StatusBecomes(const std::wstring& text) {
    return PumpUntil([&] { return window->StatusText() == text; });
  }
  std::unique_ptr<frmMyDlg> window;
};

TEST_F(LiveCount, AQuietPatternShowsItsCountAndARejectedOneTheEnginesMessage) {
  Open("a1 b22 c333\nd4444");
  SetPattern(L"\\d+");
  Pump();
  EXPECT_EQ(window->StatusText(), L"") << "counted only after the quiet period";
  ASSERT_TRUE(StatusBecomes(L"4 matches")) << Narrow(window->StatusText());
  EXPECT_FALSE(window->StatusIsError());

  SetPattern(L"a(b");
  ASSERT_TRUE(PumpUntil([&] { return window->StatusIsError(); })) << Narrow(window->StatusText());
  EXPECT_NE(window->StatusText().find(L"missing closing parenthesis"), std::wstring::npos);

  // Places in the pattern count characters from 1; a count speaks of no document.
  SetPattern(L"a)b");
  ASSERT_TRUE(PumpUntil([&] { return window->StatusText().find(L"at position 2 of") != std::wstring::npos; }))
      << Narrow(window->StatusText());

  SetPattern(L"x");
  ASSERT_TRUE(StatusBecomes(L"no match"));
  EXPECT_FALSE(window->StatusIsError());

  // Ticking Whole lines or clearing Match case counts again, lines for lines.
  SetPattern(L"D");
  ASSERT_TRUE(StatusBecomes(L"no match")) << Narrow(window->StatusText());
  SendMessageW(GetDlgItem(window->Handle(), frmMyDlg::wholeLinesBox), BM_CLICK, 0, 0);
  ASSERT_TRUE(StatusBecomes(L"no line")) << Narrow(window->StatusText());
  SendMessageW(GetDlgItem(window->Handle(), frmMyDlg::matchCaseBox), BM_CLICK, 0, 0);
  ASSERT_TRUE(StatusBecomes(L"1 line")) << Narrow(window->StatusText());
  SetPattern(L"\\d");
  ASSERT_TRUE(StatusBecomes(L"2 lines")) << Narrow(window->StatusText());
  SetPattern(L"");
  ASSERT_TRUE(StatusBecomes(L""));
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(window->Handle(), frmMyDlg::statusLabel)));
}

TEST_F(LiveCount, EachChangeSupersedesTheCountOfThePatternBefore) {
  std::string text;
  for (int i = 0; i < 200000; ++i) text += "word 12 ";
  Open(text);
  SetPattern(L"\\w+");
  // Let the first count start, then change the pattern.
  const ULONGLONG until = GetTickCount64() + frmMyDlg::kCountDelayMs + 20;
  PumpUntil([&] { return GetTickCount64() >= until; });
  SetPattern(L"\\d+");
  ASSERT_TRUE(StatusBecomes(L"200\u00A0000 matches")) << Narrow(window->StatusText());
  Sleep(200);
  Pump();
  EXPECT_EQ(window->StatusText(), L"200\u00A0000 matches") << "no stale count arrives afterwards";
}

// A count that runs away gives up after its time (not an error: the pattern is
// fine) or hits the engine's limit, and says it was a count that stopped.
TEST_F(LiveCount, ARunawayCountGivesUpAndSaysSo) {
  std::string log;
  for (int i = 0; i < 40000; ++i) log += "2024-01-01 some words of a log line here\n";
  Open(log);
  SetPattern(L"(\\w+\\s?)+:\\s*$");
  ASSERT_TRUE(PumpUntil([&] {
    const std::wstring text = window->StatusText();
    return text.starts_with(L"Too slow to count") || text.starts_with(L"At least");
  })) << Narrow(window->StatusText());
  EXPECT_FALSE(window->StatusIsError());
  EXPECT_NE(window->StatusText().find(L"Keep and Remove still work"), std::wstring::npos);
  // The window shows the whole message.
  HWND status = GetDlgItem(window->Handle(), frmMyDlg::statusLabel);
  RECT r{};
  GetClientRect(status, &r);
  EXPECT_GE(r.bottom, WrappedHeight(DialogFont(siftwell::win::DpiOf(window->Handle())), window->StatusText(), r.right));

  Open(std::string(40, 'a') + "!");
  SetPattern(L"(a+)+$");
  ASSERT_TRUE(PumpUntil([&] { return window->StatusIsError(); })) << Narrow(window->StatusText());
  EXPECT_NE(window->StatusText().find(L"count gave up"), std::wstring::npos) << Narrow(window->StatusText());
  EXPECT_EQ(window->StatusText().find(L"document"), std::wstring::npos) << Narrow(window->StatusText());
}

TEST_F(LiveCount, ADocumentInAnotherCodePageIsCountedAsKeepWouldSeeIt) {
  Open("caf\xE9 caf\xE9 cafe", 1252);
  SetPattern(L"caf\u00E9");
  ASSERT_TRUE(StatusBecomes(L"2 matches")) << Narrow(window->StatusText());
  // A lone lead byte in code page 932 has no Unicode form that converts back:
  // Keep and Remove refuse such a document, and the count says so instead of
  // counting a text that is not the document's.
  Open("ab\x82", 932);
  SetPattern(L"b");
  ASSERT_TRUE(PumpUntil([&] { return window->StatusIsError(); })) << Narrow(window->StatusText());
  EXPECT_NE(window->StatusText().find(L"code page (932)"), std::wstring::npos) << Narrow(window->StatusText());
}

}  // namespace
