// The host stand-in against a plugin DLL written only from the contract: call
// order, menu and identifiers, toolbar, accelerators, host messages, modeless
// dialog routing, shutdown, and the real Scintilla views.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "Automation.h"
#include "HostStandIn.h"
#include "npp/Tables.h"

namespace fs = std::filesystem;
using siftwell::host::HostOptions;
using siftwell::host::HostStandIn;
using siftwell::host::MenuEntry;

namespace {

constexpr UINT Msg(NppMsg m) { return static_cast<UINT>(m); }
constexpr UINT Msg(SciMsg m) { return static_cast<UINT>(m); }
constexpr int32_t kFirstId = static_cast<int32_t>(Resource::ID_PLUGINS_CMD);
constexpr UINT kTab = VK_TAB;

std::string Code(NppMsg m) { return std::to_string(static_cast<uint32_t>(m)); }

fs::path ExeDir() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return fs::path(path).parent_path();
}

fs::path FreshDir(const char* name) {
  fs::path dir = fs::temp_directory_path() /
                 (std::string("siftwell-host-") + name + "-" + std::to_string(GetCurrentProcessId()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = FreshDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    plugin_ = (ExeDir() / L"host_fixture_plugin.dll").wstring();
    // Held by the test too, so the fixture's state can be read after the host unloads it.
    keep_ = LoadLibraryW(plugin_.c_str());
    ASSERT_NE(keep_, nullptr);
    host_ = std::make_unique<HostStandIn>(HostOptions{dir_.wstring()});
    std::wstring error;
    ASSERT_TRUE(host_->LoadPlugin(plugin_, &error)) << fs::path(error).string();
    host_->Start();
  }
  void TearDown() override {
    host_.reset();
    if (keep_ != nullptr) FreeLibrary(keep_);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  template <typename Fn>
  Fn Export(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(keep_, name)));
  }
  std::string Log() { return Export<const char* (*)()>("fixtureLog")(); }
  int32_t Runs() { return Export<int32_t (*)()>("fixtureRuns")(); }
  int32_t LastView() { return Export<int32_t (*)()>("fixtureLastView")(); }
  int32_t CmdId(int32_t i) { return Export<int32_t (*)(int32_t)>("fixtureCmdId")(i); }
  HWND Dialog() { return Export<HWND (*)()>("fixtureDialog")(); }
  LRESULT Send(UINT msg, WPARAM w, LPARAM l) { return SendMessageW(host_->MainWindow(), msg, w, l); }
  bool Logged(UINT msg, WPARAM w) {
    for (const auto& m : host_->MessageLog()) {
      if (m.msg == msg && m.wParam == w) return true;
    }
    return false;
  }

  fs::path dir_;
  std::wstring plugin_;
  HMODULE keep_ = nullptr;
  std::unique_ptr<HostStandIn> host_;
};

TEST_F(HostTest, StartUpCallsComeInTheHostsOrderAfterTheIdentifiersAreWritten) {
  const std::string tb = Code(NppMsg::NPPN_TBMODIFICATION);
  const std::string expected = "isUnicode;getName;setInfo;getFuncsArray;notify:" + tb +
                               ";ids:" + std::to_string(kFirstId) + ":1:" +
                               std::to_string(kFirstId + 1) + ";notify:" + Code(NppMsg::NPPN_READY);
  EXPECT_EQ(Log(), expected);
}

TEST_F(HostTest, MenuIsBuiltFromTheRecordsWithHostAssignedIdentifiers) {
  const auto items = host_->MenuItems();
  ASSERT_EQ(items.size(), 3u);
  for (const MenuEntry& e : items) EXPECT_EQ(e.plugin, L"Fixture Plugin");
  EXPECT_EQ(items[0].name, L"Fixture Run");
  EXPECT_EQ(items[0].id, kFirstId);
  EXPECT_FALSE(items[0].checked);
  EXPECT_TRUE(items[1].separator);
  EXPECT_EQ(items[2].name, L"Fixture Dialog");
  EXPECT_EQ(items[2].id, kFirstId + 1);
  EXPECT_TRUE(items[2].checked);
  // The plugin sees the same identifiers in its own records; the separator keeps its value.
  EXPECT_EQ(CmdId(0), kFirstId);
  EXPECT_EQ(CmdId(1), 1);
  EXPECT_EQ(CmdId(2), kFirstId + 1);
  EXPECT_EQ(host_->CommandId(L"Fixture Dialog"), kFirstId + 1);
}

TEST_F(HostTest, MenuToolbarAndAcceleratorRunTheCommand) {
  EXPECT_EQ(Export<LRESULT (*)()>("fixtureToolbarResult")(), TRUE);
  EXPECT_TRUE(Logged(Msg(NppMsg::NPPM_ADDTOOLBARICON), static_cast<WPARAM>(kFirstId)));
  ASSERT_EQ(host_->ToolbarButtons(), std::vector<int32_t>{kFirstId});

  EXPECT_TRUE(host_->ClickToolbarButton(kFirstId));
  EXPECT_EQ(Runs(), 1);
  EXPECT_TRUE(host_->ClickMenuItem(L"Fixture Run"));
  EXPECT_EQ(Runs(), 2);
  EXPECT_FALSE(host_->ClickMenuItem(L"No Such Command"));

  SetFocus(host_->View(0));
  host_->PressKey('X', /*ctrl=*/true, /*shift=*/true);
  EXPECT_EQ(Runs(), 3);
  host_->PressKey('X', /*ctrl=*/true, /*shift=*/false);  // not the shortcut
  host_->PressKey('X');
  EXPECT_EQ(Runs(), 3);

  Send(Msg(NppMsg::NPPM_MENUCOMMAND), 0, kFirstId);
  EXPECT_EQ(Runs(), 4);
}

TEST_F(HostTest, CurrentScintillaFollowsTheActiveView) {
  for (int32_t view : {1, 0}) {
    host_->SetActiveView(view);
    host_->ClickMenuItem(L"Fixture Run");
    EXPECT_EQ(LastView(), view);
  }
}

TEST_F(HostTest, PluginsConfigDirIsTheChosenDirectoryAndNeverOverflows) {
  EXPECT_EQ(fs::path(Export<const wchar_t* (*)()>("fixtureConfigDir")()), dir_);
  const std::wstring chosen = dir_.wstring();
  wchar_t small[4] = {L'k', L'e', L'e', L'p'};
  EXPECT_EQ(Send(Msg(NppMsg::NPPM_GETPLUGINSCONFIGDIR), 4, reinterpret_cast<LPARAM>(small)), FALSE);
  EXPECT_EQ(std::wstring(small, 4), L"keep");
  EXPECT_EQ(Send(Msg(NppMsg::NPPM_GETPLUGINSCONFIGDIR), 0, 0),
            static_cast<LRESULT>(chosen.size()));
}

TEST_F(HostTest, RegisteredModelessDialogGetsTabNavigation) {
  ASSERT_TRUE(host_->ClickMenuItem(L"Fixture Dialog"));
  HWND dialog = Dialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(host_->ModelessDialogs(), std::vector<HWND>{dialog});
  HWND first = GetDlgItem(dialog, 101);
  HWND second = GetDlgItem(dialog, 102);
  ASSERT_EQ(GetFocus(), first);

  host_->PressKey(kTab);
  EXPECT_EQ(GetFocus(), second);
  host_->PressKey(kTab, false, /*shift=*/true);
  EXPECT_EQ(GetFocus(), first);

  // Unregistered, the host loop no longer runs IsDialogMessage for it.
  Send(Msg(NppMsg::NPPM_MODELESSDIALOG), static_cast<WPARAM>(NppMsg::MODELESSDIALOGREMOVE),
       reinterpret_cast<LPARAM>(dialog));
  EXPECT_TRUE(host_->ModelessDialogs().empty());
  host_->PressKey(kTab);
  EXPECT_EQ(GetFocus(), first);
}

TEST_F(HostTest, TypingAndClickingReachThePluginWindow) {
  ASSERT_TRUE(host_->ClickMenuItem(L"Fixture Dialog"));
  HWND dialog = Dialog();
  auto fields = siftwell::host::EditFields(dialog);
  ASSERT_EQ(fields.size(), 2u);
  siftwell::host::TypeInto(*host_, fields[0], L"a+b");
  siftwell::host::TypeInto(*host_, fields[1], L", ");
  HWND ok = siftwell::host::FindButton(dialog, L"OK");
  ASSERT_NE(ok, nullptr);
  SendMessageW(ok, BM_CLICK, 0, 0);
  host_->Pump();
  std::ifstream saved(dir_ / "fixture-ok.txt");
  std::string line;
  std::getline(saved, line);
  EXPECT_EQ(line, "a+b|, ");
}

TEST_F(HostTest, ShutdownNotifiesBeforeShutdownThenShutdownLastAndClosesPluginWindows) {
  host_->ClickMenuItem(L"Fixture Dialog");
  HWND dialog = Dialog();
  ASSERT_TRUE(IsWindow(dialog));
  host_->Shutdown();
  const std::string tail = ";notify:" + Code(NppMsg::NPPN_BEFORESHUTDOWN) + ";notify:" +
                           Code(NppMsg::NPPN_SHUTDOWN);
  const std::string log = Log();
  ASSERT_GE(log.size(), tail.size());
  EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
  EXPECT_FALSE(IsWindow(dialog));
  host_->Shutdown();  // a second call sends nothing
  EXPECT_EQ(Log(), log);
}

TEST_F(HostTest, ViewsAreRealScintillaWindows) {
  for (int32_t v : {0, 1}) {
    HWND view = host_->View(v);
    wchar_t cls[64] = {};
    GetClassNameW(view, cls, 64);
    EXPECT_STREQ(cls, L"Scintilla");
    const char text[] = "line one\nline two";
    SendMessageW(view, Msg(SciMsg::SCI_SETTEXT), 0, reinterpret_cast<LPARAM>(text));
    EXPECT_EQ(SendMessageW(view, Msg(SciMsg::SCI_GETLENGTH), 0, 0), 17);
    char back[32] = {};
    SendMessageW(view, Msg(SciMsg::SCI_GETTEXT), sizeof(back), reinterpret_cast<LPARAM>(back));
    EXPECT_STREQ(back, text);
    EXPECT_EQ(host_->Text(v), text);
  }
  const std::string withNul("a\0b", 3);
  host_->SetText(0, withNul);
  EXPECT_EQ(host_->Text(0), withNul);
  EXPECT_EQ(SendMessageW(host_->View(0), Msg(SciMsg::SCI_CANUNDO), 0, 0), 0);
}

TEST_F(HostTest, GatewayMessagesAreAnsweredAndRecorded) {
  host_->SetText(0, "some text");
  Send(Msg(NppMsg::NPPM_MENUCOMMAND), 0, static_cast<LPARAM>(NppMenuCmd::IDM_FILE_NEW));
  EXPECT_EQ(host_->Text(0), "");
  EXPECT_EQ(host_->FileNewCount(), 1);

  host_->SetBuffer(0, 7, L"C:\\docs\\a.txt");
  host_->SetBuffer(1, -5, L"C:\\docs\\b.txt");
  wchar_t path[2001] = {};
  Send(Msg(NppMsg::NPPM_GETFULLCURRENTPATH), 0, reinterpret_cast<LPARAM>(path));
  EXPECT_STREQ(path, L"C:\\docs\\a.txt");
  wchar_t small[5] = {};
  EXPECT_EQ(Send(Msg(NppMsg::NPPM_GETFULLCURRENTPATH), 5, reinterpret_cast<LPARAM>(small)), FALSE);
  EXPECT_STREQ(small, L"");

  wchar_t byId[2001] = {};
  const auto negative = static_cast<WPARAM>(static_cast<intptr_t>(-5));
  EXPECT_EQ(Send(Msg(NppMsg::NPPM_GETFULLPATHFROMBUFFERID), negative, reinterpret_cast<LPARAM>(byId)), 13);
  EXPECT_STREQ(byId, L"C:\\docs\\b.txt");
  wchar_t untouched[8] = {L'x', 0};
  EXPECT_EQ(Send(Msg(NppMsg::NPPM_GETFULLPATHFROMBUFFERID), 99, reinterpret_cast<LPARAM>(untouched)), -1);
  EXPECT_STREQ(untouched, L"x");

  Send(Msg(NppMsg::NPPM_SETCURRENTLANGTYPE), 0, static_cast<LPARAM>(LangType::L_CPP));
  EXPECT_EQ(host_->LangTypeOf(0), static_cast<int32_t>(LangType::L_CPP));
  EXPECT_FALSE(host_->LangTypeOf(1).has_value());

  const auto clear = static_cast<UINT>(Resource::NPPM_INTERNAL_CLEARINDICATOR);
  Send(clear, 0, 0);
  EXPECT_EQ(host_->ClearIndicatorCount(), 1);
  EXPECT_TRUE(Logged(clear, 0));
  EXPECT_TRUE(Logged(Msg(NppMsg::NPPM_SETCURRENTLANGTYPE), 0));
  EXPECT_TRUE(Logged(Msg(NppMsg::NPPM_GETFULLPATHFROMBUFFERID), negative));
}

TEST(HostLoad, RejectsWhatIsNotAPlugin) {
  HostStandIn host(HostOptions{L"C:\\unused"});
  std::wstring error;
  EXPECT_FALSE(host.LoadPlugin(L"C:\\no\\such\\plugin.dll", &error));
  EXPECT_NE(error.find(L"cannot be loaded"), std::wstring::npos);
  EXPECT_FALSE(host.LoadPlugin(L"kernel32.dll", &error));
  EXPECT_NE(error.find(L"entry points"), std::wstring::npos);
  EXPECT_EQ(host.PluginCount(), 0u);
  EXPECT_TRUE(host.MenuItems().empty());
}

// The exe's screenshot mode, end to end, in its own process.
TEST(HostExe, ScreenshotModeRunsACommandTypesClicksAndSavesABitmap) {
  const fs::path dir = FreshDir("exe");
  const fs::path exe = ExeDir() / ".." / ".." / ".." / "tools" / "host" / "siftwell-host.exe";
  const fs::path text = dir / "doc.txt";
  std::ofstream(text) << "alpha\nbeta\n";
  const fs::path shot = dir / "shot.bmp";
  std::wstring command = L"\"" + exe.wstring() + L"\" --config-dir \"" + dir.wstring() +
                         L"\" --file \"" + text.wstring() +
                         L"\" --after-command \"Fixture Dialog\" --type one --type two --click OK"
                         L" --screenshot \"" + shot.wstring() + L"\" \"" +
                         (ExeDir() / L"host_fixture_plugin.dll").wstring() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process));
  ASSERT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  ASSERT_EQ(code, 0u);

  std::ifstream saved(dir / "fixture-ok.txt");
  std::string line;
  std::getline(saved, line);
  EXPECT_EQ(line, "one|two");

  std::ifstream bmp(shot, std::ios::binary);
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER info{};
  bmp.read(reinterpret_cast<char*>(&file), sizeof(file));
  bmp.read(reinterpret_cast<char*>(&info), sizeof(info));
  ASSERT_TRUE(bmp);
  EXPECT_EQ(file.bfType, 'B' | ('M' << 8));
  EXPECT_EQ(info.biBitCount, 32);
  EXPECT_GE(info.biWidth, 640);  // at least the main window
  EXPECT_EQ(fs::file_size(shot), file.bfSize);
  std::error_code ignored;
  fs::remove_all(dir, ignored);
}

}  // namespace
