#include "HostStandIn.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "ScintillaClasses.h"
// The number tables, without Constants.h: that one takes away the platform's
// WM_USER macro, which the common-controls messages are built on.
#include "npp/LangType.h"
#include "npp/NppMenuCmd.h"
#include "npp/NppMsg.h"
#include "npp/NppMsgNewer.h"
#include "npp/Resource.h"
#include "npp/SciMsg.h"

namespace siftwell::host {
namespace {

constexpr wchar_t kMainClass[] = L"SiftwellHostStandIn";
constexpr wchar_t kTitle[] = L"Siftwell host stand-in";
constexpr int32_t kImageSize = 16;
constexpr size_t kNameLimit = 260;  // longest plugin name read from getName

// Keystroke lParam flags of WM_KEYDOWN/WM_KEYUP.
constexpr LPARAM kRepeatOnce = 1;
constexpr int kScanCodeShift = 16;
constexpr LPARAM kContextAlt = LPARAM{1} << 29;
constexpr LPARAM kKeyReleased = (LPARAM{1} << 30) | (LPARAM{1} << 31);
constexpr BYTE kKeyDown = 0x80;

constexpr UINT Msg(NppMsg m) { return static_cast<UINT>(m); }
constexpr UINT Msg(SciMsg m) { return static_cast<UINT>(m); }
constexpr UINT kWmUser = WM_USER;
constexpr int32_t kFirstCommand = static_cast<int32_t>(Resource::ID_PLUGINS_CMD);
constexpr int32_t kLastCommand = static_cast<int32_t>(Resource::ID_PLUGINS_CMD_LIMIT);
constexpr UINT kClearIndicator = static_cast<UINT>(Resource::NPPM_INTERNAL_CLEARINDICATOR);
constexpr int32_t kFileNew = static_cast<int32_t>(NppMenuCmd::IDM_FILE_NEW);

LRESULT Sci(HWND view, SciMsg msg, WPARAM wParam = 0, LPARAM lParam = 0) {
  return SendMessageW(view, Msg(msg), wParam, lParam);
}

// GetProcAddress gives a generic function pointer; the entry points have
// their own types.
template <typename Fn>
Fn Resolve(HMODULE module, const char* name) {
  FARPROC proc = GetProcAddress(module, name);
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

// Copies text into a caller's UTF-16 buffer of `capacity` code units.
bool CopyOut(const std::wstring& text, wchar_t* out, size_t capacity) {
  if (out == nullptr || text.size() + 1 > capacity) return false;
  std::wmemcpy(out, text.c_str(), text.size() + 1);
  return true;
}

// Address range of a loaded module's image, to tell which windows run code
// from a plugin DLL.
bool InModule(HMODULE module, const void* address) {
  auto base = reinterpret_cast<const BYTE*>(module);
  auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  auto p = static_cast<const BYTE*>(address);
  return p >= base && p < base + nt->OptionalHeader.SizeOfImage;
}

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM out) {
  reinterpret_cast<std::vector<HWND>*>(out)->push_back(hwnd);
  return TRUE;
}

std::vector<HWND> ThreadWindows() {
  std::vector<HWND> windows;
  EnumThreadWindows(GetCurrentThreadId(), &CollectWindow, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

bool IsPluginWindow(HWND hwnd, HMODULE module) {
  auto instance = reinterpret_cast<HMODULE>(GetWindowLongPtrW(hwnd, GWLP_HINSTANCE));
  auto proc = reinterpret_cast<const void*>(GetWindowLongPtrW(hwnd, GWLP_WNDPROC));
  return instance == module || InModule(module, proc);
}

struct ModuleFree {
  void operator()(HMODULE module) const { FreeLibrary(module); }
};
using ModuleHandle = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFree>;

// The notification block handed to beNotified: the record plus zeroed room,
// so a plugin that reads a longer notification layout reads zeros.
struct NotificationBlock {
  SCNotification record;
  std::byte tail[64];
};

}  // namespace

struct HostStandIn::Plugin {
  ModuleHandle module;
  std::wstring path;
  std::wstring name;
  IsUnicodeFn isUnicode = nullptr;
  SetInfoFn setInfo = nullptr;
  GetNameFn getName = nullptr;
  GetFuncsArrayFn getFuncsArray = nullptr;
  BeNotifiedFn beNotified = nullptr;
  MessageProcFn messageProc = nullptr;
  FuncItem* items = nullptr;
  int32_t count = 0;
};

HostStandIn::HostStandIn(HostOptions options) : options_(std::move(options)) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  RegisterScintillaClasses();

  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &HostStandIn::WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kMainClass;
  RegisterClassExW(&wc);  // fails harmlessly when an earlier host registered it

  HMENU bar = CreateMenu();
  pluginsMenu_ = CreatePopupMenu();
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(pluginsMenu_), L"&Plugins");
  main_ = CreateWindowExW(0, kMainClass, kTitle, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0,
                          options_.width, options_.height, nullptr, bar, instance, this);

  toolbar_ = CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr,
                             WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_TOP,
                             0, 0, 0, 0, main_, nullptr, instance, nullptr);
  SendMessageW(toolbar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  images_ = ImageList_Create(kImageSize, kImageSize, ILC_COLOR32 | ILC_MASK, 4, 4);
  SendMessageW(toolbar_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images_));

  for (HWND& view : views_) {
    view = CreateWindowExW(WS_EX_CLIENTEDGE, ScintillaClassName(), nullptr,
                           WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_TABSTOP, 0, 0, 0, 0,
                           main_, nullptr, instance, nullptr);
  }
  Layout();
  if (options_.show) {
    ShowWindow(main_, SW_SHOWNORMAL);
    UpdateWindow(main_);
    SetFocus(views_[0]);
  }
}

HostStandIn::~HostStandIn() {
  if (IsWindow(View(0)))
    for (intptr_t document : openDocuments_) Sci(View(0), SciMsg::SCI_RELEASEDOCUMENT, 0, document);
  Shutdown();
  if (images_ != nullptr) ImageList_Destroy(images_);
  if (darkBrush_ != nullptr) DeleteObject(darkBrush_);
}

bool HostStandIn::LoadPlugin(const std::wstring& path, std::wstring* error) {
  auto fail = [&](std::wstring why) {
    if (error != nullptr) *error = path + L": " + why;
    return false;
  };
  if (started_ || shutDown_) return fail(L"plugins load only before the host starts");

  ModuleHandle module(LoadLibraryW(path.c_str()));
  if (!module) return fail(L"cannot be loaded (error " + std::to_wstring(GetLastError()) + L")");

  auto plugin = std::make_unique<Plugin>();
  HMODULE m = module.get();
  plugin->isUnicode = Resolve<IsUnicodeFn>(m, "isUnicode");
  plugin->setInfo = Resolve<SetInfoFn>(m, "setInfo");
  plugin->getName = Resolve<GetNameFn>(m, "getName");
  plugin->getFuncsArray = Resolve<GetFuncsArrayFn>(m, "getFuncsArray");
  plugin->beNotified = Resolve<BeNotifiedFn>(m, "beNotified");
  plugin->messageProc = Resolve<MessageProcFn>(m, "messageProc");
  if (!plugin->isUnicode || !plugin->setInfo || !plugin->getName || !plugin->getFuncsArray ||
      !plugin->beNotified || !plugin->messageProc) {
    return fail(L"lacks one of the entry points isUnicode, setInfo, getName, getFuncsArray, "
                L"beNotified, messageProc");
  }
  if (!plugin->isUnicode()) return fail(L"is not a Unicode plugin");

  const wchar_t* name = plugin->getName();
  plugin->name = name != nullptr ? std::wstring(name, wcsnlen(name, kNameLimit)) : std::wstring();
  if (plugin->name.empty()) plugin->name = path.substr(path.find_last_of(L"\\/") + 1);

  plugin->setInfo(NppData{main_, views_[0], views_[1]});

  int count = 0;
  FuncItem* items = plugin->getFuncsArray(&count);
  const int32_t room = kLastCommand - kFirstCommand;
  plugin->items = count > 0 ? items : nullptr;
  plugin->count = plugin->items != nullptr ? std::min<int32_t>(count, room) : 0;
  plugin->path = path;
  plugin->module = std::move(module);
  plugins_.push_back(std::move(plugin));
  BuildMenu(plugins_.size() - 1);
  return true;
}

// One submenu per plugin under "Plugins", one item per record; a record with
// an empty name is a separator and gets no identifier.
void HostStandIn::BuildMenu(size_t pluginIndex) {
  Plugin& plugin = *plugins_[pluginIndex];
  HMENU sub = CreatePopupMenu();
  for (int32_t i = 0; i < plugin.count; ++i) {
    FuncItem& record = plugin.items[i];
    std::wstring name(record._itemName, wcsnlen(record._itemName, kItemNameLength));
    if (name.empty()) {
      AppendMenuW(sub, MF_SEPARATOR, 0, nullptr);
      continue;
    }
    const int32_t id = kFirstCommand + static_cast<int32_t>(commands_.size());
    if (id >= kLastCommand) break;
    record._cmdID = id;

    // Flags are read as bytes: a plugin may leave any non-zero value in them.
    unsigned char checked = 0;
    std::memcpy(&checked, &record._init2Check, 1);
    ShortcutKey shortcut{};
    if (record._pShKey != nullptr) {
      unsigned char raw[sizeof(ShortcutKey)];
      std::memcpy(raw, record._pShKey, sizeof(raw));
      shortcut = ShortcutKey{raw[0] != 0, raw[1] != 0, raw[2] != 0, raw[3]};
    }
    commands_.push_back(Command{id, pluginIndex, name, record._pFunc, shortcut});

    UINT flags = MF_STRING;
    if (checked != 0) flags |= MF_CHECKED;
    if (record._pFunc == nullptr) flags |= MF_GRAYED;
    AppendMenuW(sub, flags, static_cast<UINT_PTR>(id), name.c_str());
  }
  AppendMenuW(pluginsMenu_, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), plugin.name.c_str());
  DrawMenuBar(main_);
}

void HostStandIn::BuildAccelerators() {
  std::vector<ACCEL> table;
  for (const Command& c : commands_) {
    if (c.shortcut._key == 0) continue;
    BYTE virt = FVIRTKEY;
    if (c.shortcut._isCtrl) virt |= FCONTROL;
    if (c.shortcut._isAlt) virt |= FALT;
    if (c.shortcut._isShift) virt |= FSHIFT;
    table.push_back(ACCEL{virt, c.shortcut._key, static_cast<WORD>(c.id)});
  }
  if (!table.empty()) {
    accelerators_ = CreateAcceleratorTableW(table.data(), static_cast<int>(table.size()));
  }
}

void HostStandIn::Start() {
  if (started_ || shutDown_) return;
  started_ = true;
  Notify(Msg(NppMsg::NPPN_TBMODIFICATION));
  BuildAccelerators();
  Notify(Msg(NppMsg::NPPN_READY));
}

void HostStandIn::Notify(uint32_t code) {
  NotificationBlock block{};
  block.record.nmhdr = SCNotificationHeader{main_, 0, code};
  for (auto& plugin : plugins_) plugin->beNotified(&block.record);
}

void HostStandIn::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  Notify(Msg(NppMsg::NPPN_BEFORESHUTDOWN));
  Notify(Msg(NppMsg::NPPN_SHUTDOWN));
  if (accelerators_ != nullptr) DestroyAcceleratorTable(accelerators_);
  accelerators_ = nullptr;
  modeless_.clear();
  if (main_ != nullptr) DestroyWindow(main_);  // owned windows go with it
  main_ = toolbar_ = nullptr;
  views_[0] = views_[1] = nullptr;
  UnloadPlugins();
}

// Windows and classes whose code lives in a plugin DLL must not outlive it:
// they are destroyed (and the classes unregistered) before the DLL unloads.
void HostStandIn::UnloadPlugins() {
  for (auto& plugin : plugins_) {
    HMODULE module = plugin->module.get();
    std::vector<std::wstring> classes;
    for (HWND hwnd : ThreadWindows()) {
      if (!IsWindow(hwnd) || !IsPluginWindow(hwnd, module)) continue;
      wchar_t name[256] = {};
      GetClassNameW(hwnd, name, static_cast<int>(std::size(name)));
      if (reinterpret_cast<HMODULE>(GetClassLongPtrW(hwnd, GCLP_HMODULE)) == module) {
        classes.emplace_back(name);
      }
      DestroyWindow(hwnd);
    }
    for (const auto& name : classes) UnregisterClassW(name.c_str(), module);
  }
  Pump();  // lets posted messages to the destroyed windows drain
  plugins_.clear();
  commands_.clear();
}

void HostStandIn::Layout() {
  if (main_ == nullptr) return;
  SendMessageW(toolbar_, TB_AUTOSIZE, 0, 0);
  RECT client{}, bar{};
  GetClientRect(main_, &client);
  GetWindowRect(toolbar_, &bar);
  const int32_t top = bar.bottom - bar.top;
  const int32_t height = std::max<int32_t>(0, client.bottom - top);
  const int32_t half = client.right / 2;
  MoveWindow(views_[0], 0, top, half, height, TRUE);
  MoveWindow(views_[1], half, top, client.right - half, height, TRUE);
}

LRESULT CALLBACK HostStandIn::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    auto self = static_cast<HostStandIn*>(create->lpCreateParams);
    self->main_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto self = reinterpret_cast<HostStandIn*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (msg == WM_NCDESTROY) SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
  if (self == nullptr || self->main_ != hwnd) return DefWindowProcW(hwnd, msg, wParam, lParam);
  return self->Handle(msg, wParam, lParam);
}

LRESULT HostStandIn::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg >= kWmUser || msg == WM_COMMAND) log_.push_back(LoggedMessage{msg, wParam, lParam});

  switch (msg) {
    case WM_SIZE:
      Layout();
      return 0;
    case WM_SETFOCUS:
      if (views_[activeView_] != nullptr) SetFocus(views_[activeView_]);
      return 0;
    case WM_COMMAND:
      RunCommand(LOWORD(wParam));
      return 0;
    case WM_NOTIFY: {
      // Editor notifications from the views go to every plugin, as the host does.
      auto header = reinterpret_cast<const NMHDR*>(lParam);
      if (header != nullptr && (header->hwndFrom == views_[0] || header->hwndFrom == views_[1])) {
        for (auto& plugin : plugins_) plugin->beNotified(reinterpret_cast<SCNotification*>(lParam));
      }
      break;
    }
    case WM_CLOSE:
      Shutdown();
      return 0;
    case WM_DESTROY:
      if (options_.quitOnClose) PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  if (msg < kWmUser) return DefWindowProcW(main_, msg, wParam, lParam);

  if (msg == kClearIndicator) {
    ++clearIndicators_;
    return TRUE;
  }
  if (auto answer = NewerMessage(msg, wParam, lParam)) return *answer;
  const auto active = activeView_;
  switch (static_cast<NppMsg>(msg)) {
    case NppMsg::NPPM_GETNPPVERSION:
      return static_cast<LRESULT>(options_.nppVersion);
    case NppMsg::NPPM_GETCURRENTSCINTILLA:
      if (lParam == 0) return FALSE;
      *reinterpret_cast<int*>(lParam) = active;
      return TRUE;
    case NppMsg::NPPM_GETCURRENTLANGTYPE:
      if (lParam == 0) return FALSE;
      *reinterpret_cast<int*>(lParam) = LangTypeOf(active).value_or(
          static_cast<int32_t>(LangType::L_TEXT));
      return TRUE;
    case NppMsg::NPPM_SETCURRENTLANGTYPE:
      langTypes_[active] = static_cast<int32_t>(lParam);
      return TRUE;
    case NppMsg::NPPM_GETPLUGINSCONFIGDIR:
      // No buffer: the length, so a caller can size one. Too small: nothing written.
      if (lParam == 0) return static_cast<LRESULT>(options_.configDir.size());
      return CopyOut(options_.configDir, reinterpret_cast<wchar_t*>(lParam), wParam);
    case NppMsg::NPPM_ADDTOOLBARICON:
      return AddToolbarIcon(static_cast<int32_t>(wParam),
                            reinterpret_cast<const toolbarIcons*>(lParam));
    case NppMsg::NPPM_MODELESSDIALOG:
      return ModelessDialog(wParam, reinterpret_cast<HWND>(lParam));
    case NppMsg::NPPM_MENUCOMMAND:
      return RunCommand(static_cast<int32_t>(lParam)) ? TRUE : FALSE;
    case NppMsg::NPPM_GETMENUHANDLE:
      // The plugins' menu, as Notepad++ answers NPPPLUGINMENU (its main menu is not modelled).
      return wParam == static_cast<WPARAM>(NppMsg::NPPPLUGINMENU) ? reinterpret_cast<LRESULT>(pluginsMenu_) : 0;
    case NppMsg::NPPM_GETFULLCURRENTPATH: {
      // wParam is the capacity when given; callers that pass 0 get at most MAX_PATH.
      const std::wstring path = buffers_[active] ? buffers_[active]->path : std::wstring();
      return CopyOut(path, reinterpret_cast<wchar_t*>(lParam), wParam != 0 ? wParam : MAX_PATH);
    }
    case NppMsg::NPPM_GETFULLPATHFROMBUFFERID:
      for (const auto& buffer : buffers_) {
        if (!buffer || buffer->id != static_cast<intptr_t>(wParam)) continue;
        if (lParam != 0) {
          std::wmemcpy(reinterpret_cast<wchar_t*>(lParam), buffer->path.c_str(),
                       buffer->path.size() + 1);
        }
        return static_cast<LRESULT>(buffer->path.size());
      }
      return -1;
    case NppMsg::NPPM_GETCURRENTBUFFERID:
      return buffers_[active] ? buffers_[active]->id : 0;
    default:
      return 0;
  }
}

LRESULT HostStandIn::AddToolbarIcon(int32_t cmdId, const toolbarIcons* icons) {
  if (icons == nullptr || FindCommand(cmdId) == nullptr) return FALSE;
  int image = I_IMAGENONE;
  toolbarImages_[cmdId] = icons->hToolbarBmp != nullptr ? ToolbarImage::Bitmap
                          : icons->hToolbarIcon != nullptr ? ToolbarImage::Icon
                                                            : ToolbarImage::None;
  BITMAP info{};
  if (icons->hToolbarBmp != nullptr && GetObjectW(icons->hToolbarBmp, sizeof(info), &info) != 0) {
    // The plugin keeps its bitmap; the image list gets a copy at toolbar size.
    auto scaled = static_cast<HBITMAP>(
        CopyImage(icons->hToolbarBmp, IMAGE_BITMAP, kImageSize, kImageSize, LR_CREATEDIBSECTION));
    if (scaled != nullptr) {
      image = ImageList_Add(images_, scaled, nullptr);
      DeleteObject(scaled);
    }
  } else if (icons->hToolbarIcon != nullptr) {
    image = ImageList_AddIcon(images_, icons->hToolbarIcon);
  }
  return AddToolbarButton(cmdId, image);
}

// The icon of the current mode, as the host's icon sets use them.
LRESULT HostStandIn::AddToolbarIcon(int32_t cmdId, const toolbarIconsWithDarkMode* icons) {
  if (icons == nullptr || FindCommand(cmdId) == nullptr) return FALSE;
  HICON icon = options_.darkMode ? icons->hToolbarIconDarkMode : icons->hToolbarIcon;
  toolbarImages_[cmdId] = icon == nullptr            ? ToolbarImage::None
                          : options_.darkMode        ? ToolbarImage::DarkModeIcon
                                                     : ToolbarImage::Icon;
  return AddToolbarButton(cmdId, icon != nullptr ? ImageList_AddIcon(images_, icon) : I_IMAGENONE);
}

HostStandIn::ToolbarImage HostStandIn::ToolbarImageOf(int32_t cmdId) const {
  auto found = toolbarImages_.find(cmdId);
  return found == toolbarImages_.end() ? ToolbarImage::None : found->second;
}

LRESULT HostStandIn::AddToolbarButton(int32_t cmdId, int image) {
  TBBUTTON button{};
  button.iBitmap = image < 0 ? I_IMAGENONE : image;
  button.idCommand = cmdId;
  button.fsState = TBSTATE_ENABLED;
  button.fsStyle = BTNS_BUTTON;
  SendMessageW(toolbar_, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&button));
  Layout();
  return TRUE;
}

DarkModeColors HostStandIn::DarkColors() {
  return DarkModeColors{RGB(0x20, 0x20, 0x20), RGB(0x40, 0x40, 0x40), RGB(0x40, 0x40, 0x40),
                        RGB(0x20, 0x20, 0x20), RGB(0xB0, 0x00, 0x00), RGB(0xE0, 0xE0, 0xE0),
                        RGB(0xC0, 0xC0, 0xC0), RGB(0x80, 0x80, 0x80), RGB(0xFF, 0xFF, 0x00),
                        RGB(0x64, 0x64, 0x64), RGB(0x9B, 0x9B, 0x9B), RGB(0x48, 0x48, 0x48)};
}

// The dark-mode interface of today's host; a host that predates it answers 0.
std::optional<LRESULT> HostStandIn::NewerMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (static_cast<NppMsgNewer>(msg)) {
    case NppMsgNewer::NPPM_ADDTOOLBARICON_FORDARKMODE:
      if (!options_.newerMessages) return 0;
      return AddToolbarIcon(static_cast<int32_t>(wParam), reinterpret_cast<const toolbarIconsWithDarkMode*>(lParam));
    case NppMsgNewer::NPPM_ISDARKMODEENABLED:
      return options_.newerMessages && options_.darkMode ? TRUE : FALSE;
    case NppMsgNewer::NPPM_GETDARKMODECOLORS:
      if (!options_.newerMessages || wParam != sizeof(DarkModeColors) || lParam == 0) return FALSE;
      *reinterpret_cast<DarkModeColors*>(lParam) = DarkColors();
      return TRUE;
    case NppMsgNewer::NPPM_DARKMODESUBCLASSANDTHEME: {
      const auto window = reinterpret_cast<HWND>(lParam);
      if (!options_.newerMessages || !options_.themingMessage || window == nullptr) return 0;
      const auto flags = static_cast<uint32_t>(wParam);
      themeRequests_.push_back({window, flags});
      // Like the host: the window's background and its controls' colours
      // follow the mode from now on; the answer is the flags it applied.
      if (flags == static_cast<uint32_t>(NppMsgNewer::dmfInit)) {
        SetWindowSubclass(window, &HostStandIn::DarkSubclass, 1, reinterpret_cast<DWORD_PTR>(this));
      }
      RedrawWindow(window, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_FRAME);
      return static_cast<LRESULT>(flags);
    }
    default:
      return std::nullopt;
  }
}

LRESULT CALLBACK HostStandIn::DarkSubclass(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                           DWORD_PTR data) {
  auto* self = reinterpret_cast<HostStandIn*>(data);
  if (msg == WM_NCDESTROY) {
    RemoveWindowSubclass(hwnd, &HostStandIn::DarkSubclass, id);
  } else if (self->options_.darkMode) {
    const DarkModeColors colors = DarkColors();
    if (self->darkBrush_ == nullptr) self->darkBrush_ = CreateSolidBrush(colors.background);
    switch (msg) {
      case WM_ERASEBKGND: {
        RECT client{};
        GetClientRect(hwnd, &client);
        FillRect(reinterpret_cast<HDC>(wParam), &client, self->darkBrush_);
        return TRUE;
      }
      case WM_CTLCOLORDLG:
      case WM_CTLCOLORSTATIC:
      case WM_CTLCOLOREDIT:
      case WM_CTLCOLORBTN: {
        const auto dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, colors.text);
        SetBkColor(dc, colors.background);
        return reinterpret_cast<LRESULT>(self->darkBrush_);
      }
      default:
        break;
    }
  }
  return DefSubclassProc(hwnd, msg, wParam, lParam);
}

void HostStandIn::SetDarkMode(bool dark) {
  options_.darkMode = dark;
  if (options_.newerMessages) Notify(static_cast<uint32_t>(NppMsgNewer::NPPN_DARKMODECHANGED));
}

LRESULT HostStandIn::ModelessDialog(WPARAM op, HWND dialog) {
  if (dialog == nullptr) return 0;
  auto found = std::find(modeless_.begin(), modeless_.end(), dialog);
  if (op == static_cast<WPARAM>(NppMsg::MODELESSDIALOGADD)) {
    if (found == modeless_.end()) modeless_.push_back(dialog);
    return reinterpret_cast<LRESULT>(dialog);
  }
  if (op == static_cast<WPARAM>(NppMsg::MODELESSDIALOGREMOVE)) {
    if (found != modeless_.end()) modeless_.erase(found);
    return reinterpret_cast<LRESULT>(dialog);
  }
  return 0;
}

const HostStandIn::Command* HostStandIn::FindCommand(int32_t id) const {
  for (const Command& c : commands_) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

bool HostStandIn::RunCommand(int32_t cmdId) {
  if (cmdId == kFileNew) {
    FileNew();
    return true;
  }
  const Command* command = FindCommand(cmdId);
  if (command == nullptr) return false;
  if (command->func != nullptr) command->func();
  return true;
}

// As the host does: a new, empty document in the active view with a buffer
// of its own; the document shown before stays open (DocumentOf reads it).
void HostStandIn::FileNew() {
  ++fileNews_;
  HWND v = View(activeView_);
  const auto shown = static_cast<intptr_t>(Sci(v, SciMsg::SCI_GETDOCPOINTER));
  Sci(v, SciMsg::SCI_ADDREFDOCUMENT, 0, shown);
  openDocuments_.push_back(shown);
  const LRESULT fresh = Sci(v, SciMsg::SCI_CREATEDOCUMENT, 0, 0);
  Sci(v, SciMsg::SCI_SETDOCPOINTER, 0, fresh);
  Sci(v, SciMsg::SCI_RELEASEDOCUMENT, 0, fresh);  // the view's reference keeps it
  buffers_[activeView_ == 0 ? 0 : 1] = Buffer{1000 + fileNews_, L"new " + std::to_wstring(fileNews_)};
  Notify(Msg(NppMsg::NPPN_BUFFERACTIVATED));
}

std::string HostStandIn::OpenDocumentText(size_t index) {
  if (index >= openDocuments_.size()) return {};
  HWND v = View(activeView_);
  const LRESULT shown = Sci(v, SciMsg::SCI_GETDOCPOINTER);
  Sci(v, SciMsg::SCI_ADDREFDOCUMENT, 0, shown);
  Sci(v, SciMsg::SCI_SETDOCPOINTER, 0, openDocuments_[index]);
  std::string text = Text(activeView_);
  Sci(v, SciMsg::SCI_SETDOCPOINTER, 0, shown);
  Sci(v, SciMsg::SCI_RELEASEDOCUMENT, 0, shown);
  return text;
}

void HostStandIn::Route(MSG& msg) {
  const std::vector<HWND> dialogs = modeless_;  // a handler may change the list
  for (HWND dialog : dialogs) {
    if (IsWindow(dialog) && IsDialogMessageW(dialog, &msg)) return;
  }
  if (accelerators_ != nullptr && main_ != nullptr &&
      TranslateAcceleratorW(main_, accelerators_, &msg)) {
    return;
  }
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
}

void HostStandIn::Pump() {
  MSG msg;
  while (!quit_ && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      quit_ = true;
      break;
    }
    Route(msg);
  }
}

bool HostStandIn::PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    Pump();
    if (done()) return true;
    const ULONGLONG now = GetTickCount64();
    if (quit_ || now >= end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<ULONGLONG>(end - now, 20)),
                              QS_ALLINPUT);
  }
}

void HostStandIn::Run() {
  MSG msg;
  while (!quit_ && GetMessageW(&msg, nullptr, 0, 0) > 0) Route(msg);
  quit_ = true;
}

void HostStandIn::SetActiveView(int32_t index) {
  const int32_t before = activeView_;
  activeView_ = index == 0 ? 0 : 1;
  if (options_.show && views_[activeView_] != nullptr) SetFocus(views_[activeView_]);
  if (started_ && before != activeView_) Notify(Msg(NppMsg::NPPN_BUFFERACTIVATED));
}

std::string HostStandIn::Text(int32_t view) const {
  HWND v = View(view);
  const auto length = static_cast<size_t>(Sci(v, SciMsg::SCI_GETLENGTH));
  std::string text(length + 1, '\0');
  Sci(v, SciMsg::SCI_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()));
  text.resize(length);
  return text;
}

void HostStandIn::SetText(int32_t view, std::string_view bytes) {
  HWND v = View(view);
  Sci(v, SciMsg::SCI_CLEARALL);
  Sci(v, SciMsg::SCI_APPENDTEXT, bytes.size(), reinterpret_cast<LPARAM>(bytes.data()));
  Sci(v, SciMsg::SCI_EMPTYUNDOBUFFER);
  Sci(v, SciMsg::SCI_SETSAVEPOINT);
  Sci(v, SciMsg::SCI_GOTOPOS, 0);
}

void HostStandIn::SetBuffer(int32_t view, intptr_t bufferId, std::wstring path) {
  buffers_[view == 0 ? 0 : 1] = Buffer{bufferId, std::move(path)};
}

std::optional<int32_t> HostStandIn::LangTypeOf(int32_t view) const {
  auto found = langTypes_.find(view == 0 ? 0 : 1);
  if (found == langTypes_.end()) return std::nullopt;
  return found->second;
}

bool HostStandIn::ClickMenuItem(std::wstring_view name) {
  for (const Command& c : commands_) {
    if (c.name != name) continue;
    // A grayed item cannot be picked.
    if (c.func == nullptr || main_ == nullptr) return false;
    PostMessageW(main_, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(c.id), 0), 0);
    Pump();
    return true;
  }
  return false;
}

bool HostStandIn::ClickToolbarButton(int32_t cmdId) {
  if (toolbar_ == nullptr) return false;
  const LRESULT index = SendMessageW(toolbar_, TB_COMMANDTOINDEX, static_cast<WPARAM>(cmdId), 0);
  if (index < 0) return false;
  RECT rect{};
  if (!SendMessageW(toolbar_, TB_GETITEMRECT, static_cast<WPARAM>(index),
                    reinterpret_cast<LPARAM>(&rect))) {
    return false;
  }
  const LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  PostMessageW(toolbar_, WM_MOUSEMOVE, 0, at);
  PostMessageW(toolbar_, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(toolbar_, WM_LBUTTONUP, 0, at);
  Pump();
  return true;
}

// The key goes to the focused window through the host loop, with the thread's
// modifier state set for the duration, so IsDialogMessage and
// TranslateAccelerator see it as they see a typed key.
void HostStandIn::PressKey(UINT vk, bool ctrl, bool shift, bool alt) {
  HWND target = GetFocus();
  if (target == nullptr) target = views_[activeView_];
  if (target == nullptr) return;

  BYTE saved[256] = {};
  GetKeyboardState(saved);
  BYTE state[256];
  std::memcpy(state, saved, sizeof(state));
  auto set = [&](int key, bool down) { state[key] = down ? kKeyDown : 0; };
  set(VK_CONTROL, ctrl);
  set(VK_LCONTROL, ctrl);
  set(VK_SHIFT, shift);
  set(VK_LSHIFT, shift);
  set(VK_MENU, alt);
  set(VK_LMENU, alt);
  SetKeyboardState(state);

  const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC)) << kScanCodeShift;
  const LPARAM flags = kRepeatOnce | scan | (alt ? kContextAlt : 0);
  PostMessageW(target, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, vk, flags);
  Pump();
  PostMessageW(target, alt ? WM_SYSKEYUP : WM_KEYUP, vk, flags | kKeyReleased);
  Pump();

  SetKeyboardState(saved);
}

std::vector<int32_t> HostStandIn::ToolbarButtons() const {
  std::vector<int32_t> ids;
  if (toolbar_ == nullptr) return ids;
  const auto count = static_cast<int32_t>(SendMessageW(toolbar_, TB_BUTTONCOUNT, 0, 0));
  for (int32_t i = 0; i < count; ++i) {
    TBBUTTON button{};
    if (SendMessageW(toolbar_, TB_GETBUTTON, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(&button))) {
      ids.push_back(button.idCommand);
    }
  }
  return ids;
}

std::vector<MenuEntry> HostStandIn::MenuItems() const {
  std::vector<MenuEntry> entries;
  if (main_ == nullptr) return entries;
  const int subs = GetMenuItemCount(pluginsMenu_);
  for (int s = 0; s < subs; ++s) {
    wchar_t plugin[kNameLimit] = {};
    GetMenuStringW(pluginsMenu_, static_cast<UINT>(s), plugin, static_cast<int>(std::size(plugin)),
                   MF_BYPOSITION);
    HMENU sub = GetSubMenu(pluginsMenu_, s);
    const int items = GetMenuItemCount(sub);
    for (int i = 0; i < items; ++i) {
      wchar_t text[kItemNameLength + 1] = {};
      MENUITEMINFOW info{};
      info.cbSize = sizeof(info);
      info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_STRING;
      info.dwTypeData = text;
      info.cch = static_cast<UINT>(std::size(text));
      GetMenuItemInfoW(sub, static_cast<UINT>(i), TRUE, &info);
      const bool separator = (info.fType & MFT_SEPARATOR) != 0;
      entries.push_back(MenuEntry{plugin, separator ? L"" : text,
                                  separator ? 0 : static_cast<int32_t>(info.wID), separator,
                                  (info.fState & MFS_CHECKED) != 0,
                                  (info.fState & MFS_DISABLED) == 0});
    }
  }
  return entries;
}

std::optional<int32_t> HostStandIn::CommandId(std::wstring_view name) const {
  for (const Command& c : commands_) {
    if (c.name == name) return c.id;
  }
  return std::nullopt;
}

HMODULE HostStandIn::PluginModule(size_t index) const {
  return index < plugins_.size() ? plugins_[index]->module.get() : nullptr;
}

}  // namespace siftwell::host
