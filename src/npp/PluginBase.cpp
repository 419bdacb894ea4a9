#include "npp/PluginBase.h"

#include <windows.h>

#include "npp/Tables.h"
#include "npp/Win32.h"

NppData PluginBase::nppData;
FuncItems PluginBase::_funcItems;

namespace {
HINSTANCE g_module = nullptr;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

HINSTANCE PluginBase::Module() { return g_module; }

HWND PluginBase::GetCurrentScintilla() {
  int32_t curScintilla = 0;
  Win32::SendMessage(nppData._nppHandle, static_cast<uint32_t>(NppMsg::NPPM_GETCURRENTSCINTILLA), 0,
                     Win32::Out(curScintilla));
  return curScintilla == 0 ? nppData._scintillaMainHandle : nppData._scintillaSecondHandle;
}

void PluginBase::SetCommand(int32_t index, std::u16string_view commandName, NppFuncItemDelegate functionPointer,
                            ShortcutKey shortcut, bool checkOnInit) {
  FuncItem item;
  item._cmdID = index;
  item._itemName = commandName;
  item._pFunc = functionPointer;
  if (shortcut._key != 0) item._pShKey = shortcut;
  item._init2Check = checkOnInit;
  _funcItems.Add(item);
}

void PluginBase::SetCommand(int32_t index, std::u16string_view commandName, NppFuncItemDelegate functionPointer) {
  SetCommand(index, commandName, functionPointer, ShortcutKey(), false);
}

void PluginBase::SetCommand(int32_t index, std::u16string_view commandName, NppFuncItemDelegate functionPointer,
                            ShortcutKey shortcut) {
  SetCommand(index, commandName, functionPointer, shortcut, false);
}

void PluginBase::SetCommand(int32_t index, std::u16string_view commandName, NppFuncItemDelegate functionPointer,
                            bool checkOnInit) {
  SetCommand(index, commandName, functionPointer, ShortcutKey(), checkOnInit);
}
