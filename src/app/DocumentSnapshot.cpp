#include "app/DocumentSnapshot.h"

#include <windows.h>

#include "npp/Tables.h"
#include "npp/Win32.h"

namespace siftwell::filter {

bool DocumentText::IsUtf8() const noexcept { return codePage == static_cast<uint32_t>(SciMsg::SC_CP_UTF8); }

std::shared_ptr<const DocumentText> DocumentSnapshot::Of(HWND view) {
  if (view == nullptr) return std::make_shared<const DocumentText>();
  const intptr_t document = Win32::SendMessage(view, SciMsg::SCI_GETDOCPOINTER, 0, 0);
  const intptr_t length = Win32::SendMessage(view, SciMsg::SCI_GETLENGTH, 0, 0);
  if (cached_ && view == view_ && document == document_ && length == length_) return cached_;
  auto text = std::make_shared<DocumentText>();
  if (length > 0) {
    // Room for the editor's terminating NUL, which is not part of the document.
    text->bytes.assign(static_cast<std::size_t>(length) + 1, '\0');
    Win32::SendMessage(view, SciMsg::SCI_GETTEXT, length + 1, reinterpret_cast<intptr_t>(text->bytes.data()));
    text->bytes.resize(static_cast<std::size_t>(length));
  }
  text->codePage = static_cast<uint32_t>(Win32::SendMessage(view, SciMsg::SCI_GETCODEPAGE, 0, 0));
  cached_ = std::move(text);
  view_ = view;
  document_ = document;
  length_ = length;
  return cached_;
}

}  // namespace siftwell::filter
