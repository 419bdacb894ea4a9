// Siftwell.dll in a stand-in for today's host (and for an older one): toolbar
// registration for every icon set, dark mode switched while the windows are
// open, the live match count, and where the filter window opens.
#include <chrono>
#include <cstdio>
#include <fstream>

#include "PluginHost.h"
#include "npp/NppMsg.h"
#include "npp/NppMsgNewer.h"
#include "npp/Resource.h"
#include "npp/SciMsg.h"

using namespace e2e;

namespace {

constexpr UINT kAddToolbarIcon = static_cast<UINT>(NppMsg::NPPM_ADDTOOLBARICON);
constexpr UINT kAddToolbarIconDark = static_cast<UINT>(NppMsgNewer::NPPM_ADDTOOLBARICON_FORDARKMODE);
constexpr uint32_t kInit = static_cast<uint32_t>(NppMsgNewer::dmfInit);
constexpr uint32_t kChange = static_cast<uint32_t>(NppMsgNewer::dmfHandleChange);

class TodaysHost : public PluginHost {
 protected:
  std::wstring Status(HWND window) { return Field(window, kStatus); }
  bool StatusBecomes(HWND window, const std::wstring& text, DWORD timeoutMs = 5000) {
    return host_->PumpUntil([&] { return Status(window) == text; }, timeoutMs);
  }
  void TypePattern(HWND window, std::wstring_view text) { Type(window, kPattern, text); }

  // The colour the window shows in its top-right client corner (no control there).
  COLORREF Background(HWND window) {
    RedrawWindow(window, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    host_->Pump();
    RECT client{};
    GetClientRect(window, &client);
    HDC dc = GetDC(window);
    const COLORREF colour = GetPixel(dc, client.right - 3, 3);
    ReleaseDC(window, dc);
    return colour;
  }
};

TEST_F(TodaysHost, ToolbarRegistersWithTheDarkModeMessageWhereTheHostKnowsIt) {
  struct Case {
    const char* what;
    HostOptions options;
    bool modernAsked;   // the dark-mode message was tried
    HostStandIn::ToolbarImage image;
  };
  HostOptions dark;
  dark.darkMode = true;
  HostOptions oldAnswers;  // knows its version, answers 0 to the message
  oldAnswers.newerMessages = false;
  HostOptions oldVersion;  // a 7.x host: not even asked
  oldVersion.newerMessages = false;
  oldVersion.nppVersion = (7u << 16) | 93u;
  const Case cases[] = {
      {"8.9.7, light", HostOptions{}, true, HostStandIn::ToolbarImage::Icon},
      {"8.9.7, dark", dark, true, HostStandIn::ToolbarImage::DarkModeIcon},
      {"answers 0", oldAnswers, true, HostStandIn::ToolbarImage::Bitmap},
      {"version 7", oldVersion, false, HostStandIn::ToolbarImage::Bitmap},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HostStandIn& host = Start(c.options);
    const auto openId = host.CommandId(L"Open Siftwell");
    ASSERT_TRUE(openId.has_value());
    EXPECT_GE(*openId, static_cast<int32_t>(Resource::ID_PLUGINS_CMD)) << "the host's identifier";
    EXPECT_EQ(Count(kAddToolbarIconDark), c.modernAsked ? 1 : 0);
    const bool modernTaken = c.image != HostStandIn::ToolbarImage::Bitmap;
    EXPECT_EQ(Count(kAddToolbarIcon), modernTaken ? 0 : 1);
    for (const auto& m : host.MessageLog())
      if (m.msg == kAddToolbarIcon || m.msg == kAddToolbarIconDark) EXPECT_EQ(static_cast<int32_t>(m.wParam), *openId);
    EXPECT_EQ(host.ToolbarImageOf(*openId), c.image);
    EXPECT_EQ(host.ToolbarButtons(), std::vector<int32_t>{*openId});
    // The button works whichever way it was registered.
    ASSERT_TRUE(host.ClickToolbarButton(*openId));
    EXPECT_NE(Titled(L"Siftwell"), nullptr);
  }
}

TEST_F(TodaysHost, SwitchingDarkModeWhileTheWindowsAreOpenReThemesThem) {
  HostStandIn& host = Start();
  HWND filter = OpenFilterWindow();
  ASSERT_NE(filter, nullptr);
  ASSERT_TRUE(host.ClickMenuItem(L"About"));
  HWND about = Titled(L"About");
  ASSERT_NE(about, nullptr);
  auto requested = [&](HWND w, uint32_t flags) {
    for (const auto& r : host.ThemeRequests())
      if (r.window == w && r.flags == flags) return true;
    return false;
  };
  EXPECT_TRUE(requested(filter, kInit));
  EXPECT_TRUE(requested(about, kInit));
  EXPECT_FALSE(requested(filter, kChange));
  const COLORREF light = GetSysColor(COLOR_BTNFACE);
  EXPECT_EQ(Background(filter), light);

  host.SetDarkMode(true);
  EXPECT_TRUE(requested(filter, kChange));
  EXPECT_TRUE(requested(about, kChange));
  const COLORREF dark = HostStandIn::DarkColors().background;
  EXPECT_EQ(Background(filter), dark);
  EXPECT_EQ(Background(about), dark);

  // A rejected pattern is told in a red that reads on the dark background.
  TypePattern(filter, L"a(b");
  ASSERT_TRUE(host.PumpUntil([&] { return !Status(filter).empty(); }));
  HWND status = GetDlgItem(filter, kStatus);
  RedrawWindow(status, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  RECT r{};
  GetClientRect(status, &r);
  HDC dc = GetDC(status);
  bool lightRed = false;
  for (int y = 0; y < r.bottom && !lightRed; ++y)
    for (int x = 0; x < r.right / 2 && !lightRed; ++x) {
      const COLORREF c = GetPixel(dc, x, y);
      lightRed = GetRValue(c) > 200 && GetGValue(c) < 190 && GetRValue(c) > GetGValue(c) + 50;
    }
  EXPECT_EQ(GetPixel(dc, r.right - 2, r.bottom / 2), dark) << "status line on the window's background";
  ReleaseDC(status, dc);
  EXPECT_TRUE(lightRed) << "error text in a light red";

  host.SetDarkMode(false);
  EXPECT_EQ(Background(filter), light);
}

TEST_F(TodaysHost, AHostWithoutDarkModeLeavesTheWindowsAsTheyWere) {
  // A host that cannot tell its mode: light, unless it has dark mode (8.0 on)
  // and its settings file (config.xml, two folders above the plugins' one)
  // says dark. 8.3.3 answers its version unpadded: 8, 33.
  struct Case {
    const char* what;
    uint32_t version;
    const char* config;  // null: no config.xml
    bool dark;
  };
  const Case cases[] = {
      {"8.9.7 answering 0", (8u << 16) | 970u, nullptr, false},
      {"8.3.3, config dark", (8u << 16) | 33u, R"(<GUIConfig name="DarkMode" enable="yes" colorTone="0" />)", true},
      {"8.3.3, config light", (8u << 16) | 33u, R"(<GUIConfig name="DarkMode" enable="no" colorTone="0" />)", false},
      {"8.3.3, no config", (8u << 16) | 33u, nullptr, false},
      {"7.9.3, config dark", (7u << 16) | 93u, R"(<GUIConfig name="DarkMode" enable="yes" />)", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::create_directories(root_);
    fs::remove(root_ / L"config.xml");
    if (c.config != nullptr) {
      std::ofstream(root_ / L"config.xml") << "<NotepadPlus><GUIConfigs>" << c.config << "</GUIConfigs></NotepadPlus>";
    }
    HostOptions old;
    old.newerMessages = false;
    old.darkMode = true;  // the setting exists, the host cannot tell
    old.nppVersion = c.version;
    HostStandIn& host = Start(old);
    HWND filter = OpenFilterWindow();
    ASSERT_NE(filter, nullptr);
    EXPECT_TRUE(host.ThemeRequests().empty());
    EXPECT_EQ(Background(filter), c.dark ? HostStandIn::DarkColors().background : GetSysColor(COLOR_BTNFACE));
    // Messages newer than the host are not sent.
    if (c.version < NppMsgNewerSince::NPPM_ISDARKMODEENABLED) {
      EXPECT_EQ(Count(static_cast<UINT>(NppMsgNewer::NPPM_ISDARKMODEENABLED)), 0);
      EXPECT_EQ(Count(static_cast<UINT>(NppMsgNewer::NPPM_DARKMODESUBCLASSANDTHEME)), 0);
    }
    Close(filter);
  }
}

TEST_F(TodaysHost, AHostWithoutTheThemingMessageGetsItsDarkColoursPaintedByThePlugin) {
  HostOptions between;  // 8.4.1 to 8.5.3: dark mode and its colours, no theming message
  between.themingMessage = false;
  between.darkMode = true;
  HostStandIn& host = Start(between);
  HWND filter = OpenFilterWindow();
  ASSERT_NE(filter, nullptr);
  EXPECT_TRUE(host.ThemeRequests().empty());
  EXPECT_EQ(Background(filter), HostStandIn::DarkColors().background);
  host.SetDarkMode(false);
  EXPECT_EQ(Background(filter), GetSysColor(COLOR_BTNFACE));
  host.SetDarkMode(true);
  EXPECT_EQ(Background(filter), HostStandIn::DarkColors().background);
}

TEST_F(TodaysHost, LiveCountFollowsThePatternTheDocumentAndTheActiveView) {
  HostStandIn& host = Start();
  host.SetText(0, "a1 b22 c333\n");
  host.SetText(1, "9 8 7 6");
  HWND filter = OpenFilterWindow();
  ASSERT_NE(filter, nullptr);
  TypePattern(filter, L"\\d+");
  ASSERT_TRUE(StatusBecomes(filter, L"3 matches")) << Narrow(Status(filter));

  host.SetActiveView(1);  // the host reports the switch (NPPN_BUFFERACTIVATED)
  ASSERT_TRUE(StatusBecomes(filter, L"4 matches")) << Narrow(Status(filter));
  const std::string more = " 5";
  SendMessageW(host.View(1), 2282 /* SCI_APPENDTEXT */, more.size(), reinterpret_cast<LPARAM>(more.data()));
  ASSERT_TRUE(StatusBecomes(filter, L"5 matches")) << "an edit counts again: " << Narrow(Status(filter));

  TypePattern(filter, L"(\\d");
  ASSERT_TRUE(host.PumpUntil([&] { return Status(filter).find(L"missing closing parenthesis") != std::wstring::npos; }))
      << Narrow(Status(filter));
  // Counting never touched a document.
  EXPECT_EQ(host.Text(0), "a1 b22 c333\n");
  EXPECT_EQ(host.Text(1), "9 8 7 6 5");
}

TEST_F(TodaysHost, TypingGoesOnWhileALargeDocumentIsCounted) {
  HostStandIn& host = Start();
  std::string big;
  big.reserve(48u << 20);
  while (big.size() < (48u << 20)) big += "lorem ipsum 2026 dolor sit amet\n";
  host.SetText(0, big);
  const size_t lines = big.size() / 32;
  HWND filter = OpenFilterWindow();
  ASSERT_NE(filter, nullptr);
  HWND field = GetDlgItem(filter, kPattern);
  // A pattern whose count takes a while: at every position the lookahead
  // reads to the end of the line and fails. (No literal in it: the line
  // prefilter would skip every line for a pattern that needs a "Z".)
  TypePattern(filter, L"(?=.*\\d{5})\\w");
  const auto typed = std::chrono::steady_clock::now();
  ASSERT_TRUE(host.PumpUntil([&] { return Status(filter) == L"counting\u2026"; }, 10000)) << Narrow(Status(filter));
  std::printf("count under way after %lld ms\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - typed)
                                         .count()));

  // A new pattern typed over it: each key is in the field at once.
  using Clock = std::chrono::steady_clock;
  SendMessageW(field, EM_SETSEL, 0, -1);
  Clock::duration slowest{};
  for (const wchar_t key : std::wstring(L"\\d+")) {
    const auto start = Clock::now();
    const std::wstring before = WindowText(field);
    PostMessageW(field, WM_CHAR, key, 1);
    host.PumpUntil([&] { return WindowText(field) != before; }, 2000);
    slowest = std::max(slowest, Clock::now() - start);
  }
  EXPECT_EQ(WindowText(field), L"\\d+");
  const auto slowestMs = std::chrono::duration_cast<std::chrono::milliseconds>(slowest).count();
  std::printf("slowest key while counting: %lld ms\n", static_cast<long long>(slowestMs));
  EXPECT_LT(slowestMs, 500);
  // The stale count was stopped; the new pattern's count arrives.
  ASSERT_TRUE(host.PumpUntil([&] { return Status(filter).find(L"match") != std::wstring::npos; }, 60000))
      << Narrow(Status(filter));
  std::wstring expected = std::to_wstring(lines);
  for (size_t at = expected.size(); at > 3; at -= 3) expected.insert(at - 3, 1, L'\u00A0');
  EXPECT_EQ(Status(filter), expected + L" matches");
}

// Notepad++'s reload from disk tells plugins nothing: the view lets go of the
// document, a hidden view clears it and loads the new text, the view takes it back.
void ReloadUnannounced(HWND view, const std::string& text) {
  const auto sci = [](HWND w, SciMsg msg, WPARAM wParam = 0, LPARAM lParam = 0) {
    return SendMessageW(w, static_cast<UINT>(msg), wParam, lParam);
  };
  HWND scratch = CreateWindowExW(0, L"Scintilla", L"", WS_CHILD, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
  const LPARAM document = sci(view, SciMsg::SCI_GETDOCPOINTER);
  sci(view, SciMsg::SCI_ADDREFDOCUMENT, 0, document);
  sci(view, SciMsg::SCI_SETMODEVENTMASK, 0);
  sci(view, SciMsg::SCI_SETDOCPOINTER, 0, 0);
  sci(scratch, SciMsg::SCI_SETDOCPOINTER, 0, document);
  sci(scratch, SciMsg::SCI_CLEARALL);
  sci(scratch, SciMsg::SCI_APPENDTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  sci(scratch, SciMsg::SCI_SETDOCPOINTER, 0, 0);
  sci(view, SciMsg::SCI_SETDOCPOINTER, 0, document);
  sci(view, SciMsg::SCI_SETMODEVENTMASK, static_cast<WPARAM>(SciMsg::SC_MODEVENTMASKALL));
  sci(view, SciMsg::SCI_RELEASEDOCUMENT, 0, document);
  DestroyWindow(scratch);
}

TEST_F(TodaysHost, ACountOverTextReloadedMeanwhileIsNotShown) {
  HostStandIn& host = Start();
  std::string big;
  while (big.size() < (16u << 20)) big += "lorem ipsum dolor sit amet consectetur adipiscing elit\n";
  host.SetText(0, big);
  HWND filter = OpenFilterWindow();
  ASSERT_NE(filter, nullptr);
  TypePattern(filter, L"(?=.*\\d)\\w");  // scans every line to its end; no digit in it
  ASSERT_TRUE(host.PumpUntil([&] { return Status(filter) == L"counting\u2026"; }, 10000)) << Narrow(Status(filter));
  ReloadUnannounced(host.View(0), "ab1\n");
  ASSERT_TRUE(StatusBecomes(filter, L"3 matches", 60000)) << "shows " << Narrow(Status(filter));
}

TEST_F(TodaysHost, FilterWindowOpensInTheEditingAreaThenWhereItWasLeft) {
  HostStandIn& host = Start();
  HWND filter = OpenFilterWindow();
  ASSERT_NE(filter, nullptr);
  RECT view{}, placed{};
  GetWindowRect(host.View(0), &view);
  GetWindowRect(filter, &placed);
  EXPECT_GE(placed.left, view.left);
  EXPECT_GE(placed.top, view.top) << "not over the menu or the toolbar";
  EXPECT_LE(placed.right, view.right);
  EXPECT_LE(view.right - placed.right, 40) << "at the right of the editing area";
  EXPECT_LE(placed.top - view.top, 40) << "at its top";

  // Moved, closed, opened again: where it was.
  SetWindowPos(filter, nullptr, 123, 234, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  Close(filter);
  filter = OpenFilterWindow();
  ASSERT_NE(filter, nullptr);
  GetWindowRect(filter, &placed);
  EXPECT_EQ(placed.left, 123);
  EXPECT_EQ(placed.top, 234);

  // And after the host restarts, from the settings file, beside the old key.
  SetWindowPos(filter, nullptr, 150, 260, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  host_.reset();
  const fs::path ini = configDir_ / L"Siftwell.ini";
  EXPECT_EQ(GetPrivateProfileIntW(L"FilterWindow", L"Left", -1, ini.c_str()), 150);
  EXPECT_EQ(GetPrivateProfileIntW(L"FilterWindow", L"Top", -1, ini.c_str()), 260);
  EXPECT_EQ(GetPrivateProfileIntW(L"SomeSection", L"SomeKey", -1, ini.c_str()), 0);
  Start();
  filter = OpenFilterWindow();
  ASSERT_NE(filter, nullptr);
  GetWindowRect(filter, &placed);
  EXPECT_EQ(placed.left, 150);
  EXPECT_EQ(placed.top, 260);

  // A place on no monitor (one that was unplugged): back in the editing area.
  host_.reset();
  WritePrivateProfileStringW(L"FilterWindow", L"Left", L"-30000", ini.c_str());
  Start();
  filter = OpenFilterWindow();
  ASSERT_NE(filter, nullptr);
  GetWindowRect(host_->View(0), &view);
  GetWindowRect(filter, &placed);
  EXPECT_LE(view.right - placed.right, 40);
  EXPECT_GE(placed.top, view.top);
}

}  // namespace
