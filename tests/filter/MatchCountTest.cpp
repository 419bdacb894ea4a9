// The live match count: what it counts, its message, and stopping it.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "engine/MatchCount.h"

using namespace siftwell::engine;

namespace {
const std::function<bool()> kNever = [] { return false; };
}  // namespace

TEST(MatchCount, CountsWhatKeepWouldKeep) {
  EXPECT_EQ(CountMatches("a1 b22 c333", "\\d+", kNever).count, 3u);
  // Empty matches are not kept, so not counted.
  EXPECT_EQ(CountMatches("bbb", "x*", kNever).count, 0u);
  EXPECT_EQ(CountMatches("b", "x*|b", kNever).count, 0u);
  EXPECT_EQ(CountMatches("aXbX", "X|", kNever).count, 2u);
  const std::string text = "x\xFFy\xC3\xA9z";  // invalid UTF-8 does not stop the count
  EXPECT_EQ(CountMatches(text, "[a-z\\x{E9}]", kNever).count, 4u);
  // Whole lines count the selected lines (empty matches too); a template changes no count.
  CompileOptions lines;
  lines.wholeLines = true;
  CompileOptions templated;
  templated.keepTemplate = "<$1>\\n";
  for (const auto& [pattern, options, subject, count] :
       {std::tuple{"^$", lines, "a\r\n\r\nb\r\r\n", 2u}, std::tuple{"\\d+", lines, "1 2\n3\nx", 2u},
        std::tuple{"x*", lines, "a\nb\n", 2u}, std::tuple{"x*", lines, "", 0u},
        std::tuple{"(\\d)", templated, "a1 b22 c333", 6u}}) {
    const Compilation c = Compile(pattern, options);
    ASSERT_TRUE(c.pattern) << pattern;
    EXPECT_EQ(CountMatches(subject, *c.pattern, kNever).count, count) << pattern;
  }
  const MatchCount none = CountMatches("abc", "\\d", kNever);
  EXPECT_TRUE(none.ok);
  EXPECT_EQ(none.count, 0u);
}

TEST(MatchCount, ARejectedPatternGivesTheEnginesMessage) {
  const MatchCount bad = CountMatches("abc", "a(b", kNever);
  ASSERT_FALSE(bad.ok);
  EXPECT_EQ(bad.error.kind, FilterError::Kind::BadPattern);
  EXPECT_EQ(Pcre2ErrorText(bad.error.code), "missing closing parenthesis");
  EXPECT_EQ(bad.error.position, 3u);
}

TEST(MatchCount, AStopRequestEndsTheCountAsStopped) {
  const std::string text(1 << 20, 'a');
  int asked = 0;
  const MatchCount stopped = CountMatches(text, "a", [&] { return ++asked > 3; });
  ASSERT_FALSE(stopped.ok);
  EXPECT_EQ(stopped.error.kind, FilterError::Kind::Stopped);
  EXPECT_EQ(asked, 4) << "asked until it said stop, then no more";
}

TEST(MatchCount, WordsForTheCount) {
  EXPECT_EQ(DescribeCount(0), L"no match");
  EXPECT_EQ(DescribeCount(1), L"1 match");
  EXPECT_EQ(DescribeCount(2), L"2 matches");
  EXPECT_EQ(DescribeCount(999), L"999 matches");
  EXPECT_EQ(DescribeCount(1234), L"1\u00A0234 matches");
  EXPECT_EQ(DescribeCount(1234567), L"1\u00A0234\u00A0567 matches");
  EXPECT_EQ(DescribeCount(100000), L"100\u00A0000 matches");
}

