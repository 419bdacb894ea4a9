// The pattern rewrite: what it leaves alone, what it rewrites, and how
// compile-error positions map back to the user's pattern.
#include <gtest/gtest.h>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <string>
#include <span>
#include <utility>
#include <vector>

#include "engine/PatternTranslator.h"
#include "engine/ScriptRanges.h"

namespace {

using siftwell::engine::Translation;
using siftwell::engine::TranslatePattern;

std::string T(std::string_view p) { return TranslatePattern(p).pattern; }

TEST(TranslatePattern, LeavesEverythingElseVerbatim) {
  for (const char* p : {"", "abc", "\\d+\\s*\\S\\D", "[a-z\\]\\\\]", "\\\\w", "\\Q\\w[\\E", "[\\b]", "\\cw",
                        "(?#\\w)", "[[:alpha:]]", "é€\\x{263A}", "\\p{Lu}", "[", "[\\", "\\", "(a)(?<n>b)\\1\\2",
                        "(?x)#\\w[\n", "(?|(a)|(?<n>b))\\1", "[^.=]"}) {
    EXPECT_EQ(T(p), p) << p;
  }
}

TEST(TranslatePattern, RewritesWhatThePlatformReadsOtherwise) {
  const std::string w = "\\p{L}\\p{M}A-Za-z0-9_\\x{200C}\\x{200D}\\p{Nd}\\p{Pc}";
  EXPECT_EQ(T("\\w"), "[" + w + "]");
  EXPECT_EQ(T("\\W"), "[^" + w + "]");
  EXPECT_EQ(T("[^\\w.]"), "[^" + w + ".]");
  EXPECT_EQ(T("[.\\W]"), "(?:[\\.]|[^" + w + "])");
  EXPECT_EQ(T("[^.\\W]"), "(?:(?![.])[" + w + "])");
  EXPECT_NE(T("\\b").find("(?<="), std::string::npos);
  EXPECT_EQ(T("\\v[\\v]"), "\\x{B}[\\x{B}]");
  EXPECT_EQ(T("[.-.][=a=]"), "[\\.-.][\\=a=]");
  // Unnamed groups first, then named ones: \1 is the second group for PCRE2.
  EXPECT_EQ(T("(?<y>a)(b)\\1\\k<2>(?(1)c)"), "(?<y>a)(b)\\g{2}\\g{1}(?(2)c)");
  EXPECT_EQ(T("(?<w>a)|(?<w>b)\\1"), "(?<w>a)|(?<w>b)\\k<w>");
}

TEST(TranslatePattern, FlagsNegatedPropertiesOnly) {
  for (const char* p : {"\\P{Po}", "\\D", "\\S", "\\W", "\\p{^L}", "[^\\d]", "[^\\w]", "[\\S]", "[[:^alpha:]]"})
    EXPECT_TRUE(TranslatePattern(p).negatedProperty) << p;
  for (const char* p : {"\\w+", "\\d+", "\\s", "[^a-z]", "\\p{L}", "\\Q\\D\\E", "(?x)#\\D\n", "\\\\D"})
    EXPECT_FALSE(TranslatePattern(p).negatedProperty) << p;
}

TEST(TranslatePattern, SourcePointsIntoTheUserPattern) {
  const std::string p = "a\\w[x\\W]b";
  const Translation t = TranslatePattern(p);
  EXPECT_EQ(t.SourceOf(0).offset, 0u);
  EXPECT_EQ(t.SourceOf(1).offset, 1u);  // start of \w
  EXPECT_TRUE(t.SourceOf(1).rewritten);
  EXPECT_EQ(t.SourceOf(1).length, 2u);
  EXPECT_EQ(t.SourceOf(t.pattern.size() - 1).offset, 8u);  // the final b
  EXPECT_FALSE(t.SourceOf(t.pattern.size() - 1).rewritten);
  EXPECT_EQ(t.SourceOf(t.pattern.size()).offset, p.size());
  for (std::size_t k = 0; k <= t.pattern.size(); ++k) EXPECT_LE(t.SourceOf(k).offset, p.size());
}

// Every Unicode scalar value once, in order, as UTF-8.
const std::string& AllCodePoints() {
  static const std::string text = [] {
    std::string t;
    for (uint32_t c = 0; c <= 0x10FFFF; ++c) {
      if (c >= 0xD800 && c <= 0xDFFF) continue;
      if (c < 0x80) {
        t += static_cast<char>(c);
      } else if (c < 0x800) {
        t += {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
      } else if (c < 0x10000) {
        t += {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
              static_cast<char>(0x80 | (c & 0x3F))};
      } else {
        t += {static_cast<char>(0xF0 | (c >> 18)), static_cast<char>(0x80 | ((c >> 12) & 0x3F)),
              static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
      }
    }
    return t;
  }();
  return text;
}

// The runs of code points a one-character item matches in AllCodePoints(),
// as PCRE2 compiles it.
std::vector<std::pair<std::size_t, std::size_t>> Runs(const std::string& item, uint32_t options) {
  const std::string pattern = item + "+";  // every item is one atom
  int err = 0;
  PCRE2_SIZE errOffset = 0;
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                   PCRE2_UTF | PCRE2_UCP | options, &err, &errOffset, nullptr);
  EXPECT_NE(code, nullptr) << item;
  if (!code) return {};
  pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
  pcre2_match_data* md = pcre2_match_data_create_from_pattern(code, nullptr);
  const std::string& text = AllCodePoints();
  std::vector<std::pair<std::size_t, std::size_t>> runs;
  for (PCRE2_SIZE at = 0;;) {
    const int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), at,
                               PCRE2_NO_UTF_CHECK, md, nullptr);
    if (rc <= 0) {
      EXPECT_EQ(rc, PCRE2_ERROR_NOMATCH) << item;
      break;
    }
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md);
    runs.emplace_back(ov[0], ov[1]);
    at = ov[1];
  }
  pcre2_match_data_free(md);
  pcre2_code_free(code);
  return runs;
}

// A script property written as a class of code-point ranges matches exactly
// the code points PCRE2's property matches: every script name PCRE2 knows,
// every spelling, negated, in a class, with and without (?i).
TEST(TranslatePattern, ScriptPropertiesAsRangesMatchPcre2sOwn) {
  ASSERT_GT(siftwell::engine::ScriptNameCount(), 300u);
  struct Form {
    const char* before;
    const char* after;
    bool alwaysRewritten;  // a class item only where (?i) leaves the class as it is
  };
  static constexpr Form kForms[] = {
      {"\\p{", "}", true},           {"\\P{", "}", true},          {"\\p{^", "}", true},
      {"\\p{sc=", "}", true},        {"\\p{Script_Extensions:", "}", true},
      {"[\\p{", "}]", false},        {"[^\\p{", "}]", false},      {"[\\P{", "}!]", false},
      {"[x\\p{ ", " }\\d]", false},
  };
  std::size_t rewritten = 0, checked = 0;
  // The table and PCRE2 are the same portable code in every build: the
  // Windows builds (slow under the emulator) check every fifth name only.
#ifdef _WIN32
  constexpr std::size_t kStep = 5;
#else
  constexpr std::size_t kStep = 1;
#endif
  for (std::size_t n = 0; n < siftwell::engine::ScriptNameCount(); n += kStep) {
    const std::string name(siftwell::engine::ScriptNameAt(n));
    // Every name in its plain spelling; every form for every fourth name
    // (each script has two or more names, so every script's sets are met).
    for (const Form& f : n % 4 == 0 ? std::span(kForms) : std::span(kForms).first(1)) {
      const std::string item = f.before + name + f.after;
      const std::string translated = TranslatePattern(item).pattern;
      if (f.alwaysRewritten) {
        EXPECT_NE(translated, item);
      }
      rewritten += translated != item;
      for (const uint32_t options : {0u, static_cast<uint32_t>(PCRE2_CASELESS)}) {
        EXPECT_EQ(Runs(translated, options), Runs(item, options)) << item << (options ? " (?i)" : "");
        ++checked;
      }
    }
  }
  EXPECT_GT(rewritten, checked / 3);
}

}  // namespace

