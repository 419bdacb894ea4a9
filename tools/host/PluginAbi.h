// The plugin contract as the host sees it: the records a plugin DLL exchanges
// with its host and the six entry points it exports (cdecl, C linkage,
// undecorated names). Written from the host's side; a plugin keeps its own copy.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace siftwell::host {

inline constexpr std::size_t kPointer = sizeof(void*);

// The three window handles given to the plugin once, in setInfo.
struct NppData {
  HWND _nppHandle;
  HWND _scintillaMainHandle;
  HWND _scintillaSecondHandle;
};
static_assert(sizeof(NppData) == 3 * kPointer);

// Shortcut of a command; _key is a virtual-key code, 0 for none.
struct ShortcutKey {
  bool _isCtrl;
  bool _isAlt;
  bool _isShift;
  unsigned char _key;
};
static_assert(sizeof(ShortcutKey) == 4);

using PFUNCPLUGINCMD = void(__cdecl*)();

inline constexpr std::size_t kItemNameLength = 64;

// One command record in the plugin's array. The host writes _cmdID.
struct FuncItem {
  wchar_t _itemName[kItemNameLength];
  PFUNCPLUGINCMD _pFunc;
  int32_t _cmdID;
  bool _init2Check;
  ShortcutKey* _pShKey;
};
static_assert(offsetof(FuncItem, _pFunc) == 128);
static_assert(offsetof(FuncItem, _cmdID) == 128 + kPointer);
static_assert(offsetof(FuncItem, _init2Check) == 132 + kPointer);
static_assert(offsetof(FuncItem, _pShKey) == 136 + kPointer);
static_assert(sizeof(FuncItem) == (kPointer == 4 ? 144 : 152));

// lParam of the add-toolbar-icon message; read during the call only.
struct toolbarIcons {
  HBITMAP hToolbarBmp;
  HICON hToolbarIcon;
};
static_assert(sizeof(toolbarIcons) == 2 * kPointer);

// lParam of the dark-mode toolbar-icon message: a bitmap, the icon for the
// light icon sets and the icon for dark mode.
struct toolbarIconsWithDarkMode {
  HBITMAP hToolbarBmp;
  HICON hToolbarIcon;
  HICON hToolbarIconDarkMode;
};
static_assert(sizeof(toolbarIconsWithDarkMode) == 3 * kPointer);

// The host's dark-mode colours (answer to its colours query), in its order.
struct DarkModeColors {
  COLORREF background, softerBackground, hotBackground, pureBackground, errorBackground;
  COLORREF text, darkerText, disabledText, linkText, edge, hotEdge, disabledEdge;
};
static_assert(sizeof(DarkModeColors) == 48);

struct SCNotificationHeader {
  void* hwndFrom;
  uintptr_t idFrom;
  uint32_t code;
};
static_assert(offsetof(SCNotificationHeader, code) == 2 * kPointer);
static_assert(sizeof(SCNotificationHeader) == (kPointer == 4 ? 12 : 24));

// The notification record handed to beNotified, in the editor component's
// layout. Host notifications fill only the header.
struct SCNotification {
  SCNotificationHeader nmhdr;
  int32_t position;
  int32_t ch;
  int32_t modifiers;
  int32_t modificationType;
  const char* text;
  int32_t length;
  int32_t linesAdded;
  int32_t message;
  uintptr_t wParam;
  intptr_t lParam;
  int32_t line;
  int32_t foldLevelNow;
  int32_t foldLevelPrev;
  int32_t margin;
  int32_t listType;
  int32_t x;
  int32_t y;
  int32_t token;
  int32_t annotationLinesAdded;
  int32_t updated;
  int32_t listCompletionMethod;
};
static_assert(offsetof(SCNotification, text) == (kPointer == 4 ? 28 : 40));
static_assert(offsetof(SCNotification, wParam) == (kPointer == 4 ? 44 : 64));
static_assert(sizeof(SCNotification) == (kPointer == 4 ? 96 : 128));

// Entry points, resolved by these exact export names.
using IsUnicodeFn = BOOL(__cdecl*)();
using SetInfoFn = void(__cdecl*)(NppData);
using GetNameFn = const wchar_t*(__cdecl*)();
using GetFuncsArrayFn = FuncItem*(__cdecl*)(int*);
using BeNotifiedFn = void(__cdecl*)(SCNotification*);
using MessageProcFn = LRESULT(__cdecl*)(UINT, WPARAM, LPARAM);

}  // namespace siftwell::host
