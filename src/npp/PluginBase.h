// Process-wide plugin state the host gives us, and the command table.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "npp/FuncItems.h"
#include "win/NativeTypes.h"

// The host's window handles, as setInfo receives them (native layout).
struct NppData {
  HWND _nppHandle = nullptr;
  HWND _scintillaMainHandle = nullptr;
  HWND _scintillaSecondHandle = nullptr;
};
static_assert(sizeof(NppData) == 3 * sizeof(void*));

class IScintillaGateway;
using ScintillaGatewayFactory = std::function<std::unique_ptr<IScintillaGateway>()>;

struct PluginBase {
  static NppData nppData;
  static FuncItems _funcItems;

  // The editor view the host calls active right now.
  static HWND GetCurrentScintilla();
  // For plugin code: the same callable every time; each call returns a new
  // editor gateway bound to the view that is active at that moment.
  static const ScintillaGatewayFactory& GetGatewayFactory();
  // This DLL's module handle (set when the DLL is loaded).
  static HINSTANCE Module();

  static void SetCommand(int32_t index, std::u16string_view commandName, NppFuncItemDelegate functionPointer,
                         ShortcutKey shortcut, bool checkOnInit);
  static void SetCommand(int32_t index, std::u16string_view commandName, NppFuncItemDelegate functionPointer);
  static void SetCommand(int32_t index, std::u16string_view commandName, NppFuncItemDelegate functionPointer,
                         ShortcutKey shortcut);
  static void SetCommand(int32_t index, std::u16string_view commandName, NppFuncItemDelegate functionPointer,
                         bool checkOnInit);
};
