// The pattern rewrite for Unicode word characters: what it leaves alone and
// how compile-error positions map back to the user's pattern.
#include <gtest/gtest.h>

#include "filter/PatternTranslator.h"

namespace {

using siftwell::filter::TranslatePattern;

TEST(TranslatePattern, LeavesEverythingElseVerbatim) {
  for (const char* p : {"", "abc", "\\d+\\s*\\S\\D", "[a-z\\]\\\\]", "\\\\w", "\\Q\\w[\\E", "[\\b]", "\\cw",
                        "(?#\\w)", "[[:alpha:]]", "é€\\x{263A}", "\\p{Lu}", "[", "[\\", "\\"}) {
    EXPECT_EQ(TranslatePattern(p), p) << p;
  }
}

TEST(TranslatePattern, RewritesWordEscapes) {
  EXPECT_EQ(TranslatePattern("\\w"), "[\\p{L}A-Za-z0-9_\\p{Nd}\\p{Pc}]");
  EXPECT_EQ(TranslatePattern("\\W"), "[^\\p{L}A-Za-z0-9_\\p{Nd}\\p{Pc}]");
  EXPECT_EQ(TranslatePattern("[^\\w.]"), "[^\\p{L}A-Za-z0-9_\\p{Nd}\\p{Pc}.]");
  EXPECT_EQ(TranslatePattern("[.\\W]"), "(?:[.]|[^\\p{L}A-Za-z0-9_\\p{Nd}\\p{Pc}])");
  EXPECT_EQ(TranslatePattern("[^.\\W]"), "(?:(?![.])[\\p{L}A-Za-z0-9_\\p{Nd}\\p{Pc}])");
  EXPECT_NE(TranslatePattern("\\b").find("(?<="), std::string::npos);
}

TEST(TranslatePattern, OriginPointsIntoTheUserPattern) {
  std::vector<std::size_t> origin;
  const std::string p = "a\\w[x\\W]b";
  const std::string out = TranslatePattern(p, &origin);
  ASSERT_EQ(origin.size(), out.size() + 1);
  EXPECT_EQ(origin.front(), 0u);
  EXPECT_EQ(origin[1], 1u);                  // start of \w
  EXPECT_EQ(origin[out.size() - 1], 8u);     // the final b
  EXPECT_EQ(origin.back(), p.size());
  for (std::size_t o : origin) EXPECT_LE(o, p.size());
}

}  // namespace
