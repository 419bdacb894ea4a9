// The user's pattern rewritten for PCRE2 (see PatternTranslator.h).
//
// Two passes of one walker over the pattern, which knows PCRE2's lexical
// structure (escapes, \Q...\E, classes, comments, free-spacing mode, group
// openers): the first finds the groups, the names and what is used; the second
// writes the translation, now that every group's number is known.
#include "engine/PatternTranslator.h"

#include <algorithm>
#include <deque>
#include <map>
#include <utility>

#include "engine/ScriptRanges.h"
#include "text/Utf8.h"

namespace siftwell::engine {
namespace {

// The ASCII members are letters, digits and a connector already; naming them
// lets the compiled class test ASCII through a bitmap instead of property
// lookups. They stand inside, so whatever borders a translated \w in a class
// still meets a \p item, as it met the \w.
#define SIFTWELL_WORD_ITEMS "\\p{L}\\p{M}A-Za-z0-9_\\x{200C}\\x{200D}\\p{Nd}\\p{Pc}"
constexpr std::string_view kWordItems = SIFTWELL_WORD_ITEMS;
constexpr std::string_view kWord = "[" SIFTWELL_WORD_ITEMS "]";
constexpr std::string_view kNonWord = "[^" SIFTWELL_WORD_ITEMS "]";
constexpr std::string_view kBoundary =
    "(?:(?<=[" SIFTWELL_WORD_ITEMS "])(?![" SIFTWELL_WORD_ITEMS "])|"
    "(?<![" SIFTWELL_WORD_ITEMS "])(?=[" SIFTWELL_WORD_ITEMS "]))";
constexpr std::string_view kNonBoundary =
    "(?:(?<=[" SIFTWELL_WORD_ITEMS "])(?=[" SIFTWELL_WORD_ITEMS "])|"
    "(?<![" SIFTWELL_WORD_ITEMS "])(?![" SIFTWELL_WORD_ITEMS "]))";
#undef SIFTWELL_WORD_ITEMS

// Up to this many \b and \B are written out in place (fastest). Beyond, each
// becomes a call of one definition at the end of the pattern: PCRE2 allows
// only about 2,000 lookbehinds in a pattern, and the written-out form costs
// some hundred bytes per item.
constexpr std::size_t kInlineBoundaries = 64;

// A script property with up to this many ranges becomes a class of them. Even
// the longest of PCRE2 10.46 (Unknown, 730 ranges) searched faster as a class
// (0.05 s against 0.17 s over 100 MB); the bound keeps a pattern's size in
// check should a later table grow.
constexpr std::size_t kScriptClassRanges = 1024;

// The script property of a \p{..} or \P{..} at `at`, with the length of the
// item, when it may be written as a class of code-point ranges.
std::optional<ScriptProperty> ScriptAt(std::string_view in, std::size_t at, std::size_t& length) {
  if (at + 2 >= in.size() || in[at + 2] != '{') return std::nullopt;
  const std::size_t close = in.find('}', at + 3);
  if (close == std::string_view::npos || close - at > 64) return std::nullopt;
  auto property = FindScriptProperty(in.substr(at + 3, close - at - 3), in[at + 1] == 'P');
  if (!property || property->ranges > kScriptClassRanges) return std::nullopt;
  length = close + 1 - at;
  return property;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

struct Group {
  bool named = false;
  std::string name;
  int number = 0;  // PCRE2's
};

class Translator {
 public:
  explicit Translator(std::string_view in) : in_(in) {}

  Translation Run() {
    Walk(false);
    Plan();
    Walk(true);
    result_.pattern = std::move(out_);
    result_.userLength = in_.size();
    return std::move(result_);
  }

 private:
  // ---- Output --------------------------------------------------------------

  void Emit(std::string_view s, std::size_t from, std::size_t length, bool rewritten) {
    if (!emitting_ || s.empty()) return;
    auto& spans = result_.spans;
    const bool continues = !rewritten && !spans.empty() && !spans.back().rewritten &&
                           spans.back().in + (out_.size() - spans.back().out) == from;
    if (!continues) spans.push_back({out_.size(), from, length, rewritten});
    out_ += s;
  }
  void Rewrite(std::string_view s, std::size_t from, std::size_t length) { Emit(s, from, length, true); }
  void CopyRaw(std::size_t n) {
    n = std::min(n, in_.size() - i_);
    Emit(in_.substr(i_, n), i_, n, false);
    i_ += n;
  }
  // Copies up to and including the next `c` (or to the end).
  void CopyThrough(char c, std::size_t from) {
    const std::size_t end = in_.find(c, from);
    CopyRaw(end == std::string_view::npos ? in_.size() - i_ : end + 1 - i_);
  }

  // ---- The walk ------------------------------------------------------------

  struct Flags {
    bool extended = false;   // (?x): whitespace and # comments are not pattern text
    bool noCapture = false;  // (?n): plain ( ) does not capture
  };

  void Walk(bool emitting) {
    emitting_ = emitting;
    i_ = 0;
    flags_ = {};
    scopes_.clear();
    out_.clear();
    bool appended = false;
    leading_ = true;
    while (i_ < in_.size()) {
      const char c = in_[i_];
      if (leading_ && !LeadingItem()) {
        leading_ = false;
        if (emitting_) result_.matchStarts.push_back(out_.size());
      }
      if (c == '\\' && i_ + 1 == in_.size()) {
        // A lone backslash at the end stays the end, for PCRE2 to report.
        if (emitting_) AppendDefinitions();
        appended = true;
        Note(Kind::Escape);
        CopyRaw(1);
      } else if (c == '\\') Escape();
      else if (c == '[') Class();
      else if (c == '(') Open();
      else if (c == ')') Close();
      else if (c == '#' && flags_.extended) {
        Note(Kind::Comment);
        CopyThrough('\n', i_);
      } else if (c == '|') {
        Note(Kind::Bar);
        CopyRaw(1);
        if (emitting_ && scopes_.empty()) result_.matchStarts.push_back(out_.size());
      } else Plain();
    }
    if (emitting_ && leading_) result_.matchStarts.push_back(out_.size());
    if (emitting_ && !appended) AppendDefinitions();
  }

  // ---- Items (recorded by the first pass) ----------------------------------

  using Kind = PatternItem::Kind;
  PatternItem* Note(Kind kind, std::string text = {}, char letter = 0) {
    if (emitting_) return &scratch_;
    PatternItem& item = result_.items.emplace_back();
    item.kind = kind;
    item.offset = i_;
    item.text = std::move(text);
    item.letter = letter;
    return &item;
  }
  void NoteOpen(PatternItem::Group group, std::string letters = {}) {
    Note(Kind::Open, std::move(letters))->group = group;
  }
  static std::string Utf8Of(uint32_t cp) {
    std::string s;
    utf8::Append(s, cp);
    return s;
  }
  static int HexValue(char h) {
    if (h >= '0' && h <= '9') return h - '0';
    if ((h | 0x20) >= 'a' && (h | 0x20) <= 'f') return (h | 0x20) - 'a' + 10;
    return -1;
  }
  // The length of a \x item at `at` and its code point (0 when there is none
  // to take as a character: no digits, NUL, a surrogate, beyond Unicode).
  std::size_t HexItem(std::size_t at, uint32_t& cp) const {
    std::size_t j = at + 2;
    uint32_t v = 0;
    int digits = 0;
    cp = 0;
    if (j < in_.size() && in_[j] == '{') {
      std::size_t k = j + 1;
      while (k < in_.size() && HexValue(in_[k]) >= 0 && digits < 6) v = v * 16 + static_cast<uint32_t>(HexValue(in_[k++])), ++digits;
      if (digits == 0 || k >= in_.size() || in_[k] != '}') return 2;  // PCRE2's to report
      j = k + 1;
    } else {
      while (j < in_.size() && HexValue(in_[j]) >= 0 && digits < 2) v = v * 16 + static_cast<uint32_t>(HexValue(in_[j++])), ++digits;
      if (digits == 0) return 2;
    }
    if (v != 0 && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) cp = v;
    return j - at;
  }
  // The length of an item's argument in braces (or other brackets) opening at
  // `at`, when it closes before anything that could be the pattern's structure.
  std::size_t ArgumentLength(std::size_t at, char open, char close) const {
    if (at >= in_.size() || in_[at] != open) return 0;
    for (std::size_t k = at + 1; k < in_.size() && k - at <= 64; ++k) {
      if (in_[k] == close) return k + 1 - at;
      if (std::string_view("\\()[]|").find(in_[k]) != std::string_view::npos) return 0;
    }
    return 0;
  }
  // \p{Name}, \pL (the same for \P): the item's length, its name.
  std::size_t PropertyItem(std::size_t at, std::string& name) const {
    if (const std::size_t n = ArgumentLength(at + 2, '{', '}')) {
      name = std::string(in_.substr(at + 3, n - 2));
      return 2 + n;
    }
    if (at + 2 < in_.size() && IsAlpha(in_[at + 2])) {
      name = std::string(1, in_[at + 2]);
      return 3;
    }
    return 2;
  }

  // Anything outside classes, groups and escapes: a character, a quantifier,
  // an anchor, the dot, or (free spacing) white space.
  void Plain() {
    const char c = in_[i_];
    const auto u = static_cast<unsigned char>(c);
    if (flags_.extended && (c == ' ' || (c >= '\t' && c <= '\r'))) {
      Note(Kind::Comment);
      return CopyRaw(1);
    }
    switch (c) {
      case '.': Note(Kind::Dot); return CopyRaw(1);
      case '^': case '$': Note(Kind::Anchor, {}, c); return CopyRaw(1);
      case '*': case '+': case '?': return Repeat(c == '+' ? 1 : 0, c == '?' ? 1 : UINT64_MAX, 1);
      case '{': {
        // {n}, {n,} and {n,m}; PCRE2 versions differ on the other forms.
        std::size_t j = i_ + 1;
        uint64_t min = 0, max = 0;
        const std::size_t from = j;
        while (j < in_.size() && IsDigit(in_[j])) min = std::min<uint64_t>(min * 10 + static_cast<uint64_t>(in_[j++] - '0'), 1u << 30);
        bool ok = j > from;
        max = min;
        if (ok && j < in_.size() && in_[j] == ',') {
          const std::size_t to = ++j;
          max = 0;
          while (j < in_.size() && IsDigit(in_[j])) max = std::min<uint64_t>(max * 10 + static_cast<uint64_t>(in_[j++] - '0'), 1u << 30);
          if (j == to) max = UINT64_MAX;
        }
        if (ok && j < in_.size() && in_[j] == '}') return Repeat(min, max, j + 1 - i_);
        Note(Kind::Brace);
        return CopyRaw(1);
      }
      default: break;
    }
    if (u < 0x80) {
      Note(Kind::Char, std::string(1, c));
      return CopyRaw(1);
    }
    const std::size_t n = utf8::ValidLength(reinterpret_cast<const unsigned char*>(in_.data()) + i_, in_.size() - i_);
    if (n == 0) {
      Note(Kind::Invalid);
      return CopyRaw(1);
    }
    // (Free spacing also passes over NEL, the directional marks and the
    // line and paragraph separators.)
    const std::string_view ch = in_.substr(i_, n);
    const bool space = flags_.extended && (ch == "\xC2\x85" || ch == "\xE2\x80\x8E" || ch == "\xE2\x80\x8F" ||
                                           ch == "\xE2\x80\xA8" || ch == "\xE2\x80\xA9");
    Note(space ? Kind::Comment : Kind::Char, std::string(ch));
    CopyRaw(n);
  }

  // A quantifier of `length` bytes at i_, with a lazy or possessive suffix.
  void Repeat(uint64_t min, uint64_t max, std::size_t length) {
    char suffix = 0;
    if (i_ + length < in_.size() && (in_[i_ + length] == '?' || in_[i_ + length] == '+')) suffix = in_[i_ + length];
    PatternItem* item = Note(Kind::Repeat, {}, suffix);
    item->min = min;
    item->max = max;
    CopyRaw(length + (suffix ? 1 : 0));
  }

  // Whether a start-of-pattern item begins at i_: (*UTF), (*LIMIT_MATCH=9)
  // and the like, uppercase letters, digits and _ with an optional =number.
  bool LeadingItem() const {
    if (!in_.substr(i_).starts_with("(*")) return false;
    std::size_t j = i_ + 2;
    while (j < in_.size() && ((in_[j] >= 'A' && in_[j] <= 'Z') || IsDigit(in_[j]) || in_[j] == '_')) ++j;
    if (j == i_ + 2) return false;
    if (j < in_.size() && in_[j] == '=')
      for (++j; j < in_.size() && IsDigit(in_[j]);) ++j;
    return j < in_.size() && in_[j] == ')';
  }

  void Escape() {
    const std::size_t at = i_;
    const char e = in_[i_ + 1];
    switch (e) {
      case 'w': Note(Kind::Escape, {}, e); Rewrite(kWord, at, 2); i_ += 2; return;
      case 'W': Note(Kind::Escape, {}, e); Rewrite(kNonWord, at, 2); i_ += 2; result_.negatedProperty = true; return;
      case 'b':
      case 'B':
        Note(Kind::Escape, {}, e);
        if (!emitting_) ++boundaries_;
        if (boundaryCall_) Rewrite(e == 'b' ? boundaryCallText_ : nonBoundaryCallText_, at, 2);
        else Rewrite(e == 'b' ? kBoundary : kNonBoundary, at, 2);
        i_ += 2;
        return;
      case 'v': Note(Kind::Char, "\x0B"); Rewrite("\\x{B}", at, 2); i_ += 2; return;
      case 'D': case 'S': Note(Kind::Escape, {}, e); result_.negatedProperty = true; return CopyRaw(2);
      case 'P': result_.negatedProperty = true; ScriptOrRaw(); return;
      case 'p':
        if (in_.substr(i_ + 2).starts_with("{^")) result_.negatedProperty = true;
        ScriptOrRaw();
        return;
      case 'Q': {
        const std::size_t n = QuotedLength(i_);
        const bool closed = in_.substr(i_ + n - std::min<std::size_t>(n, 2), 2) == "\\E" && n >= 4;
        Note(Kind::Quoted, std::string(in_.substr(i_ + 2, n - 2 - (closed ? 2 : 0))));
        return CopyRaw(n);
      }
      case 'c': Note(Kind::Escape, {}, e); CopyRaw(3); return;
      case 'k': Note(Kind::Other, {}, e); BackReferenceByName(); return;
      case 'g': {
        Note(Kind::Other, {}, e);
        // \g with a number (absolute or relative) is PCRE2's own numbering.
        std::size_t j = i_ + 2;
        if (j < in_.size() && (in_[j] == '<' || in_[j] == '\'')) result_.calls = true;  // \g<1>: a call
        if (j < in_.size() && (in_[j] == '{' || in_[j] == '<' || in_[j] == '\'')) ++j;
        if (j < in_.size() && (IsDigit(in_[j]) || in_[j] == '-' || in_[j] == '+')) ownNumbering_ = true;
        std::size_t n = 0;
        for (const auto& [open, close] : {std::pair('{', '}'), std::pair('<', '>'), std::pair('\'', '\'')})
          if (!n) n = ArgumentLength(i_ + 2, open, close);
        if (!n) {
          std::size_t k = i_ + 2;
          if (k < in_.size() && (in_[k] == '-' || in_[k] == '+')) ++k;
          while (k < in_.size() && IsDigit(in_[k])) ++k;
          n = k - (i_ + 2);
        }
        CopyRaw(2 + n);
        return;
      }
      case 'G': Note(Kind::Escape, {}, e); result_.searchStart = true; CopyRaw(2); return;
      case 'A': case 'z': case 'Z': Note(Kind::Escape, {}, e); result_.textEnds = true; CopyRaw(2); return;
      default:
        if (e >= '1' && e <= '9') {
          Note(Kind::Other, {}, e);
          return BackReferenceByNumber();
        }
        return OtherEscape();
    }
  }

  // An escape the translation copies as it stands.
  void OtherEscape() {
    const char e = in_[i_ + 1];
    static constexpr std::string_view kControls = "n\nt\tr\rf\fe\x1B" "a\a";
    if (const std::size_t c = kControls.find(e); c != std::string_view::npos && c % 2 == 0) {
      Note(Kind::Char, std::string(1, kControls[c + 1]));
      return CopyRaw(2);
    }
    std::size_t n = 2;
    if (e == 'x') {
      uint32_t cp = 0;
      n = HexItem(i_, cp);
      if (cp) Note(Kind::Char, Utf8Of(cp));
      else Note(Kind::Escape, {}, e);
    } else if (e == '0') {  // \0 and up to two more octal digits
      while (n < 4 && i_ + n < in_.size() && in_[i_ + n] >= '0' && in_[i_ + n] <= '7') ++n;
      Note(Kind::Escape, {}, e);
    } else if (e == 'o' || e == 'N') {  // \o{...}, \N{U+...}; \N alone is any character but a newline
      const std::size_t arg = ArgumentLength(i_ + 2, '{', '}');
      Note(Kind::Escape, arg ? std::string(in_.substr(i_ + 2, arg)) : std::string(), e);
      n += arg;
    } else if (static_cast<unsigned char>(e) < 0x80 && !IsDigit(e) && !IsAlpha(e) && e != '\n') {
      Note(Kind::Char, std::string(1, e));  // escaped punctuation: itself
    } else {
      Note(Kind::Escape, {}, e);
    }
    CopyRaw(n);
  }

  // \p{Script} and \P{Script} as a class of the script's code points; the
  // property ignores (?i), so a class that caseless matching would widen is
  // kept out of it. Any other item is copied.
  void ScriptOrRaw() {
    std::string name;
    const std::size_t item = PropertyItem(i_, name);
    Note(Kind::Escape, std::move(name), in_[i_ + 1]);
    std::size_t length = 0;
    const auto script = ScriptAt(in_, i_, length);
    if (!script) return CopyRaw(item);
    const std::string items = ScriptClassItems(*script);
    const std::string cls = (script->negated ? "[^" : "[") + items + "]";
    Rewrite(script->caseClosed ? cls : "(?-i:" + cls + ")", i_, length);
    if (emitting_) ++result_.scriptClasses;
    i_ += length;
  }

  std::size_t QuotedLength(std::size_t from) const {
    const std::size_t end = in_.find("\\E", from + 2);
    return end == std::string_view::npos ? in_.size() - from : end + 2 - from;
  }

  // \N outside a class: a back-reference in both engines when the group
  // exists (one digit always; more digits when that many groups exist,
  // else an octal escape, left alone).
  void BackReferenceByNumber() {
    const std::size_t at = i_;
    std::size_t j = i_ + 1;
    while (j < in_.size() && IsDigit(in_[j])) ++j;
    const std::string_view digits = in_.substr(at + 1, j - at - 1);
    const int n = digits.size() > 5 ? 0 : std::stoi(std::string(digits));
    if (n >= 1 && static_cast<std::size_t>(n) < platformGroups_.size() && !SameNumber(n)) {
      Rewrite(Reference(n, /*condition=*/false), at, j - at);
      i_ = j;
      return;
    }
    CopyRaw(j - at);
  }

  // \k<name>, \k'name', \k{name}; a number in name syntax is a reference by
  // number.
  void BackReferenceByName() {
    const std::size_t at = i_;
    if (i_ + 2 >= in_.size()) return CopyRaw(2);
    const char open = in_[i_ + 2];
    const char close = open == '<' ? '>' : open == '\'' ? '\'' : open == '{' ? '}' : 0;
    const std::size_t end = close ? in_.find(close, i_ + 3) : std::string_view::npos;
    if (end == std::string_view::npos || open == '{') return CopyRaw(2);
    const std::string_view name = in_.substr(i_ + 3, end - i_ - 3);
    if (name.empty() || name.size() > 5 || !std::all_of(name.begin(), name.end(), IsDigit)) return CopyRaw(2);
    const int n = std::stoi(std::string(name));
    const bool known = n >= 1 && static_cast<std::size_t>(n) < platformGroups_.size();
    Rewrite(known ? Reference(n, false) : "\\g{" + std::string(name) + "}", at, end + 1 - at);
    i_ = end + 1;
  }

  // Whether the platform's group n is PCRE2's group n (and only that).
  bool SameNumber(int n) const {
    const auto& numbers = platformGroups_[static_cast<std::size_t>(n)].numbers;
    return numbers.size() == 1 && numbers[0] == n;
  }

  // The PCRE2 spelling of a reference to the platform's group n.
  std::string Reference(int n, bool condition) const {
    const auto& target = platformGroups_[static_cast<std::size_t>(n)];
    if (target.numbers.size() == 1) {
      const std::string m = std::to_string(target.numbers[0]);
      return condition ? m : "\\g{" + m + "}";
    }
    return condition ? "<" + target.name + ">" : "\\k<" + target.name + ">";
  }

  void Open() {
    const std::size_t at = i_;
    const std::string_view rest = in_.substr(i_);
    using G = PatternItem::Group;
    if (rest.starts_with("(?#")) {
      Note(Kind::Comment);
      return CopyThrough(')', i_);
    }
    if (rest.starts_with("(*")) {
      // (*pla:...) and the like open a group; (*VERB) and (*VERB:arg) do not.
      std::size_t j = i_ + 2;
      while (j < in_.size() && (IsAlpha(in_[j]) || in_[j] == '_')) ++j;
      if (j > i_ + 2 && j < in_.size() && in_[j] == ':' && in_[i_ + 2] >= 'a' && in_[i_ + 2] <= 'z') {
        NoteOpen(G::Other);
        Push();
        return CopyRaw(j + 1 - at);
      }
      const std::string_view verb = in_.substr(i_ + 2, j - i_ - 2);
      Note(Kind::Verb, std::string(verb));
      if (verb == "COMMIT") result_.commit = true;
      if (verb == "SKIP") result_.skip = true;
      return CopyThrough(')', i_);
    }
    if (!rest.starts_with("(?")) {  // a plain group
      NoteOpen(flags_.noCapture ? G::NonCapture : G::Capture);
      Push();
      if (!flags_.noCapture) CountGroup(false, {});
      return CopyRaw(1);
    }
    if (rest.size() < 3) {
      Note(Kind::Other);
      return CopyRaw(rest.size());
    }
    const char k = rest[2];
    switch (k) {
      case ':': case '=': case '!': case '>': case '*':
        NoteOpen(k == ':' ? G::NonCapture : k == '=' ? G::Lookahead : k == '!' ? G::NegativeLookahead
                 : k == '>' ? G::Atomic : G::Other);
        Push();
        return CopyRaw(3);
      case '|':
        NoteOpen(G::BranchReset);
        branchReset_ = true;
        Push();
        return CopyRaw(3);
      case '<':
        if (rest.size() > 3 && (rest[3] == '=' || rest[3] == '!' || rest[3] == '*')) {
          NoteOpen(rest[3] == '=' ? G::Lookbehind : rest[3] == '!' ? G::NegativeLookbehind : G::Other);
          Push();
          return CopyRaw(4);
        }
        return NamedGroup(3, '>');
      case '\'':
        return NamedGroup(3, '\'');
      case 'P':
        if (rest.size() > 3 && rest[3] == '<') return NamedGroup(4, '>');
        if (rest.size() > 3 && rest[3] == '>') result_.calls = true;
        Note(Kind::Other);
        return CopyThrough(')', i_);  // (?P=name) (?P>name)
      case '&':
        result_.calls = true;
        Note(Kind::Other);
        return CopyThrough(')', i_);
      case 'C':
        Note(Kind::Other);
        return Callout();
      case '(':
        NoteOpen(G::Other);
        return Conditional();
      case 'R':
        result_.calls = true;
        Note(Kind::Other);
        return CopyThrough(')', i_);
      default:
        break;
    }
    if (IsDigit(k) || ((k == '+' || k == '-') && rest.size() > 3 && IsDigit(rest[3]))) {
      ownNumbering_ = true;  // (?1), (?+1), (?-1): calls by PCRE2's number
      result_.calls = true;
      Note(Kind::Other);
      return CopyThrough(')', i_);
    }
    Options();
  }

  void NamedGroup(std::size_t nameStart, char close) {
    const std::size_t end = in_.find(close, i_ + nameStart);
    NoteOpen(PatternItem::Group::Capture);
    Push();
    if (end == std::string_view::npos) return CopyRaw(nameStart);
    CountGroup(true, in_.substr(i_ + nameStart, end - i_ - nameStart));
    CopyRaw(end + 1 - i_);
  }

  void Callout() {
    // (?C), (?Cn), (?C"text") with `"text"` in one of PCRE2's delimiters.
    std::size_t j = i_ + 3;
    static constexpr std::string_view kDelimiters = "`'\"^%#${";
    if (j < in_.size() && kDelimiters.find(in_[j]) != std::string_view::npos) {
      const char close = in_[j] == '{' ? '}' : in_[j];
      for (++j; j < in_.size(); ++j) {
        if (in_[j] != close) continue;
        if (j + 1 < in_.size() && in_[j + 1] == close) { ++j; continue; }
        break;
      }
    }
    CopyThrough(')', std::min(j, in_.size()));
  }

  // (?(cond)yes|no): a number is the platform's group number; an assertion
  // condition is a group of its own, walked as such.
  void Conditional() {
    const std::size_t at = i_;
    Push();
    if (at + 3 < in_.size() && (in_[at + 3] == '?' || in_[at + 3] == '*')) return CopyRaw(2);
    const std::size_t end = in_.find(')', at + 3);
    if (end == std::string_view::npos) return CopyRaw(3);
    const std::string_view cond = in_.substr(at + 3, end - at - 3);
    if (!cond.empty() && (cond[0] == '+' || cond[0] == '-' || (cond[0] == 'R' && cond.size() > 1 && IsDigit(cond[1]))))
      ownNumbering_ = true;
    if (!cond.empty() && cond.size() <= 5 && std::all_of(cond.begin(), cond.end(), IsDigit)) {
      const int n = std::stoi(std::string(cond));
      if (n >= 1 && static_cast<std::size_t>(n) < platformGroups_.size() && !SameNumber(n)) {
        Rewrite("(?(" + Reference(n, /*condition=*/true) + ")", at, end + 1 - at);
        i_ = end + 1;
        return;
      }
    }
    CopyRaw(end + 1 - at);
  }

  // (?imnsxU-imnsx) for the rest of the group, (?...:...) for a group; (?^) resets.
  void Options() {
    std::size_t j = i_ + 2;
    Flags f = flags_;
    bool on = true;
    for (; j < in_.size() && (IsAlpha(in_[j]) || in_[j] == '-' || in_[j] == '^'); ++j) {
      const char c = in_[j];
      if (c == '-') on = false;
      else if (c == '^') f = {};
      else if (c == 'x') f.extended = on;
      else if (c == 'n') { f.noCapture = on; noCaptureSeen_ = true; }
    }
    const std::string letters(in_.substr(i_ + 2, j - i_ - 2));
    if (j < in_.size() && in_[j] == ':') {
      NoteOpen(PatternItem::Group::Scoped, letters);
      Push();
      flags_ = f;
    } else if (j < in_.size() && in_[j] == ')') {
      Note(Kind::Options, letters);
      flags_ = f;
    } else {
      Note(Kind::Other);
      return CopyRaw(j - i_);  // not an option setting: PCRE2 says what it is
    }
    CopyRaw(j + 1 - i_);
  }

  void Push() { scopes_.push_back(flags_); }
  void Close() {
    Note(Kind::Close);
    if (!scopes_.empty()) {
      flags_ = scopes_.back();
      scopes_.pop_back();
    }
    CopyRaw(1);
  }

  void CountGroup(bool named, std::string_view name) {
    if (emitting_) return;
    groups_.push_back({named, std::string(name), ++pcreGroups_});
  }

  // A bracket class starting at i_. Items are collected with their origins;
  // \w becomes the properties; \W (which cannot be a union member of a class
  // in PCRE2's syntax without changing its meaning) is taken out and the class
  // rewritten as an alternation or a guarded single character.
  void Class() {
    struct Piece {
      std::string_view text;
      std::size_t from, length;
      bool rewritten;
    };
    const std::size_t start = i_;
    std::size_t j = i_ + 1;
    bool negated = false;
    if (j < in_.size() && in_[j] == '^') { negated = true; ++j; }
    std::vector<Piece> items;
    std::deque<std::string> owned;  // rewritten items' text
    auto raw = [&](std::size_t n) {
      items.push_back({in_.substr(j, n), j, n, false});
      j += n;
    };
    using M = PatternItem::Member;
    std::vector<M> members;
    auto member = [&](M::Kind kind, uint32_t cp = 0, char letter = 0, std::string name = {}) {
      if (!emitting_) members.push_back({kind, cp, letter, std::move(name)});
    };
    bool nonWord = false;
    bool property = false;
    bool negatedItem = false;
    bool first = true;
    while (true) {
      if (j >= in_.size()) {  // unterminated: the rest is PCRE2's to report, untouched
        Note(Kind::Other);
        CopyRaw(in_.size() - i_);
        return;
      }
      const char c = in_[j];
      if (c == ']' && !first) break;
      if (first && j == start + 1 && (c == '.' || c == '=')) {
        // `[.` and `[=` would open a POSIX collating element, which PCRE2
        // refuses; the platform reads an ordinary character.
        items.push_back({c == '.' ? "\\." : "\\=", j, 1, true});
        member(M::Kind::Char, static_cast<unsigned char>(c));
        ++j;
        first = false;
        continue;
      }
      const bool hyphen = c == '-' && !first && j + 1 < in_.size() && in_[j + 1] != ']';
      first = false;
      if (c == '\\' && j + 1 < in_.size()) {
        const char e = in_[j + 1];
        if (e == 'w') { member(M::Kind::Escape, 0, e); items.push_back({kWordItems, j, 2, true}); j += 2; property = true; continue; }
        if (e == 'W') { member(M::Kind::Escape, 0, e); nonWord = true; j += 2; continue; }
        if (e == 'v') { member(M::Kind::Char, 0x0B); items.push_back({"\\x{B}", j, 2, true}); j += 2; continue; }
        std::string propertyName;
        const std::size_t propertyLength = (e == 'p' || e == 'P') ? PropertyItem(j, propertyName) : 0;
        if (propertyLength) member(M::Kind::Escape, 0, e, propertyName);
        std::size_t scriptLength = 0;
        const auto script = (e == 'p' || e == 'P') ? ScriptAt(in_, j, scriptLength) : std::nullopt;
        if (script && script->caseClosed && !script->negated && in_[j - 1] != '-' &&
            j + scriptLength < in_.size() && in_[j + scriptLength] != '-') {
          // Inside a class only a script that (?i) leaves as it is (its items
          // cannot be kept out of the class's caseless matching), and not
          // negated (see ScriptClassItems).
          owned.push_back(ScriptClassItems(*script));
          items.push_back({owned.back(), j, scriptLength, true});
          if (emitting_) ++result_.scriptClasses;
          if (in_.substr(j + 2).starts_with("{^")) negatedItem = true;
          property = true;
          j += scriptLength;
          continue;
        }
        if (e == 'p' || e == 'd' || e == 's') property = true;
        if (e == 'P' || e == 'D' || e == 'S') negatedItem = true;
        if (e == 'p' && in_.substr(j + 2).starts_with("{^")) negatedItem = true;
        if (propertyLength) {
          raw(propertyLength);
        } else if (e == 'Q') {
          const std::size_t n = QuotedLength(j);
          member(M::Kind::Quoted, 0, e, std::string(in_.substr(j + 2, n - 2)));
          raw(n);
        } else if (e == 'x') {
          uint32_t cp = 0;
          const std::size_t n = HexItem(j, cp);
          if (cp) member(M::Kind::Char, cp);
          else member(M::Kind::Escape, 0, e);
          raw(n);
        } else if (static_cast<unsigned char>(e) < 0x80 && !IsDigit(e) && !IsAlpha(e) && e != '\n') {
          member(M::Kind::Char, static_cast<unsigned char>(e));  // escaped punctuation: itself
          raw(2);
        } else {
          static constexpr std::string_view kControls = "t\tr\rf\fe\x1B" "a\a";
          const std::size_t k = kControls.find(e);
          if (k != std::string_view::npos && k % 2 == 0) member(M::Kind::Char, static_cast<unsigned char>(kControls[k + 1]));
          else member(M::Kind::Escape, 0, e);
          raw(e == 'c' && j + 2 < in_.size() ? 3 : 2);
        }
        continue;
      }
      if (c == '[' && j + 1 < in_.size() && (in_[j + 1] == ':' || in_[j + 1] == '.' || in_[j + 1] == '=')) {
        const std::size_t end = PosixItemEnd(in_, j);
        if (end != std::string_view::npos) {
          const std::string_view name = in_.substr(j, end + 2 - j);
          member(M::Kind::Posix, 0, 0, std::string(name));
          if (name == "[:word:]") {
            items.push_back({kWordItems, j, name.size(), true});
            property = true;
          } else if (name == "[:^word:]") {
            nonWord = true;
          } else {
            items.push_back({name, j, name.size(), false});
            property = true;
            if (name.starts_with("[:^")) negatedItem = true;
          }
          j = end + 2;
          continue;
        }
      }
      if (hyphen) {
        member(M::Kind::Hyphen);
        raw(1);
        continue;
      }
      const std::size_t n = utf8::ValidLength(reinterpret_cast<const unsigned char*>(in_.data()) + j, in_.size() - j);
      if (n == 0) {
        member(M::Kind::Invalid);
        raw(1);
      } else {
        char32_t cp = 0;
        utf8::Decode(reinterpret_cast<const unsigned char*>(in_.data()) + j, in_.size() - j, cp);
        member(M::Kind::Char, static_cast<uint32_t>(cp));
        raw(n);
      }
    }
    const std::size_t close = j;  // the closing ]
    if (PatternItem* item = Note(Kind::Class); !emitting_) {
      item->offset = start;
      item->negated = negated;
      item->members = std::move(members);
    }
    i_ = close + 1;
    if (nonWord || negatedItem || (negated && property)) result_.negatedProperty = true;
    auto emitItems = [&](bool guardCaret) {
      if (guardCaret && !items.empty() && items[0].text.starts_with("^")) Rewrite("\\", start, 1);
      for (const Piece& p : items) Emit(p.text, p.from, p.length, p.rewritten);
    };
    if (!nonWord) {
      Emit(in_.substr(start, negated ? 2 : 1), start, negated ? 2 : 1, false);
      emitItems(false);
      Emit("]", close, 1, false);
    } else if (items.empty()) {
      Rewrite(negated ? kWord : kNonWord, start, close + 1 - start);
    } else if (!negated) {  // items or a non-word character
      Rewrite("(?:[", start, close + 1 - start);
      emitItems(true);
      Rewrite("]|", start, close + 1 - start);
      Rewrite(kNonWord, start, close + 1 - start);
      Rewrite(")", start, close + 1 - start);
    } else {  // a word character that is none of the items
      Rewrite("(?:(?![", start, close + 1 - start);
      emitItems(true);
      Rewrite("])", start, close + 1 - start);
      Rewrite(kWord, start, close + 1 - start);
      Rewrite(")", start, close + 1 - start);
    }
  }

  // ---- Between the passes --------------------------------------------------

  struct PlatformGroup {
    std::vector<int> numbers;  // PCRE2's numbers of the group (several: one name used twice)
    std::string name;
  };

  void Plan() {
    std::map<std::string, std::size_t> nameIndex;
    std::vector<PlatformGroup> named;
    std::vector<PlatformGroup> unnamed;
    for (const Group& g : groups_) {
      if (!g.named) {
        unnamed.push_back({{g.number}, {}});
        continue;
      }
      auto [it, fresh] = nameIndex.emplace(g.name, named.size());
      if (fresh) named.push_back({{g.number}, g.name});
      else named[it->second].numbers.push_back(g.number);
    }
    result_.duplicateNames =
        std::any_of(named.begin(), named.end(), [](const PlatformGroup& g) { return g.numbers.size() > 1; });
    platformGroups_.assign(1, {});  // [0]: the whole match
    if (branchReset_ || ownNumbering_ || noCaptureSeen_) {
      // PCRE2's numbering stays: each group is its own number.
      for (const Group& g : groups_) platformGroups_.push_back({{g.number}, g.name});
    } else {
      platformGroups_.insert(platformGroups_.end(), unnamed.begin(), unnamed.end());
      platformGroups_.insert(platformGroups_.end(), named.begin(), named.end());
    }
    if (boundaries_ > kInlineBoundaries) {
      std::string base = "siftwell_wb";
      while (nameIndex.contains(base + "1") || nameIndex.contains(base + "0")) base += "_";
      boundaryName_ = base + "1";
      nonBoundaryName_ = base + "0";
      boundaryCall_ = true;
      boundaryCallText_ = "(?&" + boundaryName_ + ")";
      nonBoundaryCallText_ = "(?&" + nonBoundaryName_ + ")";
    }
  }

  // The definitions the calls refer to, after everything the user wrote. Its
  // groups come last, so the user's group numbers stay as they are.
  void AppendDefinitions() {
    if (!boundaryCall_) return;
    const std::size_t end = in_.size();
    // Close what the user's text left open that would swallow the definition
    // (an unterminated \Q, a free-spacing comment); an unclosed group or class
    // is reported by PCRE2 at the end either way.
    if (QuotedOpen()) Rewrite("\\E", end, 0);
    if (flags_.extended) Rewrite("\n", end, 0);
    Rewrite("(?(DEFINE)(?<" + boundaryName_ + ">", end, 0);
    Rewrite(kBoundary, end, 0);
    Rewrite(")(?<" + nonBoundaryName_ + ">", end, 0);
    result_.appendedGroups = 2;
    Rewrite(kNonBoundary, end, 0);
    Rewrite("))", end, 0);
  }

  bool QuotedOpen() const {
    const std::size_t q = in_.rfind("\\Q");
    if (q == std::string_view::npos) return false;
    std::size_t backslashes = 0;
    for (std::size_t k = q; k > 0 && in_[k - 1] == '\\'; --k) ++backslashes;
    return backslashes % 2 == 0 && in_.find("\\E", q + 2) == std::string_view::npos;
  }

  std::string_view in_;
  Translation result_;
  PatternItem scratch_;  // what the second pass notes (nothing)
  std::string out_;
  std::size_t i_ = 0;
  bool emitting_ = false;
  Flags flags_;
  std::vector<Flags> scopes_;
  bool leading_ = true;  // only start-of-pattern items so far

  // Found by the first pass.
  std::vector<Group> groups_;
  int pcreGroups_ = 0;
  std::size_t boundaries_ = 0;
  bool branchReset_ = false;
  bool ownNumbering_ = false;
  bool noCaptureSeen_ = false;

  // Decided between the passes.
  std::vector<PlatformGroup> platformGroups_;
  bool boundaryCall_ = false;
  std::string boundaryName_, nonBoundaryName_, boundaryCallText_, nonBoundaryCallText_;
};

}  // namespace

Translation::Source Translation::SourceOf(std::size_t offset) const {
  if (offset >= pattern.size() || spans.empty()) return {userLength, 0, false};
  auto it = std::upper_bound(spans.begin(), spans.end(), offset,
                             [](std::size_t o, const Span& s) { return o < s.out; });
  if (it == spans.begin()) return {0, 0, false};
  const Span& s = *--it;
  if (s.rewritten) return {s.in, s.length, true};
  return {s.in + (offset - s.out), 1, false};
}

Translation TranslatePattern(std::string_view pattern) { return Translator(pattern).Run(); }

std::size_t PosixItemEnd(std::string_view p, std::size_t at) {
  if (at + 1 >= p.size()) return std::string_view::npos;
  const char terminator = p[at + 1];
  for (std::size_t k = at + 2; k + 2 <= p.size(); ++k) {
    if (p[k] == '\\' && (p[k + 1] == ']' || p[k + 1] == '\\')) ++k;
    else if ((p[k] == '[' && p[k + 1] == terminator) || p[k] == ']') return std::string_view::npos;
    else if (p[k] == terminator && p[k + 1] == ']') return k;
  }
  return std::string_view::npos;
}

}  // namespace siftwell::engine
