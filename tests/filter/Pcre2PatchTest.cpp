// The fixes this project applies to the PCRE2 source (cmake/pcre2-patches/),
// each checked through PCRE2's own API, without the engine around it: with
// a PCRE2 release that has the fix, the patch goes and its test stays.
#include <gtest/gtest.h>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

// Every match (start, end) of the pattern in the text, as the engine walks
// them (an empty match moves one character on), by the JIT or the interpreter.
// `jitStackMax`: a JIT stack that starts at 32 KB and may grow to this, as the
// engine gives it (0: PCRE2's own). `end`: where the walk's last call's
// result goes (else it must be "no match").
std::vector<std::pair<std::size_t, std::size_t>> Matches(std::string_view pattern, std::string_view text,
                                                          uint32_t options, bool jit, std::size_t jitStackMax = 0,
                                                          int* end = nullptr) {
  int err = 0;
  PCRE2_SIZE errOffset = 0;
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), options, &err,
                                   &errOffset, nullptr);
  EXPECT_NE(code, nullptr) << pattern;
  if (code == nullptr) return {};
  if (jit) {
    EXPECT_EQ(pcre2_jit_compile(code, PCRE2_JIT_COMPLETE), 0) << pattern;
  }
  pcre2_match_data* md = pcre2_match_data_create_from_pattern(code, nullptr);
  pcre2_match_context* mctx = pcre2_match_context_create(nullptr);
  pcre2_jit_stack* stack = jitStackMax ? pcre2_jit_stack_create(32 * 1024, jitStackMax, nullptr) : nullptr;
  if (stack) pcre2_jit_stack_assign(mctx, nullptr, stack);
  std::vector<std::pair<std::size_t, std::size_t>> found;
  for (std::size_t at = 0; at <= text.size();) {
    // (0 is a match whose groups did not all fit in the match data.)
    const int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), at,
                               jit ? 0 : PCRE2_NO_JIT, md, mctx);
    if (rc < 0) {
      if (end) *end = rc;
      else EXPECT_EQ(rc, PCRE2_ERROR_NOMATCH) << pattern;
      break;
    }
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md);
    found.emplace_back(ov[0], ov[1]);
    at = ov[1] > ov[0] ? ov[1] : ov[1] + 1;
    while ((options & PCRE2_UTF) && at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
  }
  if (stack) pcre2_jit_stack_free(stack);
  pcre2_match_context_free(mctx);
  pcre2_match_data_free(md);
  pcre2_code_free(code);
  return found;
}

// 0001-jit-scan-prefix-stale-repeat.patch: an optional item or an
// alternation, then literals, then an item the prefix scan stops at, with a
// repeat count (.{2}, \W{2}, [ab]{0,2}, ...): the JIT found nothing.
TEST(Pcre2Patches, JitPrefixScanResumesAnOptionalPathWithoutAStaleRepeat) {
  struct Row {
    std::string_view pattern, text;
    std::size_t start;  // of the first match
  };
  const Row rows[] = {{"x?f.{2}", "zfab", 1},          {"x?f.{3}", "zfoab", 1},     {"x?f.{2,}", "zfab", 1},
                      {"x??f.{2}", "zfab", 1},         {"[xy]?f.{2}", "zfab", 1},   {"x{0,1}f.{2}", "zfab", 1},
                      {"x?f\\N{2}", "zfab", 1},        {"a?b.{2}", "bcd", 0},       {"x?f.{2}z", "fabz", 0},
                      {"x?f\\W{2}", "zf--", 1},        {"x?f\\D{2}", "zfab", 1},    {"x?f\\H{2}", "zfab", 1},
                      {"x?f\\w{2}", "zfab", 1},        {"x?f\\p{L}{2}", "zfab", 1}, {"Б?é\\s{3}", "é\n\n\n", 0},
                      {"z?1\\p{Zp}{2,}", "1\u2029\u2029", 0}, {"(?:ab|c)d.{2}", "cdxy", 0},
                      {"x?f[ab]{0,2}", "zfoo", 1},     {"(?i)x?fſ{2}", "zfSS", 1}};
  for (const Row& r : rows) {
    const auto interpreted = Matches(r.pattern, r.text, PCRE2_UTF | PCRE2_UCP, false);
    ASSERT_FALSE(interpreted.empty()) << r.pattern;
    EXPECT_EQ(interpreted.front().first, r.start) << r.pattern;
    EXPECT_EQ(Matches(r.pattern, r.text, PCRE2_UTF | PCRE2_UCP, true), interpreted) << r.pattern;
  }
  // A class {0,n} ends the scan without UTF too.
  EXPECT_EQ(Matches("x?f[ab]{0,2}", "zfoo", 0, true), Matches("x?f[ab]{0,2}", "zfoo", 0, false));
  EXPECT_EQ(Matches("x?f[ab]{0,2}", "zfoo", 0, true).size(), 1u);

  // Every combination of a way in, literals and a repeated item, with a
  // text that holds a match without the optional part.
  struct Way {
    std::string_view item, text;  // the way in, and what the text has of it
  };
  const Way ways[] = {{"x?", ""},        {"x??", ""},       {"[xy]?", ""}, {"[xy]*", ""},
                      {"(?:ab|c)", "c"}, {"(?:c|ab)", "c"}, {"x?y?", ""},  {"(?:x|yz)?", ""}};
  const std::string_view literals[] = {"f", "fo", "é", "Бf"};
  struct Repeat {
    std::string_view item, fill;
  };
  const Repeat repeats[] = {{".{2}", "ab"},      {".{3,}", "abc"},    {"\\N{2}", "ab"},    {"\\W{2}", "--"},
                            {"\\D{2}", "ab"},    {"\\H{2}", "ab"},    {"\\s{2}", "\n "},   {"\\S{2}", "ab"},
                            {"\\w{2}", "ab"},    {"\\p{L}{2}", "ab"}, {"\\P{N}{2}", "ab"}, {"[ab]{0,2}", "ab"},
                            {"[^a]{2}", "bc"},   {"\\V{2}", "ab"},    {"\\h{2}", "  "},    {"\\v{2}", "\n\n"},
                            {"(?s:.){2}", "ab"}, {"a{2}", "aa"},      {"\\d{2}", "12"},    {"[^\\n]{2}", "ab"}};
  int checked = 0;
  for (const Way& way : ways)
    for (std::string_view literal : literals)
      for (const Repeat& rep : repeats) {
        std::string pattern(way.item), text("z");
        pattern.append(literal).append(rep.item);
        text.append(way.text).append(literal).append(rep.fill);
        for (uint32_t options : {PCRE2_UTF | PCRE2_UCP, 0u}) {
          const auto interpreted = Matches(pattern, text, options, false);
          ASSERT_FALSE(interpreted.empty()) << pattern << " over " << text;
          ASSERT_EQ(Matches(pattern, text, options, true), interpreted)
              << pattern << " over " << text << (options ? " (UTF)" : "");
          ++checked;
        }
      }
  EXPECT_EQ(checked, 8 * 4 * 20 * 2);
}

// 0002-vreverse-stops-at-check-subject.patch: with PCRE2_MATCH_INVALID_UTF,
// the interpreter moved a lookbehind of variable length back over the
// invalid byte before the fragment it matched, and a property item read the
// byte 0xF8 as a code point far outside the Unicode tables (SIGSEGV).
TEST(Pcre2Patches, VariableLookbehindStopsAtTheStartOfAValidFragment) {
  struct Row {
    std::string_view pattern, text;
    std::vector<std::pair<std::size_t, std::size_t>> matches;
  };
  const Row rows[] = {{"(?<=\\p{L}m?)", "\xF8", {}},
                      {"(?<=\\p{L}m?)a", "b\xF8" "a", {}},
                      {"(?<=\\p{L}m?)a", "\xF8" "ba", {{2, 3}}},
                      {"(?<=\\w{1,2})x", "ab\xFF" "x", {}},
                      {"(?<=\\d|\\p{Lu}\\p{Ll})x", "A\xFE" "bx1x", {{5, 6}}}};
  const uint32_t options = PCRE2_UTF | PCRE2_UCP | PCRE2_MATCH_INVALID_UTF;
  // (Not compared with the JIT: it fails such a lookbehind when it reaches
  // back to an invalid byte, even where a shorter one fits, so the engine
  // searches a text that is not valid UTF-8 by the interpreter for them.)
  for (const Row& r : rows) EXPECT_EQ(Matches(r.pattern, r.text, options, false), r.matches) << r.pattern;
}

// 0003-vreverse-bounds-its-branch.patch: the interpreter let a possessive
// repeat or an atomic group in a lookbehind of variable length match past
// the lookbehind's end, and the end check then failed it with no way back.
// Its items now match only up to there, as with the JIT, while assertions
// inside (\b, $, \Z, lookaheads) still see the whole subject, as before.
TEST(Pcre2Patches, AVariableLookbehindBoundsItsItemsButNotItsAssertions) {
  using Found = std::vector<std::pair<std::size_t, std::size_t>>;
  struct Row {
    std::string_view pattern, text;
    Found matches;
    bool jitAgrees;  // the JIT ends the subject there for assertions too
  };
  const Row rows[] = {
      {"(?<=m?+).", "m", {{0, 1}}, true},
      {"(?<!m?+).", "m", {}, true},
      {"(?<=\\d{1,3}+)\\d", "123", {{1, 2}, {2, 3}}, true},
      {"(?<=(?>ab?))b", "ab", {{1, 2}}, true},
      {"(?<=(?:ab)?+)a", "aba", {{0, 1}, {2, 3}}, true},
      {"(?<!(?>ab|a))b", "ab", {}, true},
      {"(?(?<=m?+)m|x)", "m", {{0, 1}}, true},
      {"(?<*m?+)m", "m", {{0, 1}}, true},
      {"(?<=(?<=m?+)m?+).", "mm", {{0, 1}, {1, 2}}, true},
      {"(?<=(?=(?<=m?+)m)m?+).", "mm", {{0, 1}, {1, 2}}, false},
      {"(?<=m?+(?=x)).", "mx", {{1, 2}}, false},
      {"(?<=m?+\\b).", "mx", {{0, 1}}, false},
      {"(?<=m?+$).", "m\nx", {}, false},
      {"(?m)(?<=m?+$)\\n", "m\nx", {{1, 2}}, true},
      {"(?<=m?+\\Z).", "m\n", {}, false},
      {"(a)(?<=(*scs:(1)a)b?+)b", "abb", {{0, 2}}, true},
  };
  for (uint32_t options : {PCRE2_UTF | PCRE2_UCP, 0u})
    for (const Row& r : rows) {
      const Found interpreted = Matches(r.pattern, r.text, options, false);
      EXPECT_EQ(interpreted, r.matches) << r.pattern;
      if (r.jitAgrees) {
        EXPECT_EQ(Matches(r.pattern, r.text, options, true), interpreted) << r.pattern;
      }
    }
}

// 0004-jit-stack-grows-until-the-frame-fits.patch: an assertion or atomic
// group saves the private data of every bracket inside it in one frame, and
// the JIT grew its stack once, by 8 KB, for a frame of any size: a group
// repeated thousands of times inside one was written past the stack's start
// (SIGSEGV); a possessive repeat is such a group too (the last row). The
// frame now fits or the match fails with the stack limit.
TEST(Pcre2Patches, AFrameLargerThanTheStacksGrowthStepGetsRoomOrTheLimit) {
  const std::string_view rows[][2] = {{"(?=(()){8888})", ""},     {"(?=(()){6000})x|a", "ax"},
                                       {"(?>(()){8888})", "b"},    {"(?<!(()){8888}x)b", "ab"},
                                       {"(?=(?:(()){100}){100})", ""}, {"(?=(()()){4444})b|a", "ab"},
                                       {"(?:(){736}){21}+", ""}};
  for (const auto& [pattern, text] : rows) {
    const auto interpreted = Matches(pattern, text, PCRE2_UTF, false);
    ASSERT_FALSE(interpreted.empty()) << pattern;
    EXPECT_EQ(Matches(pattern, text, PCRE2_UTF, true, 8 << 20), interpreted) << pattern;
    // Room to grow, but less than the frame needs: the limit, not a write past it.
    int end = 0;
    EXPECT_TRUE(Matches(pattern, text, PCRE2_UTF, true, 96 * 1024, &end).empty()) << pattern;
    EXPECT_EQ(end, PCRE2_ERROR_JIT_STACKLIMIT) << pattern;
  }
}

// 0005-jit-compile-nesting-is-bounded.patch: a repeat of an assertion or a
// script run with a bounded maximum is copied as brackets nested inside each
// other, and the JIT compiler took two machine frames per level: 3,000 levels
// overflowed the 1 MB stack of a Windows thread (SIGSEGV), 6,000 levels 2 MB.
// The compile now fails (out of memory) past a depth that no pattern without
// such a repeat reaches, and the interpreter matches it; deep parentheses and
// long repeats of other groups keep the JIT. 0006 (backtracking-compile): a
// lazy repeat nests only its copies' backtracking paths, 7,278 of them
// overflowed 1 MB; bounded the same way. And such a failure in the assertion
// of a condition read address 0 (with 0005 alone, too).
TEST(Pcre2Patches, TheJitCompilersNestingIsBounded) {
  const std::string deepest = std::string(249, '(') + "a" + std::string(249, ')');
  const std::pair<std::string, int> rows[] = {
      {"(?=a){0,6000}a", PCRE2_ERROR_NOMEMORY}, {"(?*a){0,6000}b|a", PCRE2_ERROR_NOMEMORY},
      {"(?<!b){0,6000}a", PCRE2_ERROR_NOMEMORY}, {"(*sr:a){1,6000}", PCRE2_ERROR_NOMEMORY},
      {"(?=a){0,6000}?a", PCRE2_ERROR_NOMEMORY}, {"(?<=x){0,6000}?a", PCRE2_ERROR_NOMEMORY},
      {"(*sr:a){0,6000}?a", PCRE2_ERROR_NOMEMORY}, {"(?=a){0,100}?a", 0}, {"(?:ab){0,20000}?a", 0},
      {"(?(?=(?=a){0,6000})a|b)", PCRE2_ERROR_NOMEMORY}, {"(?(?!(?=a){0,6000}?)b|a)", PCRE2_ERROR_NOMEMORY},
      {"(?=a){0,100}a", 0}, {"(a){1,5000}", 0}, {deepest, 0}};
  for (const auto& [pattern, jitResult] : rows) {
    int err = 0;
    PCRE2_SIZE at = 0;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), PCRE2_UTF, &err,
                                     &at, nullptr);
    ASSERT_NE(code, nullptr) << pattern.substr(0, 40);
    EXPECT_EQ(pcre2_jit_compile(code, PCRE2_JIT_COMPLETE), jitResult) << pattern.substr(0, 40);
    pcre2_code_free(code);
    const std::vector<std::pair<std::size_t, std::size_t>> found{{1, 2}, {3, 4}};
    EXPECT_EQ(Matches(pattern, "xa.a", PCRE2_UTF, false), found) << pattern.substr(0, 40);
  }
}

}  // namespace
