// The plugin's own copy of a document: what every computation off the UI
// thread reads (a run's, the live count's), so that none of them ever reads
// memory the editor may free or change. It is taken on the UI thread, at most
// kStepBytes per step, one step per turn of the message loop, so that no
// single step grows with the document.
//
// The host can replace a document's text without telling any plugin (a reload
// from disk detaches the views, clears the text and loads it anew between two
// turns of the loop), possibly keeping its length. So a copy taken in more
// than one step is compared, piece by piece in further steps, with the
// document before it counts as done: a copy that holds part of the old text
// and part of the new one never is.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "win/NativeTypes.h"

namespace siftwell::app {

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

  // Copies (or, once all is copied, compares) the next piece, and further
  // pieces while `budget` lasts. Changed when the view shows another document,
  // its length changed since the copy began or its bytes differ from the copy.
  // (Pieces taken in one call belong to one moment: nothing can change the
  // document before the call returns to the message loop.)
  State Step(std::chrono::microseconds budget = {});
  // The view still shows the document the copy was taken of, at the same
  // length (cheap: the bytes are not compared). True for a copy of no view.
  bool SameDocument() const;
  // A copy that was done is compared with the document again, step by step,
  // before it is done once more (for a copy kept to be used again).
  void Recheck();
  State Current() const noexcept { return state_; }
  // The copy, once Done.
  std::shared_ptr<const DocumentText> Text() const { return state_ == State::Done ? text_ : nullptr; }
  HWND View() const noexcept { return view_; }
  intptr_t Document() const noexcept { return document_; }
  intptr_t Length() const noexcept { return static_cast<intptr_t>(length_); }

 private:
  State Piece();

  HWND view_ = nullptr;
  intptr_t document_ = 0;
  std::size_t length_ = 0;
  std::size_t compared_ = 0;  // bytes of the copy found equal to the document again
  bool mustCompare_ = false;  // the copy spans turns of the loop, or is used again
  std::shared_ptr<DocumentText> text_;
  State state_ = State::Copying;
};

}  // namespace siftwell::app
