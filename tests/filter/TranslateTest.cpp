// The pattern rewrite: what it leaves alone, what it rewrites, and how
// compile-error positions map back to the user's pattern.
#include <gtest/gtest.h>

#include <string>

#include "engine/PatternTranslator.h"

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

}  // namespace
