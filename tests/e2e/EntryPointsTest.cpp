// The six exports of Siftwell.dll called directly, the way a host calls them,
// with the stand-in's windows as the host's windows.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "HostStandIn.h"
#include "PluginAbi.h"
#include "PluginPath.h"
#include "npp/Tables.h"

namespace {

using namespace siftwell::host;

class EntryPoints : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryW(PluginPath().c_str());
    ASSERT_NE(module_, nullptr);
    isUnicode_ = Get<decltype(isUnicode_)>("isUnicode");
    setInfo_ = Get<decltype(setInfo_)>("setInfo");
    getFuncsArray_ = Get<decltype(getFuncsArray_)>("getFuncsArray");
    messageProc_ = Get<decltype(messageProc_)>("messageProc");
    getName_ = Get<decltype(getName_)>("getName");
    beNotified_ = Get<decltype(beNotified_)>("beNotified");
  }
  void TearDown() override { FreeLibrary(module_); }

  template <typename F>
  F Get(const char* name) {
    auto f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    EXPECT_NE(f, nullptr) << name;
    return f;
  }
  void Notify(HWND from, uint32_t code) {
    SCNotification n{};
    n.nmhdr.hwndFrom = from;
    n.nmhdr.code = code;
    beNotified_(&n);
  }
  size_t HostMessages(const siftwell::host::HostStandIn& host, NppMsg msg) {
    size_t n = 0;
    for (const auto& m : host.MessageLog()) n += m.msg == static_cast<UINT>(msg);
    return n;
  }

  HMODULE module_ = nullptr;
  BOOL(__cdecl* isUnicode_)() = nullptr;
  void(__cdecl* setInfo_)(NppData) = nullptr;
  FuncItem*(__cdecl* getFuncsArray_)(int*) = nullptr;
  LRESULT(__cdecl* messageProc_)(UINT, WPARAM, LPARAM) = nullptr;
  const wchar_t*(__cdecl* getName_)() = nullptr;
  void(__cdecl* beNotified_)(SCNotification*) = nullptr;
};

TEST_F(EntryPoints, BeforeSetInfoThereAreNoCommandsAndTheAnswersAreFixed) {
  int count = -1;
  EXPECT_EQ(getFuncsArray_(&count), nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(isUnicode_(), TRUE);
  EXPECT_EQ(messageProc_(static_cast<UINT>(Constants::WM_USER), 0, 0), 1);
  EXPECT_EQ(messageProc_(WM_COMMAND, 5, -1), 1);
  const wchar_t* name = getName_();
  EXPECT_STREQ(name, L"Siftwell");
  EXPECT_EQ(getName_(), name);
}

TEST_F(EntryPoints, CommandsToolbarAndShutdownThroughTheExports) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  siftwell::host::HostOptions options;
  options.configDir = std::wstring(temp) + L"siftwell-entry-" + std::to_wstring(GetCurrentProcessId());
  options.show = false;
  siftwell::host::HostStandIn host(options);

  setInfo_(NppData{host.MainWindow(), host.View(0), host.View(1)});
  int count = 0;
  FuncItem* items = getFuncsArray_(&count);
  // About, Open Siftwell, a separator (no name, no function) and the ten preset slots.
  ASSERT_EQ(count, 13);
  EXPECT_STREQ(items[2]._itemName, L"");
  EXPECT_EQ(items[2]._pFunc, nullptr);
  EXPECT_STREQ(items[3]._itemName, L"Preset 1 (empty)");
  EXPECT_STREQ(items[12]._itemName, L"Preset 10 (empty)");
  EXPECT_STREQ(items[0]._itemName, L"About");
  EXPECT_EQ(items[0]._pShKey, nullptr);
  EXPECT_STREQ(items[1]._itemName, L"Open Siftwell");
  ASSERT_NE(items[1]._pShKey, nullptr);
  unsigned char key[4];
  std::memcpy(key, items[1]._pShKey, 4);
  EXPECT_EQ(std::vector<int>(key, key + 4), (std::vector<int>{1, 0, 1, 88}));
  EXPECT_FALSE(items[0]._init2Check || items[1]._init2Check);

  // The host writes its identifiers; the toolbar button must carry command 1's.
  items[0]._cmdID = 22007;
  items[1]._cmdID = 22008;
  const size_t before = host.MessageLog().size();
  Notify(host.MainWindow(), static_cast<uint32_t>(NppMsg::NPPN_READY));  // not handled: nothing is sent
  EXPECT_EQ(host.MessageLog().size(), before);
  Notify(host.MainWindow(), static_cast<uint32_t>(NppMsg::NPPN_TBMODIFICATION));
  ASSERT_EQ(HostMessages(host, NppMsg::NPPM_ADDTOOLBARICON), 1u);
  for (const auto& m : host.MessageLog())
    if (m.msg == static_cast<UINT>(NppMsg::NPPM_ADDTOOLBARICON)) EXPECT_EQ(m.wParam, 22008u);

  Notify(host.MainWindow(), static_cast<uint32_t>(NppMsg::NPPN_SHUTDOWN));
  const std::wstring ini = options.configDir + L"\\Siftwell.ini";
  EXPECT_EQ(GetPrivateProfileIntW(L"SomeSection", L"SomeKey", -1, ini.c_str()), 0);
  // The name was released; asking again gives the name anew.
  EXPECT_STREQ(getName_(), L"Siftwell");
  DeleteFileW(ini.c_str());
  RemoveDirectoryW(options.configDir.c_str());
}

}  // namespace
