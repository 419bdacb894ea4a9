// The six functions the host calls. Exported undecorated, C linkage, cdecl
// (see Siftwell.def); nothing else leaves the DLL.
#include <windows.h>

#include <memory>

#include "npp/PluginBase.h"
#include "npp/ScNotification.h"
#include "npp/Tables.h"
#include "app/Main.h"

namespace {

struct UnmanagedExports {
  // The name handed to the host, kept until shutdown.
  static std::unique_ptr<wchar_t[]> _ptrPluginName;
};
std::unique_ptr<wchar_t[]> UnmanagedExports::_ptrPluginName;

}  // namespace

extern "C" {

BOOL __cdecl isUnicode() { return TRUE; }

void __cdecl setInfo(NppData notepadPlusData) {
  PluginBase::nppData = notepadPlusData;
  Main::CommandMenuInit();
}

// Zero records and a null array before setInfo has registered the commands.
NativeFuncItem* __cdecl getFuncsArray(int32_t* nbF) {
  if (nbF != nullptr) *nbF = PluginBase::_funcItems.Count();
  return PluginBase::_funcItems.NativePointer();
}

uint32_t __cdecl messageProc(uint32_t, uintptr_t, intptr_t) { return 1; }

const wchar_t* __cdecl getName() {
  auto& name = UnmanagedExports::_ptrPluginName;
  if (!name) {
    const std::wstring_view text = Main::PluginName;
    name = std::make_unique<wchar_t[]>(text.size() + 1);
    text.copy(name.get(), text.size());
    name[text.size()] = L'\0';
  }
  return name.get();
}

void __cdecl beNotified(const ScNotification* notification) {
  if (notification == nullptr) return;
  const uint32_t code = notification->Header.Code;
  if (code == static_cast<uint32_t>(NppMsg::NPPN_TBMODIFICATION)) {
    PluginBase::_funcItems.RefreshItems();
    Main::SetToolBarIcon();
  } else if (code == static_cast<uint32_t>(NppMsg::NPPN_SHUTDOWN)) {
    Main::PluginCleanUp();
    UnmanagedExports::_ptrPluginName.reset();
  } else {
    Main::OnNotification(*notification);
  }
}

}  // extern "C"
