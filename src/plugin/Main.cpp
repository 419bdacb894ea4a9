#include "plugin/Main.h"

#include <windows.h>

#include <filesystem>
#include <system_error>

#include "filter/frmMyDlg.h"
#include "host/PluginBase.h"
#include "host/ScNotification.h"
#include "messages/Tables.h"
#include "messages/Win32.h"
#include "plugin/ToolbarBitmap.h"
#include "plugin/UsagePing.h"
#include "plugin/WindowKit.h"
#include "plugin/about.h"

std::wstring Main::iniFilePath;
bool Main::someSetting = false;
int32_t Main::idMyDlg = -1;
std::unique_ptr<::frmMyDlg> Main::frmMyDlg;
std::unique_ptr<::about> Main::aboutf;

namespace {
constexpr wchar_t kSection[] = L"SomeSection";
constexpr wchar_t kKey[] = L"SomeKey";
constexpr uint8_t kKeyX = 88;

// The host reads the toolbar record during the message only.
struct toolbarIcons {
  HBITMAP hToolbarBmp;
  HICON hToolbarIcon;
};
static_assert(sizeof(toolbarIcons) == 2 * sizeof(void*));
}  // namespace

void Main::CommandMenuInit() {
  Win32::TextBuffer buffer(Win32::MAX_PATH);
  Win32::SendMessage(PluginBase::nppData._nppHandle, static_cast<uint32_t>(NppMsg::NPPM_GETPLUGINSCONFIGDIR),
                     Win32::MAX_PATH, buffer);
  const std::wstring& configDir = buffer.Text();
  // Without a directory from the host there is no settings file: a bare file
  // name would land in the Windows directory.
  if (!configDir.empty()) {
    std::error_code ignored;
    std::filesystem::create_directories(configDir, ignored);
    iniFilePath = (std::filesystem::path(configDir) / L"Siftwell.ini").wstring();
    // Wide profile functions: the path may hold characters the ANSI code page lacks.
    someSetting = Win32::GetPrivateProfileIntW(kSection, kKey, 0, iniFilePath) != 0;
  }

  PluginBase::SetCommand(0, u"About", &myMenuFunction);
  PluginBase::SetCommand(1, u"Open Siftwell", &myDockableDialog, ShortcutKey(true, false, true, kKeyX));
  idMyDlg = 1;
}

void Main::SetToolBarIcon() {
  if (idMyDlg < 0 || idMyDlg >= PluginBase::_funcItems.Count()) return;
  toolbarIcons icons{MakeToolbarBitmap(PluginBase::Module()), nullptr};
  Win32::SendMessage(PluginBase::nppData._nppHandle, static_cast<uint32_t>(NppMsg::NPPM_ADDTOOLBARICON),
                     PluginBase::_funcItems.Items()[static_cast<std::size_t>(idMyDlg)]._cmdID,
                     reinterpret_cast<intptr_t>(&icons));
}

void Main::PluginCleanUp() {
  if (!iniFilePath.empty())
    Win32::WritePrivateProfileStringW(kSection, kKey, someSetting ? L"1" : L"0", iniFilePath);
  // The host unloads us next: no window or request of ours may outlive the code.
  frmMyDlg.reset();
  aboutf.reset();
  siftwell::ui::UnregisterWindowClasses(PluginBase::Module());
  CancelUsagePings();
}

// A run in flight stops when its document is switched away, closed or made
// editable, and before the host shuts down.
void Main::OnNotification(const ScNotification& notification) {
  if (!frmMyDlg || !frmMyDlg->IsRunning()) return;
  switch (static_cast<NppMsg>(notification.Header.Code)) {
    case NppMsg::NPPN_BEFORESHUTDOWN:
      frmMyDlg->CancelRun();
      break;
    case NppMsg::NPPN_BUFFERACTIVATED:
    case NppMsg::NPPN_FILEBEFORECLOSE:
    case NppMsg::NPPN_FILECLOSED:
    case NppMsg::NPPN_READONLYCHANGED:
      frmMyDlg->CheckRun();
      break;
    default:
      break;
  }
}

void Main::myMenuFunction() {
  if (!aboutf || aboutf->IsClosed()) aboutf = ::about::Create(PluginBase::Module(), PluginBase::nppData._nppHandle);
  if (aboutf) aboutf->Show();
}

void Main::myDockableDialog() {
  std::wstring suffix;
  if (!StartUsagePing()) suffix = L"e";

  try {
    if (!frmMyDlg || frmMyDlg->IsClosed()) {
      // A window closed earlier is replaced by a fresh one; only the very first
      // window carries the mark of a ping that could not start.
      const bool first = !frmMyDlg;
      frmMyDlg = ::frmMyDlg::Create(PluginBase::Module(), PluginBase::nppData._nppHandle);
      if (!frmMyDlg) return;
      frmMyDlg->SetTitle(std::wstring(PluginName) + (first ? suffix : std::wstring()));
    }
    frmMyDlg->Show();
  } catch (...) {
    // Showing the window must never take the host down.
  }
}
