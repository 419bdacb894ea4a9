// The user's pattern as handed to PCRE2. Portable: no platform headers.
//
// Patterns are written for the platform's regular expressions; where PCRE2
// accepts the same syntax with another meaning, the pattern is rewritten so
// that it keeps the platform's:
// - \w, \W, \b, \B (also inside brackets and POSIX [:word:]): a word character
//   is a letter (L), mark (M), decimal digit (Nd), connector punctuation (Pc)
//   or join control (U+200C, U+200D);
// - \v is U+000B only;
// - a script property (\p{Cyrillic}, \p{sc=Grek}, \P{..}) is the class of its
//   code points, with the same meaning and several times faster to search;
// - `[.` and `[=` opening a class are ordinary characters;
// - back-references by number (\N, \k<N>, (?(N)...)) count unnamed groups
//   first, left to right, then named groups in order of first appearance; a
//   name used twice is one group. Patterns that use PCRE2's own numbered forms
//   (\g, (?N) calls, (?| ) branch reset) or (?n) keep PCRE2's numbering.
// Free-spacing comments, \Q...\E and (?#...) are never rewritten.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace siftwell::engine {

struct Translation {
  std::string pattern;
  // A negated property item (\P, \D, \S, \W, \p{^..}, [:^..:], a negated class
  // with a property): PCRE2's auto-possessification then goes wrong, so the
  // pattern must be compiled without it.
  bool negatedProperty = false;
  // A group name appears more than once: compile with duplicate names allowed.
  bool duplicateNames = false;
  // Constructs the search must know of (never counted inside classes,
  // comments or \Q...\E): \G asserts where each engine call starts;
  // (*COMMIT) may end a whole search and (*SKIP) skip start positions; \A,
  // \z and \Z assert the text's ends.
  bool searchStart = false;
  bool commit = false;
  bool skip = false;
  bool textEnds = false;
  // A subroutine call: (?R), (?0), (?1), (?+1), (?-1), (?&name), (?P>name),
  // \g<..> or \g'..'.
  bool calls = false;
  // Capturing groups the translation added after all of the user's (they
  // come last, so the user's groups keep PCRE2's numbers 1..n).
  std::size_t appendedGroups = 0;
  // Where a callout placed in `pattern` runs at every start position the
  // matcher tries: after the leading start-of-pattern items, and after every
  // | outside any group.
  std::vector<std::size_t> matchStarts;

  // Where a byte of `pattern` comes from: the offset of the user's item, its
  // length, and whether the translation rewrote it (then PCRE2's words for the
  // rewritten text must not reach the user). Offsets at or past the end of
  // `pattern` give the end of the user's pattern.
  struct Source {
    std::size_t offset = 0;
    std::size_t length = 0;
    bool rewritten = false;
  };
  Source SourceOf(std::size_t offset) const;

  struct Span {
    std::size_t out = 0;  // first byte in `pattern`
    std::size_t in = 0;   // first byte in the user's pattern
    std::size_t length = 0;  // rewritten: the user's item's length
    bool rewritten = false;
  };
  std::vector<Span> spans;  // ordered by `out`
  std::size_t userLength = 0;

  // Script properties written as classes of their code points (ScriptRanges.h).
  std::size_t scriptClasses = 0;
};

Translation TranslatePattern(std::string_view pattern);

// Where a POSIX-style item opening at `at` inside a class ("[:", "[." or
// "[=") ends, read as PCRE2 reads it: the index of its closing ":]" (".]",
// "=]"), or npos when PCRE2 takes the "[" for an ordinary character because
// a "]" or another opening of the same kind comes first ("[[:]" is a class of
// two characters, whatever follows).
std::size_t PosixItemEnd(std::string_view pattern, std::size_t at);

}  // namespace siftwell::engine
