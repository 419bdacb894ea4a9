// Keep and Remove over UTF-8 bytes with PCRE2 (8-bit, UTF + UCP, JIT when
// available). The text is matched in place: invalid UTF-8 never stops a run
// and is copied through untouched wherever it is not part of a match.
#include "filter/PatternFilter.h"
#include "filter/LiteralPrefilter.h"
#include "filter/PatternTranslator.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <utility>

namespace siftwell::filter {
namespace {

// ---- UTF-8 helpers -------------------------------------------------------

// Length of the well-formed UTF-8 character at p, or 1 for a byte that does
// not start one (so that an invalid byte counts as one character).
std::size_t CharLength(const unsigned char* p, std::size_t left) {
  const unsigned c = p[0];
  if (c < 0x80) return 1;
  std::size_t n = 0;
  if (c >= 0xC2 && c <= 0xDF) n = 2;
  else if (c >= 0xE0 && c <= 0xEF) n = 3;
  else if (c >= 0xF0 && c <= 0xF4) n = 4;
  else return 1;
  if (left < n) return 1;
  for (std::size_t i = 1; i < n; ++i)
    if ((p[i] & 0xC0) != 0x80) return 1;
  if ((c == 0xE0 && p[1] < 0xA0) || (c == 0xED && p[1] >= 0xA0) ||
      (c == 0xF0 && p[1] < 0x90) || (c == 0xF4 && p[1] >= 0x90))
    return 1;
  return n;
}

std::size_t CharIndex(std::string_view s, std::size_t byteOffset) {
  std::size_t chars = 0;
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  for (std::size_t i = 0; i < byteOffset && i < s.size(); ++chars)
    i += CharLength(p + i, s.size() - i);
  return chars;
}

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

std::string Pcre2Message(int code) {
  PCRE2_UCHAR buffer[256];
  const int n = pcre2_get_error_message(code, buffer, sizeof buffer);
  if (n < 0) return "PCRE2 error " + std::to_string(code);
  return std::string(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n));
}

FilterError NoMemory() {
  return {FilterError::Kind::NoMemory, "not enough memory to filter this document; the document is unchanged", 0};
}

struct Compiled {
  Pcre2Ptr<pcre2_code> code;       // matches any bytes (invalid UTF-8 allowed)
  Pcre2Ptr<pcre2_code> validCode;  // interpreter only: for valid UTF-8 without re-checking it
  bool jit = false;
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
};

bool IsValidUtf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const auto* end = p + s.size();
  while (p < end) {
    if constexpr (std::endian::native == std::endian::little) {
      if (end - p >= 8) {  // eight bytes at a time up to the next non-ASCII one
        uint64_t eight;
        std::memcpy(&eight, p, 8);
        const uint64_t high = eight & 0x8080808080808080u;
        if (high == 0) {
          p += 8;
          continue;
        }
        p += std::countr_zero(high) / 8;
      }
    }
    if (*p < 0x80) {
      ++p;
      continue;
    }
    const std::size_t n = CharLength(p, static_cast<std::size_t>(end - p));
    if (n == 1) return false;
    p += n;
  }
  return true;
}

// Where PCRE2 rejected the pattern, in the user's words: the message names the
// place in what the user wrote; where that is an item the translation
// rewrote (\b, \w, ...), PCRE2's words for a limit would describe the
// rewritten text ("lookbehind is too complicated"), so that is told plainly.
FilterError Rejected(int err, std::size_t errOffset, std::string_view pattern, const Translation& t) {
  const Translation::Source at = t.SourceOf(errOffset);
  const std::string where = "at position " + std::to_string(CharIndex(pattern, at.offset)) + " of the pattern";
  std::string message = Pcre2Message(err) + " " + where;
  const bool limit = err == PCRE2_ERROR_LOOKBEHIND_TOO_COMPLICATED || err == PCRE2_ERROR_PATTERN_TOO_LARGE ||
                     err == PCRE2_ERROR_PATTERN_TOO_COMPLICATED || err == PCRE2_ERROR_PARENTHESES_NEST_TOO_DEEP ||
                     err == PCRE2_ERROR_INTERNAL_CODE_OVERFLOW || err == PCRE2_ERROR_LOOKBEHIND_TOO_LONG;
  if (at.rewritten && limit) {
    message = "the pattern is too large or too complex for the engine; it gives up " +
              (at.length > 0 ? "at " + std::string(pattern.substr(at.offset, at.length)) + " " : std::string()) +
              where;
  }
  return FilterError{FilterError::Kind::BadPattern, std::move(message), at.offset};
}

// `text`: what the pattern will be matched against (for options that depend
// on it), may be empty.
std::optional<FilterError> Compile(std::string_view pattern, bool jit, std::string_view text, Compiled& out) {
  Translation translation = TranslatePattern(pattern);
  const std::string& translated = translation.pattern;
  Pcre2Ptr<pcre2_compile_context> cctx(pcre2_compile_context_create(nullptr));
  if (!cctx) return NoMemory();
  pcre2_set_newline(cctx.get(), PCRE2_NEWLINE_LF);
  pcre2_set_bsr(cctx.get(), PCRE2_BSR_UNICODE);
  // ALT_CIRCUMFLEX: in (?m) mode ^ also matches after a final LF, as the
  // platform's does. NO_AUTO_POSSESS only where PCRE2's auto-possessification
  // is wrong (overlapping negated properties taken as disjoint); elsewhere it
  // is a large part of the speed of repeats like \w+ and \d+.
  uint32_t utf = PCRE2_UTF | PCRE2_UCP | PCRE2_NEVER_BACKSLASH_C | PCRE2_ALT_CIRCUMFLEX | PCRE2_USE_OFFSET_LIMIT;
  if (translation.negatedProperty) utf |= PCRE2_NO_AUTO_POSSESS;
  if (translation.duplicateNames) utf |= PCRE2_DUPNAMES;
  int err = 0;
  PCRE2_SIZE errOffset = 0;
  auto compile = [&](uint32_t options) {
    return Pcre2Ptr<pcre2_code>(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(translated.data()), translated.size(),
                                              options, &err, &errOffset, cctx.get()));
  };
  out.code = compile(utf | PCRE2_MATCH_INVALID_UTF);
  if (!out.code) {
    if (err == PCRE2_ERROR_NOMEMORY || err == PCRE2_ERROR_HEAP_FAILED) return NoMemory();
    return Rejected(err, errOffset, pattern, translation);
  }
  // A leading .* makes PCRE2 try a match only at line starts (or only at
  // the start), but in a text with invalid UTF-8 the .* also stops before an
  // invalid byte, so matches that start after one would be missed. Only
  // then, and only for such a text, the optimisation is switched off. The
  // compiled pattern tells (\N*, .{0,} and (?s:.*) are such a .* too).
  uint32_t firstType = 0, allOptions = 0;
  pcre2_pattern_info(out.code.get(), PCRE2_INFO_FIRSTCODETYPE, &firstType);
  pcre2_pattern_info(out.code.get(), PCRE2_INFO_ALLOPTIONS, &allOptions);
  if (firstType == 2 || (allOptions & PCRE2_ANCHORED) != 0) {
    Pcre2Ptr<pcre2_code> plain = compile(utf | PCRE2_MATCH_INVALID_UTF | PCRE2_NO_DOTSTAR_ANCHOR);
    auto starts = [](const pcre2_code* code) {
      uint32_t first = 0, options = 0;
      pcre2_pattern_info(code, PCRE2_INFO_FIRSTCODETYPE, &first);
      pcre2_pattern_info(code, PCRE2_INFO_ALLOPTIONS, &options);
      return std::pair(first, options & PCRE2_ANCHORED);
    };
    if (plain && starts(plain.get()) != starts(out.code.get()) && !IsValidUtf8(text)) {
      utf |= PCRE2_NO_DOTSTAR_ANCHOR;
      out.code = std::move(plain);
    }
  }
  if (translated.find("(?<") != std::string::npos) {  // (named groups pass here too)
    Pcre2Ptr<pcre2_compile_context> fixedOnly(pcre2_compile_context_copy(cctx.get()));
    if (!fixedOnly) return NoMemory();
    pcre2_set_max_varlookbehind(fixedOnly.get(), 0);
    int probeErr = 0;
    PCRE2_SIZE probeOffset = 0;
    const Pcre2Ptr<pcre2_code> fixed(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(translated.data()), translated.size(),
                                                   utf | PCRE2_MATCH_INVALID_UTF, &probeErr, &probeOffset,
                                                   fixedOnly.get()));
    out.interpretInvalidText = fixed == nullptr;
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
    if (out.interpretInvalidText && endSensitive) jit = false;
  }
  // A (*NO_JIT) pattern compiles "successfully" to no machine code at all.
  std::size_t jitSize = 0;
  out.jit = jit && pcre2_jit_compile(out.code.get(), PCRE2_JIT_COMPLETE) == 0 &&
            pcre2_pattern_info(out.code.get(), PCRE2_INFO_JITSIZE, &jitSize) == 0 && jitSize > 0;
  auto mentions = [&](std::string_view s) { return translated.find(s) != std::string::npos; };
  out.interpretInvalidText |= mentions("(*COMMIT") || mentions("\\X");
  if (!out.jit || out.interpretInvalidText) {
    // Without JIT, PCRE2 re-checks the subject from the start offset on every
    // call when invalid UTF is allowed: quadratic over many matches. Valid
    // text (or a valid run of it) is matched with this copy, never checked.
    out.validCode = compile(utf);
    if (!out.validCode) return NoMemory();  // it compiled a moment ago
  }
  out.strides = !mentions("(*COMMIT") && !mentions("(*SKIP") && !mentions("\\G");
  out.fragments = !mentions("\\A") && !mentions("\\z") && !mentions("\\Z") && !mentions("\\G");
  out.searchStart = mentions("\\G");
  out.plan = PlanLiterals(pattern);
  uint32_t first = 0;
  const uint8_t* bitmap = nullptr;
  if (!out.plan.literals.empty() && !out.plan.wholeLine &&
      pcre2_pattern_info(out.code.get(), PCRE2_INFO_FIRSTCODETYPE, &first) == 0) {
    int starts = 256;  // how many different bytes a match may start with
    if (first == 0 && pcre2_pattern_info(out.code.get(), PCRE2_INFO_FIRSTBITMAP, &bitmap) == 0 && bitmap) {
      starts = 0;
      for (int b = 0; b < 256; ++b) starts += (bitmap[b / 8] >> (b % 8)) & 1;
    }
    if (first == 1 || starts <= 4) {
      // The engine itself skips to its first character(s) at memchr speed.
      out.plan.literals.clear();
      out.plan.declined = "the engine itself skips to the one or few characters a match can start with";
    }
  }
  return std::nullopt;
}

FilterError Stopped() { return {FilterError::Kind::Stopped, "stopped before the end; the document is unchanged", 0}; }

constexpr std::size_t kNone = std::string_view::npos;
constexpr std::size_t kDefaultJitStack = 32 * 1024;  // PCRE2's own, on the machine stack

// The last LF in [from, to), or kNone.
std::size_t LastLf(std::string_view text, std::size_t from, std::size_t to) {
#ifdef __GLIBC__
  if (to <= from) return kNone;
  const void* lf = memrchr(text.data() + from, '\n', to - from);
  return lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - text.data()) : kNone;
#else
  while (to > from)
    if (text[--to] == '\n') return to;
  return kNone;
#endif
}

// One engine over one text: finds the first match that starts in a range of
// start positions, with the JIT when it can, growing the JIT stack on demand.
class Engine {
 public:
  Engine(const Compiled& re, std::string_view text, const MatchLimits& limits)
      : re_(re), text_(text), limits_(limits) {
    static constexpr char kEmpty[1] = {};
    subject_ = reinterpret_cast<PCRE2_SPTR>(text.empty() ? kEmpty : text.data());
  }

  std::optional<FilterError> Init() {
    md_.reset(pcre2_match_data_create_from_pattern(re_.code.get(), nullptr));
    mctx_.reset(pcre2_match_context_create(nullptr));
    if (!md_ || !mctx_) return NoMemory();
    uint32_t matchLimit = limits_.matchLimit;
    if (limits_.matchLimitFollowsText)
      matchLimit = static_cast<uint32_t>(std::clamp<uint64_t>(text_.size(), matchLimit, UINT32_MAX));
    pcre2_set_match_limit(mctx_.get(), matchLimit);
    pcre2_set_depth_limit(mctx_.get(), limits_.depthLimit);
    pcre2_set_heap_limit(mctx_.get(), limits_.heapLimitKiB);
    // No JIT stack yet: the first attempts run on PCRE2's 32 KiB default.
    // The text is checked once, and only where the answer matters.
    if (!re_.jit || re_.interpretInvalidText) textValid_ = IsValidUtf8(text_);
    jit_ = re_.jit && (textValid_ || !re_.interpretInvalidText);
    if (!jit_) {
      if (!textValid_ && re_.fragments) {
        fragments_ = true;
        md_.reset(pcre2_match_data_create_from_pattern(re_.validCode.get(), nullptr));
        if (!md_) return NoMemory();
      }
    }
    return std::nullopt;
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
      rc = pcre2_jit_match(re_.code.get(), subject_, n, from, 0, md_.get(), mctx_.get());
      if (rc == PCRE2_ERROR_JIT_STACKLIMIT) rc = JitAgain(from);
    } else if (textValid_) {
      rc = Interpret(re_.validCode.get(), subject_, n, from, limit, PCRE2_NO_UTF_CHECK);
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
        rc = Interpret(re_.code.get(), subject_, from, from, from, PCRE2_NOTEOL);
      }
      if (rc == PCRE2_ERROR_NOMATCH) rc = Interpret(re_.code.get(), subject_, n, from, limit, 0);
    }
    if (rc < 0) return rc;
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md_.get());
    start = ov[0];
    end = ov[1];
    return 1;
  }

 private:
  // The interpreter, also for a code that has JIT code too (pcre2_match would
  // run that): the paths that call this are those whose answer must not
  // depend on the JIT.
  int Interpret(const pcre2_code* code, PCRE2_SPTR subject, std::size_t length, std::size_t from,
                std::size_t limit, uint32_t options) {
    if (limit != offsetLimit_) {
      pcre2_set_offset_limit(mctx_.get(), limit);
      offsetLimit_ = limit;
    }
    return pcre2_match(code, subject, length, from, options | PCRE2_NO_JIT, md_.get(), mctx_.get());
  }

  int JitAgain(std::size_t from) {
    while (true) {
      // Repeat the attempt with a larger stack; when none can be had, let
      // the interpreter (heap-bounded) take this one call.
      if (!GrowStack()) {
        if (std::max<std::size_t>(stackBytes_, kDefaultJitStack) >= limits_.jitStackBytes)
          return PCRE2_ERROR_JIT_STACKLIMIT;  // the bound itself
        return pcre2_match(re_.code.get(), subject_, text_.size(), from, PCRE2_NO_JIT, md_.get(), mctx_.get());
      }
      const int rc = pcre2_jit_match(re_.code.get(), subject_, text_.size(), from, 0, md_.get(), mctx_.get());
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
        const int rc = Interpret(re_.validCode.get(), subject_ + runStart, bad - runStart, a - runStart,
                                 limit - runStart, options);
        if (rc >= 0) {
          const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md_.get());
          start = ov[0] + runStart;
          end = ov[1] + runStart;
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

  const Compiled& re_;
  std::string_view text_;
  const MatchLimits& limits_;
  PCRE2_SPTR subject_ = nullptr;
  Pcre2Ptr<pcre2_match_data> md_;
  Pcre2Ptr<pcre2_match_context> mctx_;
  Pcre2Ptr<pcre2_jit_stack> stack_;
  std::size_t stackBytes_ = 0;
  std::size_t offsetLimit_ = kNone;
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

// Calls onMatch(start, end) for every match, left to right, without overlap.
// After an empty match the search resumes one character further on.
//
// The search advances in strides: each engine call may only start a match
// within the current stride (a match may still extend past it), so one call
// cannot scan unboundedly many start positions. Strides are sized from the
// time the last one took; between strides `watch` hears the progress and may
// stop the run. When the pattern has a literal plan, start positions are
// further restricted to the lines that hold one of its literals.
template <typename OnMatch>
std::optional<FilterError> ForEachMatch(const Compiled& re, std::string_view text, const MatchLimits& limits,
                                        OnMatch&& onMatch, ResultSink* watch = nullptr) {
  Engine engine(re, text, limits);
  if (auto err = engine.Init()) return err;
  const std::size_t n = text.size();
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  std::optional<LiteralFinder> finder;
  if (limits.prefilter && !re.plan.literals.empty()) finder.emplace(text, re.plan.literals);
  const bool wholeLines = finder && re.plan.wholeLine;

  using Clock = std::chrono::steady_clock;
  constexpr std::size_t kMaxStride = 64 * 1024;
  constexpr double kStrideSeconds = 0.01;
  const bool adaptive = limits.strideBytes == 0;
  const bool strided = re.strides && limits.strideBytes != SIZE_MAX;
  std::size_t stride = adaptive ? 1 : limits.strideBytes;  // a pathological pattern may cost ms per byte
  std::size_t strideFrom = 0, strideEnd = 0;  // current stride: start positions [strideFrom, strideEnd]
  bool open = false;
  Clock::time_point strideStart;
  std::size_t lineStart = 0, lineEnd = 0;  // candidate line (prefilter), [lineStart, lineEnd]
  bool haveLine = false;

  std::size_t pos = 0;
  while (pos <= n) {
    if (!open || pos > strideEnd) {
      if (open && adaptive) {
        // Aim each stride at ~10 ms of work: grow at most fourfold.
        const double took = std::chrono::duration<double>(Clock::now() - strideStart).count();
        const double covered = static_cast<double>(pos - strideFrom);
        double next = took > 0 ? covered * (kStrideSeconds / took) : static_cast<double>(stride) * 4;
        next = std::min({next, static_cast<double>(stride) * 4, static_cast<double>(kMaxStride)});
        stride = static_cast<std::size_t>(std::max(next, 1.0));
      }
      if (watch != nullptr && !watch->Progress(pos)) return Stopped();
      strideFrom = pos;
      strideEnd = strided && stride < n - pos ? Boundary(text, pos + stride) - 1 : n;
      if (adaptive) strideStart = Clock::now();
      open = true;
    }
    std::size_t from = pos, limit = strideEnd;
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
        if (!onMatch(from, lineEnd)) return Stopped();  // what the engine would find here
        if (lineEnd >= n) break;
        pos = lineEnd + 1;
        continue;
      }
    }
    std::size_t start = 0, end = 0;
    const int rc = engine.Find(from, limit, start, end);
    if (rc == PCRE2_ERROR_NOMATCH) {
      if (limit >= n) break;
      pos = limit + 1;
      continue;
    }
    if (rc < 0) {
      if (rc == PCRE2_ERROR_NOMEMORY) return NoMemory();
      const bool limitHit = rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT ||
                            rc == PCRE2_ERROR_HEAPLIMIT || rc == PCRE2_ERROR_JIT_STACKLIMIT;
      std::string why = limitHit ? "the pattern needs too much backtracking or memory (" + Pcre2Message(rc) +
                                       "); simplify it, e.g. avoid nested repeats like (a+)+"
                                 : "matching failed: " + Pcre2Message(rc);
      return FilterError{limitHit ? FilterError::Kind::Limit : FilterError::Kind::BadPattern,
                         why + ". Searching from byte " + std::to_string(from) +
                             " of the text; the document is unchanged",
                         0};
    }
    if (end > n || end < from) {
      // Only an engine fault gives such an end (PCRE2's JIT did for \X{0,2}
      // at an invalid byte): no result rather than a wrong one, and the
      // search never steps backwards.
      return FilterError{FilterError::Kind::BadPattern,
                         "matching failed: the engine reported a match ending outside the text. Searching from byte " +
                             std::to_string(from) + " of the text; the document is unchanged",
                         0};
    }
    if (start > end) start = end;    // \K in an assertion; treat as empty
    if (start < from) start = from;  // never hand back text before the search start
    if (end > start) {
      if (!onMatch(start, end)) return Stopped();
      pos = end;
    } else {
      if (end >= n) break;
      pos = end + CharLength(bytes + end, n - end);
    }
  }
  if (watch != nullptr && !watch->Progress(n)) return Stopped();
  return std::nullopt;
}

// Compiles and runs; an empty pattern leaves the text as it is (one piece).
template <typename Run>
std::optional<FilterError> Guarded(std::string_view text, std::string_view pattern, bool jit, const Sink& sink,
                                   Run&& run) {
  try {
    if (pattern.empty()) {
      if (!text.empty()) sink(text);
      return std::nullopt;
    }
    Compiled re;
    if (auto err = Compile(pattern, jit, text, re)) return err;
    return run(re);
  } catch (const std::bad_alloc&) {
    return NoMemory();
  }
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

std::string DescribeSearch(std::string_view pattern) {
  Compiled re;
  try {
    if (pattern.empty()) return "empty pattern: the text stays as it is";
    if (auto err = Compile(pattern, true, {}, re)) return "pattern rejected: " + err->message;
  } catch (const std::bad_alloc&) {
    return "not enough memory";
  }
  const LiteralPlan& plan = re.plan;
  std::string s = re.jit ? "JIT" : "interpreter";
  if (!re.strides) s += ", one call per search (the pattern ends or skips searches itself)";
  if (plan.literals.empty()) return s + "; no line prefilter: " + plan.declined;
  s += plan.wholeLine ? "; whole lines holding" : "; line prefilter on";
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
  return Guarded(text, pattern, limits.jit, sink, [&](const Compiled& re) {
    return ForEachMatch(re, text, limits, [&](std::size_t s, std::size_t e) {
      sink(text.substr(s, e - s));
      if (!delimiter.empty()) sink(delimiter);
      return true;
    });
  });
}

std::optional<FilterError> RemoveTo(std::string_view text, std::string_view pattern, const MatchLimits& limits,
                                    const Sink& sink) {
  return Guarded(text, pattern, limits.jit, sink, [&](const Compiled& re) {
    std::size_t kept = 0;
    auto err = ForEachMatch(re, text, limits, [&](std::size_t s, std::size_t e) {
      if (s > kept) sink(text.substr(kept, s - kept));
      kept = e;
      return true;
    });
    if (!err && kept < text.size()) sink(text.substr(kept));
    return err;
  });
}

std::optional<FilterError> KeepTo(std::string_view text, std::string_view pattern, std::string_view delimiter,
                                  const MatchLimits& limits, ResultSink& sink) {
  sink.Begin(text.size());
  auto err = Guarded(text, pattern, limits.jit, [&](std::string_view piece) { sink.Piece(piece); },
                     [&](const Compiled& re) {
                       return ForEachMatch(
                           re, text, limits,
                           [&](std::size_t s, std::size_t e) {
                             return sink.Piece(text.substr(s, e - s)) &&
                                    (delimiter.empty() || sink.Piece(delimiter));
                           },
                           &sink);
                     });
  if (!err) sink.Finish();
  return err;
}

std::optional<FilterError> RemoveTo(std::string_view text, std::string_view pattern, const MatchLimits& limits,
                                    ResultSink& sink) {
  sink.Begin(text.size());
  auto err = Guarded(text, pattern, limits.jit, [&](std::string_view piece) { sink.Piece(piece); },
                     [&](const Compiled& re) {
                       std::size_t kept = 0;
                       auto e = ForEachMatch(
                           re, text, limits,
                           [&](std::size_t s, std::size_t end) {
                             const bool go = s <= kept || sink.Piece(text.substr(kept, s - kept));
                             kept = end;
                             return go;
                           },
                           &sink);
                       if (!e && kept < text.size() && !sink.Piece(text.substr(kept))) return std::optional(Stopped());
                       return e;
                     });
  if (!err) sink.Finish();
  return err;
}

FilterResult Keep(std::string_view text, std::string_view pattern, std::string_view delimiter,
                  const MatchLimits& limits) {
  return Collect(0, [&](const Sink& sink) { return KeepTo(text, pattern, delimiter, limits, sink); });
}

FilterResult Remove(std::string_view text, std::string_view pattern, const MatchLimits& limits) {
  // Remove never grows the text: one allocation holds any result.
  return Collect(text.size(), [&](const Sink& sink) { return RemoveTo(text, pattern, limits, sink); });
}

FilterResult Keep(std::string_view text, std::string_view pattern, std::string_view delimiter) {
  return Keep(text, pattern, delimiter, MatchLimits{});
}

FilterResult Remove(std::string_view text, std::string_view pattern) {
  return Remove(text, pattern, MatchLimits{});
}

}  // namespace siftwell::filter
