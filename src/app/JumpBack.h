// Jump back: a Keep of whole lines into a new tab remembers where each result
// line came from, so that a double-click on a result line brings the source
// document forward with that line selected, while both are as they were.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "win/NativeTypes.h"

namespace siftwell::app {

// Result line (0-based) to source line (1-based, as the engine numbers lines),
// kept as runs of consecutive lines: one entry per run, not per line.
class LineMap {
 public:
  // In increasing result lines; a line that continues the last run adds nothing.
  void Add(uint64_t resultLine, uint64_t sourceLine);
  // The result has this many lines in all (the last run ends there).
  void SetLines(uint64_t lines) noexcept { lines_ = lines; }
  std::optional<uint64_t> SourceOf(uint64_t resultLine) const;
  std::size_t Runs() const noexcept { return runs_.size(); }
  bool Empty() const noexcept { return runs_.empty(); }

 private:
  struct Run {
    uint64_t result, source;
  };
  std::vector<Run> runs_;
  uint64_t lines_ = 0;
};

// What a text was when it was looked at: its length and a hash of its bytes.
struct TextState {
  uint64_t length = 0;
  uint64_t hash = 0;
  static TextState Of(std::string_view bytes);
  bool operator==(const TextState&) const = default;
};

// Where a result in a new tab came from.
struct ResultOrigin {
  intptr_t resultBuffer = 0;  // the host's buffer id of the new tab
  intptr_t sourceBuffer = 0;  // ... and of the source document
  TextState result, source;
  LineMap lines;
};

// Remembers `origin` (replacing one for the same result buffer).
void RememberOrigin(ResultOrigin origin);
// Forgets the origin of a closed buffer (a result's or a source's).
void ForgetBuffer(intptr_t buffer);
// How many results are remembered (for tests).
std::size_t RememberedOrigins();

// Why a double-click on a result line did not go to its source, as data.
enum class JumpRefusal : int32_t {
  ResultEdited,   // the result tab changed since it was made
  SourceClosed,   // the source document is no longer open
  SourceChanged,  // the source document changed since (it is shown, no line selected)
  NoLine,         // the line is not one of the result's
};
std::wstring Words(JumpRefusal refusal);

// A double-click in `view` (the host's active view that reported it) on the
// host `host`: whether its document is a remembered result (else nothing is
// done), and if so why the source line was not selected, if it was not.
struct JumpAnswer {
  bool handled = false;  // the view shows a remembered result
  std::optional<JumpRefusal> refusal;
};
JumpAnswer JumpToSource(HWND host, HWND view);

}  // namespace siftwell::app
