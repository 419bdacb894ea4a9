// The plugin's own start-up, commands and shutdown.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <string_view>

#include "app/EditorFilter.h"

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
  // Where the user last left the filter window (top-left, screen pixels);
  // none before the first time. Kept in the settings file.
  static std::optional<std::pair<int32_t, int32_t>> filterWindowPosition;
  // The filter window's choices (whole lines, match case, ...), kept in the
  // settings file's [Options] section.
  static siftwell::filter::RunOptions filterOptions;

  // From setInfo: settings file, then the two commands.
  static void CommandMenuInit();
  // On NPPN_TBMODIFICATION: the toolbar button for "Open Siftwell".
  static void SetToolBarIcon();
  // On NPPN_SHUTDOWN: writes the settings file.
  static void PluginCleanUp();
  // Theme changes, document switches and edits reach the open windows.
  static void OnNotification(const ScNotification& notification);

  static void myMenuFunction();     // "About"
  static void myDockableDialog();   // "Open Siftwell"
};
