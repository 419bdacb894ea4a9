// The plugin's own copy of a document: what every computation off the UI
// thread reads (a run's, the live count's), so that none of them ever reads
// memory the editor may free or change. It is taken on the UI thread, at most
// kStepBytes per step, one step per turn of the message loop, so that no
// single step grows with the document.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "win/NativeTypes.h"

namespace siftwell::filter {

struct DocumentText {
  std::string bytes;      // exactly the document (NULs included)
  uint32_t codePage = 0;  // the view's SCI_GETCODEPAGE (0: the system's ANSI code page)
  bool IsUtf8() const noexcept;
};

// A copy being taken (UI thread only).
class DocumentCopy {
 public:
  static constexpr std::size_t kStepBytes = std::size_t{4} << 20;
  enum class State { Copying, Done, Changed, NoMemory };

  // The document `view` shows now. A null or closed view gives an empty text.
  static std::unique_ptr<DocumentCopy> Of(HWND view);
  // A copy that is already complete.
  static std::unique_ptr<DocumentCopy> Ready(std::shared_ptr<const DocumentText> text);

  // Copies the next piece. Changed when the view shows another document or
  // its length changed since the copy began.
  State Step();
  State Current() const noexcept { return state_; }
  // The copy, once Done.
  std::shared_ptr<const DocumentText> Text() const { return state_ == State::Done ? text_ : nullptr; }
  HWND View() const noexcept { return view_; }
  intptr_t Document() const noexcept { return document_; }
  intptr_t Length() const noexcept { return static_cast<intptr_t>(length_); }

 private:
  HWND view_ = nullptr;
  intptr_t document_ = 0;
  std::size_t length_ = 0;
  std::shared_ptr<DocumentText> text_;
  State state_ = State::Copying;
};

}  // namespace siftwell::filter
