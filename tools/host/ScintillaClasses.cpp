#include "ScintillaClasses.h"

#include <windows.h>

#include "Scintilla.h"

namespace siftwell::host {

void RegisterScintillaClasses() {
  static const bool registered = Scintilla_RegisterClasses(GetModuleHandleW(nullptr)) != 0;
  (void)registered;
}

const wchar_t* ScintillaClassName() { return L"Scintilla"; }

}  // namespace siftwell::host
