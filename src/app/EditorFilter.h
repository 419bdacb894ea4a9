// Keep, Remove and the live count: one pipeline for all three.
//
//  1. UI thread: the run is made for a view (StartOnView) and copies the
//     document, a bounded piece per step (CopyStep; see DocumentCopy). The
//     editor's memory is read only there.
//  2. Worker thread: the Computation reads only that copy and the pattern it
//     owns, and leaves a result or a RunProblem in itself. Nothing else of the
//     run is touched off the UI thread, and the UI thread touches the
//     Computation only once the worker has handed it back.
//  3. UI thread: Commit verifies that the write is still wanted and safe (the
//     same document in the view, no edit reported, not read-only, not
//     cancelled, the bytes still those of the copy) and writes the result (as
//     edits of the ranges that change, when the worker found that cheaper:
//     EditsAreCheaper); a write that fails leaves the document byte for byte
//     as it was. The count shows its number instead.
// The plugin never changes the document's read-only state.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/DocumentSnapshot.h"
#include "app/JumpBack.h"
#include "app/RunProblem.h"
#include "engine/PatternFilter.h"
#include "win/NativeTypes.h"

namespace siftwell::win {
class JobControl;
}  // namespace siftwell::win

namespace siftwell::app {

// The plugin is built on the engine and the Windows toolkit below it: their
// names are used unqualified here.
using namespace siftwell::engine;
using namespace siftwell::win;

enum class Operation { Keep, Remove, Count };

// Where a Keep's or Remove's result goes.
enum class Target : int32_t { Document = 0, NewTab = 1, Clipboard = 2 };

// The window's choices beside the pattern and the delimiter.
struct RunOptions {
  bool wholeLines = false;  // the engine's whole lines (the delimiter and the template do not apply)
  bool matchCase = true;
  bool inSelection = false;  // only the active view's (single, stream) selection
  Target target = Target::Document;
  std::wstring outputTemplate;  // Keep only, as typed ("\n", "\t" as in the delimiter); empty: the match
  bool unique = false;          // Keep only: each distinct output once (not with tally)
  bool tally = false;           // Keep only: count, TAB, output per distinct output, most frequent first
  bool lineNumbers = false;     // with whole lines: each kept line after its number and a colon
  bool highlight = true;        // the window marks the matches around what the active view shows
};

// The worker thread's part of a run: the matching over a copy it owns.
class Computation {
 public:
  // `document` and the pattern are the computation's own; `delimiter` is expanded.
  // `options` as the engine takes them; [from, to) of the document is the
  // text searched (the whole document by default), the result replaces it.
  Computation(std::shared_ptr<const DocumentText> document, Operation op, std::string pattern,
              std::string delimiter, CompileOptions options = {}, std::size_t from = 0,
              std::size_t to = SIZE_MAX);
  virtual ~Computation() = default;
  Computation(const Computation&) = delete;
  Computation& operator=(const Computation&) = delete;

  // Once, on any thread. Ends early with Stopped when the control asks it to.
  virtual void Compute(JobControl& control);
  // Before Compute: give up after this much time (the live count), with the
  // problem CountTooSlow and the matches found so far.
  void SetTimeBudget(std::chrono::milliseconds budget) noexcept { budget_ = budget; }
  // Before Compute, for Keep with whole lines: note the document's line of
  // each result line (SourceLines), counted from the document's start.
  void MapSourceLines() noexcept { mapLines_ = true; }

  // After Compute (on the thread that gets the computation back).
  const std::optional<RunProblem>& Problem() const noexcept { return problem_; }
  std::string_view Result() const noexcept { return {result_.get(), resultSize_}; }  // Keep and Remove
  uint64_t Count() const noexcept { return count_; }  // matches (whole lines: lines) counted, kept or removed
  uint64_t Lines() const noexcept { return lines_; }   // whole lines: the lines of the text searched
  // Keep with Unique or Tally: the distinct outputs written (Count: all of them).
  std::optional<uint64_t> Distinct() const noexcept { return distinct_; }
  const LineMap& SourceLines() const noexcept { return lineMap_; }  // MapSourceLines only
  // Keep: a kept match ends in the CR of a CR LF (its line end cut in two).
  bool MatchEndsInCr() const noexcept { return endsInCr_; }
  std::string_view Searched() const noexcept;  // the part of the document searched
  const DocumentText& Document() const noexcept { return *document_; }

  // One change of a commit by edits: the document's bytes [from, to) become
  // the `size` bytes of InsertedBytes() from `at` (none: a deletion).
  struct Edit {
    std::size_t from = 0, to = 0, at = 0, size = 0;
  };
  // Before Compute, for Keep or Remove over a whole UTF-8 document: give the
  // result as the edits that turn the document into it, left to right, when
  // EditsAreCheaper finds them cheaper to write than the whole result.
  void OfferEdits() noexcept { offerEdits_ = true; }
  // After Compute: the result is given by Edits (Result() is then empty).
  bool HasEdits() const noexcept { return hasEdits_; }
  const std::vector<Edit>& Edits() const noexcept { return edits_; }
  std::string_view InsertedBytes() const noexcept { return inserted_; }
  std::size_t ResultBytes() const noexcept { return hasEdits_ ? editedBytes_ : resultSize_; }

 protected:
  Computation() = default;  // for a stand-in that computes nothing
  std::optional<RunProblem> problem_;

 private:
  void Run(JobControl& control);
  std::shared_ptr<const DocumentText> document_;
  Operation op_ = Operation::Keep;
  std::string pattern_;
  std::string delimiter_;
  CompileOptions options_;
  std::size_t from_ = 0, to_ = SIZE_MAX;
  uint64_t lines_ = 0;
  bool endsInCr_ = false;
  std::unique_ptr<char[]> result_;  // followed by a NUL
  std::size_t resultSize_ = 0;
  uint64_t count_ = 0;
  std::chrono::milliseconds budget_{0};  // 0: no limit
  std::optional<uint64_t> distinct_;
  bool mapLines_ = false;
  LineMap lineMap_;
  bool offerEdits_ = false;
  bool hasEdits_ = false;
  std::vector<Edit> edits_;
  std::string inserted_;
  std::size_t editedBytes_ = 0;  // the result's length (HasEdits)
};

// Whether the editor writes `edits` changes of `changedBytes` (deleted plus
// inserted) in less time than it replaces a document of `documentBytes` by a
// result of `resultBytes`: its work per change (notifications, line index,
// one undo record each) against its work per byte of a whole replacement (the
// old and the new text copied into the undo history), as measured in
// Notepad++ (bench/RESULTS.md, "Writing only what changes").
bool EditsAreCheaper(std::size_t edits, std::size_t changedBytes, std::size_t documentBytes,
                     std::size_t resultBytes);
// The most edits EditsAreCheaper can accept for a document of `documentBytes`.
std::size_t MostEdits(std::size_t documentBytes);

// The UI thread's part of one Keep or Remove (UI thread only).
class FilterRun {
 public:
  virtual ~FilterRun() = default;
  // One bounded step of copying the document; true once no step is left.
  virtual bool CopyStep() { return true; }
  // After the copy: the computation for the worker thread, or null when
  // there is nothing to compute (Commit then gives the answer).
  virtual std::shared_ptr<Computation> TakeComputation() { return nullptr; }
  // An insertion or deletion was reported by `view`.
  virtual void Edited(HWND /*view*/) {}
  // The user cancelled: nothing may be written from now on.
  virtual void Cancel() {}
  // While the run goes on: why its result could no longer be written, if so.
  virtual std::optional<RunProblem> Check() { return std::nullopt; }
  // Once the computation is back (or there was none): writes the result, or
  // says why not. Nullopt when the document holds the result (or nothing was
  // to be done).
  virtual std::optional<RunProblem> Commit() = 0;
  // After a Commit that wrote the result: what was done (none when nothing
  // was to be done).
  virtual std::optional<RunOutcome> Outcome() const { return std::nullopt; }
  // Once the run is over: what it holds of the document's size (its copy, its
  // result), handed over to be freed on another thread; the run keeps none of it.
  virtual std::shared_ptr<void> TakeMemory() { return nullptr; }
};

// The document of one view, exactly its SCI_GETLENGTH bytes (NULs included).
std::string GetDocumentTextBytes(HWND curScintilla);

// A run of `op` (Keep or Remove) on `view` with the window's pattern and
// delimiter field texts and its options. Never null; a run that cannot start
// (empty pattern, read-only document, a delimiter the document's code page
// cannot hold, a template naming no group, no usable selection) computes
// nothing and its Commit gives the reason (none for an empty pattern).
// `host` is the editor's main window: a result for a new tab needs it.
// `counted`, the live count's copy of a document: taken over when it is of
// `view`'s document at its length (compared with it again, not copied anew).
std::unique_ptr<FilterRun> StartOnView(HWND view, Operation op, std::wstring_view pattern,
                                       std::wstring_view delimiterField, const RunOptions& options = {},
                                       HWND host = nullptr, std::shared_ptr<DocumentCopy> counted = nullptr);
// The same on the host's active view (asked anew at each call).
std::unique_ptr<FilterRun> StartOnCurrentView(Operation op, std::wstring_view pattern,
                                              std::wstring_view delimiterField, const RunOptions& options,
                                              std::shared_ptr<DocumentCopy> counted);

// All steps on the calling thread, for tools and tests (the filter window
// never computes on the UI thread). The words for the problem, if the run
// wrote nothing.
std::optional<std::wstring> RunOnView(HWND view, Operation op, std::wstring_view pattern,
                                    std::wstring_view delimiterField, const RunOptions& options = {},
                                    HWND host = nullptr);

}  // namespace siftwell::app
