#include "app/DocumentSnapshot.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "npp/Tables.h"
#include "npp/Win32.h"
#include "win/ByteScan.h"

namespace siftwell::app {
namespace {

intptr_t Sci(HWND view, SciMsg msg, intptr_t wParam = 0, intptr_t lParam = 0) {
  return Win32::SendMessage(view, static_cast<uint32_t>(msg), wParam, lParam);
}

}  // namespace

bool DocumentText::IsUtf8() const noexcept { return codePage == static_cast<uint32_t>(SciMsg::SC_CP_UTF8); }

std::unique_ptr<DocumentCopy> DocumentCopy::Of(HWND view) {
  auto copy = std::make_unique<DocumentCopy>();
  copy->text_ = std::make_shared<DocumentText>();
  if (view == nullptr || !IsWindow(view)) {
    copy->state_ = State::Done;
    return copy;
  }
  copy->view_ = view;
  copy->document_ = Sci(view, SciMsg::SCI_GETDOCPOINTER);
  copy->text_->codePage = static_cast<uint32_t>(Sci(view, SciMsg::SCI_GETCODEPAGE));
  const intptr_t length = Sci(view, SciMsg::SCI_GETLENGTH);
  copy->length_ = length > 0 ? static_cast<std::size_t>(length) : 0;
  try {
    copy->text_->bytes.reserve(copy->length_);  // reserved, not touched: no step costs the whole size
  } catch (const std::exception&) {
    copy->state_ = State::NoMemory;
    return copy;
  }
  if (copy->length_ == 0) copy->state_ = State::Done;
  return copy;
}

std::unique_ptr<DocumentCopy> DocumentCopy::Ready(std::shared_ptr<const DocumentText> text) {
  auto copy = std::make_unique<DocumentCopy>();
  copy->text_ = std::const_pointer_cast<DocumentText>(std::move(text));
  copy->length_ = copy->text_ ? copy->text_->bytes.size() : 0;
  copy->state_ = copy->text_ ? State::Done : State::NoMemory;
  return copy;
}

DocumentCopy::State DocumentCopy::Step(std::chrono::microseconds budget) {
  if (state_ != State::Copying) return state_;
  // Part of the copy was taken in an earlier turn: the whole is compared.
  if (!text_->bytes.empty() && text_->bytes.size() < length_) mustCompare_ = true;
  const auto until = std::chrono::steady_clock::now() + budget;
  while (Piece() == State::Copying && std::chrono::steady_clock::now() < until) {
  }
  return state_;
}

DocumentCopy::State DocumentCopy::Piece() {
  if (!IsWindow(view_) || Sci(view_, SciMsg::SCI_GETDOCPOINTER) != document_ ||
      Sci(view_, SciMsg::SCI_GETLENGTH) != static_cast<intptr_t>(length_)) {
    text_.reset();
    return state_ = State::Changed;
  }
  const bool copying = text_->bytes.size() < length_;
  const std::size_t at = copying ? text_->bytes.size() : compared_;
  const std::size_t n = std::min(kStepBytes, length_ - at);
  // The editor's own memory, read here on the UI thread only, between two of
  // its messages.
  const auto* piece = reinterpret_cast<const char*>(
      Sci(view_, SciMsg::SCI_GETRANGEPOINTER, static_cast<intptr_t>(at), static_cast<intptr_t>(n)));
  if (piece == nullptr || (!copying && !siftwell::win::SameBytes(piece, text_->bytes.data() + at, n))) {
    text_.reset();
    return state_ = State::Changed;
  }
  if (copying) {
    text_->bytes.append(piece, n);
    // Taken in one step, the copy is the document as it was at that moment.
    if (text_->bytes.size() == length_ && !mustCompare_) state_ = State::Done;
  } else {
    compared_ += n;
    if (compared_ == length_) state_ = State::Done;
  }
  return state_;
}

bool DocumentCopy::SameDocument() const {
  if (view_ == nullptr) return true;
  return IsWindow(view_) && Sci(view_, SciMsg::SCI_GETDOCPOINTER) == document_ &&
         Sci(view_, SciMsg::SCI_GETLENGTH) == static_cast<intptr_t>(length_);
}

void DocumentCopy::Recheck() {
  if (state_ != State::Done || view_ == nullptr || length_ == 0) return;
  // The text may be in a computation's hands: it is only read from here on.
  compared_ = 0;
  mustCompare_ = true;
  state_ = State::Copying;
}

}  // namespace siftwell::app
