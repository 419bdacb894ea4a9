// A literal prefilter for the search: when every match of a pattern must
// contain one of a few literal strings and no match can cross a line break,
// only lines holding one of those literals can hold a match, and a plain
// memchr-speed scan finds them. The analysis reads the pattern's items as
// the translator found them and is deliberately narrow: anything it does not
// fully understand declines the prefilter (with a reason), so a line it skips
// never holds a match.
// Portable: no platform headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/PatternTranslator.h"

namespace siftwell::engine {

struct RequiredLiteral {
  std::string bytes;      // UTF-8, never empty, never holds LF
  bool caseless = false;  // ASCII letters match either case (no other folding)
};

struct LiteralPlan {
  // Every match contains one of these and lies within one line; empty when
  // the prefilter does not apply.
  std::vector<RequiredLiteral> literals;
  // Every match is a whole line (up to its LF) that holds one of the
  // literals, when that line is valid UTF-8: (?m)^.*LITERAL.*$ and the like.
  bool wholeLine = false;
  // A match is exactly one of the literals, each of them plain ASCII, so any
  // occurrence of one in a line is a match there: in whole-lines mode such a
  // line is selected without running the engine.
  bool anyOccurrence = false;
  std::string declined;  // why not, for a verbose log (empty when it applies)
  // No match can hold an LF (the analysis understood the whole pattern), with
  // or without literals: a search may then be cut at line starts.
  bool withinLine = false;
};

struct PlanOptions {
  bool caseless = false;  // the pattern is compiled caseless ((?-i) switches it off in place)
  // Each line is the pattern's whole subject: no match can reach a line end,
  // whatever the pattern says (\s, [^a], (?s).).
  bool lines = false;
};

LiteralPlan PlanLiterals(std::span<const PatternItem> items, const PlanOptions& options = {});
LiteralPlan PlanLiterals(std::string_view pattern, const PlanOptions& options = {});  // (translates it)

// Finds the literals of a plan in a text, left to right.
class LiteralFinder {
 public:
  // Which of a literal's bytes to look for is chosen from how often each
  // occurs in a sample of the text from `sample` on (a part's start).
  LiteralFinder(std::string_view text, std::vector<RequiredLiteral> literals, std::size_t sample = 0);
  // The start of the first occurrence of any literal at or after `from`
  // (never decreasing between calls), or npos.
  std::size_t Next(std::size_t from);
  // The length of the first literal, in the plan's order, that occurs at
  // `at`, or 0. For a plan whose literals are the whole pattern (an
  // alternation tries its branches in that order) it is the match there.
  std::size_t LengthAt(std::size_t at) const;

 private:
  static void Rank(std::string_view text, std::size_t from, uint32_t* counts);
  struct Scan {
    RequiredLiteral lit;
    std::size_t anchor = 0;           // index in lit.bytes searched by memchr
    std::size_t second = 0;           // the next rarest index: with `anchor`, a pair compared 16 bytes at a time
    unsigned char probe[2] = {0, 0};  // the anchor byte (and its other case)
    std::size_t probeNext[2] = {0, 0};
    std::size_t found = 0;            // cached occurrence (valid when >= its query)
    bool fresh = false;
  };
  std::size_t Find(Scan& s, std::size_t from);
  bool Verify(const Scan& s, std::size_t at) const;
  std::string_view text_;
  std::vector<Scan> scans_;
};

}  // namespace siftwell::engine
