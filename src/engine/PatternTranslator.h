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
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace siftwell::engine {

// One item of the user's pattern as PCRE2 reads it, in order, groups opened
// and closed by items of their own. The translator's walk records them for
// readers of the pattern's structure (the literal prefilter), so that the
// syntax is read in one place.
struct PatternItem {
  enum class Kind : uint8_t {
    Char,     // one character (`text`: its UTF-8), written plainly, as escaped punctuation, as
              // \n \t \r \f \e \a, \v (U+000B) or \x with a valid code point other than NUL
    Quoted,   // \Q...\E (`text`: what it quotes, as written)
    Escape,   // any other backslash item (`letter`; `text`: a property's name)
    Class,    // [...] (`members`; `negated`)
    Dot,      // .
    Anchor,   // ^ or $ (`letter`)
    Open,     // a group (`group`; `text`: a scoped group's option letters)
    Close,    // )
    Bar,      // |
    Repeat,   // a quantifier (`min`, `max`), lazy or possessive (`letter` '?' or '+') or not (0)
    Brace,    // a { that is no quantifier {n}, {n,} or {n,m} (PCRE2 versions differ on the rest)
    Options,  // option letters for the rest of the group (`text`), as in (?i-s)
    Comment,  // (?#...); in free-spacing mode also white space and # comments
    Verb,     // (*...) that opens no group: verbs, and settings at the start
    Invalid,  // a byte that starts no valid UTF-8 character
    Other,    // a back-reference, call, callout or condition: read by no one yet
  };
  enum class Group : uint8_t {
    Capture,  // ( ), named or not
    NonCapture,
    Atomic,
    BranchReset,
    Scoped,  // (?i:...): `text` holds the option letters
    Lookahead,
    NegativeLookahead,
    Lookbehind,
    NegativeLookbehind,
    Other,  // (*pla:...) and the like, conditions
  };
  struct Member {  // of a class
    enum class Kind : uint8_t {
      Char,    // `cp`: a character, written plainly or as an escape
      Hyphen,  // a - that is not the first or last member
      Escape,  // any other backslash item (`letter`, `name`: a property's)
      Posix,   // [:name:], [:^name:] (`name`: all of it; also [.x.] and [=x=], which PCRE2 refuses)
      Quoted,  // \Q...\E (`name`: what it quotes)
      Invalid,
    };
    Kind kind = Kind::Char;
    uint32_t cp = 0;
    char letter = 0;
    std::string name;
  };
  Kind kind = Kind::Char;
  std::size_t offset = 0;  // in the user's pattern
  std::string text;
  char letter = 0;
  Group group = Group::Capture;
  bool negated = false;
  uint64_t min = 0, max = 0;  // max: UINT64_MAX when unbounded
  std::vector<Member> members;
};

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

  // The user's pattern item by item.
  std::vector<PatternItem> items;
};

Translation TranslatePattern(std::string_view pattern);

// Where a POSIX-style item opening at `at` inside a class ("[:", "[." or
// "[=") ends, read as PCRE2 reads it: the index of its closing ":]" (".]",
// "=]"), or npos when PCRE2 takes the "[" for an ordinary character because
// a "]" or another opening of the same kind comes first ("[[:]" is a class of
// two characters, whatever follows).
std::size_t PosixItemEnd(std::string_view pattern, std::size_t at);

}  // namespace siftwell::engine
