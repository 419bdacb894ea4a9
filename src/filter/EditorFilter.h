// Keep and Remove applied to the host's active editor view: read the document,
// filter it, write it back as one undoable replacement.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "host/NativeTypes.h"

namespace siftwell::filter {

enum class Operation { Keep, Remove };

// The document of one view, exactly its SCI_GETLENGTH bytes (NULs included).
std::string GetDocumentTextBytes(HWND curScintilla);

// Runs the operation on `view` with the window's pattern and delimiter field
// texts. An empty pattern does nothing. Returns the message to show the user
// when the pattern is rejected or matching gave up; the document is then untouched.
std::optional<std::wstring> RunOnView(HWND view, Operation op, std::wstring_view pattern,
                                      std::wstring_view delimiterField);

// The same on the host's active view (asked anew at each call).
std::optional<std::wstring> RunOnCurrentView(Operation op, std::wstring_view pattern,
                                             std::wstring_view delimiterField);

}  // namespace siftwell::filter
