// The editor side of Keep and Remove. The document is exactly its
// SCI_GETLENGTH bytes; text in another code page than UTF-8 is converted to
// UTF-8 for matching and back, and refused if that would not give back the
// same bytes. Nothing is written unless the whole result is ready.
#include "filter/EditorFilter.h"

#include <windows.h>

#include "filter/PatternFilter.h"
#include "host/PluginBase.h"
#include "messages/Tables.h"
#include "messages/Win32.h"

namespace siftwell::filter {
namespace {

std::string WideToCodePage(std::wstring_view text, uint32_t codePage) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring CodePageToWide(std::string_view bytes, uint32_t codePage) {
  if (bytes.empty()) return {};
  const int n = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
  return out;
}

std::string Recode(std::string_view bytes, uint32_t from, uint32_t to) {
  return WideToCodePage(CodePageToWide(bytes, from), to);
}

std::wstring Utf8ToWide(std::string_view text) { return CodePageToWide(text, CP_UTF8); }

intptr_t Address(const void* p) { return reinterpret_cast<intptr_t>(p); }

// Replaces the whole document in one undoable step. SCI_SETTEXT stops at the
// first NUL, so a result holding one goes in through the target instead.
void WriteDocument(HWND view, const std::string& bytes) {
  if (bytes.find('\0') == std::string::npos) {
    Win32::SendMessage(view, SciMsg::SCI_SETTEXT, 0, Address(bytes.c_str()));
    return;
  }
  const intptr_t length = Win32::SendMessage(view, SciMsg::SCI_GETLENGTH, 0, 0);
  Win32::SendMessage(view, SciMsg::SCI_BEGINUNDOACTION, 0, 0);
  Win32::SendMessage(view, SciMsg::SCI_SETTARGETRANGE, 0, length);
  Win32::SendMessage(view, SciMsg::SCI_REPLACETARGET, static_cast<intptr_t>(bytes.size()), Address(bytes.data()));
  Win32::SendMessage(view, SciMsg::SCI_ENDUNDOACTION, 0, 0);
}

}  // namespace

std::string GetDocumentTextBytes(HWND curScintilla) {
  const intptr_t length = Win32::SendMessage(curScintilla, SciMsg::SCI_GETLENGTH, 0, 0);
  if (length <= 0) return {};
  // Room for the editor's terminating NUL, which is not part of the document.
  std::string buffer(static_cast<std::size_t>(length) + 1, '\0');
  Win32::SendMessage(curScintilla, SciMsg::SCI_GETTEXT, static_cast<int32_t>(length + 1), Address(buffer.data()));
  buffer.resize(static_cast<std::size_t>(length));
  return buffer;
}

std::optional<std::wstring> RunOnView(HWND view, Operation op, std::wstring_view pattern,
                                      std::wstring_view delimiterField) {
  if (pattern.empty()) return std::nullopt;

  const std::string document = GetDocumentTextBytes(view);
  const auto codePage = static_cast<uint32_t>(Win32::SendMessage(view, SciMsg::SCI_GETCODEPAGE, 0, 0));
  const bool utf8 = codePage == static_cast<uint32_t>(SciMsg::SC_CP_UTF8);
  const uint32_t ansi = codePage == 0 ? CP_ACP : codePage;

  // A UTF-8 document is matched where it lies; others go through UTF-8 and back.
  std::string converted;
  std::string_view text = document;
  if (!utf8) {
    converted = Recode(document, ansi, CP_UTF8);
    if (Recode(converted, CP_UTF8, ansi) != document)
      return L"This document holds bytes that its code page (" + std::to_wstring(ansi) +
             L") cannot represent, so filtering it could change text you did not match. Nothing was changed.";
    text = converted;
  }

  const std::string patternUtf8 = WideToCodePage(pattern, CP_UTF8);
  FilterResult result = op == Operation::Keep
                            ? Keep(text, patternUtf8, ExpandDelimiter(WideToCodePage(delimiterField, CP_UTF8)))
                            : Remove(text, patternUtf8);
  if (!result.ok) return Utf8ToWide(result.error.message);

  WriteDocument(view, utf8 ? result.text : Recode(result.text, CP_UTF8, ansi));
  return std::nullopt;
}

std::optional<std::wstring> RunOnCurrentView(Operation op, std::wstring_view pattern,
                                             std::wstring_view delimiterField) {
  if (pattern.empty()) return std::nullopt;
  return RunOnView(PluginBase::GetCurrentScintilla(), op, pattern, delimiterField);
}

}  // namespace siftwell::filter
