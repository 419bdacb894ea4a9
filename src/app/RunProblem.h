// Why a run (Keep, Remove, the live count) wrote or showed nothing, or what
// happened to a write that failed: a kind plus the facts, carried as data
// from where it is found to the filter window, which turns it into words
// (Words, the one place that does).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/PatternFilter.h"
#include "win/CodePage.h"

namespace siftwell::app {

// The plugin is built on the engine and the Windows toolkit below it: their
// names are used unqualified here.
using namespace siftwell::engine;
using namespace siftwell::win;

struct RunProblem {
  enum class Kind {
    BrokenPattern,        // a lone surrogate in the pattern field
    BrokenDelimiter,      // ... in the delimiter field
    NoView,               // no editor view to filter
    ReadOnly,             // the document is read-only (at the start)
    DelimiterNotInCodePage,  // `characters` cannot be held by `codePage`
    BrokenTemplate,       // a lone surrogate in the output template field
    NoSelection,          // In selection, and the view has no selected text
    SelectionNotPlain,    // In selection, and the selection is rectangular or multiple
    NoNewTab,             // the host opened no new document for the result (or there is no host)
    ClipboardFailed,      // the clipboard could not be opened or given the text
    ClipboardNul,         // the result holds a NUL, which clipboard text cannot carry
    Conversion,           // `conversion` of the document (or, `ofResult`, the result) in `codePage`
    Engine,               // the engine's `engine` error (rejected pattern, limit, ...)
    NoMemory,             // the plugin had no memory for the run
    NoWorker,             // no thread could be started for the run
    Stopped,              // Cancel, or the window closed
    CountTooSlow,         // the live count used up its time; `matches` found so far
    Failed,               // an unexpected failure in the plugin
    // Found before the commit; nothing was written.
    ViewClosed,           // the editor view is gone
    OtherDocument,        // the view shows another document
    Edited,               // an insertion or deletion was reported for the document
    Reloaded,             // the document's bytes differ from the copy with no edit reported
    MadeReadOnly,         // the document became read-only during the run
    // The write.
    EditorCannotHold,     // the editor refused room for `resultBytes` (`editorOutOfMemory`): nothing written
    WriteFailedRestored,  // the write failed; the original was put back, undo history emptied
    WriteFailedNotRestored,  // the write failed, the editor refuses changes; the original is in `recoveryFile`
  };
  Kind kind = Kind::Failed;
  uint32_t codePage = 0;
  ConversionFailure conversion = ConversionFailure::None;
  bool ofResult = false;
  std::wstring characters;
  std::optional<FilterError> engine;
  uint64_t documentBytes = 0;
  uint64_t resultBytes = 0;
  bool editorOutOfMemory = false;
  std::wstring recoveryFile;  // WriteFailedNotRestored: where the original text was kept, if anywhere
  bool counting = false;      // found by the live count: the document was never to be changed
  uint64_t matches = 0;       // CountTooSlow
  uint32_t budgetMs = 0;      // CountTooSlow: the time it had
};

// What a Keep or Remove that wrote its result did.
struct RunOutcome {
  bool keep = true;        // Keep; else Remove
  uint64_t matches = 0;    // kept or removed (whole lines: lines)
  bool documentEmpty = false;  // the result is empty
  bool lines = false;      // whole lines: `matches` are lines, of `totalLines`
  uint64_t totalLines = 0;
  int32_t target = 0;      // Target: 0 the document, 1 a new tab, 2 the clipboard
  uint64_t resultBytes = 0;
  bool inSelection = false;
  bool endsInCr = false;   // Keep: matches ended in the CR of a CR LF
  std::optional<uint64_t> distinct;  // Unique or Tally: the distinct outputs kept (of `matches`)
  bool tally = false;      // ... with their counts
  bool jumpBack = false;   // a new tab whose lines lead back to the source by a double-click
};

// What the user is told.
std::wstring Words(const RunProblem& problem);
// The live count of whole lines: "no line", "1 line", "1 234 lines".
std::wstring DescribeLines(uint64_t lines);
std::wstring Words(const RunOutcome& outcome);

// What the user is told when a document (or, `ofResult`, a result) could not
// be converted between its code page (0 is the system's ANSI code page) and UTF-8.
std::wstring ConversionMessage(ConversionFailure failure, uint32_t codePage, bool ofResult);

// The engine's own words for its error.
std::wstring EngineErrorText(const FilterError& error);

}  // namespace siftwell::app
