// Keep and Remove over UTF-8 bytes with PCRE2 (8-bit, UTF + UCP, JIT when
// available). The text is matched in place: invalid UTF-8 never stops a run
// and is copied through untouched wherever it is not part of a match.
#include "engine/PatternFilter.h"
#include "engine/DistinctValues.h"
#include "engine/LineCounter.h"
#include "engine/LiteralPrefilter.h"
#include "engine/PatternTranslator.h"
#include "engine/Utf8Check.h"
#include "text/Utf8.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <exception>
#include <mutex>
#include <utility>
#include <variant>

namespace siftwell::engine {
namespace {

using utf8::CharIndex;
using utf8::CharLength;

// ---- PCRE2 plumbing --------------------------------------------------------

struct Pcre2Free {
  void operator()(pcre2_code* p) const { pcre2_code_free(p); }
  void operator()(pcre2_compile_context* p) const { pcre2_compile_context_free(p); }
  void operator()(pcre2_match_context* p) const { pcre2_match_context_free(p); }
  void operator()(pcre2_match_data* p) const { pcre2_match_data_free(p); }
  void operator()(pcre2_jit_stack* p) const { pcre2_jit_stack_free(p); }
};
template <typename T>
using Pcre2Ptr = std::unique_ptr<T, Pcre2Free>;

FilterError Error(FilterError::Kind kind, int32_t code = 0) {
  FilterError e;
  e.kind = kind;
  e.code = code;
  return e;
}
FilterError NoMemory() { return Error(FilterError::Kind::NoMemory); }
FilterError Stopped() { return Error(FilterError::Kind::Stopped); }

bool IsValidUtf8(std::string_view s) { return IsValidUtf8Fast(s); }

// Far beyond any pattern a person writes (200,000 rewritten \b compile to
// 2 MB), far below what would strain a 32-bit process once JIT-compiled.
constexpr std::size_t kMaxCompiledBytes = std::size_t{16} << 20;

Pcre2Ptr<pcre2_code> CompileText(std::string_view source, uint32_t options, int& err, PCRE2_SIZE& errOffset,
                                 uint32_t maxVarLookbehind = UINT32_MAX) {
  Pcre2Ptr<pcre2_compile_context> cctx(pcre2_compile_context_create(nullptr));
  if (!cctx) {
    err = PCRE2_ERROR_NOMEMORY;
    return nullptr;
  }
  pcre2_set_newline(cctx.get(), PCRE2_NEWLINE_LF);
  pcre2_set_bsr(cctx.get(), PCRE2_BSR_UNICODE);
  if (maxVarLookbehind != UINT32_MAX) pcre2_set_max_varlookbehind(cctx.get(), maxVarLookbehind);
  // A few hundred bytes of nested repeats can compile to hundreds of MB, and
  // the JIT asks several times that at once (one such pattern of 253 bytes
  // took 11 s and 3 GB), with no way to stop it midway: such a pattern is
  // refused as too large before anything big is allocated.
  pcre2_set_max_pattern_compiled_length(cctx.get(), kMaxCompiledBytes);
  return Pcre2Ptr<pcre2_code>(
      pcre2_compile(reinterpret_cast<PCRE2_SPTR>(source.data()), source.size(), options, &err, &errOffset, cctx.get()));
}

// Where PCRE2 rejected the pattern, as a place in what the user wrote. Where
// that is an item the translation rewrote (\b, \w, ...), PCRE2's words for a
// compile limit would describe the rewritten text ("lookbehind is too
// complicated"): the edges then name the user's item instead.
FilterError Rejected(int err, std::size_t errOffset, std::string_view pattern, const Translation& t) {
  const Translation::Source at = t.SourceOf(errOffset);
  const bool limit = err == PCRE2_ERROR_LOOKBEHIND_TOO_COMPLICATED || err == PCRE2_ERROR_PATTERN_TOO_LARGE ||
                     err == PCRE2_ERROR_PATTERN_TOO_COMPLICATED || err == PCRE2_ERROR_PARENTHESES_NEST_TOO_DEEP ||
                     err == PCRE2_ERROR_INTERNAL_CODE_OVERFLOW || err == PCRE2_ERROR_LOOKBEHIND_TOO_LONG ||
                     err == PCRE2_ERROR_PATTERN_COMPILED_SIZE_TOO_BIG;
  FilterError e = Error(limit ? FilterError::Kind::TooComplex : FilterError::Kind::BadPattern, err);
  e.offset = at.offset;
  e.position = CharIndex(pattern, at.offset);
  e.rewritten = at.rewritten;
  if (at.rewritten && at.length > 0) e.item = std::string(pattern.substr(at.offset, at.length));
  return e;
}

}  // namespace

// One compiled form of the pattern: `code` matches any bytes (invalid UTF-8
// allowed); `valid`, made on first use, matches text known to be valid UTF-8
// without PCRE2 checking it again (the interpreter re-checks the subject from
// the start offset on every call when invalid UTF is allowed: quadratic over
// many matches).
struct PatternForm {
  Pcre2Ptr<pcre2_code> code;
  uint32_t options = 0;  // code's, without PCRE2_MATCH_INVALID_UTF
  bool jit = false;

  // Null only when memory ran out.
  const pcre2_code* Valid(std::string_view source) const {
    std::call_once(validOnce_, [&] {
      int err = 0;
      PCRE2_SIZE at = 0;
      valid_ = CompileText(source, options, err, at);
    });
    return valid_.get();
  }

 private:
  mutable std::once_flag validOnce_;
  mutable Pcre2Ptr<pcre2_code> valid_;
};

class CompiledPattern {
 public:
  bool empty = false;    // leaves every text as it is
  std::string source;    // what PCRE2 compiled (with the stop callouts when `callouts`)
  PatternForm main;
  // For a text that is not valid UTF-8, when a leading .* would make PCRE2
  // try matches only at line starts: there the .* stops before an invalid
  // byte, so matches that start after one would be missed. Null otherwise.
  std::unique_ptr<PatternForm> invalidText;
  // The pattern calls back at every start position the matcher tries, so
  // that one engine call over the whole text can still be stopped.
  bool callouts = false;
  // Whether a search may be cut into calls that each try a bounded range of
  // start positions: not when the pattern can end a whole search early or
  // skip start positions ((*COMMIT), (*SKIP)), or asserts the start offset (\G).
  bool strides = true;
  // Whether the interpreter may match valid runs of an invalid text one by
  // one: not when the pattern asserts the text's ends (\A \z \Z) or \G.
  bool fragments = true;
  // Whether the pattern asserts the search's start position (\G), so that
  // where each engine call starts decides what it may match.
  bool searchStart = false;
  // Whether PCRE2's JIT and its interpreter answer differently for this
  // pattern in a text that is not valid UTF-8: a lookbehind of variable
  // length (the JIT fails (?<=x?) right after an invalid byte), (*COMMIT)
  // (the JIT ends the whole search there, the interpreter that valid run) or
  // \X (a bounded repeat of it that meets an invalid byte gives the JIT a
  // match end outside the text: \X{0,2} over "a\x8E").
  // Such a text is then searched by the interpreter, so that no result
  // depends on whether the JIT is available.
  bool interpretInvalidText = false;
  LiteralPlan plan;  // the line prefilter (no literals: none)
  // The pattern is one character item repeated once or more, greedily (\d+,
  // \w+, [a-z0-9_]+): a run of ASCII members between ASCII non-members is a
  // match, found by this table (1: member, 0: not; every byte from 0x80 is 2,
  // "ask the engine"). Empty otherwise.
  std::vector<uint8_t> asciiRun;
  // The pattern starts with a repeated character item followed by an ASCII
  // byte (`[\w.+-]+@...`, `\w+=...`): a match is a run of the item's
  // members and then that byte. Where the next such byte in the text stands
  // after a non-member, no match starts before that non-member, so the
  // engine is asked from the run between the two. `leadRun` is the item's
  // table as in asciiRun; empty when the pattern has no such lead.
  std::vector<uint8_t> leadRun;
  unsigned char leadByte = 0;
  bool wholeLines = false;  // CompileOptions::wholeLines
  // The Keep template in parts: literal text, or a reference that takes the
  // first of its groups that took part. Empty: the match itself.
  struct TemplatePart {
    std::string text;
    std::vector<uint32_t> groups;  // empty: `text` is literal
  };
  std::vector<TemplatePart> keep;
  bool keepGroups = false;  // the template takes a group other than the whole match
  CompileOptions::KeepMode keepMode = CompileOptions::KeepMode::All;
  bool lineNumbers = false;
  std::size_t scriptClasses = 0;  // Translation::scriptClasses
};

namespace {

bool JitCompile(pcre2_code* code) {
  // A (*NO_JIT) pattern compiles "successfully" to no machine code at all.
  std::size_t jitSize = 0;
  return pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) == 0 &&
         pcre2_pattern_info(code, PCRE2_INFO_JITSIZE, &jitSize) == 0 && jitSize > 0;
}

// The translated pattern with a callout at every place where a match attempt
// starts (after the leading start-of-pattern items and every top-level |).
// Callouts do nothing to what matches: PCRE2 skips them when it looks for
// first characters and anchors, and they are not groups.
std::string WithStartCallouts(const Translation& t) {
  std::string out;
  out.reserve(t.pattern.size() + 5 * t.matchStarts.size());
  std::size_t from = 0;
  for (const std::size_t at : t.matchStarts) {
    out.append(t.pattern, from, at - from);
    out += "(?C1)";
    from = at;
  }
  out.append(t.pattern, from);
  return out;
}

// The groups a name stands for in a compiled pattern, lowest number first.
std::vector<uint32_t> GroupsNamed(const pcre2_code* code, std::string_view name, std::size_t userGroups) {
  uint32_t count = 0, entrySize = 0;
  PCRE2_SPTR table = nullptr;
  std::vector<uint32_t> groups;
  if (pcre2_pattern_info(code, PCRE2_INFO_NAMECOUNT, &count) != 0 ||
      pcre2_pattern_info(code, PCRE2_INFO_NAMEENTRYSIZE, &entrySize) != 0 ||
      pcre2_pattern_info(code, PCRE2_INFO_NAMETABLE, &table) != 0 || table == nullptr)
    return groups;
  for (uint32_t k = 0; k < count; ++k) {
    const PCRE2_SPTR entry = table + std::size_t{k} * entrySize;
    const uint32_t number = (uint32_t{entry[0]} << 8) | entry[1];
    const char* entryName = reinterpret_cast<const char*>(entry + 2);
    if (number <= userGroups && entryName == name) groups.push_back(number);
  }
  std::sort(groups.begin(), groups.end());
  return groups;
}

// The template field's text in parts, or the first $ that is no reference to
// a group the user wrote (groups the translation appended do not count).
std::variant<std::vector<CompiledPattern::TemplatePart>, FilterError> ParseTemplate(std::string_view field,
                                                                                   const pcre2_code* code,
                                                                                   std::size_t userGroups) {
  std::vector<CompiledPattern::TemplatePart> parts;
  std::string literal;
  auto flush = [&] {
    if (!literal.empty()) parts.push_back({ExpandDelimiter(literal), {}});
    literal.clear();
  };
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  const std::size_t n = field.size();
  for (std::size_t i = 0; i < n;) {
    if (field[i] != '$') {
      literal += field[i++];
      continue;
    }
    if (i + 1 < n && field[i + 1] == '$') {
      literal += '$';
      i += 2;
      continue;
    }
    const std::size_t at = i;
    std::size_t end = i + 1;
    std::vector<uint32_t> groups;
    if (end < n && isDigit(field[end])) {
      uint32_t number = static_cast<uint32_t>(field[end++] - '0');
      if (end < n && isDigit(field[end])) number = number * 10 + static_cast<uint32_t>(field[end++] - '0');
      if (number <= userGroups) groups.push_back(number);
    } else if (end < n && field[end] == '{') {
      const std::size_t close = field.find('}', end + 1);
      const std::string_view inner =
          close == std::string_view::npos ? std::string_view() : field.substr(end + 1, close - end - 1);
      end = close == std::string_view::npos ? n : close + 1;
      if (!inner.empty() && std::all_of(inner.begin(), inner.end(), isDigit)) {
        std::size_t number = 0;
        for (const char c : inner) number = std::min<std::size_t>(number * 10 + static_cast<std::size_t>(c - '0'), SIZE_MAX / 16);
        if (number <= userGroups) groups.push_back(static_cast<uint32_t>(number));
      } else if (!inner.empty()) {
        groups = GroupsNamed(code, inner, userGroups);
      }
    } else if (end < n) {
      end += CharLength(reinterpret_cast<const unsigned char*>(field.data()) + end, n - end);  // "$x" as written
    }
    if (groups.empty()) {
      FilterError e = Error(FilterError::Kind::BadTemplate);
      e.item = std::string(field.substr(at, end - at));
      e.offset = at;
      e.position = CharIndex(field, at);
      return e;
    }
    flush();
    parts.push_back({std::string(), std::move(groups)});
    i = end;
  }
  flush();
  return parts;
}

// Past what PCRE2 reads as nothing between an item and its quantifier, and
// between a quantifier and its '+': comments ((?#...), and # to the line's
// end and white space, taken as in (?x) wherever they stand), \E and \Q\E.
std::size_t PastNothing(std::string_view p, std::size_t j) {
  while (j < p.size()) {
    if (p.substr(j, 3) == "(?#") {
      const std::size_t close = p.find(')', j);
      if (close == std::string_view::npos) return p.size();
      j = close + 1;
    } else if (p[j] == '#') {
      const std::size_t end = p.find('\n', j);
      if (end == std::string_view::npos) return p.size();
      j = end + 1;
    } else if (p.substr(j, 2) == "\\E") {
      j += 2;
    } else if (p.substr(j, 4) == "\\Q\\E") {
      j += 4;
    } else if (p[j] == ' ' || (p[j] >= '\t' && p[j] <= '\r')) {
      ++j;
    } else {
      break;
    }
  }
  return j;
}

// A ')' then a repeat then '+' anywhere in the pattern's text (escaped or in
// a class too, or with a comment between: it only costs such a pattern the
// JIT; (?:(){736}){21}(?#)+ crashed PCRE2 10.46's JIT over an empty text).
bool HasPossessiveGroupRepeat(std::string_view p) {
  for (std::size_t i = p.find(')'); i != std::string_view::npos; i = p.find(')', i + 1)) {
    std::size_t j = PastNothing(p, i + 1);
    if (j < p.size() && (p[j] == '*' || p[j] == '+' || p[j] == '?')) {
      ++j;
    } else if (j < p.size() && p[j] == '{') {
      const std::size_t close = p.find('}', j);
      if (close == std::string_view::npos ||
          p.substr(j + 1, close - j - 1).find_first_not_of("0123456789,") != std::string_view::npos)
        continue;
      j = close + 1;
    } else {
      continue;
    }
    j = PastNothing(p, j);
    if (j < p.size() && p[j] == '+') return true;
  }
  return false;
}

// Whether the pattern is a single character item (a character, a class, or
// an escape that stands for one character) repeated greedily once or more;
// then which ASCII characters it takes, asked of the compiled pattern itself
// (one anchored match per character), so that the table holds exactly what
// PCRE2 would match with every option in force. Such an item matches one
// character whatever stands around it: no assertion, no dot (whose newline
// rule looks at the next character), no \X or \R.
std::vector<uint8_t> AsciiRunTable(std::span<const PatternItem> items, const pcre2_code* code) {
  if (items.size() != 2) return {};
  const PatternItem& one = items[0];
  const PatternItem& repeat = items[1];
  if (repeat.kind != PatternItem::Kind::Repeat || repeat.min != 1 || repeat.max != UINT64_MAX ||
      repeat.letter == '?')
    return {};
  switch (one.kind) {
    case PatternItem::Kind::Char:
      break;
    case PatternItem::Kind::Escape:
      if (std::string_view("dDwWsShHvVpP").find(one.letter) == std::string_view::npos) return {};
      break;
    case PatternItem::Kind::Class:
      for (const PatternItem::Member& m : one.members)  // [[:<:]] and [[:>:]] are word boundaries
        if (m.kind == PatternItem::Member::Kind::Posix && (m.name == "[:<:]" || m.name == "[:>:]")) return {};
      break;
    default:
      return {};
  }
  Pcre2Ptr<pcre2_match_data> md(pcre2_match_data_create(1, nullptr));
  if (!md) return {};
  std::vector<uint8_t> table(256, 2);
  for (int c = 0; c < 0x80; ++c) {
    const auto subject = static_cast<unsigned char>(c);
    const int rc = pcre2_match(code, &subject, 1, 0, PCRE2_ANCHORED | PCRE2_NO_JIT, md.get(), nullptr);
    if (rc < 0 && rc != PCRE2_ERROR_NOMATCH) return {};
    table[c] = rc > 0 && pcre2_get_ovector_pointer(md.get())[1] == 1 ? 1 : 0;
  }
  return table;
}

// The lead of a pattern (see CompiledPattern::leadRun): its top level reads
// item, quantifier, a one-byte character that is not quantified, and has no
// alternative. The item's table comes from compiling it alone, repeated.
void FindLead(std::string_view pattern, std::span<const PatternItem> items, uint32_t options, CompiledPattern& out) {
  if (items.size() < 3 || items[1].kind != PatternItem::Kind::Repeat || items[2].kind != PatternItem::Kind::Char ||
      items[2].text.size() != 1 || (items.size() > 3 && items[3].kind == PatternItem::Kind::Repeat) ||
      (items[0].kind != PatternItem::Kind::Escape && items[0].kind != PatternItem::Kind::Class))
    return;
  int depth = 0;
  for (const PatternItem& item : items) {
    depth += item.kind == PatternItem::Kind::Open ? 1 : item.kind == PatternItem::Kind::Close ? -1 : 0;
    if (item.kind == PatternItem::Kind::Bar && depth == 0) return;
  }
  const auto byte = static_cast<unsigned char>(items[2].text[0]);
  if (byte >= 0x80 || ((options & PCRE2_CASELESS) != 0 && (byte | 0x20) >= 'a' && (byte | 0x20) <= 'z')) return;
  if (items[1].offset <= items[0].offset || items[1].offset > pattern.size()) return;
  const Translation alone = TranslatePattern(std::string(pattern.substr(items[0].offset, items[1].offset - items[0].offset)) + "+");
  if (alone.items.size() != 2 || alone.items[0].kind != items[0].kind) return;
  int err = 0;
  PCRE2_SIZE at = 0;
  const Pcre2Ptr<pcre2_code> code =
      CompileText(alone.pattern, options | (alone.negatedProperty ? PCRE2_NO_AUTO_POSSESS : 0), err, at);
  if (!code) return;
  std::vector<uint8_t> table = AsciiRunTable(alone.items, code.get());
  if (table.empty()) return;
  out.leadRun = std::move(table);
  out.leadByte = byte;
}

std::variant<std::shared_ptr<CompiledPattern>, FilterError> CompileShared(std::string_view pattern,
                                                                          const CompileOptions& options) {
  auto out = std::make_shared<CompiledPattern>();
  if (options.wholeLines && !options.keepTemplate.empty()) return Error(FilterError::Kind::TemplateWithLines);
  out->wholeLines = options.wholeLines;
  out->keepMode = options.keepMode;
  out->lineNumbers = options.lineNumbers;
  if (pattern.empty()) {
    out->empty = true;
    return out;
  }
  const Translation translation = TranslatePattern(pattern);
  const std::string& translated = translation.pattern;
  // ALT_CIRCUMFLEX: in (?m) mode ^ also matches after a final LF, as the
  // platform's does. NO_AUTO_POSSESS only where PCRE2's auto-possessification
  // is wrong (overlapping negated properties taken as disjoint); elsewhere it
  // is a large part of the speed of repeats like \w+ and \d+.
  uint32_t utf = PCRE2_UTF | PCRE2_UCP | PCRE2_NEVER_BACKSLASH_C | PCRE2_ALT_CIRCUMFLEX | PCRE2_USE_OFFSET_LIMIT;
  if (translation.negatedProperty) utf |= PCRE2_NO_AUTO_POSSESS;
  if (translation.duplicateNames) utf |= PCRE2_DUPNAMES;
  if (!options.matchCase) utf |= PCRE2_CASELESS;
  int err = 0;
  PCRE2_SIZE errOffset = 0;
  Pcre2Ptr<pcre2_code> code = CompileText(translated, utf | PCRE2_MATCH_INVALID_UTF, err, errOffset);
  if (!code) {
    if (err == PCRE2_ERROR_NOMEMORY || err == PCRE2_ERROR_HEAP_FAILED) return NoMemory();
    return Rejected(err, errOffset, pattern, translation);
  }
  out->strides = !translation.commit && !translation.skip && !translation.searchStart;
  out->fragments = !translation.textEnds && !translation.searchStart;
  out->searchStart = translation.searchStart;
  out->scriptClasses = translation.scriptClasses;
  out->source = translated;
  if (!out->strides) {
    // Such a search is one engine call: it is stopped from inside instead.
    std::string withCallouts = WithStartCallouts(translation);
    if (Pcre2Ptr<pcre2_code> c = CompileText(withCallouts, utf | PCRE2_MATCH_INVALID_UTF, err, errOffset)) {
      code = std::move(c);
      out->source = std::move(withCallouts);
      out->callouts = true;
    }
  }
  const std::string& source = out->source;
  // A leading .* makes PCRE2 try a match only at line starts (or only at the
  // start), but in a text with invalid UTF-8 the .* also stops before an
  // invalid byte, so matches that start after one would be missed. The
  // compiled pattern tells (\N*, .{0,} and (?s:.*) are such a .* too).
  uint32_t firstType = 0, allOptions = 0;
  pcre2_pattern_info(code.get(), PCRE2_INFO_FIRSTCODETYPE, &firstType);
  pcre2_pattern_info(code.get(), PCRE2_INFO_ALLOPTIONS, &allOptions);
  // A possessive repeat of a group: PCRE2 10.46's JIT can read a null subject
  // pointer from its stack and crash on such a pattern once the stack grows
  // (((..){92}+..){84}+..|.. over NULs; 10.48 does not). Such patterns (rare)
  // are matched by the interpreter, bounded by its heap limit.
  // A subroutine call: PCRE2's JIT compiler can take seconds that nothing
  // can stop for a short pattern with one ((){,800}44+rd+|]?i(?0){(?)){,800}:
  // 5.8 s), and its code can crash once its stack has grown
  // ((?0)((?!((())a?)){61}..){,61}.. over "Wa", PCRE2 10.46 and 10.48). Such
  // patterns (rare) are matched by the interpreter, which compiles at once.
  const bool jitAllowed = options.jit && !HasPossessiveGroupRepeat(translated) && !translation.calls;
  bool jit = jitAllowed;
  if (firstType == 2 || (allOptions & PCRE2_ANCHORED) != 0) {
    Pcre2Ptr<pcre2_code> plain = CompileText(source, utf | PCRE2_MATCH_INVALID_UTF | PCRE2_NO_DOTSTAR_ANCHOR, err,
                                             errOffset);
    auto starts = [](const pcre2_code* c) {
      uint32_t first = 0, all = 0;
      pcre2_pattern_info(c, PCRE2_INFO_FIRSTCODETYPE, &first);
      pcre2_pattern_info(c, PCRE2_INFO_ALLOPTIONS, &all);
      return std::pair(first, all & PCRE2_ANCHORED);
    };
    if (plain && starts(plain.get()) != starts(code.get())) {
      out->invalidText = std::make_unique<PatternForm>();
      out->invalidText->code = std::move(plain);
      out->invalidText->options = utf | PCRE2_NO_DOTSTAR_ANCHOR;
      out->invalidText->jit = jitAllowed && JitCompile(out->invalidText->code.get());
    }
  }
  if (translated.find("(?<") != std::string::npos) {  // (named groups pass here too)
    int probeErr = 0;
    PCRE2_SIZE probeOffset = 0;
    const Pcre2Ptr<pcre2_code> fixed =
        CompileText(translated, utf | PCRE2_MATCH_INVALID_UTF, probeErr, probeOffset, /*maxVarLookbehind=*/0);
    out->interpretInvalidText = fixed == nullptr;
    // Inside a lookbehind of variable length PCRE2's JIT takes the
    // lookbehind's end for the end of the text, so an item there that looks
    // at the end or past it (\Z \z $, a lookahead, \b as translated) gives
    // another answer than the interpreter: (?<=\Zm?). matched in "ab".
    // Such patterns (rare) are matched by the interpreter in every text.
    const bool endSensitive = translated.find("\\Z") != std::string::npos ||
                              translated.find("\\z") != std::string::npos ||
                              translated.find('$') != std::string::npos ||
                              translated.find("(?=") != std::string::npos ||
                              translated.find("(?!") != std::string::npos ||
                              translated.find("(*") != std::string::npos;
    if (out->interpretInvalidText && endSensitive) jit = false;
  }
  out->interpretInvalidText |= translation.commit || translated.find("\\X") != std::string::npos;
  out->main.code = std::move(code);
  out->main.options = utf;
  out->main.jit = jit && JitCompile(out->main.code.get());
  out->plan = PlanLiterals(translation.items, PlanOptions{.caseless = !options.matchCase, .lines = options.wholeLines});
  const pcre2_code* compiled = out->main.code.get();
  if (!options.wholeLines && out->strides && !out->callouts) {
    out->asciiRun = AsciiRunTable(translation.items, compiled);
    FindLead(pattern, translation.items, utf | PCRE2_MATCH_INVALID_UTF, *out);
  }
  if (!options.keepTemplate.empty()) {
    uint32_t captures = 0;
    pcre2_pattern_info(compiled, PCRE2_INFO_CAPTURECOUNT, &captures);
    auto parts = ParseTemplate(options.keepTemplate, compiled, captures - std::min<std::size_t>(captures, translation.appendedGroups));
    if (auto* error = std::get_if<FilterError>(&parts)) return std::move(*error);
    out->keep = std::move(std::get<std::vector<CompiledPattern::TemplatePart>>(parts));
    for (const CompiledPattern::TemplatePart& part : out->keep)
      for (const uint32_t g : part.groups) out->keepGroups |= g != 0;
  }
  uint32_t first = 0;
  const uint8_t* bitmap = nullptr;
  // (Whole lines keep the literals: they spare an engine call per line.)
  if (!out->plan.literals.empty() && !out->plan.wholeLine && !options.wholeLines &&
      pcre2_pattern_info(compiled, PCRE2_INFO_FIRSTCODETYPE, &first) == 0) {
    int starts = 256;  // how many different bytes a match may start with
    if (first == 0 && pcre2_pattern_info(compiled, PCRE2_INFO_FIRSTBITMAP, &bitmap) == 0 && bitmap) {
      starts = 0;
      for (int b = 0; b < 256; ++b) starts += (bitmap[b / 8] >> (b % 8)) & 1;
    }
    if (out->plan.anyOccurrence && out->plan.literals.size() > 1) {
      // An alternation of plain literals: its matches are the literals
      // themselves, found without the engine (ForEachMatch), faster than
      // the engine's scan for its few first bytes.
    } else if (first == 1 || starts <= 4) {
      // The engine itself skips to its first character(s) at memchr speed.
      out->plan.literals.clear();
      out->plan.declined = "the engine itself skips to the one or few characters a match can start with";
    }
  }
  return out;
}

constexpr std::size_t kNone = std::string_view::npos;
constexpr std::size_t kDefaultJitStack = 32 * 1024;  // PCRE2's own, on the machine stack

// What one search covers: matches that start in [begin, end) of the text
// (end at the text's size: up to and with its end), the whole text being the
// subject all the same (its ends, lookbehind and lookahead are those of a
// search of the whole). The default is the whole text.
struct Span {
  std::size_t begin = 0;
  std::size_t end = kNone;  // kNone: the text's size
  uint64_t firstLine = 1;   // the number of the line that starts at `begin`
  int8_t valid = -1;        // whether the whole text is valid UTF-8 (-1: not known)
};

// The last `byte` in [from, to), or kNone.
std::size_t LastOf(std::string_view text, char byte, std::size_t from, std::size_t to) {
#ifdef __GLIBC__
  if (to <= from) return kNone;
  const void* at = memrchr(text.data() + from, byte, to - from);
  return at ? static_cast<std::size_t>(static_cast<const char*>(at) - text.data()) : kNone;
#else
  while (to > from)
    if (text[--to] == byte) return to;
  return kNone;
#endif
}
std::size_t LastLf(std::string_view text, std::size_t from, std::size_t to) { return LastOf(text, '\n', from, to); }

// The ends of the lines of a text as the editor ends them (LF, CR LF, a lone
// CR). Each byte is looked at about once whichever of them the text uses, and
// a text without CR costs one scan for it per 64 KiB.
class LineBreaks {
 public:
  explicit LineBreaks(std::string_view text) : text_(text) {}

  // The first CR or LF at or after `from`, or the text's size.
  std::size_t Next(std::size_t from) {
    if (!(lfFrom_ <= from && from <= lf_)) {
      lf_ = Find('\n', from, text_.size());
      lfFrom_ = from;
    }
    return FirstCr(from, lf_);
  }

  // The first CR in [from, to), or `to`.
  std::size_t FirstCr(std::size_t from, std::size_t to) {
    // Known: the first CR at or after crFrom_ is crAt_, or there is none
    // before crEnd_ (then crAt_ == crEnd_).
    const bool known = crFrom_ <= from && (crAt_ < crEnd_ ? from <= crAt_ : to <= crEnd_);
    if (!known) {
      crFrom_ = from;
      crEnd_ = std::min(text_.size(), std::max(to, from + kWindow));
      crAt_ = Find('\r', from, crEnd_);
    }
    return std::min(crAt_, to);
  }

  // Where the line after the one ending at `end` (from Next) starts.
  std::size_t After(std::size_t end) const {
    const std::size_t n = text_.size();
    if (end >= n) return n;
    return end + (text_[end] == '\r' && end + 1 < n && text_[end + 1] == '\n' ? 2 : 1);
  }

 private:
  static constexpr std::size_t kWindow = 64 * 1024;
  std::size_t Find(char byte, std::size_t from, std::size_t to) const {
    if (from >= to) return to;
    const void* at = std::memchr(text_.data() + from, byte, to - from);
    return at ? static_cast<std::size_t>(static_cast<const char*>(at) - text_.data()) : to;
  }
  std::string_view text_;
  std::size_t lfFrom_ = 1, lf_ = 0;  // (nothing known yet)
  std::size_t crFrom_ = 1, crAt_ = 0, crEnd_ = 0;
};

// One engine over one text: finds the first match that starts in a range of
// start positions, with the JIT when it can, growing the JIT stack on demand.
// Its match data, context and JIT stack are its own: any number of engines
// may share one compiled pattern on any threads.
class Engine {
 public:
  Engine(const CompiledPattern& re, std::string_view text, const MatchLimits& limits, ResultSink* watch,
         int8_t knownValid = -1)
      : re_(re), text_(text), limits_(limits), watch_(watch), knownValid_(knownValid) {
    static constexpr char kEmpty[1] = {};
    subject_ = reinterpret_cast<PCRE2_SPTR>(text.empty() ? kEmpty : text.data());
  }

  std::optional<FilterError> Init() {
    const bool jitAllowed = limits_.jit && re_.main.jit;
    // The text is checked once, and only where the answer matters.
    if (!jitAllowed || re_.interpretInvalidText || re_.invalidText)
      textValid_ = knownValid_ >= 0 ? knownValid_ == 1 : IsValidUtf8(text_);
    form_ = !textValid_ && re_.invalidText ? re_.invalidText.get() : &re_.main;
    jit_ = jitAllowed && form_->jit && (textValid_ || !re_.interpretInvalidText);
    if (!jit_ && (textValid_ || re_.fragments)) {
      valid_ = form_->Valid(re_.source);
      if (!valid_) return NoMemory();
      fragments_ = !textValid_;
    }
    md_.reset(pcre2_match_data_create_from_pattern(valid_ ? valid_ : form_->code.get(), nullptr));
    mctx_.reset(pcre2_match_context_create(nullptr));
    if (!md_ || !mctx_) return NoMemory();
    SetMatchLimit(text_.size());
    pcre2_set_depth_limit(mctx_.get(), limits_.depthLimit);
    pcre2_set_heap_limit(mctx_.get(), limits_.heapLimitKiB);
    if (re_.callouts) {  // also without a watch: every search runs the same code
      pcre2_set_callout(mctx_.get(), &Engine::Callout, this);
      lastReport_ = lastCheck_ = Clock::now();
    }
    // No JIT stack yet: the first attempts run on PCRE2's 32 KiB default.
    return std::nullopt;
  }

  // Makes `subject` (a part of the text starting at `origin`, e.g. a line)
  // the whole subject of the following searches: its ends are the ends the
  // pattern sees, and lookbehind stops at its start. Offsets given to and
  // returned by Find are then relative to it; Group's stay in the text.
  void Rebase(std::string_view subject, std::size_t origin) {
    static constexpr char kEmpty[1] = {};
    text_ = subject;
    subject_ = reinterpret_cast<PCRE2_SPTR>(subject.empty() ? kEmpty : subject.data());
    origin_ = origin;
    scanned_ = lastBadEnd_ = 0;
    nextBad_ = kNone;
    SetMatchLimit(subject.size());
  }

  // Where group k of the last match lies in the text; false when it did not
  // take part.
  bool Group(uint32_t k, std::size_t& start, std::size_t& end) const {
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md_.get());
    if (k >= pcre2_get_ovector_count(md_.get()) || ov[2 * k] == PCRE2_UNSET) return false;
    start = ov[2 * k] + matchBase_;
    end = std::max(ov[2 * k + 1], ov[2 * k]) + matchBase_;
    return true;
  }

  // Whether searches run on PCRE2's interpreter over a text that is not
  // valid UTF-8. Its one call over a subject does not try the subject's end
  // when an invalid byte precedes it; the JIT does, and so does a call that
  // starts there.
  bool InterpretsInvalidText() const { return !jit_ && !textValid_; }

  // Whether the last Find ended because the watch asked to stop (from a
  // callout, inside one engine call). Rethrows what the watch threw there.
  bool StoppedInside() {
    if (thrown_) std::rethrow_exception(std::exchange(thrown_, nullptr));
    return stoppedInside_;
  }

  // The first match starting at a position in [from, limit] (limit
  // inclusive): 1 and its range, PCRE2_ERROR_NOMATCH, or another PCRE2 error.
  int Find(std::size_t from, std::size_t limit, std::size_t& start, std::size_t& end) {
    const std::size_t n = text_.size();
    limit = std::min(limit, n);
    if (limit != offsetLimit_) {  // the same for every call within a stride
      pcre2_set_offset_limit(mctx_.get(), limit);
      offsetLimit_ = limit;
    }
    int rc;
    if (jit_) {
      rc = Sliced(from, limit, 0, n, [&](std::size_t at, std::size_t last) {
        if (last != offsetLimit_) {
          pcre2_set_offset_limit(mctx_.get(), last);
          offsetLimit_ = last;
        }
        const int r = pcre2_jit_match(form_->code.get(), subject_, n, at, 0, md_.get(), mctx_.get());
        return r == PCRE2_ERROR_JIT_STACKLIMIT ? JitAgain(at) : r;
      });
    } else if (textValid_) {
      rc = Sliced(from, limit, 0, n, [&](std::size_t at, std::size_t last) {
        return Interpret(valid_, subject_, n, at, last, PCRE2_NO_UTF_CHECK);
      });
    } else if (fragments_) {
      return Fragments(from, limit, start, end);
    } else {
      rc = PCRE2_ERROR_NOMATCH;
      if (re_.searchStart && from < n && subject_[from] >= 0x80 &&
          CharLength(subject_ + from, n - from) == 1) {
        // A search that starts at an invalid byte: the interpreter goes on to
        // the next valid part, where \G no longer holds, but the JIT tries
        // this position too, where only an empty match fits. So does this:
        // the text up to here, searched at its end (not the text's end).
        rc = Interpret(form_->code.get(), subject_, from, from, from, PCRE2_NOTEOL);
      }
      if (rc == PCRE2_ERROR_NOMATCH) rc = Interpret(form_->code.get(), subject_, n, from, limit, 0);
    }
    if (rc < 0) return rc;
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md_.get());
    start = ov[0];
    end = ov[1];
    matchBase_ = origin_;
    return 1;
  }

 private:
  // A single match may span the whole subject: with matchLimitFollowsText the
  // limit is at least its length.
  void SetMatchLimit(std::size_t subjectBytes) {
    uint32_t limit = limits_.matchLimit;
    if (limits_.matchLimitFollowsText)
      limit = static_cast<uint32_t>(std::clamp<uint64_t>(subjectBytes, limit, UINT32_MAX));
    matchLimit_ = limit;
    pcre2_set_match_limit(mctx_.get(), limit);
    limitSet_ = limit;
  }
  void UseMatchLimit(uint32_t limit) {
    if (limit != limitSet_) pcre2_set_match_limit(mctx_.get(), limit);
    limitSet_ = limit;
  }

  // A search of the start positions [from, limit] by `match(at)` (from `at`
  // up to the offset limit in force). A stride's size comes from what its
  // start positions cost before, and one engine call cannot be stopped: a
  // text whose cheap part is followed by lines where each start costs
  // milliseconds would run a whole stride of them, a minute or more, past a
  // stop. So a watched call gives each start position a small part of the
  // match limit (the steps PCRE2 counts as it backtracks); one that needs
  // more ends the call, and the range is searched again a start position at a
  // time with the whole limit, the watch heard between them. The answer is
  // the one call's: the first match from `from` on, or the error that the
  // full limit gives.
  // (`match(at, last)`: the engine call over the start positions [at, last]
  // of the subject of `length` bytes at `base` in the text.)
  template <typename Match>
  int Sliced(std::size_t from, std::size_t limit, std::size_t base, std::size_t length, const Match& match) {
    const bool sliced = watch_ != nullptr && re_.strides && kQuickSteps < matchLimit_;
    UseMatchLimit(sliced ? kQuickSteps : matchLimit_);
    int rc = match(from, limit);
    if (!sliced || rc != PCRE2_ERROR_MATCHLIMIT) return rc;
    UseMatchLimit(matchLimit_);
    Clock::time_point checked = Clock::now();
    for (std::size_t at = from;;) {
      rc = match(at, at);
      if (rc != PCRE2_ERROR_NOMATCH || at >= limit || at >= length) return rc;
      at += CharLength(subject_ + base + at, length - at);
      if (at > limit) return rc;
      const Clock::time_point now = Clock::now();
      if (now - checked >= std::chrono::milliseconds(10)) {
        checked = now;
        reported_ = std::max(reported_, origin_ + base + at);
        if (!watch_->Progress(reported_)) {
          stoppedInside_ = true;
          return PCRE2_ERROR_CALLOUT;
        }
      }
    }
  }
  // Steps of backtracking a start position may take in a watched call before
  // it is tried alone: far more than a plain pattern takes at most positions,
  // few enough that a stride of 64 Ki positions each just below it ends
  // within a fraction of a second.
  static constexpr uint32_t kQuickSteps = 1000;

  int Interpret(const pcre2_code* code, PCRE2_SPTR subject, std::size_t length, std::size_t from,
                std::size_t limit, uint32_t options) {
    if (limit != offsetLimit_) {
      pcre2_set_offset_limit(mctx_.get(), limit);
      offsetLimit_ = limit;
    }
    base_ = static_cast<std::size_t>(subject - subject_);
    // The interpreter, also for a code that has JIT code too (pcre2_match
    // would run that): the paths that call this are those whose answer must
    // not depend on the JIT.
    const int rc = pcre2_match(code, subject, length, from, options | PCRE2_NO_JIT, md_.get(), mctx_.get());
    base_ = 0;
    return rc;
  }

  // Called by PCRE2 at every start position it tries (the pattern's own
  // callouts land here too and change nothing). Reads the clock at most
  // about every 0.1 ms of calls (every call when each takes longer) and
  // tells the watch the progress every ~10 ms; when the watch says stop, the
  // engine call ends at once.
  static int Callout(pcre2_callout_block* block, void* data) {
    Engine& e = *static_cast<Engine*>(data);
    if (e.watch_ == nullptr || ++e.callouts_ < e.nextCheck_) return 0;
    const Clock::time_point now = Clock::now();
    const bool quick = now - e.lastCheck_ < std::chrono::microseconds(100);
    e.every_ = quick ? std::min<uint64_t>(e.every_ * 2, 4096) : 1;
    e.nextCheck_ = e.callouts_ + e.every_;
    e.lastCheck_ = now;
    if (now - e.lastReport_ < std::chrono::milliseconds(10)) return 0;
    e.lastReport_ = now;
    e.reported_ = std::max(e.reported_, e.origin_ + e.base_ + static_cast<std::size_t>(block->start_match));
    try {
      if (e.watch_->Progress(e.reported_)) return 0;
    } catch (...) {  // never through PCRE2's frames
      e.thrown_ = std::current_exception();
    }
    e.stoppedInside_ = true;
    return PCRE2_ERROR_CALLOUT;
  }

  int JitAgain(std::size_t from) {
    while (true) {
      // Repeat the attempt with a larger stack; when none can be had, let
      // the interpreter (heap-bounded) take this one call.
      if (!GrowStack()) {
        if (std::max<std::size_t>(stackBytes_, kDefaultJitStack) >= limits_.jitStackBytes)
          return PCRE2_ERROR_JIT_STACKLIMIT;  // the bound itself
        return pcre2_match(form_->code.get(), subject_, text_.size(), from, PCRE2_NO_JIT, md_.get(), mctx_.get());
      }
      const int rc = pcre2_jit_match(form_->code.get(), subject_, text_.size(), from, 0, md_.get(), mctx_.get());
      if (rc != PCRE2_ERROR_JIT_STACKLIMIT) return rc;
    }
  }

  // A JIT stack reserves its whole maximum when created: start small, grow by
  // steps, and settle for the largest that the address space allows.
  bool GrowStack() {
    const std::size_t current = std::max<std::size_t>(stackBytes_, kDefaultJitStack);
    for (std::size_t want = std::min(limits_.jitStackBytes, std::max<std::size_t>(current * 8, 256 * 1024));
         want > current; want /= 2) {
      Pcre2Ptr<pcre2_jit_stack> stack(pcre2_jit_stack_create(std::min(kDefaultJitStack, want), want, nullptr));
      if (stack) {
        pcre2_jit_stack_assign(mctx_.get(), nullptr, stack.get());
        stack_ = std::move(stack);
        stackBytes_ = want;
        return true;
      }
    }
    return false;
  }

  // The interpreter over an invalid text, one valid run at a time, as PCRE2
  // itself does inside one call (a run ends before an invalid byte; the
  // boundaries are neither line ends nor the text's ends; lookbehind stops
  // there), but checking each byte once for the whole search instead of
  // from the start position to the next invalid byte on every call.
  int Fragments(std::size_t from, std::size_t limit, std::size_t& start, std::size_t& end) {
    const std::size_t n = text_.size();
    const auto* b = reinterpret_cast<const unsigned char*>(subject_);
    std::size_t a = from;
    while (a < n && (b[a] & 0xC0) == 0x80) ++a;
    bool first = true;
    while (true) {
      if (a > limit) return PCRE2_ERROR_NOMATCH;
      AdvanceTo(a);
      const std::size_t runStart = lastBadEnd_;  // lookbehind reaches back to here
      const std::size_t bad = NextBad();
      if (first || bad > a) {
        uint32_t options = PCRE2_NO_UTF_CHECK;
        if (runStart > 0) options |= PCRE2_NOTBOL;
        if (bad < n) options |= PCRE2_NOTEOL;
        const int rc = Sliced(a - runStart, limit - runStart, runStart, bad - runStart,
                              [&](std::size_t at, std::size_t last) {
                                return Interpret(valid_, subject_ + runStart, bad - runStart, at, last, options);
                              });
        if (rc >= 0) {
          const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md_.get());
          start = ov[0] + runStart;
          end = ov[1] + runStart;
          matchBase_ = origin_ + runStart;
          return 1;
        }
        if (rc != PCRE2_ERROR_NOMATCH) return rc;
      }
      first = false;
      if (bad >= n) return PCRE2_ERROR_NOMATCH;
      a = bad + 1;
      while (a < n && (b[a] & 0xC0) == 0x80) ++a;
      if (a >= n) return PCRE2_ERROR_NOMATCH;
    }
  }

  // Moves the classified prefix up to `a`, a character boundary.
  void AdvanceTo(std::size_t a) {
    const auto* b = reinterpret_cast<const unsigned char*>(subject_);
    if (a < scanned_) return;  // positions only grow; nothing to do
    if (nextBad_ != kNone && nextBad_ >= scanned_ && nextBad_ >= a) {
      // nothing invalid between scanned_ and a
      scanned_ = a;
      return;
    }
    while (scanned_ < a) {
      const std::size_t len = CharLength(b + scanned_, text_.size() - scanned_);
      if (len == 1 && b[scanned_] >= 0x80) lastBadEnd_ = scanned_ + 1;
      scanned_ += len;
    }
  }

  // The first invalid byte at or after the classified prefix (or the end).
  std::size_t NextBad() {
    if (nextBad_ != kNone && nextBad_ >= scanned_) return nextBad_;
    const auto* b = reinterpret_cast<const unsigned char*>(subject_);
    std::size_t q = scanned_;
    while (q < text_.size()) {
      const std::size_t len = CharLength(b + q, text_.size() - q);
      if (len == 1 && b[q] >= 0x80) break;
      q += len;
    }
    nextBad_ = q;
    return q;
  }

  using Clock = std::chrono::steady_clock;
  const CompiledPattern& re_;
  std::string_view text_;
  const MatchLimits& limits_;
  ResultSink* watch_ = nullptr;
  int8_t knownValid_ = -1;  // the text's validity when the caller knew it
  const PatternForm* form_ = nullptr;
  const pcre2_code* valid_ = nullptr;  // the form's copy for valid text, when the interpreter uses it
  PCRE2_SPTR subject_ = nullptr;
  std::size_t base_ = 0;  // where the subject of the running engine call starts in text_
  std::size_t origin_ = 0;     // where text_ starts in the whole text (Rebase)
  std::size_t matchBase_ = 0;  // where the subject of the last match's call starts in the whole text
  uint64_t callouts_ = 0, nextCheck_ = 0, every_ = 1;
  Clock::time_point lastReport_, lastCheck_;
  std::size_t reported_ = 0;
  bool stoppedInside_ = false;
  std::exception_ptr thrown_;
  Pcre2Ptr<pcre2_match_data> md_;
  Pcre2Ptr<pcre2_match_context> mctx_;
  Pcre2Ptr<pcre2_jit_stack> stack_;
  std::size_t stackBytes_ = 0;
  std::size_t offsetLimit_ = kNone;
  uint32_t matchLimit_ = 0, limitSet_ = 0;
  bool jit_ = false;
  bool textValid_ = true;
  bool fragments_ = false;
  std::size_t scanned_ = 0, lastBadEnd_ = 0, nextBad_ = kNone;
};

// The first character boundary at or after `at` that any stepping through
// the text (valid or not) must land on: a byte that is not a continuation.
std::size_t Boundary(std::string_view text, std::size_t at) {
  const auto* b = reinterpret_cast<const unsigned char*>(text.data());
  while (at < text.size() && (b[at] & 0xC0) == 0x80) ++at;
  return std::min(at, text.size());
}

// Why a search call failed (rc < 0, not PCRE2_ERROR_NOMATCH) that started at
// byte `at` of the text.
FilterError SearchFailed(Engine& engine, int rc, std::size_t at) {
  if (engine.StoppedInside()) return Stopped();
  if (rc == PCRE2_ERROR_NOMEMORY) return NoMemory();
  FilterError e = Error(FilterError::Kind::Limit, rc);
  e.textOffset = at;
  switch (rc) {
    case PCRE2_ERROR_MATCHLIMIT: e.limit = FilterError::LimitKind::Match; break;
    case PCRE2_ERROR_DEPTHLIMIT: e.limit = FilterError::LimitKind::Depth; break;
    case PCRE2_ERROR_HEAPLIMIT: e.limit = FilterError::LimitKind::Heap; break;
    case PCRE2_ERROR_JIT_STACKLIMIT: e.limit = FilterError::LimitKind::JitStack; break;
    default: e.kind = FilterError::Kind::MatchFailed; break;
  }
  return e;
}

// The next adaptive stride: aimed at ~10 ms of work from how long the last
// one took over `covered` start positions, growing at most fourfold.
std::size_t NextStride(std::size_t stride, std::size_t covered, std::chrono::steady_clock::time_point started) {
  constexpr std::size_t kMaxStride = 64 * 1024;
  constexpr double kStrideSeconds = 0.01;
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  double next = took > 0 ? static_cast<double>(covered) * (kStrideSeconds / took) : static_cast<double>(stride) * 4;
  next = std::min({next, static_cast<double>(stride) * 4, static_cast<double>(kMaxStride)});
  return static_cast<std::size_t>(std::max(next, 1.0));
}

// Calls onMatch(start, end, engine) for every match, left to right, without
// overlap (the engine tells the match's groups, except for whole lines the
// prefilter answered itself: see CompiledPattern::keepGroups).
// After an empty match the search resumes one character further on.
//
// The search advances in strides: each engine call may only start a match
// within the current stride (a match may still extend past it), so one call
// cannot scan unboundedly many start positions. Strides are sized from the
// time the last one took; between strides `watch` hears the progress and may
// stop the run. When the pattern has a literal plan, start positions are
// further restricted to the lines that hold one of its literals.
template <typename OnMatch>
std::optional<FilterError> ForEachMatch(const CompiledPattern& re, std::string_view text, const MatchLimits& limits,
                                        OnMatch&& onMatch, ResultSink* watch = nullptr, const Span& span = {}) {
  Engine engine(re, text, limits, watch, span.valid);
  if (auto err = engine.Init()) return err;
  const std::size_t n = text.size();
  const std::size_t stop = std::min(span.end, n);
  if (span.begin >= stop && stop < n) return std::nullopt;  // an empty part
  const std::size_t last = stop < n ? stop - 1 : n;  // the last start position of a match
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  std::optional<LiteralFinder> finder;
  // Only up to the part's end: a part ends at a line start and a literal
  // never holds an LF, so a literal at or past it is in a line of the next
  // part (and each part's scan would otherwise run on to the text's end).
  if (limits.prefilter && !re.plan.literals.empty()) finder.emplace(text.substr(0, stop), re.plan.literals, span.begin);
  // (A template that takes groups needs the engine's match.)
  const bool wholeLines = finder && re.plan.wholeLine && !re.keepGroups;
  // The pattern is an alternation of plain literals: each occurrence is a
  // match, of the first literal (in the pattern's order) found there.
  const bool literalMatches = finder && re.plan.anyOccurrence && !re.plan.wholeLine && re.plan.literals.size() > 1;
  // A repeated character item: runs of its ASCII members are found here, and
  // the engine is asked only where a non-ASCII byte may take part.
  // (The tables are read for every byte: each search reads its own copy, on
  // its own stack. Read from the heap, a table on a cache line with a block
  // another thread writes made a search on two threads a fifth slower.)
  alignas(64) uint8_t runTable[256], leadTable[256];
  auto own = [&](const std::vector<uint8_t>& table, uint8_t* copy) -> const uint8_t* {
    return limits.prefilter && !table.empty() ? std::copy(table.begin(), table.end(), copy) - table.size() : nullptr;
  };
  const uint8_t* run = own(re.asciiRun, runTable);
  // The pattern's lead (CompiledPattern::leadRun): the next lead byte at or
  // after the search start, and where the run of the item before it starts
  // (`leadSure`: an ASCII non-member, or the search start, stands before it).
  const uint8_t* lead = own(re.leadRun, leadTable);
  std::size_t leadAt = 0, leadStart = 0;
  bool leadFound = false, leadSure = false;

  using Clock = std::chrono::steady_clock;
  const bool adaptive = limits.strideBytes == 0;
  const bool strided = re.strides && limits.strideBytes != SIZE_MAX;
  std::size_t stride = adaptive ? 1 : limits.strideBytes;  // a pathological pattern may cost ms per byte
  std::size_t strideFrom = 0, strideEnd = 0;  // current stride: start positions [strideFrom, strideEnd]
  bool open = false;
  Clock::time_point strideStart;
  std::size_t lineStart = 0, lineEnd = 0;  // candidate line (prefilter), [lineStart, lineEnd]
  bool haveLine = false;

  std::size_t pos = span.begin;
  while (pos <= last) {
    if (!open || pos > strideEnd) {
      if (open && adaptive) stride = NextStride(stride, pos - strideFrom, strideStart);
      if (watch != nullptr && !watch->Progress(pos)) return Stopped();
      strideFrom = pos;
      strideEnd = strided && stride < n - pos ? Boundary(text, pos + stride) - 1 : n;
      strideEnd = std::min(strideEnd, last);
      if (adaptive) strideStart = Clock::now();
      open = true;
    }
    std::size_t from = pos, limit = strideEnd;
    if (literalMatches) {
      const std::size_t at = finder->Next(pos);
      if (at == kNone) break;
      if (at > strideEnd) {  // the next match lies beyond this stride
        pos = at;
        continue;
      }
      const std::size_t length = finder->LengthAt(at);
      if (length == 0) return SearchFailed(engine, PCRE2_ERROR_INTERNAL, at);  // (the finder found one there)
      if (!onMatch(at, at + length, engine)) return Stopped();
      pos = at + length;
      continue;
    }
    if (run) {
      std::size_t s = pos;
      while (s <= strideEnd && s < n && run[bytes[s]] == 0) ++s;
      if (s > strideEnd || s >= n) {  // no start of a match in this stride
        if (strideEnd >= last) break;
        pos = strideEnd + 1;
        continue;
      }
      if (run[bytes[s]] == 1) {
        std::size_t e = s + 1;
        while (e < n && run[bytes[e]] == 1) ++e;
        if (e >= n || run[bytes[e]] == 0) {  // what the engine would find from here
          if (!onMatch(s, e, engine)) return Stopped();
          pos = e;
          continue;
        }
      }
      from = s;  // a non-ASCII byte at or after s: the engine decides
    }
    if (finder) {
      if (!haveLine || pos > lineEnd) {
        const std::size_t at = finder->Next(pos);
        if (at == kNone) break;  // no literal ahead: no match ahead
        const std::size_t lf = LastLf(text, pos, at);
        lineStart = lf == kNone ? pos : lf + 1;
        const void* nl = std::memchr(text.data() + at, '\n', n - at);
        lineEnd = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - text.data()) : n;
        haveLine = true;
      }
      from = std::max(pos, lineStart);
      if (from >= lineEnd) {  // a match never starts at the line's LF (it would hold it)
        if (lineEnd >= n) break;
        pos = lineEnd + 1;
        continue;
      }
      if (from > strideEnd) {  // the next candidate lies beyond this stride
        pos = from;
        continue;
      }
      limit = std::min(limit, lineEnd);
      if (wholeLines && from == lineStart && (from == 0 || bytes[from - 1] == '\n') &&
          IsValidUtf8(text.substr(from, lineEnd - from))) {
        if (!onMatch(from, lineEnd, engine)) return Stopped();  // what the engine would find here
        if (lineEnd >= n) break;
        pos = lineEnd + 1;
        continue;
      }
    }
    if (lead) {
      if (!leadFound || leadAt < from) {
        // Within the part: past it, the engine is asked as without the lead.
        const void* at = std::memchr(text.data() + from, re.leadByte, stop - from);
        if (at == nullptr && stop >= n) break;  // every match holds the byte
        leadFound = true;
        leadAt = at ? static_cast<std::size_t>(static_cast<const char*>(at) - text.data()) : stop;
        leadStart = leadAt;
        while (leadStart > from && lead[bytes[leadStart - 1]] == 1) --leadStart;
        leadSure = at != nullptr && (leadStart == from || lead[bytes[leadStart - 1]] == 0);
      }
      if (leadSure && leadStart > from) {
        if (leadStart > limit) {  // no match starts in this line or stride
          if (limit >= last) break;
          pos = limit + 1;
          continue;
        }
        from = leadStart;
      }
    }
    std::size_t start = 0, end = 0;
    const int rc = engine.Find(from, limit, start, end);
    if (rc == PCRE2_ERROR_NOMATCH) {
      if (limit >= last) break;
      pos = limit + 1;
      continue;
    }
    if (rc < 0) return SearchFailed(engine, rc, from);
    if (end > n || end < from) {
      // Only an engine fault gives such an end (PCRE2's JIT did for \X{0,2}
      // at an invalid byte): no result rather than a wrong one, and the
      // search never steps backwards.
      return SearchFailed(engine, PCRE2_ERROR_INTERNAL, from);
    }
    if (start > end) start = end;    // \K in an assertion; treat as empty
    if (start < from) start = from;  // never hand back text before the search start
    if (end > start) {
      if (!onMatch(start, end, engine)) return Stopped();
      pos = end;
    } else {
      if (end >= n) break;
      pos = end + CharLength(bytes + end, n - end);
    }
  }
  if (watch != nullptr && !watch->Progress(stop)) return Stopped();
  return std::nullopt;
}

// Whole lines: calls onLine(start, next) for every line the pattern matches
// in, left to right, where `next` is the start of the line after it (its line
// end lies in between). Each line is the engine's whole subject. Strides and
// progress are counted in the text as in ForEachMatch, across lines; lines
// without one of the plan's literals are passed over unread by the engine.
template <typename OnLine>
std::optional<FilterError> ForEachLine(const CompiledPattern& re, std::string_view text, const MatchLimits& limits,
                                       OnLine&& onLine, ResultSink* watch, const Span& span = {}) {
  Engine engine(re, text, limits, watch, span.valid);
  if (auto err = engine.Init()) return err;
  const std::size_t n = text.size();
  const std::size_t stop = std::min(span.end, n);  // lines that start before it
  std::optional<LiteralFinder> finder;
  // Only up to the part's end (see ForEachMatch).
  if (limits.prefilter && !re.plan.literals.empty()) finder.emplace(text.substr(0, stop), re.plan.literals, span.begin);
  const bool literalIsMatch = finder && re.plan.anyOccurrence;
  LineBreaks breaks(text);

  using Clock = std::chrono::steady_clock;
  const bool adaptive = limits.strideBytes == 0;
  const bool strided = re.strides && limits.strideBytes != SIZE_MAX;
  std::size_t stride = adaptive ? 1 : limits.strideBytes;
  std::size_t strideFrom = 0, strideEnd = 0;
  bool open = false;
  Clock::time_point strideStart;
  // Makes the current stride cover start position `pos` of the text; false: stop.
  auto cover = [&](std::size_t pos) {
    if (open && pos <= strideEnd) return true;
    if (open && adaptive) stride = NextStride(stride, pos - strideFrom, strideStart);
    if (watch != nullptr && !watch->Progress(pos)) return false;
    strideFrom = pos;
    strideEnd = strided && stride < n - pos ? Boundary(text, pos + stride) - 1 : n;
    if (adaptive) strideStart = Clock::now();
    open = true;
    return true;
  };

  std::size_t lineStart = span.begin;
  while (lineStart < stop) {
    std::size_t endFrom = lineStart;  // the line's end lies at or after this
    if (finder) {
      const std::size_t at = finder->Next(lineStart);
      if (at == kNone || at >= stop) break;  // no literal ahead: no line ahead is selected
      if (at > lineStart) {    // the start of the line that holds it
        const std::size_t lf = LastLf(text, lineStart, at);
        const std::size_t afterLf = lf == kNone ? lineStart : lf + 1;
        const std::size_t cr = breaks.FirstCr(afterLf, at) < at ? LastOf(text, '\r', afterLf, at) : kNone;
        lineStart = cr == kNone ? afterLf : cr + 1;
        endFrom = at;
      }
    }
    if (!cover(lineStart)) return Stopped();
    const std::size_t lineEnd = breaks.Next(endFrom);
    const std::size_t length = lineEnd - lineStart;
    bool selected = literalIsMatch;
    if (!selected) {
      engine.Rebase(text.substr(lineStart, length), lineStart);
      for (std::size_t p = 0;;) {
        if (!cover(lineStart + p)) return Stopped();
        const std::size_t limit = std::min(length, strideEnd - lineStart);
        std::size_t start = 0, end = 0;
        const int rc = engine.Find(p, limit, start, end);
        if (rc >= 0) {
          selected = true;
          break;
        }
        if (rc != PCRE2_ERROR_NOMATCH) return SearchFailed(engine, rc, lineStart + p);
        if (limit >= length) break;
        p = limit + 1;
      }
      if (!selected && length > 0 && engine.InterpretsInvalidText() &&
          !IsValidUtf8(text.substr(lineStart, length))) {
        std::size_t start = 0, end = 0;
        const int rc = engine.Find(length, length, start, end);  // ($, \z, an empty match after the invalid byte)
        if (rc >= 0) selected = true;
        else if (rc != PCRE2_ERROR_NOMATCH) return SearchFailed(engine, rc, lineStart + length);
      }
    }
    const std::size_t next = breaks.After(lineEnd);
    if (selected && !onLine(lineStart, next)) return Stopped();
    lineStart = next;
  }
  if (watch != nullptr && !watch->Progress(stop)) return Stopped();
  return std::nullopt;
}

// "12:" for line 12.
std::string_view NumberPrefix(uint64_t number, char (&buffer)[24], char after) {
  char* end = std::to_chars(buffer, buffer + 22, number).ptr;
  *end++ = after;
  return {buffer, static_cast<std::size_t>(end - buffer)};
}

// One match as Keep writes it before the delimiter: the match or the template's output.
template <typename Emit, typename EngineT>
bool EmitOutput(std::string_view text, const CompiledPattern& re, std::size_t s, std::size_t e, const EngineT& engine,
                Emit&& emit) {
  if (re.keep.empty()) return emit(text.substr(s, e - s));
  for (const CompiledPattern::TemplatePart& part : re.keep) {
    if (part.groups.empty()) {
      if (!emit(std::string_view(part.text))) return false;
      continue;
    }
    for (const uint32_t g : part.groups) {
      std::size_t gs = s, ge = e;
      if (g == 0 || engine.Group(g, gs, ge)) {
        if (ge > gs && !emit(text.substr(gs, ge - gs))) return false;
        break;
      }
    }
  }
  return true;
}

// A line's end as DistinctValues keeps it: 0 none, 1 LF, 2 CR, 3 CR LF.
uint8_t LineEndKind(std::string_view text, std::size_t start, std::size_t next) {
  if (next == start) return 0;
  if (text[next - 1] == '\r') return 2;
  if (text[next - 1] != '\n') return 0;
  return next - start >= 2 && text[next - 2] == '\r' ? 3 : 1;
}
std::string_view LineEndText(uint8_t kind) {
  static constexpr std::string_view kEnds[] = {"", "\n", "\r", "\r\n"};
  return kEnds[kind & 3];
}

// Unique and Tally: the outputs are gathered first, then written.
template <typename Emit>
std::optional<FilterError> KeepDistinct(std::string_view text, const CompiledPattern& re, std::string_view delimiter,
                                        const MatchLimits& limits, Emit&& emit, ResultSink* watch) {
  const bool sourceLines = watch != nullptr && watch->WantsSourceLines();
  const bool noted = re.lineNumbers || sourceLines;
  DistinctValues values(noted);  // noting the line of each first occurrence
  LineCounter lines(text);
  uint64_t outputs = 0;
  auto add = [&](std::string_view value, bool lasting, uint8_t tag, std::size_t at) {
    values.Add(value, lasting, tag, noted ? lines.At(at) : 0);
    ++outputs;
    return true;
  };
  std::optional<FilterError> err;
  if (re.wholeLines) {
    err = ForEachLine(
        re, text, limits,
        [&](std::size_t start, std::size_t next) {
          const uint8_t end = LineEndKind(text, start, next);
          return add(text.substr(start, next - start - LineEndText(end).size()), true, end, start);
        },
        watch);
  } else {
    std::string scratch;
    err = ForEachMatch(
        re, text, limits,
        [&](std::size_t s, std::size_t e, const Engine& engine) {
          if (re.keep.empty()) return add(text.substr(s, e - s), true, 0, s);
          scratch.clear();
          EmitOutput(text, re, s, e, engine, [&](std::string_view piece) {
            scratch.append(piece);
            return true;
          });
          return add(scratch, false, 0, s);
        },
        watch);
  }
  if (err) return err;

  values.Seal();
  if (watch != nullptr) watch->Distinct(outputs, values.Size());
  std::vector<uint32_t> order;
  const bool tally = re.keepMode == CompileOptions::KeepMode::Tally;
  if (tally) order = values.ByCount();
  char count[24], number[24];
  const auto n = static_cast<uint32_t>(values.Size());
  for (uint32_t k = 0; k < n; ++k) {
    if ((k & 4095) == 4095 && watch != nullptr && !watch->Progress(text.size())) return Stopped();
    const uint32_t i = tally ? order[k] : k;
    const DistinctValues::Value v = values.At(i);
    if (sourceLines) watch->SourceLine(values.NoteOf(i));
    if (tally && !emit(NumberPrefix(v.count, count, '\t'))) return Stopped();
    if (re.lineNumbers && !emit(NumberPrefix(values.NoteOf(i), number, ':'))) return Stopped();
    if (!v.bytes.empty() && !emit(v.bytes)) return Stopped();
    // (A last line without a line end is new only as the last line of the
    // text, so it comes last in either order: it stays without one.)
    const std::string_view after = re.wholeLines ? LineEndText(v.tag) : delimiter;
    if (!after.empty() && !emit(after)) return Stopped();
  }
  return std::nullopt;
}

// Keep: every non-empty match (as the template has it) followed by the
// delimiter, or with whole lines the selected lines as they stand. `emit`
// takes each piece (false: stop).
template <typename Emit>
std::optional<FilterError> KeepCore(std::string_view text, const CompiledPattern& re, std::string_view delimiter,
                                    const MatchLimits& limits, Emit&& emit, ResultSink* watch, const Span& span = {}) {
  if (re.keepMode != CompileOptions::KeepMode::All) return KeepDistinct(text, re, delimiter, limits, emit, watch);
  std::optional<LineCounter> lines;
  if (re.lineNumbers) lines.emplace(text, span.begin, span.firstLine);
  char number[24];
  if (re.wholeLines && lines) {
    return ForEachLine(
        re, text, limits,
        [&](std::size_t start, std::size_t next) {
          return emit(NumberPrefix(lines->At(start), number, ':')) && emit(text.substr(start, next - start));
        },
        watch, span);
  }
  if (re.wholeLines) {
    // Selected lines that follow each other go out as one piece.
    std::size_t from = span.begin, to = span.begin;
    auto err = ForEachLine(
        re, text, limits,
        [&](std::size_t start, std::size_t next) {
          if (start == to) {
            to = next;
            return true;
          }
          const bool go = to == from || emit(text.substr(from, to - from));
          from = start;
          to = next;
          return go;
        },
        watch, span);
    if (!err && to > from && !emit(text.substr(from, to - from))) return std::optional(Stopped());
    return err;
  }
  return ForEachMatch(
      re, text, limits,
      [&](std::size_t s, std::size_t e, const Engine& engine) {
        if (lines && !emit(NumberPrefix(lines->At(s), number, ':'))) return false;
        return EmitOutput(text, re, s, e, engine, emit) && (delimiter.empty() || emit(delimiter));
      },
      watch, span);
}

// Remove: the text without the matches, or without the selected lines.
template <typename Emit>
std::optional<FilterError> RemoveCore(std::string_view text, const CompiledPattern& re, const MatchLimits& limits,
                                      Emit&& emit, ResultSink* watch, const Span& span = {}) {
  std::size_t kept = span.begin;
  const std::size_t stop = std::min(span.end, text.size());
  auto cut = [&](std::size_t s, std::size_t e) {
    const bool go = s <= kept || emit(text.substr(kept, s - kept));
    kept = e;
    return go;
  };
  auto err = re.wholeLines ? ForEachLine(re, text, limits, cut, watch, span)
                           : ForEachMatch(
                                 re, text, limits, [&](std::size_t s, std::size_t e, const Engine&) { return cut(s, e); },
                                 watch, span);
  if (!err && kept < stop && !emit(text.substr(kept, stop - kept))) return std::optional(Stopped());
  return err;
}

// Runs with a compiled pattern; an empty pattern leaves the text as it is (one piece).
template <typename Run>
std::optional<FilterError> Guarded(std::string_view text, const CompiledPattern& re, const Sink& sink, Run&& run) {
  try {
    if (re.empty) {
      if (!text.empty()) sink(text);
      return std::nullopt;
    }
    return run();
  } catch (const std::bad_alloc&) {
    return NoMemory();
  }
}

// The string-pattern entry points: compiled for this one call.
template <typename Run>
std::optional<FilterError> WithPattern(std::string_view pattern, const MatchLimits& limits, Run&& run) {
  Compilation c = Compile(pattern, JitOnly(limits.jit));
  if (c.error) return std::move(c.error);
  return run(*c.pattern);
}

std::optional<FilterError> KeepToSink(std::string_view text, const CompiledPattern& re, std::string_view delimiter,
                                      const MatchLimits& limits, const Sink& sink) {
  return Guarded(text, re, sink, [&] {
    return KeepCore(
        text, re, delimiter, limits,
        [&](std::string_view piece) {
          sink(piece);
          return true;
        },
        nullptr);
  });
}

std::optional<FilterError> RemoveToSink(std::string_view text, const CompiledPattern& re, const MatchLimits& limits,
                                        const Sink& sink) {
  return Guarded(text, re, sink, [&] {
    return RemoveCore(
        text, re, limits,
        [&](std::string_view piece) {
          sink(piece);
          return true;
        },
        nullptr);
  });
}

FilterResult Collect(std::size_t reserve, const std::function<std::optional<FilterError>(const Sink&)>& produce) {
  FilterResult result;
  try {
    result.text.reserve(reserve);
    if (auto err = produce([&](std::string_view piece) { result.text.append(piece); })) {
      result.text = std::string();
      result.error = std::move(*err);
      return result;
    }
    result.ok = true;
  } catch (const std::bad_alloc&) {
    result = FilterResult{};
    result.error = NoMemory();
  }
  return result;
}

}  // namespace

std::string EngineVersion() {
  char buffer[64] = {};
  return pcre2_config(PCRE2_CONFIG_VERSION, buffer) > 0 ? std::string(buffer) : std::string();
}

std::string Pcre2ErrorText(int32_t code) {
  PCRE2_UCHAR buffer[256];
  const int n = pcre2_get_error_message(code, buffer, sizeof buffer);
  if (n < 0) return "PCRE2 error " + std::to_string(code);
  return std::string(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n));
}

std::string PatternProblemText(const FilterError& error) {
  const std::string where = "at position " + std::to_string(error.position + 1) + " of the pattern";
  switch (error.kind) {
    case FilterError::Kind::BadPattern:
      return Pcre2ErrorText(error.code) + " " + where;
    case FilterError::Kind::TooComplex:
      // PCRE2's words would describe the text the item was rewritten to.
      if (error.rewritten)
        return "the pattern is too large or too complex for the engine; it gives up " +
               (error.item.empty() ? std::string() : "at " + error.item + " ") + where;
      return Pcre2ErrorText(error.code) + " " + where;
    case FilterError::Kind::Limit:
      return "the pattern needs too much backtracking or memory (" + Pcre2ErrorText(error.code) +
             "); simplify it, e.g. avoid nested repeats like (a+)+";
    case FilterError::Kind::MatchFailed:
      return "matching failed: " + Pcre2ErrorText(error.code);
    case FilterError::Kind::BadTemplate:
      return "the output template's " + error.item + " at position " + std::to_string(error.position + 1) +
             " names no group of the pattern ($0, $1..$99, ${N}, ${name}; $$ for a dollar sign)";
    case FilterError::Kind::TemplateWithLines:
      return "an output template does not apply to whole lines (a line is kept as it stands)";
    case FilterError::Kind::NoMemory:
    case FilterError::Kind::Stopped:
      break;
  }
  return {};
}

Compilation Compile(std::string_view pattern, const CompileOptions& options) {
  Compilation result;
  try {
    auto made = CompileShared(pattern, options);
    if (auto* error = std::get_if<FilterError>(&made)) result.error = std::move(*error);
    else result.pattern = std::move(std::get<std::shared_ptr<CompiledPattern>>(made));
  } catch (const std::bad_alloc&) {
    result.pattern.reset();
    result.error = NoMemory();
  }
  return result;
}

bool IsEmpty(const CompiledPattern& pattern) { return pattern.empty; }

std::string DescribeSearch(std::string_view pattern) {
  const Compilation c = Compile(pattern);
  if (c.error) {
    if (c.error->kind == FilterError::Kind::NoMemory) return "not enough memory";
    return "pattern rejected: " + Pcre2ErrorText(c.error->code);
  }
  return DescribeSearch(*c.pattern);
}

std::string DescribeSearch(const CompiledPattern& re) {
  if (re.empty) return "empty pattern: the text stays as it is";
  const LiteralPlan& plan = re.plan;
  std::string s = re.main.jit ? "JIT" : "interpreter";
  if (!re.strides)
    s += re.callouts ? ", one call per search, watched from inside (the pattern ends or skips searches itself)"
                     : ", one call per search (the pattern ends or skips searches itself)";
  if (re.wholeLines) s += ", line by line";
  if (re.scriptClasses > 0)
    s += ", " + std::to_string(re.scriptClasses) + " script propert" + (re.scriptClasses == 1 ? "y" : "ies") +
         " as code-point ranges";
  if (!re.asciiRun.empty()) s += ", runs of ASCII characters found without the engine";
  if (!re.leadRun.empty()) s += std::string(", each search from the run before the next \"") + static_cast<char>(re.leadByte) + '"';
  if (plan.literals.empty()) return s + "; no line prefilter: " + plan.declined;
  if (plan.anyOccurrence && !plan.wholeLine && !re.wholeLines && plan.literals.size() > 1) {
    s += "; the literals are the matches, found without the engine:";
    for (const RequiredLiteral& l : plan.literals) s += (l.caseless ? " (?i)\"" : " \"") + l.bytes + "\"";
    return s;
  }
  s += plan.wholeLine || (re.wholeLines && plan.anyOccurrence) ? "; whole lines holding" : "; line prefilter on";
  for (const RequiredLiteral& l : plan.literals) s += (l.caseless ? " (?i)\"" : " \"") + l.bytes + "\"";
  return s;
}

std::string ExpandDelimiter(std::string_view field) {
  auto replaceAll = [](std::string_view s, std::string_view from, std::string_view to) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
      if (s.substr(i).starts_with(from)) {
        out += to;
        i += from.size();
      } else {
        out += s[i++];
      }
    }
    return out;
  };
  return replaceAll(replaceAll(field, "\\n", "\r\n"), "\\t", "\t");
}

std::optional<FilterError> KeepTo(std::string_view text, std::string_view pattern, std::string_view delimiter,
                                  const MatchLimits& limits, const Sink& sink) {
  return WithPattern(pattern, limits,
                     [&](const CompiledPattern& re) { return KeepToSink(text, re, delimiter, limits, sink); });
}

std::optional<FilterError> RemoveTo(std::string_view text, std::string_view pattern, const MatchLimits& limits,
                                    const Sink& sink) {
  return WithPattern(pattern, limits, [&](const CompiledPattern& re) { return RemoveToSink(text, re, limits, sink); });
}

std::optional<FilterError> KeepTo(std::string_view text, const CompiledPattern& re, std::string_view delimiter,
                                  const MatchLimits& limits, ResultSink& sink) {
  sink.Begin(text.size());
  auto err = Guarded(text, re, [&](std::string_view piece) { sink.Piece(piece); }, [&] {
    return KeepCore(text, re, delimiter, limits, [&](std::string_view piece) { return sink.Piece(piece); }, &sink);
  });
  if (!err) sink.Finish();
  return err;
}

std::optional<FilterError> RemoveTo(std::string_view text, const CompiledPattern& re, const MatchLimits& limits,
                                    ResultSink& sink) {
  sink.Begin(text.size());
  auto err = Guarded(text, re, [&](std::string_view piece) { sink.Piece(piece); }, [&] {
    return RemoveCore(text, re, limits, [&](std::string_view piece) { return sink.Piece(piece); }, &sink);
  });
  if (!err) sink.Finish();
  return err;
}

std::optional<FilterError> CountTo(std::string_view text, const CompiledPattern& re, const MatchLimits& limits,
                                   ResultSink& watch, uint64_t& count) {
  count = 0;
  watch.Begin(text.size());
  std::optional<FilterError> err;
  try {
    if (!re.empty) {
      auto counted = [&](std::size_t at) { return (++count & 1023) != 0 || watch.Progress(at); };
      err = re.wholeLines ? ForEachLine(
                                re, text, limits, [&](std::size_t s, std::size_t) { return counted(s); }, &watch)
                          : ForEachMatch(
                                re, text, limits,
                                [&](std::size_t s, std::size_t, const Engine&) { return counted(s); }, &watch);
    }
  } catch (const std::bad_alloc&) {
    err = NoMemory();
  }
  if (!err) watch.Finish();
  return err;
}

std::optional<FilterError> MatchesTo(std::string_view text, const CompiledPattern& re, const MatchLimits& limits,
                                     ResultSink& watch, const MatchRange& onMatch) {
  watch.Begin(text.size());
  std::optional<FilterError> err;
  try {
    if (!re.empty) {
      // A selected line without its line end (CR LF, LF or a lone CR).
      auto line = [&](std::size_t s, std::size_t next) {
        if (next > s && text[next - 1] == '\n') --next;
        if (next > s && text[next - 1] == '\r') --next;
        return onMatch(s, next);
      };
      err = re.wholeLines ? ForEachLine(re, text, limits, line, &watch)
                          : ForEachMatch(
                                re, text, limits,
                                [&](std::size_t s, std::size_t e, const Engine&) { return onMatch(s, e); }, &watch);
    }
  } catch (const std::bad_alloc&) {
    err = NoMemory();
  }
  if (!err) watch.Finish();
  return err;
}

std::optional<FilterError> KeepTo(std::string_view text, std::string_view pattern, std::string_view delimiter,
                                  const MatchLimits& limits, ResultSink& sink) {
  const Compilation c = Compile(pattern, JitOnly(limits.jit));
  if (c.error) {
    sink.Begin(text.size());
    return c.error;
  }
  return KeepTo(text, *c.pattern, delimiter, limits, sink);
}

std::optional<FilterError> RemoveTo(std::string_view text, std::string_view pattern, const MatchLimits& limits,
                                    ResultSink& sink) {
  const Compilation c = Compile(pattern, JitOnly(limits.jit));
  if (c.error) {
    sink.Begin(text.size());
    return c.error;
  }
  return RemoveTo(text, *c.pattern, limits, sink);
}

FilterResult Keep(std::string_view text, const CompiledPattern& re, std::string_view delimiter,
                  const MatchLimits& limits) {
  return Collect(0, [&](const Sink& sink) { return KeepToSink(text, re, delimiter, limits, sink); });
}

FilterResult Remove(std::string_view text, const CompiledPattern& re, const MatchLimits& limits) {
  // Remove never grows the text: one allocation holds any result.
  return Collect(text.size(), [&](const Sink& sink) { return RemoveToSink(text, re, limits, sink); });
}

FilterResult Keep(std::string_view text, std::string_view pattern, std::string_view delimiter,
                  const MatchLimits& limits) {
  return Collect(0, [&](const Sink& sink) { return KeepTo(text, pattern, delimiter, limits, sink); });
}

FilterResult Remove(std::string_view text, std::string_view pattern, const MatchLimits& limits) {
  return Collect(text.size(), [&](const Sink& sink) { return RemoveTo(text, pattern, limits, sink); });
}

FilterResult Keep(std::string_view text, std::string_view pattern, std::string_view delimiter) {
  return Keep(text, pattern, delimiter, MatchLimits{});
}

FilterResult Remove(std::string_view text, std::string_view pattern) {
  return Remove(text, pattern, MatchLimits{});
}

bool SearchesInParts(const CompiledPattern& re) {
  if (re.empty || re.keepMode != CompileOptions::KeepMode::All) return false;
  return re.wholeLines || (re.strides && !re.searchStart && re.plan.withinLine);
}

bool GivesViews(const CompiledPattern& re) {
  return re.keep.empty() && !re.lineNumbers && re.keepMode == CompileOptions::KeepMode::All;
}

bool AsksTextValidity(const CompiledPattern& re, const MatchLimits& limits) {
  return !re.empty && (!(limits.jit && re.main.jit) || re.interpretInvalidText || re.invalidText != nullptr);
}

namespace {

template <typename Run>
std::optional<FilterError> PartRun(std::string_view text, const TextPart& part, const CompiledPattern& re,
                                   ResultSink& sink, Run&& run) {
  Span span;
  span.end = std::min(part.end, text.size());
  span.begin = std::min(part.begin, span.end);
  span.firstLine = part.firstLine;
  if (part.textValid) span.valid = *part.textValid ? 1 : 0;
  sink.Begin(span.end - span.begin);
  std::optional<FilterError> err;
  try {
    if (re.empty) {
      if (span.end > span.begin && !sink.Piece(text.substr(span.begin, span.end - span.begin))) err = Stopped();
    } else if (!SearchesInParts(re) && (span.begin > 0 || span.end < text.size())) {
      err = Error(FilterError::Kind::MatchFailed, PCRE2_ERROR_INTERNAL);
    } else {
      err = run(span);
    }
  } catch (const std::bad_alloc&) {
    err = NoMemory();
  }
  if (!err) sink.Finish();
  return err;
}

}  // namespace

std::optional<FilterError> KeepPartTo(std::string_view text, const TextPart& part, const CompiledPattern& re,
                                      std::string_view delimiter, const MatchLimits& limits, ResultSink& sink) {
  return PartRun(text, part, re, sink, [&](const Span& span) {
    return KeepCore(text, re, delimiter, limits, [&](std::string_view piece) { return sink.Piece(piece); }, &sink,
                    span);
  });
}

std::optional<FilterError> RemovePartTo(std::string_view text, const TextPart& part, const CompiledPattern& re,
                                        const MatchLimits& limits, ResultSink& sink) {
  return PartRun(text, part, re, sink, [&](const Span& span) {
    return RemoveCore(text, re, limits, [&](std::string_view piece) { return sink.Piece(piece); }, &sink, span);
  });
}

}  // namespace siftwell::engine
