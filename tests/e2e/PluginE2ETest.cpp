// Siftwell.dll in the host stand-in, driven as a user would drive it: the
// shortcut, the menu and the toolbar button, typing and clicking in the filter
// window, the About window, the settings file and the usage ping.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <commctrl.h>

// Taken before the tables below remove the platform's WM_USER, on which it is built.
constexpr UINT kGetProgress = PBM_GETPOS;

#include <atomic>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "PluginHost.h"
#include "npp/Tables.h"

using namespace e2e;

namespace {

using PluginInHost = PluginHost;

TEST_F(PluginInHost, ShortcutMenuAndToolbarButtonEachOpenTheFilterWindow) {
  HostStandIn& host = Start();
  const auto openId = host.CommandId(L"Open Siftwell");
  ASSERT_TRUE(openId.has_value());

  host.PressKey('X', /*ctrl=*/true, /*shift=*/true);
  HWND window = Titled(L"Siftwell");
  ASSERT_NE(window, nullptr) << "Ctrl+Shift+X";
  Close(window);

  window = OpenFilterWindow();
  ASSERT_NE(window, nullptr) << "menu item";
  Close(window);

  ASSERT_TRUE(host.ClickToolbarButton(*openId));
  window = Titled(L"Siftwell");
  ASSERT_NE(window, nullptr) << "toolbar button";
}

TEST_F(PluginInHost, KeepAndRemoveChangeTheActiveViewAndOneUndoRestoresIt) {
  HostStandIn& host = Start();
  host.SetText(0, "a1b22c333");
  host.SetText(1, "x9y88z");
  HWND window = OpenFilterWindow();
  ASSERT_NE(window, nullptr);

  Type(window, kPattern, L"\\d+");
  Click(window, kKeep);
  EXPECT_EQ(host.Text(0), "1\r\n22\r\n333\r\n");
  SendMessageW(host.View(0), static_cast<UINT>(SciMsg::SCI_UNDO), 0, 0);
  EXPECT_EQ(host.Text(0), "a1b22c333");

  host.SetActiveView(1);
  Click(window, kRemove);
  EXPECT_EQ(host.Text(1), "xyz");
  EXPECT_EQ(host.Text(0), "a1b22c333");

  Type(window, kDelimiter, L"\\t");
  Click(window, kKeep);
  EXPECT_EQ(host.Text(1), "");  // Remove left no digits to keep
  SendMessageW(host.View(1), static_cast<UINT>(SciMsg::SCI_UNDO), 0, 0);
  EXPECT_EQ(host.Text(1), "xyz");
}

TEST_F(PluginInHost, RejectedPatternIsShownAndTheDocumentStays) {
  HostStandIn& host = Start();
  host.SetText(0, "keep (this)");
  HWND window = OpenFilterWindow();
  ASSERT_NE(window, nullptr);
  Type(window, kPattern, L"(");
  Click(window, kKeep);
  EXPECT_EQ(host.Text(0), "keep (this)");
  EXPECT_FALSE(Field(window, kStatus).empty());
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(window, kStatus)));
}

TEST_F(PluginInHost, TabWalksTheFieldsThenTheButtonsAndEnterRunsNothing) {
  HostStandIn& host = Start();
  host.SetText(0, "a1b2");
  HWND window = OpenFilterWindow();
  ASSERT_NE(window, nullptr);
  Type(window, kPattern, L"\\d");
  // Under Wine the activation of a new window can arrive late, and it puts
  // the focus back in the pattern field: let it land before walking.
  host.PumpUntil([&] { return GetActiveWindow() == window; }, 2000);
  host.PumpUntil([] { return false; }, 200);
  SetFocus(GetDlgItem(window, kPattern));
  ASSERT_EQ(GetFocus(), GetDlgItem(window, kPattern));

  const int order[] = {kDelimiter, kKeep, kRemove};
  for (int id : order) {
    host.PressKey(VK_TAB);
    host.Pump();
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), id);
  }

  SetFocus(GetDlgItem(window, kPattern));
  host.PressKey(VK_RETURN);
  SetFocus(GetDlgItem(window, kDelimiter));
  host.PressKey(VK_RETURN);
  host.Pump();
  EXPECT_EQ(host.Text(0), "a1b2");
  EXPECT_EQ(Field(window, kPattern), L"\\d");
}

TEST_F(PluginInHost, FilterWindowIsAFixedSizeToolWindow) {
  HostStandIn& host = Start();
  HWND window = OpenFilterWindow();
  ASSERT_NE(window, nullptr);
  const LONG style = GetWindowLongW(window, GWL_STYLE);
  const LONG exStyle = GetWindowLongW(window, GWL_EXSTYLE);
  EXPECT_FALSE(style & WS_THICKFRAME);
  EXPECT_FALSE(style & (WS_MAXIMIZEBOX | WS_MINIMIZEBOX));
  EXPECT_TRUE(exStyle & WS_EX_TOOLWINDOW);
  RECT r;
  GetWindowRect(window, &r);
  const LRESULT hit = SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(r.right - 1, r.bottom - 1));
  EXPECT_NE(hit, HTBOTTOMRIGHT);
  EXPECT_NE(hit, HTRIGHT);
  EXPECT_NE(hit, HTBOTTOM);
}

TEST_F(PluginInHost, OpeningWhileOpenKeepsTheWindowAndReopeningAfterCloseStartsFresh) {
  HostStandIn& host = Start();
  HWND window = OpenFilterWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(Field(window, kPattern), L"");
  EXPECT_EQ(Field(window, kDelimiter), L"\\n");
  Type(window, kPattern, L"abc");
  Type(window, kDelimiter, L";");

  ASSERT_TRUE(host.ClickMenuItem(L"Open Siftwell"));
  host.Pump();
  EXPECT_EQ(WindowsTitled(L"Siftwell"), std::vector<HWND>{window});
  EXPECT_EQ(Field(window, kPattern), L"abc");
  EXPECT_EQ(Field(window, kDelimiter), L";");

  Close(window);
  EXPECT_TRUE(WindowsTitled(L"Siftwell").empty());
  ASSERT_TRUE(host.ClickMenuItem(L"Open Siftwell"));
  HWND fresh = Titled(L"Siftwell");
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(Field(fresh, kPattern), L"");
  EXPECT_EQ(Field(fresh, kDelimiter), L"\\n");
  EXPECT_EQ(WindowsTitled(L"Siftwell").size(), 1u);
}

TEST_F(PluginInHost, FilterWindowIsRegisteredForDialogNavigationWhileItLives) {
  HostStandIn& host = Start();
  HWND window = OpenFilterWindow();
  ASSERT_NE(window, nullptr);
  auto dialogs = host.ModelessDialogs();
  EXPECT_NE(std::find(dialogs.begin(), dialogs.end(), window), dialogs.end());
  Close(window);
  dialogs = host.ModelessDialogs();
  EXPECT_EQ(std::find(dialogs.begin(), dialogs.end(), window), dialogs.end());
}

TEST_F(PluginInHost, AboutOpensClosesAndReopens) {
  HostStandIn& host = Start();
  ASSERT_TRUE(host.ClickMenuItem(L"About"));
  HWND about = Titled(L"About");
  ASSERT_NE(about, nullptr);
  ASSERT_TRUE(host.ClickMenuItem(L"About"));
  host.Pump();
  EXPECT_EQ(WindowsTitled(L"About").size(), 1u);
  Close(about);
  EXPECT_TRUE(WindowsTitled(L"About").empty());
  ASSERT_TRUE(host.ClickMenuItem(L"About"));
  EXPECT_NE(Titled(L"About"), nullptr);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// New tab: the host opens a document for the result, with the source's line
// ends; the source keeps its bytes. The choices are kept across a restart.
TEST_F(PluginInHost, ANewTabGetsTheResultAndTheChoicesOutliveARestart) {
  HostStandIn& host = Start();
  host.SetText(0, "a ERROR\r\nb\r\nERROR c\r\n");
  SendMessageW(host.View(0), static_cast<UINT>(SciMsg::SCI_SETEOLMODE), static_cast<WPARAM>(SciMsg::SC_EOL_LF), 0);
  HWND window = OpenFilterWindow();
  ASSERT_NE(window, nullptr);
  Type(window, kPattern, L"error");
  // In selection follows the active view's selection while the window is open.
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, kInSelection)));
  SendMessageW(host.View(0), static_cast<UINT>(SciMsg::SCI_SETSEL), 2, 5);
  EXPECT_TRUE(host.PumpUntil([&] { return IsWindowEnabled(GetDlgItem(window, kInSelection)) != FALSE; }, 2000));
  SendMessageW(host.View(0), static_cast<UINT>(SciMsg::SCI_SETSEL), 2, 2);
  EXPECT_TRUE(host.PumpUntil([&] { return IsWindowEnabled(GetDlgItem(window, kInSelection)) == FALSE; }, 2000));
  Type(window, kOutput, L" <$1> ");
  Click(window, kWholeLines);
  Click(window, kMatchCase);
  SendMessageW(GetDlgItem(window, kResult), CB_SETCURSEL, 1, 0);
  Click(window, kKeep);
  EXPECT_EQ(host.FileNewCount(), 1);
  EXPECT_EQ(host.Text(0), "a ERROR\r\nERROR c\r\n");
  EXPECT_EQ(host.OpenDocumentText(0), "a ERROR\r\nb\r\nERROR c\r\n") << "the source as it was";
  EXPECT_EQ(SendMessageW(host.View(0), static_cast<UINT>(SciMsg::SCI_GETEOLMODE), 0, 0),
            static_cast<LRESULT>(SciMsg::SC_EOL_LF));
  // What was done stays in sight: the new tab the run opened is no reason to count again.
  EXPECT_EQ(Field(window, kStatus), L"Kept 2 lines of 3 into a new tab; the document is unchanged.");
  EXPECT_FALSE(host.PumpUntil(
      [&] { return Field(window, kStatus) != L"Kept 2 lines of 3 into a new tab; the document is unchanged."; }, 1500))
      << "the status line became something else";
  Close(window);
  host.Shutdown();
  const std::string ini = ReadFile(configDir_ / L"Siftwell.ini");
  EXPECT_NE(ini.find("[Options]"), std::string::npos) << ini;
  EXPECT_NE(ini.find("[SomeSection]"), std::string::npos) << ini;

  HostStandIn& again = Start();
  window = OpenFilterWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(SendMessageW(GetDlgItem(window, kWholeLines), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageW(GetDlgItem(window, kMatchCase), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(SendMessageW(GetDlgItem(window, kInSelection), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(SendMessageW(GetDlgItem(window, kResult), CB_GETCURSEL, 0, 0), 1);
  EXPECT_EQ(Field(window, kOutput), L" <$1> ") << "spaces at either end kept";
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, kOutput))) << "no template with whole lines";
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, kDelimiter)));
}

// The settings file at shutdown: made with its folder on the first run, holding 0; a
// stored 7 is written back as 1; a folder named in another script gets it all the same.
TEST_F(PluginInHost, SettingsFileIsWrittenAtShutdown) {
  struct Row {
    const wchar_t* folder;
    const char* stored;  // null: no file, nor its folder
    const char* expected;
  };
  const Row rows[] = {{L"first", nullptr, "SomeKey=0"},
                      {L"stored", "[SomeSection]\r\nSomeKey=7\r\n", "SomeKey=1"},
                      {L"\u0410\u043d\u043d\u0430-\u5f20", nullptr, "SomeKey=0"}};
  for (const Row& row : rows) {
    configDir_ = root_ / row.folder / L"plugins";
    if (row.stored != nullptr) {
      fs::create_directories(configDir_);
      std::ofstream(configDir_ / L"Siftwell.ini") << row.stored;
    }
    ASSERT_EQ(fs::exists(configDir_), row.stored != nullptr);
    Start();
    EXPECT_TRUE(fs::is_directory(configDir_));
    host_->Shutdown();
    const std::string ini = ReadFile(configDir_ / L"Siftwell.ini");
    EXPECT_NE(ini.find("[SomeSection]"), std::string::npos) << ini;
    EXPECT_NE(ini.find(row.expected), std::string::npos) << ini;
  }
}

// A socket listening on 127.0.0.1:port (INVALID_SOCKET if it cannot); WSAStartup first.
SOCKET ListenOnLoopback(uint16_t port) {
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  BOOL yes = TRUE;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof yes);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(s, 8) == 0) return s;
  closesocket(s);
  return INVALID_SOCKET;
}

// A one-shot HTTP listener on 127.0.0.1 that records request heads.
class Listener {
 public:
  explicit Listener(uint16_t port) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    socket_ = ListenOnLoopback(port);
    ok_ = socket_ != INVALID_SOCKET;
    if (ok_) thread_ = std::thread([this] { Serve(); });
  }
  ~Listener() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    closesocket(socket_);
    WSACleanup();
  }
  bool ok() const { return ok_; }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  void Serve() {
    while (!stop_) {
      fd_set set;
      FD_ZERO(&set);
      FD_SET(socket_, &set);
      timeval tv{0, 50000};
      if (select(0, &set, nullptr, nullptr, &tv) <= 0) continue;
      SOCKET client = accept(socket_, nullptr, nullptr);
      if (client == INVALID_SOCKET) continue;
      std::string head;
      char buf[1024];
      while (head.find("\r\n\r\n") == std::string::npos) {
        const int n = recv(client, buf, sizeof buf, 0);
        if (n <= 0) break;
        head.append(buf, static_cast<size_t>(n));
      }
      const char reply[] = "HTTP/1.1 204 No Content\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
      send(client, reply, sizeof reply - 1, 0);
      closesocket(client);
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(head);
    }
  }
  SOCKET socket_ = INVALID_SOCKET;
  bool ok_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> requests_;
};

TEST_F(PluginInHost, EveryOpenSendsTheUsagePing) {
  if (std::string(SIFTWELL_PING_HOST) != "127.0.0.1")
    GTEST_SKIP() << "this build pings " << SIFTWELL_PING_HOST << ", not a local listener";
  Listener listener(SIFTWELL_PING_PORT);
  ASSERT_TRUE(listener.ok());
  HostStandIn& host = Start();
  ASSERT_TRUE(host.ClickMenuItem(L"Open Siftwell"));
  ASSERT_NE(Titled(L"Siftwell"), nullptr);
  ASSERT_TRUE(host.ClickMenuItem(L"Open Siftwell"));  // already open: pings all the same
  host.PumpUntil([&] { return listener.Requests().size() >= 2; }, 10000);
  const auto requests = listener.Requests();
  ASSERT_EQ(requests.size(), 2u);
  for (const auto& head : requests) {
    EXPECT_EQ(head.rfind("GET /?source=orbel&v=1.0.0.39277 HTTP/1.1\r\n", 0), 0u) << head;
    EXPECT_EQ(head.find("Content-Length"), std::string::npos) << head;
  }
  EXPECT_EQ(WindowText(Titled(L"Siftwell")), L"Siftwell");
}


// A request in flight keeps the library loaded past the host's FreeLibrary;
// it unloads once the request is over, with no code of ours left running.
TEST_F(PluginInHost, APingInFlightKeepsTheLibraryLoadedUntilItEnds) {
  if (std::string(SIFTWELL_PING_HOST) != "127.0.0.1")
    GTEST_SKIP() << "this build pings " << SIFTWELL_PING_HOST << ", not a local listener";
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  const SOCKET server = ListenOnLoopback(SIFTWELL_PING_PORT);
  ASSERT_NE(server, INVALID_SOCKET);

  HostStandIn& host = Start();
  ASSERT_TRUE(host.ClickMenuItem(L"Open Siftwell"));
  SOCKET client = INVALID_SOCKET;
  host.PumpUntil([&] {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(server, &set);
    timeval none{0, 0};
    if (select(0, &set, nullptr, nullptr, &none) == 1) client = accept(server, nullptr, nullptr);
    return client != INVALID_SOCKET;
  }, 10000);
  ASSERT_NE(client, INVALID_SOCKET) << "the ping arrives and is never answered";

  host.Shutdown();  // the host lets go of the library
  EXPECT_NE(GetModuleHandleW(L"Siftwell.dll"), nullptr) << "the request still holds it";
  // The request ends (and a retry of it finds nobody listening).
  closesocket(client);
  closesocket(server);
  const ULONGLONG start = GetTickCount64();
  while (GetModuleHandleW(L"Siftwell.dll") != nullptr && GetTickCount64() - start < 20000) Sleep(20);
  EXPECT_EQ(GetModuleHandleW(L"Siftwell.dll"), nullptr) << "unloaded once the request ended";
  WSACleanup();
}

// ---- Long runs ---------------------------------------------------------------

// About 1 MB of lines on which (a?){13}a{13} needs some 0.1 ms per match:
// seconds in all, but with many engine calls, so progress comes often.
std::string SlowLines(std::size_t bytes) {
  std::string text;
  const std::string line = std::string(13, 'a') + "\n";
  while (text.size() + line.size() <= bytes) text += line;
  return text;
}
constexpr wchar_t kSlowPattern[] = L"(a?){13}a{13}";

intptr_t Sci(HWND view, SciMsg msg, intptr_t wParam = 0, intptr_t lParam = 0) {
  return SendMessageW(view, static_cast<UINT>(msg), static_cast<WPARAM>(wParam), lParam);
}

class LongRun : public PluginInHost {
 protected:
  HWND OpenWithPattern(std::wstring_view pattern) {
    HWND window = OpenFilterWindow();
    if (window != nullptr) Type(window, kPattern, pattern);
    return window;
  }
  bool ProgressShows(HWND window) { return IsWindowVisible(GetDlgItem(window, kProgress)) != FALSE; }
  // Opens the window on `pattern` and clicks `button`: the window once the progress row
  // shows, null if it does not.
  HWND StartRun(std::wstring_view pattern, int button, DWORD showsWithinMs = 2000) {
    HWND window = OpenWithPattern(pattern);
    if (window == nullptr) return nullptr;
    SendMessageW(GetDlgItem(window, button), BM_CLICK, 0, 0);
    return host_->PumpUntil([&] { return ProgressShows(window); }, showsWithinMs) ? window : nullptr;
  }
  // The run has ended: the progress row is gone again.
  bool WaitForEnd(HWND window, DWORD ms) {
    return host_->PumpUntil([&] { return !IsWindow(window) || !ProgressShows(window); }, ms);
  }
};

TEST_F(LongRun, ShowsProgressKeepsTheHostAnsweringAndCancelLeavesTheDocumentAsItWas) {
  HostStandIn& host = Start();
  const std::string text = SlowLines(1 << 20);
  host.SetText(0, text);
  HWND window = OpenWithPattern(kSlowPattern);
  ASSERT_NE(window, nullptr);
  HWND view = host.View(0);

  const ULONGLONG clicked = GetTickCount64();
  SendMessageW(GetDlgItem(window, kKeep), BM_CLICK, 0, 0);
  ASSERT_TRUE(host.PumpUntil([&] { return ProgressShows(window); }, 2000));
  const ULONGLONG shown = GetTickCount64() - clicked;
  EXPECT_LT(shown, 1000u) << "the progress row shows within a second";
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(window, kCancel)));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, kKeep)));
  ASSERT_TRUE(host.PumpUntil([&] { return SendMessageW(GetDlgItem(window, kProgress), kGetProgress, 0, 0) > 0; }, 5000))
      << "the bar moves";

  // The host keeps answering: another thread sends to its window while the run goes on.
  std::atomic<bool> done{false};
  std::atomic<ULONGLONG> slowest{0};
  std::thread prober([&] {
    for (int i = 0; i < 20; ++i) {
      const ULONGLONG sent = GetTickCount64();
      DWORD_PTR ignored = 0;
      SendMessageTimeoutW(host.MainWindow(), WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored);
      slowest = std::max<ULONGLONG>(slowest, GetTickCount64() - sent);
      Sleep(50);
    }
    done = true;
  });
  host.PumpUntil([&] { return done.load(); }, 30000);
  prober.join();
  std::printf("progress shown after %llu ms; slowest round trip to the host %llu ms\n",
              static_cast<unsigned long long>(shown), static_cast<unsigned long long>(slowest.load()));
  EXPECT_LT(slowest.load(), 500u) << "a frozen host would answer only after the run";
  EXPECT_EQ(Sci(view, SciMsg::SCI_GETREADONLY), 0) << "the plugin leaves the read-only state to the user";
  ASSERT_TRUE(ProgressShows(window)) << "still running: the test needs a longer text on this machine";

  const ULONGLONG cancelled = GetTickCount64();
  SendMessageW(GetDlgItem(window, kCancel), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitForEnd(window, 5000));
  EXPECT_LT(GetTickCount64() - cancelled, 1000u) << "Cancel ends the run within a second";
  EXPECT_EQ(host.Text(0), text);
  EXPECT_EQ(Sci(view, SciMsg::SCI_GETREADONLY), 0);
  EXPECT_EQ(Sci(view, SciMsg::SCI_CANUNDO), 0) << "no undo step for a cancelled run";
  EXPECT_FALSE(Field(window, kStatus).empty());
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(window, kKeep)));
}

TEST_F(LongRun, EscapeCancelsAndPressingAgainStartsNoSecondRun) {
  HostStandIn& host = Start();
  const std::string text = SlowLines(1 << 20);
  host.SetText(0, text);
  HWND window = StartRun(kSlowPattern, kRemove);
  ASSERT_NE(window, nullptr);
  // Clicks that reach the window all the same (queued before the buttons rested).
  for (int id : {kKeep, kRemove})
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
  SetFocus(GetDlgItem(window, kPattern));
  host.PressKey(VK_ESCAPE);
  ASSERT_TRUE(WaitForEnd(window, 5000));
  EXPECT_EQ(host.Text(0), text);
  EXPECT_EQ(Sci(host.View(0), SciMsg::SCI_CANUNDO), 0);
}

TEST_F(LongRun, AFinishedLongRunIsOneUndoStep) {
  HostStandIn& host = Start();
  const std::string text = SlowLines(64 << 10) + "tail";
  host.SetText(0, text);
  HWND window = OpenWithPattern(L"(a?){13}a{13}\\n");
  ASSERT_NE(window, nullptr);
  SendMessageW(GetDlgItem(window, kRemove), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitForEnd(window, 60000));
  EXPECT_EQ(host.Text(0), "tail");
  const std::wstring status = Field(window, kStatus);  // nothing, or the new document's live count
  EXPECT_TRUE(status.empty() || status.find(L"match") != std::wstring::npos) << std::string(status.begin(), status.end());
  EXPECT_EQ(Sci(host.View(0), SciMsg::SCI_GETREADONLY), 0);
  Sci(host.View(0), SciMsg::SCI_UNDO);
  EXPECT_EQ(host.Text(0), text);
}

// Another document shown in the view (a tab switch) stops the run; the
// document it read is left exactly as it was, editable again.
TEST_F(LongRun, ShowingAnotherDocumentStopsTheRunAndGivesTheDocumentBack) {
  HostStandIn& host = Start();
  const std::string text = SlowLines(1 << 20);
  host.SetText(0, text);
  HWND view = host.View(0);
  HWND window = StartRun(kSlowPattern, kKeep);
  ASSERT_NE(window, nullptr);

  const intptr_t original = Sci(view, SciMsg::SCI_GETDOCPOINTER);
  Sci(view, SciMsg::SCI_ADDREFDOCUMENT, 0, original);
  const intptr_t other = Sci(view, SciMsg::SCI_CREATEDOCUMENT, 0, 0);
  Sci(view, SciMsg::SCI_SETDOCPOINTER, 0, other);
  Sci(view, SciMsg::SCI_RELEASEDOCUMENT, 0, other);  // the view holds it now
  ASSERT_TRUE(WaitForEnd(window, 3000));
  EXPECT_NE(Field(window, kStatus).find(L"Another document"), std::wstring::npos);

  Sci(view, SciMsg::SCI_SETDOCPOINTER, 0, original);
  Sci(view, SciMsg::SCI_RELEASEDOCUMENT, 0, original);
  EXPECT_EQ(Sci(view, SciMsg::SCI_GETREADONLY), 0) << "read-only given back though the view had moved on";
  EXPECT_EQ(host.Text(0), text);
  EXPECT_EQ(Sci(view, SciMsg::SCI_CANUNDO), 0);
}

// Typing into the document, or making it read-only, during a run stops the
// run at once; nothing is written over the change, and the user's read-only
// state stays.
TEST_F(LongRun, AnEditOrReadOnlyDuringTheRunStopsItAndWritesNothing) {
  HostStandIn& host = Start();
  const std::string text = SlowLines(1 << 20);
  HWND view = host.View(0);
  for (bool edit : {true, false}) {
    host.SetText(0, text);
    Sci(view, SciMsg::SCI_SETREADONLY, 0);
    HWND window = StartRun(kSlowPattern, kRemove);
    ASSERT_NE(window, nullptr);
    if (edit) Sci(view, SciMsg::SCI_INSERTTEXT, 0, reinterpret_cast<intptr_t>("typed"));
    else Sci(view, SciMsg::SCI_SETREADONLY, 1);
    ASSERT_TRUE(WaitForEnd(window, 1500)) << edit;
    EXPECT_EQ(host.Text(0), edit ? "typed" + text : text);
    EXPECT_EQ(Sci(view, SciMsg::SCI_GETREADONLY), edit ? 0 : 1);
    EXPECT_NE(Field(window, kStatus).find(edit ? L"changed during the run" : L"read-only"), std::wstring::npos);
    Close(window);
  }
  Sci(view, SciMsg::SCI_SETREADONLY, 0);
}

// Closing the window stops its run; shutting the host down mid-run waits for
// the worker, and the library then unloads with nothing of ours running.
TEST_F(LongRun, ClosingTheWindowOrShuttingDownStopsTheRunCleanly) {
  HostStandIn& host = Start();
  const std::string text = SlowLines(1 << 20);
  host.SetText(0, text);
  HWND window = StartRun(kSlowPattern, kKeep);
  ASSERT_NE(window, nullptr);
  Close(window);
  host.PumpUntil([&] { return Sci(host.View(0), SciMsg::SCI_GETREADONLY) == 0; }, 3000);
  EXPECT_EQ(Sci(host.View(0), SciMsg::SCI_GETREADONLY), 0);
  EXPECT_EQ(host.Text(0), text);

  window = StartRun(kSlowPattern, kRemove);
  ASSERT_NE(window, nullptr);
  const ULONGLONG start = GetTickCount64();
  host.Shutdown();
  EXPECT_LT(GetTickCount64() - start, 3000u);
  EXPECT_EQ(GetModuleHandleW(L"Siftwell.dll"), nullptr);
}

// A single engine call that would scan for most of an hour: (a?){20}a{20}
// finds nothing in 1 MB of 19-letter lines, at milliseconds per start
// position. The engine checks for a stop between bounded strides of one call.
TEST_F(LongRun, OneEndlessEngineCallShowsProgressAndStopsOnCancel) {
  HostStandIn& host = Start();
  std::string text;
  const std::string line = std::string(19, 'a') + "\n";
  while (text.size() + line.size() <= (1u << 20)) text += line;
  host.SetText(0, text);
  // (The bar itself hardly moves: a second searches less than a thousandth of the text.)
  HWND window = StartRun(L"(a?){20}a{20}", kKeep, 1000);
  ASSERT_NE(window, nullptr);
  std::atomic<ULONGLONG> slowest{0};
  std::thread prober([&] {
    const ULONGLONG sent = GetTickCount64();
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(host.MainWindow(), WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored);
    slowest = GetTickCount64() - sent;
  });
  host.PumpUntil([&] { return slowest.load() != 0; }, 2000);
  prober.join();
  EXPECT_LT(slowest.load(), 500u);
  const ULONGLONG cancelled = GetTickCount64();
  SendMessageW(GetDlgItem(window, kCancel), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitForEnd(window, 5000));
  const ULONGLONG stopped = GetTickCount64() - cancelled;
  std::printf("round trip to the host %llu ms; Cancel took %llu ms\n",
              static_cast<unsigned long long>(slowest.load()), static_cast<unsigned long long>(stopped));
  EXPECT_LT(stopped, 1000u);
  EXPECT_EQ(host.Text(0), text);
}

// The preset commands: ten slots after a separator, named after the presets
// file at start-up; a slot runs its preset's Keep on the active document at
// once (the window opens with it); an empty slot says so in the window; a
// preset added to the file meanwhile (by the CLI, say) is run and named.
TEST_F(PluginInHost, PresetCommandsRunTheirPresetAndFollowTheFile) {
  fs::create_directories(configDir_);
  const fs::path presets = configDir_ / L"Siftwell-presets.ini";
  std::ofstream(presets, std::ios::binary) << "[Numbers]\npattern = \\d+\ndelimiter = ,\n\n"
                                              "[Lines & x]\npattern = x\nlines = yes\n";
  HostStandIn& host = Start();
  std::vector<std::wstring> names;
  for (const auto& item : host.MenuItems())
    if (item.plugin == L"Siftwell") names.push_back(item.separator ? L"-" : item.name);
  std::vector<std::wstring> expected = {L"About", L"Open Siftwell", L"-", L"Preset 1: Numbers", L"Preset 2: Lines  x"};
  for (int slot = 3; slot <= 10; ++slot) expected.push_back(L"Preset " + std::to_wstring(slot) + L" (empty)");
  EXPECT_EQ(names, expected);

  host.SetText(0, "a1b22c333");
  ASSERT_TRUE(host.ClickMenuItem(L"Preset 1: Numbers"));
  HWND window = Titled(L"Siftwell");
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(host.PumpUntil([&] { return host.Text(0) == "1,22,333,"; })) << host.Text(0);
  EXPECT_EQ(Field(window, kPattern), L"\\d+");
  EXPECT_EQ(Field(window, kDelimiter), L",");

  ASSERT_TRUE(host.ClickMenuItem(L"Preset 3 (empty)"));
  host.Pump();
  EXPECT_NE(Field(window, kStatus).find(L"There is no preset 3"), std::wstring::npos) << Field(window, kStatus).size();
  EXPECT_EQ(host.Text(0), "1,22,333,");

  std::ofstream(presets, std::ios::binary | std::ios::app) << "[Words]\npattern = [a-z]+\n";
  host.SetText(0, "ab12cd");
  ASSERT_TRUE(host.ClickMenuItem(L"Preset 3 (empty)"));
  EXPECT_TRUE(host.PumpUntil([&] { return host.Text(0) == "ab\r\ncd\r\n"; })) << host.Text(0);
  bool renamed = false;
  for (const auto& item : host.MenuItems()) renamed = renamed || item.name == L"Preset 3: Words";
  EXPECT_TRUE(renamed);
}

}  // namespace
