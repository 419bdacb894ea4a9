// Keep and Remove over UTF-8 bytes with PCRE2 (8-bit, UTF + UCP, JIT when
// available). The text is matched in place: invalid UTF-8 never stops a run
// and is copied through untouched wherever it is not part of a match.
#include "filter/PatternFilter.h"
#include "filter/PatternTranslator.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
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
  Pcre2Ptr<pcre2_code> code;
  bool jit = false;
  uint32_t matchOptions = 0;
};

bool IsValidUtf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = CharLength(p + i, s.size() - i);
    if (n == 1 && p[i] >= 0x80) return false;
    i += n;
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
  uint32_t options = PCRE2_UTF | PCRE2_UCP | PCRE2_NEVER_BACKSLASH_C | PCRE2_ALT_CIRCUMFLEX;
  if (translation.negatedProperty) options |= PCRE2_NO_AUTO_POSSESS;
  if (translation.duplicateNames) options |= PCRE2_DUPNAMES;
  int err = 0;
  PCRE2_SIZE errOffset = 0;
  auto compile = [&](uint32_t extra) {
    out.code.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(translated.data()), translated.size(),
                                 options | extra, &err, &errOffset, cctx.get()));
  };
  compile(PCRE2_MATCH_INVALID_UTF);
  if (!out.code) {
    if (err == PCRE2_ERROR_NOMEMORY || err == PCRE2_ERROR_HEAP_FAILED) return NoMemory();
    return Rejected(err, errOffset, pattern, translation);
  }
  out.jit = jit && pcre2_jit_compile(out.code.get(), PCRE2_JIT_COMPLETE) == 0;
  // Without JIT, PCRE2 re-checks the subject from the start offset on every
  // call when invalid UTF is allowed: quadratic over many matches. A valid
  // text does not need that mode, and then needs no check at all.
  if (!out.jit && IsValidUtf8(text)) {
    compile(0);
    if (!out.code) return NoMemory();  // it compiled a moment ago
    out.matchOptions = PCRE2_NO_UTF_CHECK;
  }
  return std::nullopt;
}

// Calls onMatch(start, end) for every match, left to right, without overlap.
// After an empty match the search resumes one character further on.
// onMatch answers false, or `watch` (if any) answers false when asked between
// engine calls, to stop: the run then ends with Kind::Stopped.
FilterError Stopped() { return {FilterError::Kind::Stopped, "stopped before the end; the document is unchanged", 0}; }

template <typename OnMatch>
std::optional<FilterError> ForEachMatch(const Compiled& re, std::string_view text, const MatchLimits& limits,
                                        OnMatch&& onMatch, ResultSink* watch = nullptr) {
  Pcre2Ptr<pcre2_match_data> md(pcre2_match_data_create_from_pattern(re.code.get(), nullptr));
  Pcre2Ptr<pcre2_match_context> mctx(pcre2_match_context_create(nullptr));
  if (!md || !mctx) return NoMemory();
  uint32_t matchLimit = limits.matchLimit;
  if (limits.matchLimitFollowsText)
    matchLimit = static_cast<uint32_t>(std::clamp<uint64_t>(text.size(), matchLimit, UINT32_MAX));
  pcre2_set_match_limit(mctx.get(), matchLimit);
  pcre2_set_depth_limit(mctx.get(), limits.depthLimit);
  pcre2_set_heap_limit(mctx.get(), limits.heapLimitKiB);
  Pcre2Ptr<pcre2_jit_stack> stack;
  if (re.jit) {
    const std::size_t startSize = std::min<std::size_t>(32 * 1024, limits.jitStackBytes);
    stack.reset(pcre2_jit_stack_create(startSize, limits.jitStackBytes, nullptr));
    if (!stack) return NoMemory();
    pcre2_jit_stack_assign(mctx.get(), nullptr, stack.get());
  }
  static constexpr char kEmpty[1] = {};
  const auto* subject = reinterpret_cast<PCRE2_SPTR>(text.empty() ? kEmpty : text.data());
  const auto* bytes = reinterpret_cast<const unsigned char*>(subject);
  const std::size_t n = text.size();
  const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md.get());
  std::size_t pos = 0;
  for (uint32_t calls = 0; pos <= n; ++calls) {
    if (watch != nullptr && (calls & 63) == 0 && !watch->Progress(pos)) return Stopped();
    const int rc = re.jit ? pcre2_jit_match(re.code.get(), subject, n, pos, 0, md.get(), mctx.get())
                          : pcre2_match(re.code.get(), subject, n, pos, re.matchOptions, md.get(), mctx.get());
    if (rc == PCRE2_ERROR_NOMATCH) break;
    if (rc < 0) {
      if (rc == PCRE2_ERROR_NOMEMORY) return NoMemory();
      const bool limit = rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT ||
                         rc == PCRE2_ERROR_HEAPLIMIT || rc == PCRE2_ERROR_JIT_STACKLIMIT;
      std::string why = limit ? "the pattern needs too much backtracking or memory (" + Pcre2Message(rc) +
                                    "); simplify it, e.g. avoid nested repeats like (a+)+"
                              : "matching failed: " + Pcre2Message(rc);
      return FilterError{limit ? FilterError::Kind::Limit : FilterError::Kind::BadPattern,
                         why + ". Searching from byte " + std::to_string(pos) +
                             " of the text; the document is unchanged",
                         0};
    }
    std::size_t start = ov[0];
    const std::size_t end = ov[1];
    if (start > end) start = end;  // \K in an assertion; treat as empty
    if (start < pos) start = pos;  // never hand back text before the search start
    if (end > start) {
      if (!onMatch(start, end)) return Stopped();
      pos = end;
    } else {
      if (end >= n) break;
      pos = end + CharLength(bytes + end, n - end);
    }
  }
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
