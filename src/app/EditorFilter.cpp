// The editor side of Keep and Remove, and the computation they share with the
// live count. The document is exactly its SCI_GETLENGTH bytes. Text in another
// code page than UTF-8 is converted to UTF-8 for matching and back, and refused
// if that would not give back the same bytes.
#include "app/EditorFilter.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <iterator>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <thread>
#include <utility>
#include <vector>

#include "engine/LineCounter.h"
#include "engine/MatchCount.h"
#include "engine/PatternFilter.h"
#include "engine/SearchOnThreads.h"
#include "npp/PluginBase.h"
#include "npp/Tables.h"
#include "npp/Win32.h"
#include "win/AddressSpace.h"
#include "win/ByteScan.h"
#include "win/CodePage.h"
#include "win/Worker.h"

namespace siftwell::app {
namespace {

intptr_t Sci(HWND view, SciMsg msg, intptr_t wParam = 0, intptr_t lParam = 0) {
  return Win32::SendMessage(view, static_cast<uint32_t>(msg), wParam, lParam);
}

intptr_t Address(const void* p) { return reinterpret_cast<intptr_t>(p); }

RunProblem Make(RunProblem::Kind kind) {
  RunProblem problem;
  problem.kind = kind;
  return problem;
}

// The first `length` bytes of the document `view` shows, in one piece, read
// in place. Not SCI_GETCHARACTERPOINTER: that one also makes room for a NUL
// after the text, and in a buffer filled to its last byte the editor moves
// the whole document into a larger block for it, just to be read.
const char* DocumentBytes(HWND view, std::size_t length) {
  return reinterpret_cast<const char*>(Sci(view, SciMsg::SCI_GETRANGEPOINTER, 0, static_cast<intptr_t>(length)));
}

// The threads a search may use: one per core (the parts it can be cut into
// are searched at once, see KeepOnThreads).
uint32_t Cores() { return std::max(1u, std::thread::hardware_concurrency()); }

// The document `view` shows is exactly `bytes` (read on the UI thread).
bool Holds(HWND view, std::string_view bytes) {
  const intptr_t length = Sci(view, SciMsg::SCI_GETLENGTH);
  if (length < 0 || static_cast<uint64_t>(length) != static_cast<uint64_t>(bytes.size())) return false;
  if (bytes.empty()) return true;
  const char* now = DocumentBytes(view, bytes.size());
  return now != nullptr && win::SameBytes(now, bytes.data(), bytes.size());
}

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

  // Room for a text known to be no longer than `bytes` (a Remove's result, at
  // most the text it comes from), in one block filled in place and handed
  // over as it is: its pages are touched once and nothing is copied. Without
  // room for that block, the blocks come one by one as before.
  void Reserve(std::size_t bytes) {
    if (!blocks_.empty()) return;
    try {
      blocks_.push_back(Block{std::make_unique_for_overwrite<char[]>(bytes + 1), 0, bytes});
      reserved_ = true;
    } catch (const std::bad_alloc&) {
    }
  }

  // The whole text in one block, which the editor takes in one write. Each
  // block is freed as soon as it is copied, and the new block's pages are
  // touched only as they are filled: together they never hold much more than
  // the text once.
  std::unique_ptr<char[]> Flatten() {
    if (blocks_.size() == 1 && reserved_) {
      std::unique_ptr<char[]> whole = std::move(blocks_.front().data);
      whole[size_] = '\0';
      blocks_.clear();
      size_ = 0;
      return whole;
    }
    auto whole = std::make_unique_for_overwrite<char[]>(size_ + 1);
    std::size_t at = 0;
    for (Block& block : blocks_) {
      std::memcpy(whole.get() + at, block.data.get(), block.size);
      at += block.size;
      block.data.reset();
    }
    whole[at] = '\0';
    blocks_.clear();
    size_ = 0;
    reserved_ = false;
    return whole;
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
  bool reserved_ = false;  // the first block has a byte beyond its capacity
};

// The result, while it comes piece by piece, as the edits that turn the text
// into it: a piece that lies further on in the text deletes what it skips, a
// piece of other bytes is inserted unless the text holds the same bytes at
// that point. Up to `mostEdits` edits; beyond them, the result so far is
// spilled into a ChunkedText and built as a whole from there on.
class EditBuilder {
 public:
  using Edit = Computation::Edit;
  EditBuilder(std::string_view text, std::vector<Edit>& edits, std::string& inserted, std::size_t mostEdits)
      : text_(text), edits_(edits), inserted_(inserted), mostEdits_(mostEdits) {}

  bool Recording() const noexcept { return recording_; }
  // One piece of the result, in order. False when the edits are no longer
  // recorded: the caller appends the piece to `spill`, which holds the
  // result before it. The piece that makes one edit too many spills it all.
  bool Add(std::string_view piece, ChunkedText& spill) {
    if (!recording_) return false;
    if (piece.empty()) return true;
    const auto at = reinterpret_cast<uintptr_t>(piece.data()) - reinterpret_cast<uintptr_t>(text_.data());
    if (at <= text_.size() && piece.size() <= text_.size() - at && at >= cursor_) {
      if (at > cursor_) Delete(cursor_, at);
      cursor_ = at + piece.size();
    } else if (piece.size() <= text_.size() - cursor_ &&
               std::memcmp(text_.data() + cursor_, piece.data(), piece.size()) == 0) {
      cursor_ += piece.size();
    } else {
      Insert(piece);
    }
    if (edits_.size() > mostEdits_) Spill(spill);  // (the piece with it)
    return true;
  }
  // After the last piece: the rest of the text goes.
  void Close() {
    if (recording_ && cursor_ < text_.size()) Delete(cursor_, text_.size());
    cursor_ = text_.size();
  }
  // The result the edits give so far, appended to `out`; no edits recorded
  // from now on.
  void Spill(ChunkedText& out) {
    std::size_t kept = 0;
    for (const Edit& edit : edits_) {
      out.Append(text_.substr(kept, edit.from - kept));
      out.Append(std::string_view(inserted_).substr(edit.at, edit.size));
      kept = edit.to;
    }
    out.Append(text_.substr(kept, cursor_ - kept));
    std::vector<Edit>().swap(edits_);
    std::string().swap(inserted_);
    recording_ = false;
  }
  std::size_t Deleted() const noexcept { return deleted_; }
  std::size_t ResultBytes() const noexcept { return text_.size() - deleted_ + inserted_.size(); }

 private:
  void Delete(std::size_t from, std::size_t to) {
    deleted_ += to - from;
    if (!edits_.empty() && edits_.back().to == from) edits_.back().to = to;
    else edits_.push_back(Edit{from, to, inserted_.size(), 0});
  }
  void Insert(std::string_view piece) {
    if (!edits_.empty() && edits_.back().to == cursor_ && edits_.back().at + edits_.back().size == inserted_.size())
      edits_.back().size += piece.size();
    else
      edits_.push_back(Edit{cursor_, cursor_, inserted_.size(), piece.size()});
    inserted_.append(piece);
  }
  std::string_view text_;
  std::vector<Edit>& edits_;
  std::string& inserted_;
  std::size_t mostEdits_;
  std::size_t cursor_ = 0;  // the text before it is dealt with
  std::size_t deleted_ = 0;
  bool recording_ = true;
};

// Lines as whole lines count them: each ends at CR LF, LF or a lone CR; text
// after the last line end is a line when it is not empty.
uint64_t CountLines(std::string_view text) {
  if (text.empty()) return 0;
  const bool tail = text.back() != '\n' && text.back() != '\r';
  if (std::memchr(text.data(), '\r', text.size()) == nullptr)
    return static_cast<uint64_t>(std::count(text.begin(), text.end(), '\n')) + (tail ? 1 : 0);
  uint64_t lines = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') ++lines;
    else if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) ++lines;
  }
  return lines + (tail ? 1 : 0);
}

// Where the engine's matches go during Compute: counted, and for Keep and
// Remove the result appended, with progress reported and a stop obeyed at
// every step. Every run searches as Keep does (each match is one piece, a view
// into the text; the delimiter's pieces lie outside it), so that the number
// of matches is known in the same pass: Remove keeps what lies between them.
class CollectingSink final : public ResultSink {
 public:
  CollectingSink(JobControl& control, const std::function<bool()>& stop, Operation op, std::string_view text,
                 ChunkedText* chunks, std::string* flat)
      : control_(control), stop_(stop), op_(op), text_(text), chunks_(chunks), flat_(flat) {}
  void Begin(std::size_t textBytes) override {
    total_ = textBytes;
    control_.ReportProgress(0, total_);
  }
  bool Piece(std::string_view piece) override {
    const auto at = reinterpret_cast<uintptr_t>(piece.data()) - reinterpret_cast<uintptr_t>(text_.data());
    const bool match = at < text_.size() && !distinct_;
    if (match) ++matches_;
    // Kept whole lines come as runs of lines of the text (a line number before each is not in the text).
    if (map_ != nullptr && match) map_->Add(resultEnds_, sourceLines_.At(at) + lineOffset_);
    // A match that stops between the CR and the LF of a line end.
    if (match && !piece.empty() && piece.back() == '\r' && at + piece.size() < text_.size() &&
        text_[at + piece.size()] == '\n')
      endsInCr_ = true;
    if (op_ == Operation::Remove) {
      if (match) {
        Append(text_.substr(kept_, at - kept_));
        kept_ = at + piece.size();
      }
    } else if (op_ == Operation::Keep) {
      Append(piece);
    }
    return (matches_ & 255) != 0 || !stop_();
  }
  bool Progress(std::size_t scannedBytes) override {
    control_.ReportProgress(scannedBytes, total_);
    return !stop_();
  }
  void Finish() override {
    if (op_ == Operation::Remove) Append(text_.substr(kept_));
    if (map_ != nullptr) map_->SetLines(Lines());
  }
  void Distinct(uint64_t outputs, uint64_t distinct) override {
    outputs_ = outputs;
    distinct_ = distinct;
  }
  bool WantsSourceLines() const override { return map_ != nullptr; }
  void SourceLine(uint64_t line) override { map_->Add(resultEnds_, line + lineOffset_); }

  uint64_t Matches() const noexcept { return matches_; }
  bool EndsInCr() const noexcept { return endsInCr_; }
  // Unique or Tally: all outputs found and the distinct ones kept.
  uint64_t Outputs() const noexcept { return outputs_; }
  std::optional<uint64_t> DistinctOutputs() const noexcept { return distinct_; }
  // The lines of the result, as whole lines count them (asked for before the run).
  void CountResultLines() noexcept { countLines_ = true; }
  uint64_t Lines() const noexcept { return resultEnds_ + (resultOpen_ ? 1 : 0); }
  // Keep with whole lines: each result line's line in the text, plus `offset` (asked for before the run).
  void MapLines(LineMap* map, uint64_t offset) noexcept {
    map_ = map;
    lineOffset_ = offset;
  }
  // The result as edits of the text, while `edits` records them (UTF-8 only: the pieces go to the ChunkedText).
  void RecordEdits(EditBuilder* edits) noexcept { edits_ = edits; }

 private:
  void Append(std::string_view piece) {
    if (piece.empty()) return;
    if (countLines_ || map_ != nullptr) CountLineEnds(piece);
    if (edits_ != nullptr && edits_->Add(piece, *chunks_)) return;
    if (chunks_ != nullptr) chunks_->Append(piece);
    else flat_->append(piece);
  }
  // Line ends (CR LF, LF, a lone CR) in the result so far, a CR LF split
  // between two pieces counted once; a piece that ends without one leaves a
  // line open (a line number before a line, say, or the text's last line).
  void CountLineEnds(std::string_view piece) {
    uint64_t ends = static_cast<uint64_t>(std::count(piece.begin(), piece.end(), '\n'));
    for (std::size_t i = 0; i < piece.size(); ++i) {
      const void* cr = std::memchr(piece.data() + i, '\r', piece.size() - i);
      if (cr == nullptr) break;
      i = static_cast<std::size_t>(static_cast<const char*>(cr) - piece.data());
      if (i + 1 == piece.size() || piece[i + 1] != '\n') ++ends;
    }
    if (endedInCr_ && piece.front() == '\n') --ends;
    endedInCr_ = piece.back() == '\r';
    resultEnds_ += ends;
    resultOpen_ = piece.back() != '\n' && piece.back() != '\r';
  }
  JobControl& control_;
  const std::function<bool()>& stop_;
  Operation op_;
  std::string_view text_;
  ChunkedText* chunks_;
  std::string* flat_;
  std::size_t total_ = 0;
  std::size_t kept_ = 0;  // Remove: the text up to here is dealt with
  uint64_t matches_ = 0;
  bool endsInCr_ = false;
  bool countLines_ = false;
  uint64_t resultEnds_ = 0;
  bool resultOpen_ = false;
  bool endedInCr_ = false;
  uint64_t outputs_ = 0;
  std::optional<uint64_t> distinct_;
  LineMap* map_ = nullptr;
  EditBuilder* edits_ = nullptr;
  uint64_t lineOffset_ = 0;
  LineCounter sourceLines_{text_};
};

// Replaces the whole document with `bytes` (followed by a NUL in memory) in
// one step (undoable when the editor collects undo). SCI_SETTEXT stops at the
// first NUL, so a result holding one goes in through the target.
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

// Puts `original` back after a write that failed, without the editor's undo:
// a failed allocation can leave its history holding a change that never
// happened, so the history is emptied. Nothing is allocated for undo here, and
// the editor's buffer already had room for the original. The document's
// modified state is as before. True when the document is `original` again and
// takes changes (Scintilla refuses every change to a document whose change
// failed halfway through, undo included).
bool Restore(HWND view, std::string_view original, bool wasModified) {
  Sci(view, SciMsg::SCI_SETSTATUS, 0);
  Sci(view, SciMsg::SCI_SETUNDOCOLLECTION, 0);
  if (!Holds(view, original)) {
    Sci(view, SciMsg::SCI_SETTARGETRANGE, 0, Sci(view, SciMsg::SCI_GETLENGTH));
    Sci(view, SciMsg::SCI_REPLACETARGET, static_cast<intptr_t>(original.size()),
        Address(original.empty() ? "" : original.data()));
    Sci(view, SciMsg::SCI_SETSTATUS, 0);
  }
  // Does it take a change?
  const intptr_t length = Sci(view, SciMsg::SCI_GETLENGTH);
  Sci(view, SciMsg::SCI_INSERTTEXT, 0, Address(" "));
  const bool editable = Sci(view, SciMsg::SCI_GETLENGTH) == length + 1;
  if (editable) Sci(view, SciMsg::SCI_DELETERANGE, 0, 1);
  Sci(view, SciMsg::SCI_SETSTATUS, 0);
  Sci(view, SciMsg::SCI_EMPTYUNDOBUFFER);
  Sci(view, SciMsg::SCI_SETUNDOCOLLECTION, 1);
  Sci(view, SciMsg::SCI_SETSAVEPOINT);
  if (wasModified) {
    // Unsaved changes stay marked unsaved: a change that changes nothing.
    Sci(view, SciMsg::SCI_BEGINUNDOACTION);
    Sci(view, SciMsg::SCI_INSERTTEXT, 0, Address(" "));
    Sci(view, SciMsg::SCI_DELETERANGE, 0, 1);
    Sci(view, SciMsg::SCI_ENDUNDOACTION);
    Sci(view, SciMsg::SCI_SETSTATUS, 0);
  }
  return editable && Holds(view, original);
}

// Keeps `original` in a file of its own when the editor could not be given it
// back. The file's path, or empty when it could not be written either.
std::wstring KeepInFile(std::string_view original) {
  wchar_t folder[Win32::MAX_PATH + 1] = {};
  const DWORD n = GetTempPathW(Win32::MAX_PATH + 1, folder);
  if (n == 0 || n > Win32::MAX_PATH) return {};
  const std::filesystem::path path =
      std::filesystem::path(folder) / (L"Siftwell-original-" + std::to_wstring(GetTickCount64()) + L".txt");
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(original.data(), static_cast<std::streamsize>(original.size()));
  out.close();
  return out ? path.wstring() : std::wstring();
}

}  // namespace

// ---- The worker thread's part ---------------------------------------------------

Computation::Computation(std::shared_ptr<const DocumentText> document, Operation op, std::string pattern,
                         std::string delimiter, CompileOptions options, std::size_t from, std::size_t to)
    : document_(std::move(document)),
      op_(op),
      pattern_(std::move(pattern)),
      delimiter_(std::move(delimiter)),
      options_(std::move(options)),
      from_(from),
      to_(to) {}

std::string_view Computation::Searched() const noexcept {
  const std::string_view bytes = document_->bytes;
  const std::size_t from = std::min(from_, bytes.size());
  return bytes.substr(from, std::min(to_, bytes.size()) - std::min(from, std::min(to_, bytes.size())));
}

void Computation::Compute(JobControl& control) {
  try {
    Run(control);
  } catch (const std::bad_alloc&) {
    problem_ = Make(RunProblem::Kind::NoMemory);
  } catch (...) {
    problem_ = Make(RunProblem::Kind::Failed);
  }
  if (!problem_ && control.StopRequested()) problem_ = Make(RunProblem::Kind::Stopped);
}

void Computation::Run(JobControl& control) {
  // A budget counts from here; once spent, every stop test answers yes.
  const auto deadline = std::chrono::steady_clock::now() + budget_;
  bool outOfTime = false;
  const std::function<bool()> stop = [&] {
    if (control.StopRequested()) return true;
    if (budget_.count() > 0 && !outOfTime && std::chrono::steady_clock::now() >= deadline) outOfTime = true;
    return outOfTime;
  };
  const auto tooSlow = [&](uint64_t matches) {
    RunProblem problem = Make(RunProblem::Kind::CountTooSlow);
    problem.counting = true;
    problem.matches = matches;
    problem.budgetMs = static_cast<uint32_t>(budget_.count());
    return problem;
  };
  const std::string_view bytes = Searched();
  const bool utf8 = document_->IsUtf8();
  const uint32_t codePage = utf8 ? CP_UTF8 : (document_->codePage == 0 ? GetACP() : document_->codePage);
  const bool counting = op_ == Operation::Count;
  const auto conversionProblem = [&](ConversionFailure failure, bool ofResult) {
    RunProblem problem = Make(failure == ConversionFailure::Stopped ? RunProblem::Kind::Stopped
                                                                       : RunProblem::Kind::Conversion);
    problem.conversion = failure;
    problem.codePage = codePage;
    problem.ofResult = ofResult;
    problem.documentBytes = bytes.size();
    problem.counting = counting;
    return problem;
  };
  const auto engineProblem = [&](FilterError error) {
    RunProblem problem = Make(error.kind == FilterError::Kind::Stopped ? RunProblem::Kind::Stopped
                                 : error.kind == FilterError::Kind::NoMemory ? RunProblem::Kind::NoMemory
                                                                             : RunProblem::Kind::Engine);
    problem.engine = std::move(error);
    problem.counting = counting;
    return problem;
  };

  control.ReportProgress(0, bytes.size());
  std::string converted;
  std::string_view text = bytes;
  if (!utf8) {
    const ConversionFailure failure = CodePageToUtf8(bytes, codePage, converted, stop);
    if (failure == ConversionFailure::Stopped && outOfTime && !control.StopRequested()) {
      problem_ = tooSlow(0);
      return;
    }
    if (failure != ConversionFailure::None) {
      problem_ = conversionProblem(failure, false);
      return;
    }
    text = converted;
  }
  // The template is Keep's alone; the count and Remove never refuse a pattern for it.
  CompileOptions options = options_;
  if (op_ != Operation::Keep) options.keepTemplate.clear();
  Compilation compiled = Compile(pattern_, options);
  if (compiled.error) {
    problem_ = engineProblem(std::move(*compiled.error));
    return;
  }
  std::string flat;
  ChunkedText chunks;
  if (op_ == Operation::Remove && utf8 && !counting) chunks.Reserve(text.size());
  // With whole lines or a template the result's pieces are no longer the
  // matches themselves. Whole lines are counted in the result (its pieces
  // are runs of whole lines: kept, or left between the removed ones);
  // templated matches in a pass of their own before the result is built.
  const bool ownCount = options.wholeLines || !options.keepTemplate.empty();
  // Unique and Tally write values of their own: the engine tells how many it found and kept.
  const bool distinct = op_ == Operation::Keep && options.keepMode != CompileOptions::KeepMode::All;
  if (options.wholeLines) lines_ = CountLines(text);
  CollectingSink sink(control, stop, ownCount && !counting ? Operation::Keep : op_, text,
                      utf8 ? &chunks : nullptr, &flat);
  // A result written over the whole document may go in as edits of it.
  std::optional<EditBuilder> edits;
  if (offerEdits_ && utf8 && !counting && from_ == 0 && to_ >= document_->bytes.size()) {
    edits.emplace(text, edits_, inserted_, MostEdits(text.size()));
    sink.RecordEdits(&*edits);
  }
  if (mapLines_ && op_ == Operation::Keep && options.wholeLines) {
    // The searched text's first line is the document's line of its start.
    const std::size_t start = std::min(from_, document_->bytes.size());
    sink.MapLines(&lineMap_, LineCounter(document_->bytes).At(start) - 1);
  }
  std::optional<FilterError> error;
  if (IsEmpty(*compiled.pattern)) {
    // No match: the text stays as it is (StartOnView runs nothing for it).
    if (!counting && utf8 && !(edits && edits->Add(text, chunks))) chunks.Append(text);
    else if (!counting) flat.assign(text);
  } else if (distinct) {
    error = KeepTo(text, *compiled.pattern, delimiter_, MatchLimits{}, sink);
    count_ = sink.Outputs();
    distinct_ = sink.DistinctOutputs().value_or(0);
  } else if (ownCount && (counting || !options.wholeLines)) {
    uint64_t counted = 0;
    error = CountTo(text, *compiled.pattern, MatchLimits{}, sink, counted);
    count_ = counted;
    if (!error && !counting) error = KeepTo(text, *compiled.pattern, delimiter_, MatchLimits{}, sink);
  } else if (ownCount) {
    sink.CountResultLines();
    error = op_ == Operation::Keep ? KeepOnThreads(text, *compiled.pattern, delimiter_, MatchLimits{}, sink, Cores())
                                   : RemoveTo(text, *compiled.pattern, MatchLimits{}, sink);
    const uint64_t resultLines = sink.Lines();
    count_ = op_ == Operation::Keep ? resultLines : lines_ - std::min(lines_, resultLines);
  } else {
    // Remove too searches as Keep does, so that its matches are counted (see CollectingSink).
    error = KeepOnThreads(text, *compiled.pattern,
                          op_ == Operation::Keep ? std::string_view(delimiter_) : std::string_view(), MatchLimits{},
                          sink, Cores());
  }
  if (!ownCount && !distinct) count_ = sink.Matches();
  endsInCr_ = op_ == Operation::Keep && !ownCount && !distinct && sink.EndsInCr();
  if (error && error->kind == FilterError::Kind::Stopped && outOfTime && !control.StopRequested()) {
    problem_ = tooSlow(count_);
    return;
  }
  if (error) {
    problem_ = engineProblem(std::move(*error));
    return;
  }
  if (counting) return;
  if (edits && edits->Recording()) {
    edits->Close();
    if (EditsAreCheaper(edits_.size(), edits->Deleted() + inserted_.size(), text.size(), edits->ResultBytes())) {
      hasEdits_ = true;
      editedBytes_ = edits->ResultBytes();
      control.ReportProgress(bytes.size(), bytes.size());
      return;
    }
    edits->Spill(chunks);
  }
  if (utf8) {
    resultSize_ = chunks.size();
    result_ = chunks.Flatten();
  } else {
    std::string().swap(converted);
    std::string encoded;
    const ConversionFailure failure = Utf8ToCodePage(flat, codePage, encoded, stop);
    if (failure != ConversionFailure::None) {
      problem_ = conversionProblem(failure, true);
      return;
    }
    std::string().swap(flat);
    result_ = std::make_unique_for_overwrite<char[]>(encoded.size() + 1);
    std::memcpy(result_.get(), encoded.data(), encoded.size());
    result_[encoded.size()] = '\0';
    resultSize_ = encoded.size();
  }
  control.ReportProgress(bytes.size(), bytes.size());
}

// Measured in Notepad++ 8.9.7 x64 under Wine (bench/realhost/host_bench.py,
// 100 MB, Remove of patterns with 99 and 1 035 matches, written both ways on
// an idle machine; bench/RESULTS.md): each edit costs the host about 1.15 ms
// (two thirds of it its handling of the change notification, the rest the
// editor's own work and an undo record; the same again when it is undone), a
// whole replacement about 2.4 ns per byte of the old and the new text; a byte
// an edit deletes or inserts is copied the same way (into the history, into
// the buffer), so it costs as much. Edits that take no longer than a glance
// are written as edits anyway: the history then keeps only what changed.
// A 32-bit editor keeps the costs first measured (0.35 ms an edit, 4.5 ns a
// byte), which favour edits: there the addresses are the scarcer resource,
// and a whole write of a large document may not fit at all where its edits do.
namespace {
constexpr bool kWideAddresses = sizeof(void*) >= 8;
constexpr double kEditNs = kWideAddresses ? 1'150'000.0 : 350'000.0;
constexpr double kWholeByteNs = kWideAddresses ? 2.4 : 4.5;
constexpr double kChangedByteNs = kWholeByteNs;
constexpr double kUnnoticedNs = 50'000'000.0;
double WholeNs(std::size_t documentBytes, std::size_t resultBytes) {
  return std::max((static_cast<double>(documentBytes) + static_cast<double>(resultBytes)) * kWholeByteNs,
                  kUnnoticedNs);
}
}  // namespace

bool EditsAreCheaper(std::size_t edits, std::size_t changedBytes, std::size_t documentBytes,
                     std::size_t resultBytes) {
  if (edits > MostEdits(documentBytes)) return false;
  const double byEdits = static_cast<double>(edits) * kEditNs + static_cast<double>(changedBytes) * kChangedByteNs;
  return byEdits <= WholeNs(documentBytes, resultBytes);
}

std::size_t MostEdits(std::size_t documentBytes) {
  // Recording stops here: against a result as long as the document (a
  // longer one is rare, and a cheaper edit list for it rarer still).
  return static_cast<std::size_t>(WholeNs(documentBytes, documentBytes) / kEditNs);
}

// ---- The UI thread's part -------------------------------------------------------

namespace {

// A run that does nothing but give its answer: an empty pattern, or a reason
// why the run could not start.
class AnswerRun final : public FilterRun {
 public:
  explicit AnswerRun(std::optional<RunProblem> answer) : answer_(std::move(answer)) {}
  std::optional<RunProblem> Commit() override { return answer_; }

 private:
  std::optional<RunProblem> answer_;
};

class EditorRun final : public FilterRun {
 public:
  EditorRun(HWND view, Operation op, std::string pattern, std::string delimiter, CompileOptions engine,
            const RunOptions& options, HWND host)
      : view_(view),
        op_(op),
        pattern_(std::move(pattern)),
        delimiter_(std::move(delimiter)),
        engine_(std::move(engine)),
        wholeLines_(engine_.wholeLines),
        target_(options.target),
        inSelection_(options.inSelection),
        host_(host) {}

  // Starts the copy, or takes over `counted`. The reason the run cannot start, if so.
  std::optional<RunProblem> Take(std::shared_ptr<DocumentCopy> counted) {
    document_ = IsWindow(view_) ? Sci(view_, SciMsg::SCI_GETDOCPOINTER) : 0;
    if (document_ == 0) return Make(RunProblem::Kind::NoView);
    // Only a result written into the document needs it to take changes.
    if (target_ == Target::Document && Sci(view_, SciMsg::SCI_GETREADONLY) != 0)
      return Make(RunProblem::Kind::ReadOnly);
    if (target_ == Target::NewTab && host_ == nullptr) return Make(RunProblem::Kind::NoNewTab);
    if (inSelection_) {
      const intptr_t mode = Sci(view_, SciMsg::SCI_GETSELECTIONMODE);
      if (Sci(view_, SciMsg::SCI_GETSELECTIONS) > 1 ||
          (mode != static_cast<intptr_t>(SciMsg::SC_SEL_STREAM) && mode != static_cast<intptr_t>(SciMsg::SC_SEL_LINES)))
        return Make(RunProblem::Kind::SelectionNotPlain);
      const intptr_t start = Sci(view_, SciMsg::SCI_GETSELECTIONSTART), end = Sci(view_, SciMsg::SCI_GETSELECTIONEND);
      if (start < 0 || end <= start) return Make(RunProblem::Kind::NoSelection);
      from_ = static_cast<std::size_t>(start);
      to_ = static_cast<std::size_t>(end);
    }
    // A template naming no group is refused before anything is copied.
    if (op_ == Operation::Keep && !engine_.keepTemplate.empty()) {
      CompileOptions check = engine_;
      check.jit = false;
      Compilation compiled = Compile(pattern_, check);
      if (compiled.error && (compiled.error->kind == FilterError::Kind::BadTemplate ||
                             compiled.error->kind == FilterError::Kind::TemplateWithLines)) {
        RunProblem problem = Make(RunProblem::Kind::Engine);
        problem.engine = std::move(*compiled.error);
        return problem;
      }
    }
    if (target_ == Target::NewTab) {
      sourceBuffer_ = Win32::SendMessage(host_, static_cast<uint32_t>(NppMsg::NPPM_GETCURRENTBUFFERID), 0, 0);
      eolMode_ = Sci(view_, SciMsg::SCI_GETEOLMODE);
    }
    const auto codePage = static_cast<uint32_t>(Sci(view_, SciMsg::SCI_GETCODEPAGE));
    if (codePage != static_cast<uint32_t>(SciMsg::SC_CP_UTF8) && op_ == Operation::Keep) {
      const uint32_t actual = codePage == 0 ? GetACP() : codePage;
      std::wstring missing = Unrepresentable(Utf8ToWide(delimiter_), actual);
      if (!missing.empty()) {
        RunProblem problem = Make(RunProblem::Kind::DelimiterNotInCodePage);
        problem.codePage = actual;
        problem.characters = std::move(missing);
        return problem;
      }
    }
    // The live count's copy of this document is compared with it instead of
    // copied again (and the editor's process holds one copy, not two).
    const auto state = counted ? counted->Current() : DocumentCopy::State::NoMemory;
    if ((state == DocumentCopy::State::Done || state == DocumentCopy::State::Copying) && counted->View() == view_ &&
        counted->Document() == document_ && counted->SameDocument()) {
      copy_ = std::move(counted);
      copy_->Recheck();
      takenOver_ = true;
    } else {
      counted.reset();
      copy_ = DocumentCopy::Of(view_);
    }
    return std::nullopt;
  }

  bool CopyStep() override {
    if (Check()) return true;
    // The user waits for this copy: as many pieces in a turn of the loop as
    // fit in a time no one notices, rather than one (a turn alone costs the
    // host a few ms under load, 25 of them at 100 MB).
    constexpr std::chrono::milliseconds kTurn{12};
    switch (copy_->Step(kTurn)) {
      case DocumentCopy::State::Copying:
        return false;
      case DocumentCopy::State::NoMemory:
        problem_ = Make(RunProblem::Kind::NoMemory);
        return true;
      case DocumentCopy::State::Changed:
        // The count's copy was out of date before the run began: copied anew.
        if (takenOver_ && !Check()) {
          takenOver_ = false;
          copy_ = DocumentCopy::Of(view_);
          return copy_->Current() == DocumentCopy::State::Done;
        }
        if (!Check()) problem_ = Make(RunProblem::Kind::Edited);
        return true;
      case DocumentCopy::State::Done:
        return true;
    }
    return true;
  }

  std::shared_ptr<Computation> TakeComputation() override {
    if (problem_ || copy_->Current() != DocumentCopy::State::Done) return nullptr;
    tally_ = engine_.keepMode == CompileOptions::KeepMode::Tally;
    computation_ = std::make_shared<Computation>(copy_->Text(), op_, std::move(pattern_), std::move(delimiter_),
                                                 std::move(engine_), from_, to_);
    // A new tab of whole lines leads back to the source lines.
    if (op_ == Operation::Keep && wholeLines_ && target_ == Target::NewTab) computation_->MapSourceLines();
    // Written over the whole document: as edits, when fewer bytes change.
    if (target_ == Target::Document && !inSelection_) computation_->OfferEdits();
    return computation_;
  }

  void Edited(HWND view) override {
    if (!problem_ && IsWindow(view) && Sci(view, SciMsg::SCI_GETDOCPOINTER) == document_)
      problem_ = Make(RunProblem::Kind::Edited);
  }

  void Cancel() override {
    if (!problem_) problem_ = Make(RunProblem::Kind::Stopped);
  }

  std::optional<RunProblem> Check() override {
    if (problem_) return problem_;
    if (!IsWindow(view_)) problem_ = Make(RunProblem::Kind::ViewClosed);
    else if (Sci(view_, SciMsg::SCI_GETDOCPOINTER) != document_) problem_ = Make(RunProblem::Kind::OtherDocument);
    else if (Sci(view_, SciMsg::SCI_GETREADONLY) != 0) problem_ = Make(RunProblem::Kind::MadeReadOnly);
    else if (copy_ && Sci(view_, SciMsg::SCI_GETLENGTH) != copy_->Length()) {
      // Another length, and no edit was reported: the host replaced the text
      // (a reload tells no plugin). Found at the next progress report, so the
      // matching stops at once instead of running on to a write refused anyway.
      problem_ = Make(RunProblem::Kind::Reloaded);
      problem_->documentBytes = static_cast<uint64_t>(copy_->Length());
    }
    return problem_;
  }

  std::optional<RunProblem> Commit() override {
    if (Check()) return problem_;
    if (!computation_) return Make(RunProblem::Kind::Failed);
    if (computation_->Problem()) return computation_->Problem();
    // Same length and same bytes as the copy: catches a reload, or a change
    // of the same length, that no notification told of.
    const std::string_view original = computation_->Document().bytes;
    if (!Holds(view_, original)) {
      RunProblem problem = Make(RunProblem::Kind::Reloaded);
      problem.documentBytes = original.size();
      return problem;
    }
    const std::string_view result = computation_->Result();
    std::optional<RunProblem> problem = computation_->HasEdits()     ? WriteEdits(original)
                                        : target_ == Target::Clipboard ? ToClipboard(result)
                                        : target_ == Target::NewTab  ? ToNewTab(result)
                                        : inSelection_               ? WriteSelection(original, result)
                                                                     : Write(original, result);
    if (!problem) {
      RunOutcome outcome;
      outcome.keep = op_ == Operation::Keep;
      outcome.matches = computation_->Count();
      outcome.documentEmpty = computation_->ResultBytes() == 0;
      outcome.lines = wholeLines_;
      outcome.totalLines = computation_->Lines();
      outcome.target = static_cast<int32_t>(target_);
      outcome.resultBytes = computation_->ResultBytes();
      outcome.inSelection = inSelection_;
      outcome.endsInCr = computation_->MatchEndsInCr();
      outcome.distinct = computation_->Distinct();
      outcome.tally = tally_;
      outcome.jumpBack = jumpBack_;
      written_ = outcome;
    }
    return problem;
  }

  std::optional<RunOutcome> Outcome() const override { return written_; }

  std::shared_ptr<void> TakeMemory() override {
    struct Held {
      std::shared_ptr<DocumentCopy> copy;
      std::shared_ptr<Computation> computation;
    };
    return std::make_shared<Held>(Held{std::move(copy_), std::move(computation_)});
  }

 private:
  // Writes `result` over `original` (which the document holds now) and checks
  // that the editor took all of it; else the original is put back.
  std::optional<RunProblem> Write(std::string_view original, std::string_view result) {
    RunProblem problem;
    problem.documentBytes = original.size();
    problem.resultBytes = result.size();
    // The whole text goes, then the result comes. Deleting all of it frees
    // the document's buffers, whose room then holds a result no longer than it.
    if (!RoomFor(result.size(), original.size(), result.size()) ||
        !AddressRoomFor(original.size(), original.size() + result.size(),
                        result.size() > original.size() ? result.size() : 0))
      return NoRoom(std::move(problem));

    const bool wasModified = Sci(view_, SciMsg::SCI_GETMODIFY) != 0;
    WriteDocument(view_, result);
    const intptr_t status = Sci(view_, SciMsg::SCI_GETSTATUS);
    if (status == 0 && Holds(view_, result)) return std::nullopt;

    return WriteFailed(std::move(problem), status, original, wasModified);
  }

  // The computation's edits made to `original` (which the document holds now),
  // last first so that the positions of those before stay valid, as one undo
  // step: the history keeps only the bytes deleted and inserted. Checked as
  // Write is; a failure at any edit puts the original back as Write does.
  std::optional<RunProblem> WriteEdits(std::string_view original) {
    const std::vector<Computation::Edit>& edits = computation_->Edits();
    const std::string_view inserted = computation_->InsertedBytes();
    RunProblem problem;
    problem.documentBytes = original.size();
    problem.resultBytes = computation_->ResultBytes();
    if (edits.empty()) return std::nullopt;  // nothing changes
    // The longest the document gets on the way, and what the history keeps:
    // the bytes, and a record of its own for each edit.
    std::size_t deleted = 0, length = original.size(), longest = original.size();
    for (auto edit = edits.rbegin(); edit != edits.rend(); ++edit) {
      deleted += edit->to - edit->from;
      length = length - (edit->to - edit->from) + edit->size;
      longest = std::max(longest, length);
    }
    constexpr std::size_t kHistoryBytesPerEdit = 64;
    // Many small parts: the history's block doubles as it fills, so at its
    // last growth it may be copied from one of `history` bytes to twice that.
    const std::size_t history = deleted + inserted.size() + edits.size() * kHistoryBytesPerEdit;
    if (!RoomFor(longest, deleted + edits.size() * kHistoryBytesPerEdit, inserted.size()) ||
        !AddressRoomFor(history, 2 * history, longest > original.size() ? longest + longest / 6 : 0))
      return NoRoom(std::move(problem));

    const bool wasModified = Sci(view_, SciMsg::SCI_GETMODIFY) != 0;
    Sci(view_, SciMsg::SCI_BEGINUNDOACTION);
    intptr_t status = 0;
    std::size_t done = 0;
    for (auto edit = edits.rbegin(); edit != edits.rend() && status == 0; ++edit) {
      const auto from = static_cast<intptr_t>(edit->from), to = static_cast<intptr_t>(edit->to);
      if (edit->size == 0) {
        Sci(view_, SciMsg::SCI_DELETERANGE, from, to - from);
      } else {
        Sci(view_, SciMsg::SCI_SETTARGETRANGE, from, to);
        Sci(view_, SciMsg::SCI_REPLACETARGET, static_cast<intptr_t>(edit->size), Address(inserted.data() + edit->at));
      }
      // An edit that failed leaves the editor's error; asked now and then, and after the last.
      if ((++done & 63) == 0 || done == edits.size()) status = Sci(view_, SciMsg::SCI_GETSTATUS);
    }
    Sci(view_, SciMsg::SCI_ENDUNDOACTION);
    if (status == 0) status = Sci(view_, SciMsg::SCI_GETSTATUS);
    if (status == 0 && HoldsEdited(original, edits, inserted, problem.resultBytes)) return std::nullopt;
    return WriteFailed(std::move(problem), status, original, wasModified);
  }

  // The document is `original` with `edits` made, `resultBytes` in all.
  bool HoldsEdited(std::string_view original, const std::vector<Computation::Edit>& edits,
                   std::string_view inserted, std::size_t resultBytes) {
    if (Sci(view_, SciMsg::SCI_GETLENGTH) != static_cast<intptr_t>(resultBytes)) return false;
    if (resultBytes == 0) return true;
    const char* now = DocumentBytes(view_, resultBytes);
    if (now == nullptr) return false;
    std::size_t kept = 0, at = 0;
    const auto same = [&](std::string_view bytes) {
      if (bytes.size() > resultBytes - at || !win::SameBytes(now + at, bytes.data(), bytes.size())) return false;
      at += bytes.size();
      return true;
    };
    for (const Computation::Edit& edit : edits) {
      if (!same(original.substr(kept, edit.from - kept)) || !same(inserted.substr(edit.at, edit.size))) return false;
      kept = edit.to;
    }
    return same(original.substr(kept)) && at == resultBytes;
  }

  // Room in the process for a document of `documentBytes` (its text and its
  // style bytes, when it grows) and for the two copies the editor's undo
  // history takes (the text removed and the text inserted): asked before
  // anything is written, by taking and freeing blocks of those sizes. The
  // editor itself is not asked to grow (SCI_ALLOCATE): when that fails,
  // Scintilla's buffer goes on counting the room it could not get (its gap
  // grows before its block does), and the next edit of the document writes
  // past the block. Clears an older, unrelated error of the editor first.
  bool RoomFor(std::size_t documentBytes, std::size_t removedBytes, std::size_t insertedBytes) {
    Sci(view_, SciMsg::SCI_SETSTATUS, 0);
    const intptr_t length = Sci(view_, SciMsg::SCI_GETLENGTH);
    const std::size_t grown = length >= 0 && documentBytes > static_cast<std::size_t>(length) ? documentBytes + 1 : 0;
    // Called as functions: the compiler may leave out a new-expression whose
    // block is never used, and the question with it.
    const std::size_t sizes[] = {grown, grown, removedBytes + 1, insertedBytes + 1};
    void* blocks[std::size(sizes)] = {};
    bool had = true;
    for (std::size_t i = 0; i < std::size(sizes) && had; ++i)
      if (sizes[i] != 0) had = (blocks[i] = ::operator new(sizes[i], std::nothrow)) != nullptr;
    for (void* block : blocks) ::operator delete(block);
    return had;
  }

  // Room in the process's addresses for the blocks the editor allocates to
  // make a change, asked of the system in the order the editor will ask. Its
  // undo history keeps the text removed and the text inserted in one growing
  // block (Scintilla 5.4 on; before, a block each, which needs less):
  // `firstUndo` bytes for the first part of the change, then a block of twice
  // that (or of `undoTotal`, if more) while the first is still held. The
  // document's buffer, and as much again for its style bytes, grows to
  // `newBuffer` bytes (0: it does not grow). Only a 32-bit process is asked:
  // there a block of a few hundred MB can be refused with far more memory free
  // in pieces, and the editor then cannot undo what it began.
  static bool AddressRoomFor(std::size_t firstUndo, std::size_t undoTotal, std::size_t newBuffer) {
    std::vector<std::size_t> blocks;
    if (firstUndo > 0) blocks.push_back(firstUndo);
    blocks.push_back(std::max(firstUndo * 2, undoTotal));
    if (newBuffer > 0) blocks.insert(blocks.end(), {newBuffer, newBuffer});
    return ReservableInTurn(blocks).value_or(true);
  }

  static RunProblem NoRoom(RunProblem problem) {
    problem.kind = RunProblem::Kind::EditorCannotHold;
    problem.editorOutOfMemory = true;
    return problem;
  }

  // The result put in place of the selection [from_, to_), which `original`
  // holds now, as one undo step, and selected; else as Write.
  std::optional<RunProblem> WriteSelection(std::string_view original, std::string_view result) {
    const std::size_t from = std::min(from_, original.size()), to = std::min(to_, original.size());
    const std::size_t newLength = original.size() - (to - from) + result.size();
    RunProblem problem;
    problem.documentBytes = original.size();
    problem.resultBytes = result.size();
    if (!RoomFor(newLength, to - from, result.size()) ||
        !AddressRoomFor(to - from, to - from + result.size(),
                        newLength > original.size() ? newLength + newLength / 6 : 0))
      return NoRoom(std::move(problem));
    const bool wasModified = Sci(view_, SciMsg::SCI_GETMODIFY) != 0;
    Sci(view_, SciMsg::SCI_BEGINUNDOACTION);
    Sci(view_, SciMsg::SCI_SETTARGETRANGE, static_cast<intptr_t>(from), static_cast<intptr_t>(to));
    Sci(view_, SciMsg::SCI_REPLACETARGET, static_cast<intptr_t>(result.size()),
        Address(result.empty() ? "" : result.data()));
    Sci(view_, SciMsg::SCI_ENDUNDOACTION);
    const intptr_t status = Sci(view_, SciMsg::SCI_GETSTATUS);
    // Before, the result and after: the text outside the selection as it was.
    const bool sized = status == 0 && Sci(view_, SciMsg::SCI_GETLENGTH) == static_cast<intptr_t>(newLength);
    const char* now = sized && newLength != 0 ? DocumentBytes(view_, newLength) : nullptr;
    const bool held = sized && (newLength == 0 ||
                                (now != nullptr && win::SameBytes(now, original.data(), from) &&
                                 win::SameBytes(now + from, result.data(), result.size()) &&
                                 win::SameBytes(now + from + result.size(), original.data() + to, original.size() - to)));
    if (held) {
      Sci(view_, SciMsg::SCI_SETSEL, static_cast<intptr_t>(from), static_cast<intptr_t>(from + result.size()));
      return std::nullopt;
    }
    return WriteFailed(std::move(problem), status, original, wasModified);
  }

  // After a write that did not leave the result: the original put back, or,
  // since Scintilla refuses every later change to a document whose change
  // failed halfway through an allocation (undo included), kept safe in a file
  // whose name the user is told.
  RunProblem WriteFailed(RunProblem problem, intptr_t status, std::string_view original, bool wasModified) {
    problem.editorOutOfMemory = status == static_cast<intptr_t>(SciMsg::SC_STATUS_BADALLOC);
    if (Restore(view_, original, wasModified)) {
      problem.kind = RunProblem::Kind::WriteFailedRestored;
      return problem;
    }
    problem.kind = RunProblem::Kind::WriteFailedNotRestored;
    problem.recoveryFile = KeepInFile(original);
    return problem;
  }

  // The result in a new document of the host, with the source's encoding,
  // code page and line-end mode; the source is not touched.
  std::optional<RunProblem> ToNewTab(std::string_view result) {
    if (!AddressRoomFor(0, result.size(), result.size())) {  // asked before a tab is opened
      RunProblem problem = Make(RunProblem::Kind::EditorCannotHold);
      problem.resultBytes = result.size();
      problem.editorOutOfMemory = true;
      return problem;
    }
    const uint32_t codePage = computation_->Document().codePage;
    // -1: the host does not know the buffer (or the message); the code page alone then.
    const intptr_t encoding =
        sourceBuffer_ != 0
            ? Win32::SendMessage(host_, static_cast<uint32_t>(NppMsg::NPPM_GETBUFFERENCODING), sourceBuffer_, 0)
            : -1;
    Win32::SendMessage(host_, static_cast<uint32_t>(NppMsg::NPPM_MENUCOMMAND), 0,
                       static_cast<intptr_t>(NppMenuCmd::IDM_FILE_NEW));
    HWND view = PluginBase::GetCurrentScintilla();
    const intptr_t buffer = Win32::SendMessage(host_, static_cast<uint32_t>(NppMsg::NPPM_GETCURRENTBUFFERID), 0, 0);
    if (view == nullptr || Sci(view, SciMsg::SCI_GETDOCPOINTER) == document_ || buffer == sourceBuffer_ ||
        Sci(view, SciMsg::SCI_GETLENGTH) != 0 || Sci(view, SciMsg::SCI_GETREADONLY) != 0)
      return Make(RunProblem::Kind::NoNewTab);
    if (encoding >= 0 && buffer != 0)
      Win32::SendMessage(host_, static_cast<uint32_t>(NppMsg::NPPM_SETBUFFERENCODING), buffer, encoding);
    Sci(view, SciMsg::SCI_SETCODEPAGE, static_cast<intptr_t>(codePage));
    Sci(view, SciMsg::SCI_SETEOLMODE, eolMode_);
    Sci(view, SciMsg::SCI_SETSTATUS, 0);
    WriteDocument(view, result);
    const intptr_t status = Sci(view, SciMsg::SCI_GETSTATUS);
    Sci(view, SciMsg::SCI_SETSTATUS, 0);
    if (status != 0 || !Holds(view, result)) {
      RunProblem problem = Make(RunProblem::Kind::EditorCannotHold);
      problem.resultBytes = result.size();
      problem.editorOutOfMemory = status == static_cast<intptr_t>(SciMsg::SC_STATUS_BADALLOC);
      return problem;
    }
    if (computation_->SourceLines().Runs() > 0 && buffer != 0 && sourceBuffer_ != 0) {
      ResultOrigin origin;
      origin.resultBuffer = buffer;
      origin.sourceBuffer = sourceBuffer_;
      origin.result = TextState::Of(result);
      origin.source = TextState::Of(computation_->Document().bytes);
      origin.lines = computation_->SourceLines();
      RememberOrigin(std::move(origin));
      jumpBack_ = true;
    }
    return std::nullopt;
  }

  // The result as Unicode text on the clipboard; the document is not touched.
  std::optional<RunProblem> ToClipboard(std::string_view result) {
    const DocumentText& document = computation_->Document();
    std::wstring text;
    if (document.IsUtf8()) {
      text = Utf8ToWide(result);
    } else if (!result.empty()) {
      const UINT codePage = document.codePage == 0 ? GetACP() : document.codePage;
      if (result.size() > static_cast<std::size_t>(INT32_MAX)) return Make(RunProblem::Kind::ClipboardFailed);
      const int n = MultiByteToWideChar(codePage, 0, result.data(), static_cast<int>(result.size()), nullptr, 0);
      if (n <= 0) return Make(RunProblem::Kind::ClipboardFailed);
      text.resize(static_cast<std::size_t>(n));
      MultiByteToWideChar(codePage, 0, result.data(), static_cast<int>(result.size()), text.data(), n);
    }
    // Clipboard text ends at its first NUL: what follows would be lost without a word.
    if (text.find(L'\0') != std::wstring::npos) return Make(RunProblem::Kind::ClipboardNul);
    struct GlobalRelease {
      void operator()(void* memory) const noexcept { GlobalFree(memory); }
    };
    std::unique_ptr<void, GlobalRelease> memory(GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t)));
    if (!memory) return Make(RunProblem::Kind::NoMemory);
    if (void* at = GlobalLock(memory.get())) {
      std::memcpy(at, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
      GlobalUnlock(memory.get());
    } else {
      return Make(RunProblem::Kind::ClipboardFailed);
    }
    // Another program may hold the clipboard for a moment.
    bool open = false;
    for (int32_t attempt = 0; attempt < 10 && !(open = OpenClipboard(host_ != nullptr ? host_ : view_) != 0);
         ++attempt)
      Sleep(20);
    if (!open) return Make(RunProblem::Kind::ClipboardFailed);
    struct Closer {
      ~Closer() { CloseClipboard(); }
    } closer;
    if (!EmptyClipboard() || SetClipboardData(CF_UNICODETEXT, memory.get()) == nullptr)
      return Make(RunProblem::Kind::ClipboardFailed);
    memory.release();  // the clipboard owns it now
    return std::nullopt;
  }

  HWND view_;
  Operation op_;
  std::string pattern_;    // until the computation takes it
  std::string delimiter_;  // expanded; until the computation takes it
  CompileOptions engine_;  // until the computation takes it
  bool wholeLines_ = false;
  Target target_ = Target::Document;
  bool inSelection_ = false;
  HWND host_ = nullptr;
  std::size_t from_ = 0, to_ = SIZE_MAX;  // the selection searched (In selection)
  intptr_t sourceBuffer_ = 0;  // New tab: the host's buffer of the source
  intptr_t eolMode_ = 0;      // New tab: the source's line-end mode
  bool tally_ = false;        // Keep writes each distinct output's count
  bool jumpBack_ = false;     // the new tab's lines lead back to the source
  intptr_t document_ = 0;
  std::shared_ptr<DocumentCopy> copy_;
  bool takenOver_ = false;  // copy_ was the live count's
  // Handed to the worker; read here only after it came back (Commit).
  std::shared_ptr<Computation> computation_;
  std::optional<RunProblem> problem_;  // the first reason found not to write
  std::optional<RunOutcome> written_;  // once the result is in the document
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
                                       std::wstring_view delimiterField, const RunOptions& options, HWND host,
                                       std::shared_ptr<DocumentCopy> counted) {
  if (pattern.empty() || op == Operation::Count) return std::make_unique<AnswerRun>(std::nullopt);
  std::string patternUtf8, delimiterUtf8;
  if (!WideToUtf8(pattern, patternUtf8)) return std::make_unique<AnswerRun>(Make(RunProblem::Kind::BrokenPattern));
  // The delimiter and the template do not apply to whole lines (the window disables them).
  if (options.wholeLines) delimiterField = {};
  if (!WideToUtf8(delimiterField, delimiterUtf8))
    return std::make_unique<AnswerRun>(Make(RunProblem::Kind::BrokenDelimiter));
  CompileOptions engine;
  engine.matchCase = options.matchCase;
  engine.wholeLines = options.wholeLines;
  if (op == Operation::Keep && !options.wholeLines && !WideToUtf8(options.outputTemplate, engine.keepTemplate))
    return std::make_unique<AnswerRun>(Make(RunProblem::Kind::BrokenTemplate));
  // Keep's alone; Tally wins over Unique.
  if (op == Operation::Keep) {
    engine.keepMode = options.tally    ? CompileOptions::KeepMode::Tally
                      : options.unique ? CompileOptions::KeepMode::Unique
                                       : CompileOptions::KeepMode::All;
    engine.lineNumbers = options.lineNumbers;
  }
  auto run = std::make_unique<EditorRun>(view, op, std::move(patternUtf8), ExpandDelimiter(delimiterUtf8),
                                         std::move(engine), options, host);
  if (auto problem = run->Take(std::move(counted))) return std::make_unique<AnswerRun>(std::move(problem));
  return run;
}

std::unique_ptr<FilterRun> StartOnCurrentView(Operation op, std::wstring_view pattern,
                                              std::wstring_view delimiterField, const RunOptions& options,
                                              std::shared_ptr<DocumentCopy> counted) {
  if (pattern.empty()) return std::make_unique<AnswerRun>(std::nullopt);
  return StartOnView(PluginBase::GetCurrentScintilla(), op, pattern, delimiterField, options,
                     PluginBase::nppData._nppHandle, std::move(counted));
}

std::optional<std::wstring> RunOnView(HWND view, Operation op, std::wstring_view pattern,
                                      std::wstring_view delimiterField, const RunOptions& options, HWND host) {
  std::unique_ptr<FilterRun> run = StartOnView(view, op, pattern, delimiterField, options, host);
  while (!run->CopyStep()) {
  }
  if (std::shared_ptr<Computation> computation = run->TakeComputation()) {
    JobControl control;
    computation->Compute(control);
  }
  std::optional<RunProblem> problem = run->Commit();
  if (!problem) return std::nullopt;
  return Words(*problem);
}

}  // namespace siftwell::app
