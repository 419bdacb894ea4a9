// The two filter operations on a document's bytes: Keep and Remove.
// Portable: no platform headers. The text is UTF-8 (invalid sequences allowed
// and preserved); matching is PCRE2 with the semantics the plugin promises.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace siftwell::engine {

// Why an operation did not produce a result, as facts: the edges (the CLI,
// the filter window) put them into words. The document must stay untouched.
struct FilterError {
  enum class Kind {
    BadPattern,   // PCRE2 refused the pattern (code, offset, position)
    TooComplex,   // the pattern is valid but beyond what PCRE2 can compile (code, offset, position, item)
    Limit,        // a search hit one of the MatchLimits (code, limit, textOffset)
    MatchFailed,  // PCRE2 failed while matching for another reason (code, textOffset)
    NoMemory,
    Stopped,      // the sink asked to stop (the user's Cancel, a caller's deadline); the caller knows which
    BadTemplate,  // a $ in the Keep template names no group of the pattern (item: the reference as
                  // written, e.g. "$3", "${name}", "$x"; offset, position: where it starts in the template)
    TemplateWithLines,  // a Keep template together with whole lines (Keep then keeps lines as they stand)
  };
  enum class LimitKind { None, Match, Depth, Heap, JitStack };
  Kind kind = Kind::BadPattern;
  int32_t code = 0;            // PCRE2's error code, where PCRE2 gave one
  std::size_t offset = 0;      // BadPattern, TooComplex: byte offset in the user's pattern; BadTemplate: in the template
  std::size_t position = 0;    // the same in characters
  bool rewritten = false;      // the item there is one the engine rewrote for PCRE2 (\b, \w, ...)
  std::string item;            // that item as the user wrote it (rewritten only; may be empty); BadTemplate: the reference
  LimitKind limit = LimitKind::None;  // Limit only
  std::size_t textOffset = 0;  // Limit, MatchFailed: byte of the text where the failing search started
};

// PCRE2's own text for one of its error codes ("missing closing parenthesis").
std::string Pcre2ErrorText(int32_t code);

// What is wrong with the pattern or the template, in their own terms and with
// places counted from 1 ("missing closing parenthesis at position 2 of the
// pattern"); for a limit or a matching failure, its cause. The edges add what
// it meant for their text (written or not, a count or a run, where in the
// text). Empty for NoMemory and Stopped, which only the edges can word.
std::string PatternProblemText(const FilterError& error);

struct FilterResult {
  bool ok = false;
  std::string text;    // the new document (ok only)
  FilterError error;   // why not (!ok only)
};

// Bounds on the work of one match attempt, so that a runaway pattern gives an
// error instead of freezing the editor. PCRE2 applies the match and depth
// limits afresh at every start position, so a long text with few matches does
// not use them up; the JIT stack bounds the backtracking memory of the
// compiled matcher, the heap limit that of the interpreter (used only when JIT
// is unavailable).
//
// A single match may legitimately span a whole large document (one group
// iteration per line, say); with matchLimitFollowsText the match limit is at
// least the text's length in bytes, which bounds a runaway pattern to work
// proportional to the document before it is stopped.
struct MatchLimits {
  uint32_t matchLimit = 10'000'000;
  bool matchLimitFollowsText = true;
  uint32_t depthLimit = 10'000'000;
  uint32_t heapLimitKiB = sizeof(void*) == 4 ? 256u * 1024 : 1024u * 1024;
  std::size_t jitStackBytes = sizeof(void*) == 4 ? std::size_t{64} << 20 : std::size_t{512} << 20;
  bool jit = true;  // false: always use the interpreter
  // How far one engine call may move its start position: 0 sizes the stride
  // from the time the last one took (the default), SIZE_MAX lets one call
  // scan to the end (then nothing can stop it midway), any other value is a
  // fixed number of bytes (tests).
  std::size_t strideBytes = 0;
  // Run the engine only on lines that hold a literal every match needs (when
  // the pattern has one and no match can span lines).
  bool prefilter = true;
};

// The delimiter field's text expanded: "\n" -> CR LF, then "\t" -> TAB.
std::string ExpandDelimiter(std::string_view field);

// The engine's version as PCRE2 reports it, e.g. "10.46 2025-08-27".
std::string EngineVersion();

// Every non-empty match, each followed by the (already expanded) delimiter.
// An empty pattern leaves the text as it is.
FilterResult Keep(std::string_view text, std::string_view pattern, std::string_view delimiter);
// The text with every match deleted. An empty pattern leaves the text as it is.
FilterResult Remove(std::string_view text, std::string_view pattern);

FilterResult Keep(std::string_view text, std::string_view pattern, std::string_view delimiter,
                  const MatchLimits& limits);
FilterResult Remove(std::string_view text, std::string_view pattern, const MatchLimits& limits);

// The same, streamed: the result goes to `sink` piece by piece (views into
// `text` or `delimiter`, valid during the call), in order. Returns the error,
// if any; the sink may then have seen part of a result that must be dropped.
// For callers that keep the result in pieces rather than one block.
using Sink = std::function<void(std::string_view)>;
std::optional<FilterError> KeepTo(std::string_view text, std::string_view pattern, std::string_view delimiter,
                                  const MatchLimits& limits, const Sink& sink);
std::optional<FilterError> RemoveTo(std::string_view text, std::string_view pattern, const MatchLimits& limits,
                                    const Sink& sink);

// Where a run's result goes, and the one place where a caller can watch and
// stop it. The engine calls Begin once, Piece for each part of the result in
// order (views into the text, the delimiter or the engine's own memory, valid
// during the call: Unique, Tally and line numbers write bytes of their own), Progress
// between steps of the search with the number of text bytes searched so far
// (often: a caller that stops there is obeyed within a fraction of a second),
// and Finish once when the whole result has been given. Piece or Progress
// answering false stops the run with Kind::Stopped; the pieces given so far
// must then be dropped. Runs on the caller's thread.
class ResultSink {
 public:
  virtual ~ResultSink() = default;
  virtual void Begin(std::size_t /*textBytes*/) {}
  virtual bool Piece(std::string_view piece) = 0;
  virtual bool Progress(std::size_t /*scannedBytes*/) { return true; }
  virtual void Finish() {}
  // Keep with Unique or Tally: once the search is done, before the first
  // piece, how many outputs it found in all and how many distinct ones follow.
  virtual void Distinct(uint64_t /*outputs*/, uint64_t /*distinct*/) {}
  // Keep with Unique or Tally: true to be told, before each distinct output's
  // pieces, the 1-based line in which its first occurrence starts (SourceLine).
  virtual bool WantsSourceLines() const { return false; }
  virtual void SourceLine(uint64_t /*line*/) {}
};
std::optional<FilterError> KeepTo(std::string_view text, std::string_view pattern, std::string_view delimiter,
                                  const MatchLimits& limits, ResultSink& sink);
std::optional<FilterError> RemoveTo(std::string_view text, std::string_view pattern, const MatchLimits& limits,
                                    ResultSink& sink);

// A pattern compiled once, for any number of searches and counts on any
// threads (it is never changed after Compile; what depends on the text is
// chosen per search). Opaque.
class CompiledPattern;
using PatternPtr = std::shared_ptr<const CompiledPattern>;

// How a pattern applies. The same options give the same bytes in every
// operation and every caller (window, CLI).
struct CompileOptions {
  bool jit = true;  // false: the interpreter only
  // false: letters match either case, as (?i) at the start would; an inline
  // (?-i) or (?i) in the pattern still wins from where it stands.
  bool matchCase = true;
  // Whole lines, as grep does: the pattern is applied to each line on its own,
  // the line being its whole subject (^ $ \A \z are the line's ends, lookbehind
  // does not see the line before, no match reaches a line end). A line ends at
  // CR LF, LF or a lone CR, and its end is not part of the subject; text after
  // the last line end is a line only when it is not empty. A line is selected
  // when the pattern matches in it, an empty match included. Keep leaves the
  // selected lines, each with its own line end as it stands (no delimiter);
  // Remove deletes them with their line ends; the count counts them.
  bool wholeLines = false;
  // Keep writes each non-empty match as this template, then the delimiter. It
  // is the template field's text: "\n" gives CR LF and "\t" TAB, as in the
  // delimiter; $0 is the whole match, $1..$99 (at most two digits) and ${N}
  // the groups as PCRE2 numbers them (every capturing group, named or not,
  // left to right), ${name} a named group (of several groups of that name,
  // the first that took part), $$ a dollar sign. A group that did not take
  // part gives nothing; any other $ is refused (Kind::BadTemplate), and so is
  // a template with wholeLines (Kind::TemplateWithLines). Empty: the match itself.
  std::string keepTemplate;
  // What Keep writes of its outputs (each output being the match, the
  // template's output or, with whole lines, the line without its line end):
  // All: each in order. Unique: each distinct output once, in order of first
  // appearance. Tally: one per distinct output, its count in decimal, a TAB,
  // then the output; most frequent first, ties in order of first appearance.
  // Each is followed by the delimiter; with whole lines by the line end of its
  // first occurrence (a last line without one can only be new as the last
  // output, in either order), so Unique is Keep without its repeats and Tally
  // is `sort | uniq -c | sort -rn` in Keep's bytes. Remove and the count
  // ignore it.
  enum class KeepMode : uint8_t { All, Unique, Tally };
  KeepMode keepMode = KeepMode::All;
  // Keep puts the 1-based number of the line in which each output starts
  // (lines end at CR LF, LF or a lone CR, as above) and a colon before it, as
  // grep -n (whole lines) and grep -on (matches) do; with Unique or Tally the
  // number is that of the first occurrence, after the count. Remove and the
  // count ignore it.
  bool lineNumbers = false;
};

// The default options with the JIT allowed or not.
inline CompileOptions JitOnly(bool jit) {
  CompileOptions options;
  options.jit = jit;
  return options;
}

// The pattern compiled, or why not (kind BadPattern, TooComplex or NoMemory).
// An empty pattern compiles: it leaves every text as it is.
struct Compilation {
  PatternPtr pattern;                // set when !error
  std::optional<FilterError> error;  // why not
};
Compilation Compile(std::string_view pattern, const CompileOptions& options = {});
// Whether it was compiled from the empty pattern (which leaves every text as it is).
bool IsEmpty(const CompiledPattern& pattern);

// The operations above with a compiled pattern. `limits.jit` false makes the
// search use the interpreter even for a pattern compiled with the JIT.
FilterResult Keep(std::string_view text, const CompiledPattern& pattern, std::string_view delimiter,
                  const MatchLimits& limits);
FilterResult Remove(std::string_view text, const CompiledPattern& pattern, const MatchLimits& limits);
std::optional<FilterError> KeepTo(std::string_view text, const CompiledPattern& pattern, std::string_view delimiter,
                                  const MatchLimits& limits, ResultSink& sink);
std::optional<FilterError> RemoveTo(std::string_view text, const CompiledPattern& pattern, const MatchLimits& limits,
                                    ResultSink& sink);

// How many matches Keep would keep (non-empty ones; with whole lines, the
// selected lines), without building a result. `watch` hears Begin, Progress
// (also every 1024 matches) and Finish, never Piece; its Progress answering
// false stops the count with Kind::Stopped.
std::optional<FilterError> CountTo(std::string_view text, const CompiledPattern& pattern, const MatchLimits& limits,
                                   ResultSink& watch, uint64_t& count);

// Where the matches stand: each non-empty match Keep would keep, as the byte
// range [start, end) of `text`, left to right; with whole lines each selected
// line without its line end (empty for an empty line). `watch` hears Begin,
// Progress and Finish, never Piece; `onMatch` or Progress answering false
// stops the search with Kind::Stopped. For marking or stepping to matches in
// a view.
using MatchRange = std::function<bool(std::size_t start, std::size_t end)>;
std::optional<FilterError> MatchesTo(std::string_view text, const CompiledPattern& pattern, const MatchLimits& limits,
                                     ResultSink& watch, const MatchRange& onMatch);

// How a search for `pattern` will look for candidates: the literals of the
// line prefilter, or why there is none. For a verbose log.
std::string DescribeSearch(std::string_view pattern);
std::string DescribeSearch(const CompiledPattern& pattern);

// ---- Searching a text in parts ------------------------------------------
// A large text can be searched in parts on several threads and the parts'
// results joined in order, when the parts are cut at line starts (right
// after an LF) and the pattern allows it: no match can hold an LF (the
// literal analysis understood the whole pattern), or whole lines; nothing in
// it depends on where a search starts (\G, (*COMMIT), (*SKIP)); and Keep
// writes each output as it is found (not Unique or Tally, which see the
// whole). Then the parts' results, joined, are exactly the whole's, bytes and
// errors alike (the first part with an error has the whole's first error).
bool SearchesInParts(const CompiledPattern& pattern);

// One part: the matches (whole lines: the lines) that start in [begin, end).
// The search still sees the whole text as its subject: \A \z $ are the
// text's ends and a lookbehind or lookahead reaches past the part's ends.
struct TextPart {
  std::size_t begin = 0;
  std::size_t end = SIZE_MAX;  // (past the text: its end)
  uint64_t firstLine = 1;      // the line number at `begin` (Keep with line numbers)
  // Whether the whole text is valid UTF-8, when the caller knows it: spares
  // each part a scan of the whole text (see AsksTextValidity).
  std::optional<bool> textValid;
};

// Whether a search with this pattern checks that the text is valid UTF-8
// (then a caller searching many parts had better tell it: TextPart::textValid).
bool AsksTextValidity(const CompiledPattern& pattern, const MatchLimits& limits);

// Whether Keep's pieces are all views into the text or the delimiter (no
// template, no line numbers, not Unique or Tally), so that they stay valid
// after the call that gave them.
bool GivesViews(const CompiledPattern& pattern);

// Keep and Remove of one part to `sink` (Begin with the part's size, pieces,
// Progress in text offsets, Finish). A pattern that cannot be searched in
// parts gives Kind::MatchFailed for any part but the whole text.
std::optional<FilterError> KeepPartTo(std::string_view text, const TextPart& part, const CompiledPattern& pattern,
                                      std::string_view delimiter, const MatchLimits& limits, ResultSink& sink);
std::optional<FilterError> RemovePartTo(std::string_view text, const TextPart& part, const CompiledPattern& pattern,
                                        const MatchLimits& limits, ResultSink& sink);

}  // namespace siftwell::engine
