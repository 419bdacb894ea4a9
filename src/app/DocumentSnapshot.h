// A copy of the active document's bytes that a worker may read while the user
// goes on typing, taken on the UI thread and kept while the document does not
// change, so that counting again for a new pattern copies nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "win/NativeTypes.h"

namespace siftwell::filter {

struct DocumentText {
  std::string bytes;      // exactly the document (NULs included)
  uint32_t codePage = 0;  // the view's SCI_GETCODEPAGE (0: the system's ANSI code page)
  bool IsUtf8() const noexcept;
};

class DocumentSnapshot {
 public:
  // The document of `view`: the copy taken before when the document has not
  // changed since (same view, same document, same length, no Invalidate).
  std::shared_ptr<const DocumentText> Of(HWND view);
  // The document was edited, or another one became active.
  void Invalidate() noexcept { cached_.reset(); }

 private:
  std::shared_ptr<const DocumentText> cached_;
  HWND view_ = nullptr;
  intptr_t document_ = 0;
  intptr_t length_ = -1;
};

}  // namespace siftwell::filter
