// The plugin's own start-up, commands and shutdown.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct ScNotification;
class frmMyDlg;
class about;

struct Main {
  static constexpr std::wstring_view PluginName = L"Siftwell";
  static std::wstring iniFilePath;
  static bool someSetting;
  static int32_t idMyDlg;
  static std::unique_ptr<::frmMyDlg> frmMyDlg;
  static std::unique_ptr<::about> aboutf;

  // From setInfo: settings file, then the two commands.
  static void CommandMenuInit();
  // On NPPN_TBMODIFICATION: the toolbar button for "Open Siftwell".
  static void SetToolBarIcon();
  // On NPPN_SHUTDOWN: writes the settings file.
  static void PluginCleanUp();
  static void OnNotification(const ScNotification& notification);

  static void myMenuFunction();     // "About"
  static void myDockableDialog();   // "Open Siftwell"
};
