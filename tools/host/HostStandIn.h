// HostStandIn: an in-process stand-in for the editor that hosts plugin DLLs.
//
// It owns a main window with a "Plugins" menu, a toolbar and two real
// Scintilla views, loads any DLL that follows the plugin contract (PluginAbi.h)
// in the real host's order of calls, answers the host messages plugins send,
// and runs the host's message loop: registered modeless dialogs first
// (IsDialogMessage), then the plugin accelerators (TranslateAccelerator), then
// TranslateMessage/DispatchMessage. Everything runs on the creating thread.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "PluginAbi.h"

namespace siftwell::host {

struct HostOptions {
  std::wstring configDir;     // answer to the plugin configuration directory query
  bool show = true;           // show the main window (needs a display under Wine)
  bool quitOnClose = false;   // closing the main window ends the loop (the exe)
  int32_t width = 1000;
  int32_t height = 700;
  // What the version query answers (wParam TRUE form: major << 16 | minor
  // digits padded to three); 8.9.7 by default.
  uint32_t nppVersion = (8u << 16) | 970u;
  // false: answers 0 to the newer messages (dark mode, dark-mode toolbar
  // icon), as a host that predates them does.
  bool newerMessages = true;
  // false: knows dark mode and its colours but not the theming message, as
  // hosts from 8.4.1 to before 8.5.4.
  bool themingMessage = true;
  bool darkMode = false;
};

// One theming request a plugin made for one of its windows.
struct ThemeRequest {
  HWND window;
  uint32_t flags;
};

// One message the main window received: every host message (from WM_USER up)
// and every WM_COMMAND, in arrival order.
struct LoggedMessage {
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
};

// One entry of a plugin's submenu, read back from the real menu.
struct MenuEntry {
  std::wstring plugin;   // the submenu's text (the plugin's name)
  std::wstring name;     // empty for a separator
  int32_t id;            // 0 for a separator
  bool separator;
  bool checked;
  bool enabled;
};

class HostStandIn {
 public:
  explicit HostStandIn(HostOptions options = {});
  ~HostStandIn();
  HostStandIn(const HostStandIn&) = delete;
  HostStandIn& operator=(const HostStandIn&) = delete;

  // Loads a plugin DLL and runs its start-up calls: isUnicode, getName,
  // setInfo, getFuncsArray; then builds its submenu and writes the assigned
  // command identifiers into its records. Only before Start().
  bool LoadPlugin(const std::wstring& path, std::wstring* error = nullptr);
  // Toolbar (NPPN_TBMODIFICATION), accelerators from the shortcut records,
  // then NPPN_READY. Runs once; later calls do nothing.
  void Start();
  // NPPN_BEFORESHUTDOWN then NPPN_SHUTDOWN to every plugin, then the windows
  // are destroyed and the DLLs unloaded. Runs once; the destructor calls it.
  void Shutdown();

  // The host loop: Pump handles what is queued now; PumpUntil keeps going
  // until done() holds (true) or the time limit passes (false); Run blocks
  // until the main window closes (quitOnClose).
  void Pump();
  bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);
  void Run();

  HWND MainWindow() const { return main_; }
  HWND View(int32_t index) const { return views_[index == 0 ? 0 : 1]; }
  HWND Toolbar() const { return toolbar_; }
  int32_t ActiveView() const { return activeView_; }
  void SetActiveView(int32_t index);

  // Editor contents as bytes. SetText loads them like a freshly opened file
  // (inner NULs kept, empty undo history).
  std::string Text(int32_t view) const;
  void SetText(int32_t view, std::string_view bytes);
  // Gives a view's document a buffer identifier and a full path.
  void SetBuffer(int32_t view, intptr_t bufferId, std::wstring path);

  // User actions, delivered the way the real controls deliver them.
  bool ClickMenuItem(std::wstring_view name);   // WM_COMMAND as the menu posts it
  bool ClickToolbarButton(int32_t cmdId);       // mouse down/up on the button
  void PressKey(UINT vk, bool ctrl = false, bool shift = false, bool alt = false);
  bool RunCommand(int32_t cmdId);               // what WM_COMMAND does for an id

  const std::vector<LoggedMessage>& MessageLog() const { return log_; }
  std::vector<HWND> ModelessDialogs() const { return modeless_; }
  std::vector<int32_t> ToolbarButtons() const;
  std::vector<MenuEntry> MenuItems() const;
  std::optional<int32_t> CommandId(std::wstring_view name) const;
  size_t PluginCount() const { return plugins_.size(); }
  HMODULE PluginModule(size_t index) const;

  // What the host did on behalf of plugin requests.
  int32_t FileNewCount() const { return fileNews_; }
  // The text of a document that a File New replaced in its view (in order).
  std::string OpenDocumentText(size_t index);
  std::optional<int32_t> LangTypeOf(int32_t view) const;
  int32_t ClearIndicatorCount() const { return clearIndicators_; }

  // Sends a notification with this code to every plugin's beNotified.
  void Notify(uint32_t code);

  // Dark mode, switched as the user switches it: windows themed through the
  // host follow, and plugins hear of it.
  bool DarkMode() const { return options_.darkMode; }
  void SetDarkMode(bool dark);
  static DarkModeColors DarkColors();
  const std::vector<ThemeRequest>& ThemeRequests() const { return themeRequests_; }
  // Which icon the dark-mode toolbar message put on a button: the light or the dark one.
  enum class ToolbarImage { None, Bitmap, Icon, DarkModeIcon };
  ToolbarImage ToolbarImageOf(int32_t cmdId) const;

 private:
  struct Plugin;
  struct Command {
    int32_t id;
    size_t plugin;
    std::wstring name;
    PFUNCPLUGINCMD func;
    ShortcutKey shortcut;
  };
  struct Buffer {
    intptr_t id;
    std::wstring path;
  };

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);
  void Route(MSG& msg);
  void Layout();
  void BuildMenu(size_t pluginIndex);
  void BuildAccelerators();
  LRESULT AddToolbarIcon(int32_t cmdId, const toolbarIcons* icons);
  LRESULT AddToolbarIcon(int32_t cmdId, const toolbarIconsWithDarkMode* icons);
  LRESULT AddToolbarButton(int32_t cmdId, int image);
  std::optional<LRESULT> NewerMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK DarkSubclass(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR self);
  LRESULT ModelessDialog(WPARAM op, HWND dialog);
  void FileNew();
  void UnloadPlugins();
  const Command* FindCommand(int32_t id) const;

  HostOptions options_;
  HWND main_ = nullptr;
  HWND toolbar_ = nullptr;
  HWND views_[2] = {nullptr, nullptr};
  HMENU pluginsMenu_ = nullptr;
  HIMAGELIST images_ = nullptr;
  HACCEL accelerators_ = nullptr;
  int32_t activeView_ = 0;
  bool started_ = false;
  bool shutDown_ = false;
  bool quit_ = false;

  std::vector<std::unique_ptr<Plugin>> plugins_;
  std::vector<Command> commands_;
  std::vector<int32_t> toolbarButtons_;
  std::vector<HWND> modeless_;
  std::vector<LoggedMessage> log_;
  std::optional<Buffer> buffers_[2];
  std::vector<intptr_t> openDocuments_;  // shown before a File New; one reference each
  std::map<int32_t, int32_t> langTypes_;
  std::vector<ThemeRequest> themeRequests_;
  std::map<int32_t, ToolbarImage> toolbarImages_;
  HBRUSH darkBrush_ = nullptr;
  int32_t fileNews_ = 0;
  int32_t clearIndicators_ = 0;
};

}  // namespace siftwell::host
