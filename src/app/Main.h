// The plugin's own start-up, commands and shutdown.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <string_view>

#include "app/EditorFilter.h"
#include "app/PatternStore.h"

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
  static siftwell::app::RunOptions filterOptions;
  // Recent patterns and presets (Siftwell-history.ini, Siftwell-presets.ini
  // beside the settings file).
  static std::shared_ptr<siftwell::app::PatternStore> patterns;
  // Commands for the presets, in the file's order, after the separator that
  // follows the fixed commands: reserved at start-up so that the host's
  // Shortcut Mapper can bind keys to them; named after the presets, and
  // renamed in the menu when the presets change.
  static constexpr int32_t kPresetSlots = 10;
  static int32_t firstPresetSlot;

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
  // A preset command: the filter window opens with the `slot`th preset
  // (0-based) and runs Keep with it on the active document.
  static void RunPreset(int32_t slot);
  // The preset commands' names in the host's menu, after the presets now.
  static void RenamePresetCommands();
};
