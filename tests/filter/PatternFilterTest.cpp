// Keep and Remove semantics, run through both matchers (JIT and interpreter).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cases/SharedCases.h"
#include "engine/PatternFilter.h"

namespace {

using siftwell::engine::ExpandDelimiter;
using siftwell::engine::FilterError;
using siftwell::engine::FilterResult;
using siftwell::engine::Keep;
using siftwell::engine::MatchLimits;
using siftwell::engine::Remove;
using namespace std::string_literals;

std::string Shown(const FilterResult& r) {
  return r.ok ? r.text : "<error " + std::to_string(static_cast<int>(r.error.kind)) + " " + std::to_string(r.error.code) + ">";
}

class Filter : public ::testing::TestWithParam<bool> {
 protected:
  MatchLimits Limits() const {
    MatchLimits l;
    l.jit = GetParam();
    return l;
  }
  // Keep with the delimiter field's text (default: backslash n, as the window).
  std::string K(std::string_view text, std::string_view pattern, std::string_view field = "\\n") const {
    return Shown(Keep(text, pattern, ExpandDelimiter(field), Limits()));
  }
  std::string R(std::string_view text, std::string_view pattern) const {
    return Shown(Remove(text, pattern, Limits()));
  }
};

INSTANTIATE_TEST_SUITE_P(Matchers, Filter, ::testing::Values(true, false),
                         [](const auto& param) { return param.param ? "Jit" : "Interpreter"; });

TEST(ExpandDelimiter, OnlyBackslashNAndBackslashT) {
  EXPECT_EQ(ExpandDelimiter("\\n"), "\r\n");
  EXPECT_EQ(ExpandDelimiter("\\t"), "\t");
  EXPECT_EQ(ExpandDelimiter("a\\nb\\tc"), "a\r\nb\tc");
  EXPECT_EQ(ExpandDelimiter(""), "");
  EXPECT_EQ(ExpandDelimiter("\\r\\0\\\\x"), "\\r\\0\\\\x");  // nothing else is an escape
  EXPECT_EQ(ExpandDelimiter("\\\\n"), "\\\r\n");             // the first \n pair wins
  EXPECT_EQ(ExpandDelimiter("trailing\\"), "trailing\\");
  EXPECT_EQ(ExpandDelimiter("é\\n"), "é\r\n");
}

TEST_P(Filter, DocumentedExamples) {
  EXPECT_EQ(K("a1b22c333", "\\d+"), "1\r\n22\r\n333\r\n");
  EXPECT_EQ(R("a1b22c333", "\\d+"), "abc");
  EXPECT_EQ(K("ab cd", "\\w+", "\\t"), "ab\tcd\t");
  EXPECT_EQ(K("ab cd", "\\w+", ""), "abcd");
  EXPECT_EQ(K("abc", "^"), "");
  EXPECT_EQ(R("abc", "^"), "abc");
  EXPECT_EQ(K("ab\r\ncd", "a.+"), "ab\r\r\n");
  EXPECT_EQ(K("one two\nthree four\nfive", "^\\w+"), "one\r\n");
  EXPECT_EQ(K("one two\nthree four\nfive", "(?m)^\\w+"), "one\r\nthree\r\nfive\r\n");
  EXPECT_EQ(K("café crème", "\\w+", " "), "café crème ");
  EXPECT_EQ(R("café crème", "c"), "afé rème");
  EXPECT_EQ(K("no digits", "\\d"), "");  // no match: the document becomes empty
}

TEST_P(Filter, EmptyPatternLeavesTextAlone) {
  EXPECT_EQ(K("abc\0"s, ""), "abc\0"s);
  EXPECT_EQ(R("abc", ""), "abc");
}

TEST_P(Filter, AnchorsAndDot) {
  // $ matches at the end and before a final LF only; (?m) at every LF.
  EXPECT_EQ(K("ab\ncd\n", "\\w+$"), "cd\r\n");
  EXPECT_EQ(K("ab\ncd\n\n", "\\w+$"), "");
  EXPECT_EQ(K("ab\ncd\n\n", "(?m)\\w+$"), "ab\r\ncd\r\n");
  // CR is an ordinary character: before CR LF a word is not at a line end.
  EXPECT_EQ(K("ab\r\ncd", "(?m)\\w+$"), "cd\r\n");
  EXPECT_EQ(K("ab\r\ncd\r\n", "(?m)^.*$", "|"), "ab\r|cd\r|");
  EXPECT_EQ(K("a\nb", "a.b"), "");
  EXPECT_EQ(K("a\nb a\rb", "a.b"), "a\rb\r\n");
  EXPECT_EQ(K("a\nb", "(?s)a.b"), "a\nb\r\n");
  EXPECT_EQ(K("x\ny", "\\Ax|y\\z", ","), "x,y,");
  EXPECT_EQ(K("ab\n", "b\\Z", ","), "b,");
}

TEST_P(Filter, InlineOptionsAndScopes) {
  EXPECT_EQ(K("xABCx abc", "(?i)abc", ","), "ABC,abc,");
  EXPECT_EQ(K("ABC", "abc"), "");  // case-sensitive by default
  EXPECT_EQ(K("aB AB ab", "a(?i)b", ","), "aB,ab,");
  EXPECT_EQ(K("Bc BC bc", "(?i:b)c", ","), "Bc,bc,");
  EXPECT_EQ(K("AB Ab", "(?i)a(?-i)B", ","), "AB,");
  EXPECT_EQ(K("ΣΑΣ σας", "(?i)σας", ","), "ΣΑΣ,σας,");
  EXPECT_EQ(K("ab a b", "a b", ","), "a b,");  // whitespace is literal
  EXPECT_EQ(K("ab a b", "(?x) a b  # comment", ","), "ab,");
  EXPECT_EQ(K("a1\nb2", "(?ms)^b.", ","), "b2,");
}

TEST_P(Filter, LookaroundBackReferencesAndQuantifiers) {
  EXPECT_EQ(K("$12 and 34", "(?<=\\$)\\d+"), "12\r\n");
  EXPECT_EQ(K("$12 and 34", "(?<!\\$)\\b\\d+"), "34\r\n");
  EXPECT_EQ(K("hi! yo?", "\\w+(?=!)"), "hi\r\n");
  EXPECT_EQ(K("aabcc", "(\\w)\\1", ","), "aa,cc,");
  EXPECT_EQ(K("xyxy xyz", "(?<p>xy)\\k<p>", ","), "xyxy,");
  EXPECT_EQ(K("<a><b>", "<.+?>", ","), "<a>,<b>,");
  EXPECT_EQ(K("<a><b>", "<.+>", ","), "<a><b>,");
  EXPECT_EQ(K("aaaa", "a{2}", ","), "aa,aa,");
  EXPECT_EQ(K("foo foobar bar", "foo|bar", ","), "foo,foo,bar,bar,");
  // The whole match is kept whatever groups the pattern has.
  EXPECT_EQ(K("k=v", "(\\w)=(\\w)"), "k=v\r\n");
}

TEST_P(Filter, MatchesDoNotOverlap) {
  EXPECT_EQ(K("aaa", "aa", ","), "aa,");
  EXPECT_EQ(R("aaa", "aa"), "a");
  EXPECT_EQ(R("abababa", "aba"), "b");
}

TEST_P(Filter, EmptyMatchesMoveOneCharacterOn) {
  EXPECT_EQ(K("baaac", "a*", ","), "aaa,");
  EXPECT_EQ(R("baaac", "a*"), "bc");
  // After the empty match of x* at 0 the search goes on at 1: "b" is never tried there.
  EXPECT_EQ(K("b", "x*|b"), "");
  EXPECT_EQ(R("b", "x*|b"), "b");
  EXPECT_EQ(R("bb", "x*|b"), "bb");
  EXPECT_EQ(R("aXa", "(?=a)"), "aXa");
  EXPECT_EQ(R("ab cd", "\\b"), "ab cd");
  EXPECT_EQ(K("ab cd", "\\b", ","), "");
  // Right after a non-empty match an empty one may follow; then the next starts one on.
  EXPECT_EQ(K("aab", "a*|b", ","), "aa,");
  // One character is a whole UTF-8 sequence: multi-byte text survives untouched.
  EXPECT_EQ(R("é€😀x", "y*"), "é€😀x");
  EXPECT_EQ(K("é€😀", "x*|\\X", ","), "");
  EXPECT_EQ(K("aé€😀", "(?<=é)|€", ","), "");
  EXPECT_EQ(K("é€", "(?<=é)x*|€|😀", ","), "");
}

TEST_P(Filter, UnicodeDigits) {
  // Arabic-Indic, Devanagari and fullwidth digits are decimal digits.
  EXPECT_EQ(K("a٣٤b५c５６", "\\d+", ","), "٣٤,५,５６,");
  // Superscript two (No), Roman numeral twelve (Nl), vulgar half (No) are not.
  EXPECT_EQ(K("²Ⅻ½", "\\d"), "");
  EXPECT_EQ(R("x٣y", "\\D"), "٣");
}

TEST_P(Filter, UnicodeWordCharacters) {
  EXPECT_EQ(K("αβγ δ 漢字 кот", "\\w+", ","), "αβγ,δ,漢字,кот,");
  // Connector punctuation: low line, undertie U+203F, fullwidth low line U+FF3F.
  EXPECT_EQ(K("a_b a‿b a＿b", "\\w+", ","), "a_b,a‿b,a＿b,");
  // Numbers other than decimal digits are not word characters.
  EXPECT_EQ(K("x²y Ⅻ ½", "\\w+", ","), "x,y,");
  EXPECT_EQ(K("x²y Ⅻ", "\\W+", ","), "², Ⅻ,");
  // Combining marks are word characters: e + U+0301 stays one word.
  EXPECT_EQ(K("e\xCC\x81x", "\\w+", ","), "e\xCC\x81x,");
}

TEST_P(Filter, UnicodeWordBoundaries) {
  EXPECT_EQ(K("²x", "\\b\\w", ","), "x,");
  EXPECT_EQ(K("x² ab", "\\w\\b", ","), "x,b,");
  EXPECT_EQ(K("a‿b", "\\b\\w+\\b", ","), "a‿b,");
  EXPECT_EQ(K("ab²", "\\w\\B", ","), "a,");
  EXPECT_EQ(K("²²", "\\B²", ","), "²,²,");
  EXPECT_EQ(K("über uber", "\\bu\\w+", ","), "uber,");
}

TEST_P(Filter, UnicodeSpace) {
  EXPECT_EQ(R("a\u00A0b\u3000c\u2003d\te\nf", "\\s"), "abcdef");
  EXPECT_EQ(K("a\u00A0b", "\\S+", ","), "a,b,");
}

TEST_P(Filter, WordClassesInsideBrackets) {
  EXPECT_EQ(K("ab-cd ²e", "[\\w-]+", ","), "ab-cd,e,");
  EXPECT_EQ(K("ab ²c", "[^\\w]+", ","), " ²,");
  EXPECT_EQ(K("ab12 ²cd", "[\\W\\d]+", ","), "12 ²,");
  EXPECT_EQ(K("ab12c²d", "[^\\W\\d]+", ","), "ab,c,d,");
  EXPECT_EQ(K("ab ²c", "[\\W]+", ","), " ²,");
  EXPECT_EQ(K("ab ²c", "[^\\W]+", ","), "ab,c,");
  EXPECT_EQ(K("a^b ", "[\\W^]+", ","), "^, ,");
  EXPECT_EQ(K("a]b ", "[]\\W]+", ","), "], ,");
  EXPECT_EQ(K("x²y", "[[:word:]]+", ","), "x,y,");
  EXPECT_EQ(K("x²y", "[[:^word:]]", ","), "²,");
  EXPECT_EQ(K("ab1 ²", "[[:alpha:]\\d]+", ","), "ab1,");
  EXPECT_EQ(K("ab\x08" "c", "[\\b]", ","), "\x08,");  // \b in a class is backspace
  EXPECT_EQ(K("x a\\w", "\\Q\\w\\E", ","), "\\w,");
  EXPECT_EQ(K("x a\\w", "[\\Q\\w\\E]+", ","), "\\w,");
  EXPECT_EQ(K("\\w ab", "\\\\w", ","), "\\w,");
  EXPECT_EQ(K("\\ab", "[\\\\]\\w", ","), "\\a,");
  EXPECT_EQ(K("ab²", "(?#[\\w)\\w+", ","), "ab,");
}

TEST_P(Filter, NulBytesAreOrdinaryText) {
  EXPECT_EQ(K("a\0b\0"s, "\\w", ","), "a,b,");
  EXPECT_EQ(R("a\0b\0\0"s, "b"), "a\0\0\0"s);
  EXPECT_EQ(R("ab\0\0"s, "x"), "ab\0\0"s);
  EXPECT_EQ(K("x\0\0y"s, "\\x00+", ","), "\0\0,"s);
  EXPECT_EQ(K("a\0b"s, "a.b", ","), "a\0b,"s);
  EXPECT_EQ(K("ab"s, "\\w+", "\\n\0"s), "ab\r\n\0"s);
}

TEST_P(Filter, InvalidUtf8IsKeptByteForByte) {
  const std::string text = "a\xFF\xFE" "b\xC3 \xE2\x82 \xED\xA0\x80 é\x80";
  EXPECT_EQ(R(text, "[ab ]"), "\xFF\xFE\xC3\xE2\x82\xED\xA0\x80" "é\x80");
  EXPECT_EQ(R(text, "x"), text);
  EXPECT_EQ(K(text, ".+", ","), "a,b, , , é,");  // invalid bytes are never matched
  EXPECT_EQ(K(text, "\\w+", ","), "a,b,é,");
  EXPECT_EQ(R("\xC3", "(?=x)|"), "\xC3");
}

TEST_P(Filter, RejectedPatterns) {
  struct Case {
    const char* pattern;
    std::size_t offset;    // bytes
    std::size_t position;  // characters
    const char* reason;    // PCRE2's text for the error code
  };
  for (const Case& c : {Case{"(", 1, 1, "missing closing parenthesis"},
                        Case{"a)", 1, 1, "unmatched closing parenthesis"},
                        Case{"[a", 2, 2, "missing terminating ] for character class"},
                        Case{"\\w(", 3, 3, "missing closing parenthesis"},
                        Case{"é(", 3, 2, "missing closing parenthesis"},
                        Case{"[\\W\\d](", 7, 7, "missing closing parenthesis"},
                        Case{"*a", 0, 0, "quantifier does not follow a repeatable item"}}) {
    const FilterResult r = Remove("abc", c.pattern, Limits());
    EXPECT_FALSE(r.ok) << c.pattern;
    EXPECT_EQ(r.error.kind, FilterError::Kind::BadPattern) << c.pattern;
    EXPECT_EQ(r.error.offset, c.offset) << c.pattern;
    EXPECT_EQ(r.error.position, c.position) << c.pattern;
    EXPECT_EQ(siftwell::engine::Pcre2ErrorText(r.error.code), c.reason) << c.pattern;
    EXPECT_FALSE(r.error.rewritten) << c.pattern;
    EXPECT_TRUE(r.text.empty());
  }
  // A template's $ that names no group of the pattern: the reference as written and where it stands.
  struct TemplateCase {
    std::string pattern, keepTemplate, item;
    std::size_t offset, position;
  };
  std::string boundaries;  // so many that the engine appends groups of its own: they are not the user's
  for (int k = 0; k < 70; ++k) boundaries += "\\b";
  for (const TemplateCase& c : {TemplateCase{"(a)", "<$2>", "$2", 1, 1}, TemplateCase{"(a)", "é$9", "$9", 2, 1},
                                TemplateCase{"(?<x>a)", "${y}", "${y}", 0, 0}, TemplateCase{"a", "$1", "$1", 0, 0},
                                TemplateCase{"(a)", "$x", "$x", 0, 0}, TemplateCase{"(a)", "1$", "$", 1, 1},
                                TemplateCase{"(a)", "$1${1", "${1", 2, 2}, TemplateCase{"(a)", "${}", "${}", 0, 0},
                                TemplateCase{"(a)", "$é", "$é", 0, 0}, TemplateCase{"(a)", "${99999999999999999999}", "${99999999999999999999}", 0, 0},
                                TemplateCase{boundaries + "(a)", "$2", "$2", 0, 0},
                                TemplateCase{boundaries + "(a)", "${siftwell_wb1}", "${siftwell_wb1}", 0, 0}}) {
    siftwell::engine::CompileOptions options;
    options.jit = GetParam();
    options.keepTemplate = c.keepTemplate;
    const auto compiled = siftwell::engine::Compile(c.pattern, options);
    ASSERT_TRUE(compiled.error) << c.keepTemplate;
    EXPECT_EQ(compiled.error->kind, FilterError::Kind::BadTemplate) << c.keepTemplate;
    EXPECT_EQ(compiled.error->item, c.item);
    EXPECT_EQ(compiled.error->offset, c.offset) << c.keepTemplate;
    EXPECT_EQ(compiled.error->position, c.position) << c.keepTemplate;
  }
  siftwell::engine::CompileOptions lines;
  lines.wholeLines = true;
  lines.keepTemplate = "$0";
  EXPECT_EQ(siftwell::engine::Compile("a", lines).error.value_or(FilterError{}).kind,
            FilterError::Kind::TemplateWithLines);
  for (const char* p : {"(?<=a+)b", "\\C", "a{2,1}", "\\k<none>", "(?z)"}) {
    const FilterResult r = Keep("abc", p, ",", Limits());
    EXPECT_FALSE(r.ok) << p;
    EXPECT_EQ(r.error.kind, FilterError::Kind::BadPattern) << p;
    EXPECT_GT(r.error.code, 0) << p;  // compile errors are PCRE2's positive codes
    EXPECT_LE(r.error.offset, std::string_view(p).size()) << p;
  }
}

// The shared cases (tests/cases/filter_cases.tsv): what the CLI and the window must both give.
using siftwell::cases::SharedCase;

std::vector<SharedCase> SharedCases() {
  static constexpr std::string_view kFile =
#include "FilterCases.inc"
      ;
  std::vector<SharedCase> cases = siftwell::cases::ParseSharedCases(kFile);
  for (const SharedCase& c : cases)
    if (c.line < 0) ADD_FAILURE() << "filter_cases.tsv:" << -c.line << " has not six fields";
  std::erase_if(cases, [](const SharedCase& c) { return c.line < 0; });
  return cases;
}

TEST_P(Filter, SharedCases) {
  const std::vector<SharedCase> cases = SharedCases();
  EXPECT_GE(cases.size(), 20u);
  for (const SharedCase& c : cases) {
    siftwell::engine::CompileOptions options;
    options.jit = GetParam();
    options.wholeLines = c.options.find("lines") != std::string::npos;
    options.matchCase = c.options.find("ignore-case") == std::string::npos;
    siftwell::engine::CompileOptions removing = options;
    options.keepTemplate = c.keepTemplate;
    using KeepMode = siftwell::engine::CompileOptions::KeepMode;
    options.keepMode = c.options.find("tally") != std::string::npos    ? KeepMode::Tally
                       : c.options.find("unique") != std::string::npos ? KeepMode::Unique
                                                                       : KeepMode::All;
    options.lineNumbers = c.options.find("line-number") != std::string::npos;
    const auto keeping = siftwell::engine::Compile(c.pattern, options);
    const auto remover = siftwell::engine::Compile(c.pattern, removing);
    ASSERT_TRUE(keeping.pattern && remover.pattern) << "line " << c.line;
    // The line prefilter and strides of a few bytes give the same bytes.
    for (int variant = 0; variant < 2; ++variant) {
      MatchLimits l = Limits();
      l.prefilter = variant == 0;
      l.strideBytes = variant == 0 ? 0 : 3;
      EXPECT_EQ(Shown(Keep(c.input, *keeping.pattern, ExpandDelimiter("\\n"), l)), c.keep) << "line " << c.line;
      // Where the matches stand: the text without them (and a line's end) is Remove's.
      std::string rest;
      std::size_t kept = 0;
      struct : siftwell::engine::ResultSink {
        bool Piece(std::string_view) override { return false; }
      } watch;
      auto err = siftwell::engine::MatchesTo(c.input, *remover.pattern, l, watch, [&](std::size_t s, std::size_t e) {
        rest.append(c.input, kept, s - kept);
        kept = e;
        if (removing.wholeLines && kept < c.input.size() && c.input[kept] == '\r') ++kept;
        if (removing.wholeLines && kept < c.input.size() && c.input[kept] == '\n') ++kept;
        return true;
      });
      rest.append(c.input, kept);
      FilterResult ranges{!err, rest, err.value_or(siftwell::engine::FilterError{})};
      EXPECT_EQ(Shown(ranges), c.remove) << "match ranges, line " << c.line;
    }
  }
}

TEST_P(Filter, RunawayPatternStopsWithLimitError) {
  const std::string text = std::string(40, 'a') + "!b";
  for (const char* p : {"(a+)+b", "^(\\w+\\s?)*$", "(a|aa)+b"}) {
    const FilterResult r = Remove(text, p, Limits());
    ASSERT_FALSE(r.ok) << p;
    EXPECT_EQ(r.error.kind, FilterError::Kind::Limit) << p;
    EXPECT_NE(r.error.limit, FilterError::LimitKind::None) << p;
    EXPECT_LT(r.error.code, 0) << p;
  }
}

TEST_P(Filter, MatchLimitCountsPerStartPosition) {
  // The smallest limit under which one short segment (a few failing attempts)
  // still succeeds...
  const char* pattern = "(?:a|b|c|d|e|f|g|h)+(?=!)|x";
  const std::string segment = "abcdefgh ";
  auto limited = [&](uint32_t limit) {
    MatchLimits l = Limits();
    l.matchLimit = limit;
    l.matchLimitFollowsText = false;
    return l;
  };
  uint32_t lo = 1, hi = 1u << 20;
  ASSERT_TRUE(Remove(segment, pattern, limited(hi)).ok);
  while (lo < hi) {
    const uint32_t mid = lo + (hi - lo) / 2;
    if (Remove(segment, pattern, limited(mid)).ok) hi = mid; else lo = mid + 1;
  }
  ASSERT_GT(lo, 1u);  // the limit is really counted for this pattern
  EXPECT_EQ(Remove(segment, pattern, limited(lo - 1)).error.kind, FilterError::Kind::Limit);
  // ... also suffices for thousands of such segments: the count starts afresh
  // at every start position instead of adding up over the text.
  std::string text;
  for (int i = 0; i < 20000; ++i) text += segment;
  const FilterResult r = Remove(text, pattern, limited(lo));
  ASSERT_TRUE(r.ok) << Shown(r);
  EXPECT_EQ(r.text, text);
}

TEST_P(Filter, MatchLimitGrowsWithTheTextForOneLongMatch) {
  // One match over the whole text, one group iteration per word.
  std::string text;
  for (int i = 0; i < 40000; ++i) text += "word" + std::to_string(i % 10) + (i % 8 ? " " : "\n");
  MatchLimits l = Limits();
  l.matchLimit = 20000;
  const FilterResult whole = Keep(text, "(?:\\S+\\s*)+", "", l);
  ASSERT_TRUE(whole.ok) << Shown(whole);
  EXPECT_EQ(whole.text, text);
  l.matchLimitFollowsText = false;
  EXPECT_EQ(Keep(text, "(?:\\S+\\s*)+", "", l).error.kind, FilterError::Kind::Limit);
}

TEST_P(Filter, BacktrackingMemoryIsBoundedAndLargeEnoughForLongRuns) {
  // One repeated capturing group over a long run: each iteration keeps a
  // backtrack entry (the interpreter is far slower, so it gets less text).
  const std::string text = std::string(GetParam() ? 2u << 20 : 128u << 10, 'a') + "c";
  const FilterResult ok = Keep(text, "(?:(a)|b)*c", "", Limits());
  ASSERT_TRUE(ok.ok) << Shown(ok);
  EXPECT_EQ(ok.text.size(), text.size());
  MatchLimits small = Limits();
  small.jitStackBytes = 64 * 1024;
  small.heapLimitKiB = 64;
  const FilterResult r = Keep(text, "(?:(a)|b)*c", "", small);
  ASSERT_FALSE(r.ok);
  EXPECT_EQ(r.error.kind, FilterError::Kind::Limit);
}

TEST_P(Filter, ManyMatchesAppendInOrder) {
  std::string text, expected;
  for (int i = 0; i < 50000; ++i) {
    text += 'w';
    text += std::to_string(i);
    text += ' ';
    expected += std::to_string(i) + ";";
  }
  EXPECT_EQ(K(text, "\\d+", ";"), expected);
}

}  // namespace
