// Scintilla is linked statically: its window classes are registered once per
// process before the first editor view is created.
#pragma once

namespace siftwell::host {

void RegisterScintillaClasses();
const wchar_t* ScintillaClassName();

}  // namespace siftwell::host
