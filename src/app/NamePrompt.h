// A small modal window that asks for a name: a label, a field, OK and Cancel.
// Enter is OK, Escape (or closing it) is Cancel. `owner` is disabled while it
// shows. Themed like the host.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "win/NativeTypes.h"

namespace siftwell::app {

// The name typed (may be empty), or none when cancelled.
std::optional<std::wstring> PromptName(HINSTANCE module, HWND host, HWND owner, std::wstring_view title,
                                       std::wstring_view initial);

}  // namespace siftwell::app
