// The editor side of Keep and Remove. The document is exactly its
// SCI_GETLENGTH bytes. For the run it is made read-only and, where the editor
// can lend them (SCI_GETCHARACTERPOINTER), its bytes are matched where they
// lie. Text in another code page than UTF-8 is converted to UTF-8 for matching
// and back, and refused if that would not give back the same bytes. Nothing is
// written unless the whole result is ready, the view still shows the same
// document with the same length, and every write is checked afterwards.
#include "app/EditorFilter.h"
#include "app/ErrorText.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "win/CodePage.h"
#include "engine/PatternFilter.h"
#include "win/Worker.h"
#include "npp/PluginBase.h"
#include "npp/Tables.h"
#include "npp/Win32.h"

namespace siftwell::filter {
namespace {

constexpr std::size_t kFingerprintPiece = std::size_t{16} << 20;

intptr_t Sci(HWND view, SciMsg msg, intptr_t wParam = 0, intptr_t lParam = 0) {
  return Win32::SendMessage(view, static_cast<uint32_t>(msg), wParam, lParam);
}

intptr_t Address(const void* p) { return reinterpret_cast<intptr_t>(p); }

bool SameLength(intptr_t editorLength, std::size_t bytes) {
  return editorLength >= 0 && static_cast<uint64_t>(editorLength) == static_cast<uint64_t>(bytes);
}

// A 64-bit fingerprint of bytes, to tell afterwards whether a document is
// still the one that was read.
class Fingerprint {
 public:
  void Add(std::string_view bytes) {
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
      uint64_t word;
      std::memcpy(&word, bytes.data() + i, 8);
      Mix(word);
    }
    uint64_t tail = 0;
    if (i < bytes.size()) std::memcpy(&tail, bytes.data() + i, bytes.size() - i);
    Mix(tail ^ (static_cast<uint64_t>(bytes.size() - i) << 56));
    length_ += bytes.size();
  }
  uint64_t Value() const { return hash_ ^ length_; }

 private:
  void Mix(uint64_t word) {
    hash_ = (hash_ ^ word) * 0x9E3779B97F4A7C15ull;
    hash_ ^= hash_ >> 29;
  }
  uint64_t hash_ = 0x243F6A8885A308D3ull;
  uint64_t length_ = 0;
};

// Bytes followed by a NUL, in one block of exactly their size.
class Terminated {
 public:
  Terminated() = default;
  Terminated(std::unique_ptr<char[]> data, std::size_t size) : data_(std::move(data)), size_(size) {}
  std::string_view View() const { return data_ ? std::string_view(data_.get(), size_) : std::string_view(""); }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
};

// Text built by appending, in blocks: growing never copies what is already
// there, and the room to spare is at most one block.
class ChunkedText {
 public:
  void Append(std::string_view piece) {
    while (!piece.empty()) {
      if (blocks_.empty() || blocks_.back().size == blocks_.back().capacity) AddBlock();
      Block& block = blocks_.back();
      const std::size_t n = std::min(piece.size(), block.capacity - block.size);
      std::memcpy(block.data.get() + block.size, piece.data(), n);
      block.size += n;
      size_ += n;
      piece.remove_prefix(n);
    }
  }
  std::size_t size() const noexcept { return size_; }

  // The whole text in one block, which the editor takes in one write. Each
  // block is freed as soon as it is copied, and the new block's pages are
  // touched only as they are filled: together they never hold much more than
  // the text once.
  Terminated Flatten() {
    auto whole = std::make_unique_for_overwrite<char[]>(size_ + 1);
    std::size_t at = 0;
    for (Block& block : blocks_) {
      std::memcpy(whole.get() + at, block.data.get(), block.size);
      at += block.size;
      block.data.reset();
    }
    whole[at] = '\0';
    blocks_.clear();
    const std::size_t size = std::exchange(size_, 0);
    return Terminated(std::move(whole), size);
  }

 private:
  static constexpr std::size_t kMinBlock = std::size_t{64} << 10;
  static constexpr std::size_t kMaxBlock = std::size_t{4} << 20;
  struct Block {
    std::unique_ptr<char[]> data;
    std::size_t size = 0;
    std::size_t capacity = 0;
  };
  void AddBlock() {
    const std::size_t capacity = std::clamp(size_ / 4, kMinBlock, kMaxBlock);
    blocks_.push_back(Block{std::make_unique_for_overwrite<char[]>(capacity), 0, capacity});
  }
  std::vector<Block> blocks_;
  std::size_t size_ = 0;
};

// Where the engine's result goes during Compute: appended, with progress
// reported and a stop request obeyed at every step.
class CollectingSink final : public ResultSink {
 public:
  CollectingSink(JobControl& control, ChunkedText* chunks, std::string* flat)
      : control_(control), chunks_(chunks), flat_(flat) {}
  void Begin(std::size_t textBytes) override {
    total_ = textBytes;
    control_.ReportProgress(0, total_);
  }
  bool Piece(std::string_view piece) override {
    if (chunks_ != nullptr) chunks_->Append(piece);
    else flat_->append(piece);
    return !control_.StopRequested();
  }
  bool Progress(std::size_t scannedBytes) override {
    control_.ReportProgress(scannedBytes, total_);
    return !control_.StopRequested();
  }

 private:
  JobControl& control_;
  ChunkedText* chunks_;
  std::string* flat_;
  std::size_t total_ = 0;
};

// Replaces the whole document with `bytes` (followed by a NUL in memory) in
// one undoable step. SCI_SETTEXT stops at the first NUL, so a result holding
// one goes in through the target.
void WriteDocument(HWND view, std::string_view bytes) {
  if (std::memchr(bytes.data(), '\0', bytes.size()) == nullptr) {
    Sci(view, SciMsg::SCI_SETTEXT, 0, Address(bytes.data()));
    return;
  }
  const intptr_t length = Sci(view, SciMsg::SCI_GETLENGTH);
  Sci(view, SciMsg::SCI_BEGINUNDOACTION);
  Sci(view, SciMsg::SCI_SETTARGETRANGE, 0, length);
  Sci(view, SciMsg::SCI_REPLACETARGET, static_cast<intptr_t>(bytes.size()), Address(bytes.data()));
  Sci(view, SciMsg::SCI_ENDUNDOACTION);
}

std::wstring Number(uint32_t n) { return std::to_wstring(n); }

}  // namespace

std::wstring ConversionMessage(ConversionFailure failure, uint32_t codePage, bool ofResult) {
  switch (failure) {
    case ConversionFailure::NotRepresentable:
      return ofResult ? L"The result holds characters that this document's code page (" + Number(codePage) +
                            L") cannot hold. Nothing was changed."
                      : L"This document holds bytes that its code page (" + Number(codePage) +
                            L") cannot represent, so filtering it could change text you did not match. "
                            L"Nothing was changed.";
    case ConversionFailure::TooLarge:
      return L"This document is too large to convert from its code page (" + Number(codePage) +
             L"). Nothing was changed.";
    case ConversionFailure::Stopped:
      return L"Stopped. The document is unchanged.";
    default:
      return L"The text could not be converted between this document's code page (" + Number(codePage) +
             L") and Unicode. Nothing was changed.";
  }
}

namespace {

// A run that does nothing but give its answer: an empty pattern, or a reason
// why the run could not start.
class AnswerRun final : public FilterRun {
 public:
  explicit AnswerRun(std::optional<std::wstring> answer) : answer_(std::move(answer)) {}
  void Compute(JobControl&) override {}
  std::optional<std::wstring> Commit() override { return answer_; }

 private:
  std::optional<std::wstring> answer_;
};

class EditorRun final : public FilterRun {
 public:
  EditorRun(HWND view, Operation op, std::string pattern, std::string delimiter)
      : view_(view), op_(op), pattern_(std::move(pattern)), delimiter_(std::move(delimiter)) {}
  ~EditorRun() override { GiveBack(); }
  EditorRun(const EditorRun&) = delete;
  EditorRun& operator=(const EditorRun&) = delete;

  // UI thread: takes the document for the run. The reason it cannot, if so.
  std::optional<std::wstring> Take() {
    document_ = IsWindow(view_) ? Sci(view_, SciMsg::SCI_GETDOCPOINTER) : 0;
    if (document_ == 0) return L"There is no editor view to filter. Nothing was changed.";
    if (Sci(view_, SciMsg::SCI_GETREADONLY) != 0)
      return L"This document is read-only. Make it editable to filter it; nothing was changed.";
    const auto codePage = static_cast<uint32_t>(Sci(view_, SciMsg::SCI_GETCODEPAGE));
    utf8_ = codePage == static_cast<uint32_t>(SciMsg::SC_CP_UTF8);
    codePage_ = utf8_ ? CP_UTF8 : (codePage == 0 ? GetACP() : codePage);
    if (!utf8_ && op_ == Operation::Keep) {
      const std::wstring missing = Unrepresentable(Utf8ToWide(delimiter_), codePage_);
      if (!missing.empty())
        return L"The delimiter holds characters that this document's code page (" + Number(codePage_) +
               L") cannot hold: " + missing + L". Nothing was changed.";
    }
    length_ = Sci(view_, SciMsg::SCI_GETLENGTH);
    if (length_ < 0) return L"The editor gave no length for this document. Nothing was changed.";
    wchar_t className[256] = {};
    GetClassNameW(view_, className, static_cast<int>(std::size(className)));
    viewClass_ = className;

    Sci(view_, SciMsg::SCI_ADDREFDOCUMENT, 0, document_);
    holdsDocument_ = true;
    Sci(view_, SciMsg::SCI_SETREADONLY, 1);
    madeReadOnly_ = true;
    if (length_ > 0) {
      const intptr_t lent = Sci(view_, SciMsg::SCI_GETCHARACTERPOINTER);
      if (lent != 0) {
        text_ = std::string_view(reinterpret_cast<const char*>(lent), static_cast<std::size_t>(length_));
      } else {
        try {
          copy_ = GetDocumentTextBytes(view_);
        } catch (const std::bad_alloc&) {
          return L"Not enough memory to read this document. Nothing was changed.";
        }
        if (!SameLength(length_, copy_.size())) return L"The document could not be read. Nothing was changed.";
        text_ = copy_;
      }
    }
    ready_ = true;
    return std::nullopt;
  }

  void Compute(JobControl& control) override {
    if (!ready_) return;
    try {
      ComputeResult(control);
    } catch (const std::bad_alloc&) {
      outOfMemory_ = true;
    }
  }

  std::optional<std::wstring> Check() override {
    // While the bytes are lent, the document stays read-only, whoever lifted it.
    const bool shown = IsWindow(view_) && Sci(view_, SciMsg::SCI_GETDOCPOINTER) == document_;
    const bool editable = shown && madeReadOnly_ && Sci(view_, SciMsg::SCI_GETREADONLY) == 0;
    if (editable) Sci(view_, SciMsg::SCI_SETREADONLY, 1);
    if (invalid_) return invalid_;
    if (!IsWindow(view_)) invalid_ = L"The editor view was closed during the run.";
    else if (!shown) invalid_ = L"Another document was shown in the editor during the run.";
    else if (editable) invalid_ = L"The document was made editable during the run.";
    else if (Sci(view_, SciMsg::SCI_GETLENGTH) != length_) invalid_ = L"The document changed during the run.";
    return invalid_;
  }

  std::optional<std::wstring> Commit() override {
    if (!ready_) return std::nullopt;
    if (auto why = Check()) return *why + L" Nothing was changed.";
    if (stopped_ || (error_ && error_->kind == FilterError::Kind::Stopped))
      return L"Stopped. The document is unchanged.";
    if (outOfMemory_) return L"Not enough memory for this operation. The document is unchanged.";
    if (conversion_ != ConversionFailure::None) return ConversionMessage(conversion_, codePage_, convertingResult_);
    if (error_) return siftwell::app::ErrorText(*error_);
    return Write();
  }

 private:
  void ComputeResult(JobControl& control) {
    const auto stop = [&control] { return control.StopRequested(); };
    control.ReportProgress(0, text_.size());
    Fingerprint original;
    for (std::size_t at = 0; at < text_.size(); at += kFingerprintPiece) {
      if (stop()) {
        stopped_ = true;
        return;
      }
      original.Add(text_.substr(at, kFingerprintPiece));
    }
    original_ = original.Value();

    std::string converted;
    std::string_view text = text_;
    if (!utf8_) {
      conversion_ = CodePageToUtf8(text_, codePage_, converted, stop);
      if (conversion_ != ConversionFailure::None) return;
      text = converted;
    }
    std::string flat;
    ChunkedText chunks;
    CollectingSink sink(control, utf8_ ? &chunks : nullptr, &flat);
    error_ = op_ == Operation::Keep ? KeepTo(text, pattern_, delimiter_, MatchLimits{}, sink)
                                    : RemoveTo(text, pattern_, MatchLimits{}, sink);
    if (error_) return;
    if (utf8_) {
      result_ = chunks.Flatten();
    } else {
      std::string().swap(converted);
      convertingResult_ = true;
      conversion_ = Utf8ToCodePage(flat, codePage_, encoded_, stop);
      if (conversion_ != ConversionFailure::None) return;
    }
    control.ReportProgress(text.size(), text.size());
  }

  uint64_t CurrentFingerprint() const {
    const intptr_t length = Sci(view_, SciMsg::SCI_GETLENGTH);
    Fingerprint now;
    if (length > 0) {
      const intptr_t lent = Sci(view_, SciMsg::SCI_GETCHARACTERPOINTER);
      if (lent != 0) now.Add(std::string_view(reinterpret_cast<const char*>(lent), static_cast<std::size_t>(length)));
      else now.Add(GetDocumentTextBytes(view_));
    }
    return now.Value();
  }

  // Writes the result and checks that the editor took all of it; a write that
  // did not fully happen is undone (only if it changed anything).
  std::optional<std::wstring> Write() {
    Sci(view_, SciMsg::SCI_SETREADONLY, 0);
    madeReadOnly_ = false;
    const std::string_view bytes = utf8_ ? result_.View() : std::string_view(encoded_);
    const std::size_t total = bytes.size();
    if (Sci(view_, SciMsg::SCI_GETSTATUS) != 0) Sci(view_, SciMsg::SCI_SETSTATUS, 0);  // an older, unrelated error
    WriteDocument(view_, bytes);
    const intptr_t status = Sci(view_, SciMsg::SCI_GETSTATUS);
    if (status == 0 && SameLength(Sci(view_, SciMsg::SCI_GETLENGTH), total)) return std::nullopt;

    if (status != 0) Sci(view_, SciMsg::SCI_SETSTATUS, 0);
    const std::wstring why = status == static_cast<intptr_t>(SciMsg::SC_STATUS_BADALLOC)
                                 ? L"the editor ran out of memory"
                                 : L"the editor did not take the whole result";
    const auto original = [&] {
      return Sci(view_, SciMsg::SCI_GETLENGTH) == length_ && CurrentFingerprint() == original_;
    };
    if (original()) return L"The document could not be written (" + why + L"). It is unchanged.";
    Sci(view_, SciMsg::SCI_UNDO);
    if (Sci(view_, SciMsg::SCI_GETSTATUS) != 0) Sci(view_, SciMsg::SCI_SETSTATUS, 0);
    if (original())
      return L"The document could not be written (" + why + L"), so the partial change was undone. "
             L"It is as it was.";
    return L"The document could not be written (" + why + L") and undoing the partial change did not give "
           L"the original back. Use Undo to check it.";
  }

  // A live editor window that shows the document, if any.
  HWND ViewShowingDocument() const {
    const HWND candidates[] = {view_, PluginBase::nppData._scintillaMainHandle,
                               PluginBase::nppData._scintillaSecondHandle};
    for (HWND v : candidates)
      if (v != nullptr && IsWindow(v) && Sci(v, SciMsg::SCI_GETDOCPOINTER) == document_) return v;
    return nullptr;
  }

  // The document's read-only state as it was, and our reference released,
  // even when no view shows the document any more (through a hidden view of
  // the editor's own class).
  void GiveBack() {
    if (!madeReadOnly_ && !holdsDocument_) return;
    HWND view = ViewShowingDocument();
    HWND borrowed = nullptr;
    if (view == nullptr && !viewClass_.empty()) {
      borrowed = CreateWindowExW(0, viewClass_.c_str(), L"", WS_CHILD, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
      if (borrowed != nullptr) {
        Sci(borrowed, SciMsg::SCI_SETDOCPOINTER, 0, document_);
        if (Sci(borrowed, SciMsg::SCI_GETDOCPOINTER) == document_) view = borrowed;
      }
    }
    if (view != nullptr && madeReadOnly_) Sci(view, SciMsg::SCI_SETREADONLY, 0);
    madeReadOnly_ = false;
    if (holdsDocument_) {
      HWND any = view != nullptr ? view : (IsWindow(view_) ? view_ : nullptr);
      if (any != nullptr) Sci(any, SciMsg::SCI_RELEASEDOCUMENT, 0, document_);
      holdsDocument_ = false;
    }
    if (borrowed != nullptr) DestroyWindow(borrowed);
  }

  HWND view_;
  Operation op_;
  std::string pattern_;
  std::string delimiter_;  // expanded
  std::wstring viewClass_;
  intptr_t document_ = 0;
  intptr_t length_ = 0;
  bool utf8_ = true;
  uint32_t codePage_ = CP_UTF8;
  bool ready_ = false;
  bool holdsDocument_ = false;
  bool madeReadOnly_ = false;
  std::string_view text_;  // the document's bytes, lent by the editor or in copy_
  std::string copy_;
  uint64_t original_ = 0;

  // Outcome of Compute.
  bool stopped_ = false;
  bool outOfMemory_ = false;
  ConversionFailure conversion_ = ConversionFailure::None;
  bool convertingResult_ = false;
  std::optional<FilterError> error_;
  Terminated result_;    // UTF-8 documents
  std::string encoded_;  // other code pages: the result in the document's code page
  std::optional<std::wstring> invalid_;
};

}  // namespace

std::string GetDocumentTextBytes(HWND curScintilla) {
  const intptr_t length = Sci(curScintilla, SciMsg::SCI_GETLENGTH);
  if (length <= 0) return {};
  // Room for the editor's terminating NUL, which is not part of the document.
  std::string buffer(static_cast<std::size_t>(length) + 1, '\0');
  Sci(curScintilla, SciMsg::SCI_GETTEXT, length + 1, Address(buffer.data()));
  buffer.resize(static_cast<std::size_t>(length));
  return buffer;
}

std::unique_ptr<FilterRun> StartOnView(HWND view, Operation op, std::wstring_view pattern,
                                       std::wstring_view delimiterField) {
  if (pattern.empty()) return std::make_unique<AnswerRun>(std::nullopt);
  std::string patternUtf8, delimiterUtf8;
  if (!WideToUtf8(pattern, patternUtf8))
    return std::make_unique<AnswerRun>(L"The pattern holds a broken character (a lone surrogate). Nothing was changed.");
  if (!WideToUtf8(delimiterField, delimiterUtf8))
    return std::make_unique<AnswerRun>(
        L"The delimiter holds a broken character (a lone surrogate). Nothing was changed.");
  auto run = std::make_unique<EditorRun>(view, op, std::move(patternUtf8), ExpandDelimiter(delimiterUtf8));
  if (auto problem = run->Take()) return std::make_unique<AnswerRun>(std::move(problem));
  return run;
}

std::unique_ptr<FilterRun> StartOnCurrentView(Operation op, std::wstring_view pattern,
                                              std::wstring_view delimiterField) {
  if (pattern.empty()) return std::make_unique<AnswerRun>(std::nullopt);
  return StartOnView(PluginBase::GetCurrentScintilla(), op, pattern, delimiterField);
}

std::optional<std::wstring> RunOnView(HWND view, Operation op, std::wstring_view pattern,
                                      std::wstring_view delimiterField) {
  std::unique_ptr<FilterRun> run = StartOnView(view, op, pattern, delimiterField);
  JobControl control;
  run->Compute(control);
  return run->Commit();
}

std::optional<std::wstring> RunOnCurrentView(Operation op, std::wstring_view pattern,
                                             std::wstring_view delimiterField) {
  if (pattern.empty()) return std::nullopt;
  return RunOnView(PluginBase::GetCurrentScintilla(), op, pattern, delimiterField);
}

}  // namespace siftwell::filter
