// The search loop: strides, the line prefilter, stopping, JIT stack and
// interpreter paths. Every variant must give exactly the unrestricted result.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "engine/LineCounter.h"
#include "engine/LiteralPrefilter.h"
#include "engine/PatternFilter.h"
#include "engine/SearchOnThreads.h"
#include "engine/Utf8Check.h"
#include "text/Utf8.h"

namespace {

namespace sf = siftwell::engine;
using sf::FilterError;
using sf::MatchLimits;

std::string Shown(const sf::FilterResult& r) { return r.ok ? r.text : "<error " + std::to_string(static_cast<int>(r.error.kind)) + " " + std::to_string(r.error.code) + ">"; }

MatchLimits Plain(bool jit) {
  MatchLimits l;
  l.jit = jit;
  l.matchLimit = 100000;
  l.matchLimitFollowsText = false;
  l.strideBytes = SIZE_MAX;
  l.prefilter = false;
  return l;
}

// Random texts over a small alphabet with line breaks, the literals the
// patterns look for, non-ASCII letters and invalid bytes.
std::string RandomText(std::mt19937& rng) {
  static const char* pieces[] = {"a", "b", "E", "R", "O", "W", "A", "N", " ", "\n", "\n", "\r", "é", "Ж",
                                 "\xff", "\x80", "\xe2\x82", "ERROR", "WARN", "warn", "Error", "1", "42", "_",
                                 "K", "\xe2\x84\xaa", "\xc5\xbf", "s", "x", "@", "."};
  std::string t;
  const int n = std::uniform_int_distribution<int>(0, 120)(rng);
  for (int i = 0; i < n; ++i) t += pieces[rng() % std::size(pieces)];
  return t;
}

std::string RandomPattern(std::mt19937& rng, int depth = 0) {
  static const char* atoms[] = {"ERROR", "WARN", "a", "b", "é", "Ж", ".", "\\w", "\\d", "\\s", "[a-c]", "[^\\n]",
                                "[^a]", "\\b", "^", "$", "E", "R", "x", "@", "\\.", "(?i)warn", "(?i:error)",
                                "(?m)", "(?s)", "\\p{L}", "\\W", "(?<=a)", "(?=b)", "(?!E)", "\\n", "s", "k",
                                "\\x{416}", "\\Qa.b\\E", "\\A", "\\z", "ERR", "\\p{Cyrillic}", "[\\p{Latin}7]",
                                // (a quantifier after these applies to the R, the E, the a)
                                "R(?#c)", "E\\E", "a\\Q\\E"};
  static const char* quants[] = {"", "", "", "*", "+", "?", "{2}", "{1,3}", "*?", "+?", "++"};
  std::string p;
  const int items = std::uniform_int_distribution<int>(1, 4)(rng);
  for (int i = 0; i < items; ++i) {
    if (depth < 2 && rng() % 6 == 0) {
      p += rng() % 2 ? "(" : "(?:";
      p += RandomPattern(rng, depth + 1);
      p += ')';
    } else {
      p += atoms[rng() % std::size(atoms)];
    }
    p += quants[rng() % std::size(quants)];
  }
  if (rng() % 4 == 0) p += "|" + RandomPattern(rng, depth + 1);
  return p;
}

// A repeated character item, then one character, then anything: the search
// may start from the run before the next such byte (and must not where the
// pattern has another alternative, the character is quantified or caseless).
std::string LeadPattern(std::mt19937& rng) {
  static const char* items[] = {"\\w", "[\\w.+-]", "\\d", "[a-c]", "\\W", "\\s", "[^@]", "\\p{L}", "[[:alpha:]é]"};
  static const char* quants[] = {"+", "*", "{2,}", "+?", "++", "{1,2}"};
  static const char* bytes[] = {"@", "\\.", "=", " ", "x", "E", "é", "\n", "@?", "@+"};
  std::string p = std::string(items[rng() % std::size(items)]) + quants[rng() % std::size(quants)] +
                  bytes[rng() % std::size(bytes)];
  if (rng() % 3) p += RandomPattern(rng, 1);
  if (rng() % 5 == 0) p += "|" + RandomPattern(rng, 1);
  return p;
}

TEST(Search, StridesAndPrefilterGiveTheUnrestrictedResult) {
  std::mt19937 rng(20261207);
  int prefiltered = 0, linePrefiltered = 0, runs = 0, leads = 0;
  static const char* lineCores[] = {"ERROR", "WARN|ERROR", "(?:WARN|E)", "Error", "é", "\\bERROR", "E.R",
                                    "(?i)error", "ERROR\\d?"};
  // One character item repeated: runs of its ASCII members are found without the engine.
  static const char* runItems[] = {"\\d", "\\w", "\\s", "\\W", "\\S", "[a-c]", "[^\\n]", "[^a]", "a", "k",
                                   "s", "é", "\\p{L}", "\\p{Cyrillic}", "[\\p{Latin}7]", "\\x{212A}", "[[:alpha:]]"};
  for (int round = 0; round < 3000; ++round) {
    // Every fourth pattern keeps the lines that hold something; every eighth is a run, another a lead.
    const std::string pattern =
        round % 8 == 1 ? std::string(runItems[rng() % std::size(runItems)]) + (rng() % 2 ? "+" : "++")
        : round % 8 == 5 ? LeadPattern(rng)
        : round % 4    ? RandomPattern(rng)
                       : std::string(rng() % 2 ? "(?m)" : "(?mi)") + "^.*" + lineCores[rng() % std::size(lineCores)] + ".*$";
    const std::string text = RandomText(rng);
    if (!sf::PlanLiterals(pattern).literals.empty()) ++prefiltered;
    const std::string described = sf::DescribeSearch(pattern);
    const bool lead = described.find("from the run before") != std::string::npos;
    leads += lead;
    if (lead || described.find("runs of ASCII") != std::string::npos) {
      runs += !lead;
      sf::CompileOptions caseless;  // the table follows the options too
      caseless.matchCase = false;
      const sf::Compilation c = sf::Compile(pattern, caseless);
      ASSERT_TRUE(c.pattern) << pattern;
      MatchLimits l = Plain(true);
      const std::string unrestricted = Shown(sf::Keep(text, *c.pattern, "|", l));
      l.prefilter = true;
      ASSERT_EQ(Shown(sf::Keep(text, *c.pattern, "|", l)), unrestricted)
          << "caseless " << pattern << " text " << ::testing::PrintToString(text);
    }
    for (bool jit : {true, false}) {
      const MatchLimits plain = Plain(jit);
      const std::string keep = Shown(sf::Keep(text, pattern, "|", plain));
      const sf::FilterResult whole = sf::Remove(text, pattern, plain);
      if (!whole.ok && whole.error.kind == FilterError::Kind::Limit) continue;  // a runaway: nothing to compare
      const std::string remove = Shown(whole);
      for (std::size_t stride : {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{0}}) {
        for (bool prefilter : {false, true}) {
          MatchLimits l = plain;
          l.strideBytes = stride;
          l.prefilter = prefilter;
          ASSERT_EQ(Shown(sf::Keep(text, pattern, "|", l)), keep)
              << "pattern " << pattern << " text " << ::testing::PrintToString(text) << " stride " << stride
              << " prefilter " << prefilter << " jit " << jit;
          ASSERT_EQ(Shown(sf::Remove(text, pattern, l)), remove) << pattern;
        }
      }
    }
    // Whole lines, with match case on and off: the line prefilter and strides
    // select exactly the lines that one engine call per line selects.
    for (bool jit : {true, false}) {
      sf::CompileOptions options;
      options.jit = jit;
      options.wholeLines = true;
      options.matchCase = round % 2 == 0;
      const sf::Compilation c = sf::Compile(pattern, options);
      if (!c.pattern) break;
      const MatchLimits plain = Plain(jit);
      const sf::FilterResult kept = sf::Keep(text, *c.pattern, "|", plain);
      if (!kept.ok) continue;
      if (!sf::PlanLiterals(pattern, {.caseless = !options.matchCase, .lines = true}).literals.empty()) ++linePrefiltered;
      for (std::size_t stride : {std::size_t{1}, std::size_t{5}, std::size_t{0}}) {
        MatchLimits l = plain;
        l.strideBytes = stride;
        l.prefilter = true;
        ASSERT_EQ(Shown(sf::Keep(text, *c.pattern, "|", l)), kept.text)
            << "lines: pattern " << pattern << " text " << ::testing::PrintToString(text) << " stride " << stride
            << " jit " << jit << " case " << options.matchCase;
        ASSERT_EQ(Shown(sf::Remove(text, *c.pattern, l)), Shown(sf::Remove(text, *c.pattern, plain))) << pattern;
      }
    }
    // The interpreter (valid runs matched one by one) agrees with the JIT.
    // (PCRE2 10.42's interpreter lets \z match before an invalid byte.)
    if (pattern.find("\\z") != std::string::npos) continue;
    if (!sf::Remove(text, pattern, Plain(false)).ok || !sf::Remove(text, pattern, Plain(true)).ok) continue;
    ASSERT_EQ(Shown(sf::Keep(text, pattern, "|", Plain(false))), Shown(sf::Keep(text, pattern, "|", Plain(true))))
        << "pattern " << pattern << " text " << ::testing::PrintToString(text);
  }
  EXPECT_GT(prefiltered, 300);  // the prefilter was really exercised
  EXPECT_GT(linePrefiltered, 600);
  EXPECT_GT(runs, 300);
  EXPECT_GT(leads, 60);
}

// Gathers a part's result.
class Gather : public sf::ResultSink {
 public:
  bool Piece(std::string_view piece) override {
    text.append(piece);
    return true;
  }
  std::string text;
};

// The whole result, or the one of parts cut at random line starts and joined,
// as text or "<error kind code>".
std::string InParts(const std::string& text, const sf::CompiledPattern& re, bool keep, const MatchLimits& l,
                    std::mt19937* rng) {
  std::vector<std::size_t> cuts{0};
  for (std::size_t i = 0; rng != nullptr && i < text.size(); ++i)
    if (text[i] == '\n' && (*rng)() % 3 == 0) cuts.push_back(i + 1);
  cuts.push_back(text.size());
  std::string out;
  sf::LineCounter lines(text);
  for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
    sf::TextPart part{.begin = cuts[k], .end = cuts[k + 1], .firstLine = lines.At(cuts[k]), .textValid = {}};
    if (rng != nullptr && (*rng)() % 2) part.textValid = siftwell::utf8::IsValid(text);
    Gather g;
    const auto err = keep ? sf::KeepPartTo(text, part, re, "|", l, g) : sf::RemovePartTo(text, part, re, l, g);
    // (Where the failing engine call started depends on the strides, as in any search.)
    if (err) return "<error " + std::to_string(static_cast<int>(err->kind)) + " " + std::to_string(err->code) + ">";
    out += g.text;
  }
  return out;
}

// Keep on threads, in parts of `partBytes`, as text or "<error kind code>".
std::string OnThreads(const std::string& text, const sf::CompiledPattern& re, const MatchLimits& l, uint32_t threads,
                      std::size_t partBytes) {
  Gather g;
  const auto err = sf::KeepOnThreads(text, re, "|", l, g, threads, partBytes);
  if (err) return "<error " + std::to_string(static_cast<int>(err->kind)) + " " + std::to_string(err->code) + ">";
  return g.text;
}

TEST(Search, PartsCutAtLineStartsJoinToTheWhole) {
  std::mt19937 rng(20261208);
  int inParts = 0;
  for (int round = 0; round < 3000; ++round) {
    const std::string pattern = round % 6 == 5 ? LeadPattern(rng) : RandomPattern(rng);
    std::string text = RandomText(rng) + RandomText(rng);
    sf::CompileOptions options;
    options.jit = round % 3 != 0;
    options.wholeLines = round % 5 == 0;
    options.matchCase = round % 2 == 0;
    options.lineNumbers = round % 4 == 1;
    if (!options.wholeLines && round % 7 == 3) options.keepTemplate = "<$0>";
    const sf::Compilation c = sf::Compile(pattern, options);
    if (!c.pattern) continue;
    MatchLimits l = Plain(options.jit);
    l.strideBytes = round % 2 ? 3 : 0;
    l.prefilter = round % 3 != 1;
    // On threads, in parts of a few bytes (or whole where it cannot be cut).
    const std::size_t partBytes = 1 + rng() % 16;
    ASSERT_EQ(OnThreads(text, *c.pattern, l, 2 + round % 3, partBytes), InParts(text, *c.pattern, true, l, nullptr))
        << "threads: pattern " << pattern << " text " << ::testing::PrintToString(text) << " part " << partBytes;
    if (!sf::SearchesInParts(*c.pattern)) continue;
    ++inParts;
    for (bool keep : {true, false}) {
      const std::string whole = InParts(text, *c.pattern, keep, l, nullptr);
      for (int cut = 0; cut < 3; ++cut)
        ASSERT_EQ(InParts(text, *c.pattern, keep, l, &rng), whole)
            << (keep ? "keep" : "remove") << " pattern " << pattern << " text " << ::testing::PrintToString(text)
            << " lines " << options.wholeLines << " jit " << options.jit;
    }
  }
  EXPECT_GT(inParts, 1000);  // the parts were really exercised
  // What cannot be cut: a search that depends on where it starts, a match
  // that may hold an LF, Unique and Tally.
  for (const char* p : {"\\Ga", "a(*SKIP)b|c", "a\\s", "(?s)a.", "[^x]", "a(*COMMIT)b"}) {
    const sf::Compilation c = sf::Compile(p);
    ASSERT_TRUE(c.pattern) << p;
    EXPECT_FALSE(sf::SearchesInParts(*c.pattern)) << p;
  }
  sf::CompileOptions unique;
  unique.keepMode = sf::CompileOptions::KeepMode::Unique;
  EXPECT_FALSE(sf::SearchesInParts(*sf::Compile("a", unique).pattern));
  unique.wholeLines = true;
  EXPECT_FALSE(sf::SearchesInParts(*sf::Compile("a", unique).pattern));
  EXPECT_TRUE(sf::SearchesInParts(*sf::Compile("\\w+@\\w+").pattern));
  // A sink that says stop on threads has been given what one search gives up to there.
  class StopAt : public sf::ResultSink {
   public:
    explicit StopAt(std::size_t n) : n_(n) {}
    bool Piece(std::string_view piece) override {
      text.append(piece);
      return ++pieces_ < n_;
    }
    std::string text;

   private:
    std::size_t n_, pieces_ = 0;
  };
  std::string lines;
  for (int k = 0; k < 200; ++k) lines += k % 3 ? "xa b\n" : "c\n";
  const sf::PatternPtr a = sf::Compile("a").pattern;
  for (std::size_t n : {1, 2, 7, 100, 133}) {
    StopAt one(n), many(n);
    const auto err = sf::KeepTo(lines, *a, "|", Plain(true), one);
    ASSERT_TRUE(err.has_value());
    const auto errOnThreads = sf::KeepOnThreads(lines, *a, "|", Plain(true), many, 3, 10);
    ASSERT_TRUE(errOnThreads.has_value()) << n;
    EXPECT_EQ(errOnThreads->kind, FilterError::Kind::Stopped);
    EXPECT_EQ(many.text, one.text) << n;
  }
  Gather g;
  EXPECT_EQ(sf::KeepPartTo("a\nb\n", {.begin = 2, .end = 4, .firstLine = 2, .textValid = {}}, *sf::Compile("\\Ga").pattern, "|", Plain(true), g)->kind,
            FilterError::Kind::MatchFailed);
}

TEST(Search, PrefilterPlans) {
  auto lits = [](std::string_view p) {
    std::string s;
    for (const auto& l : sf::PlanLiterals(p).literals) s += (l.caseless ? "i:" : "") + l.bytes + ",";
    return s;
  };
  EXPECT_EQ(lits("(?m)^.*ERROR.*$"), "ERROR,");
  EXPECT_EQ(lits("WARN|ERROR|FATAL"), "WARN,ERROR,FATAL,");
  EXPECT_EQ(lits("(?i)TIMEOUT"), "i:TIMEOUT,");
  EXPECT_EQ(lits("[\\w.+-]+@[\\w-]+\\.[\\w.-]+"), "@,");
  EXPECT_EQ(lits("(?<=user=)\\w+"), "");   // the literal is outside the match
  EXPECT_EQ(lits("ERROR\\v:"), "ERROR\x0B:,");  // \v is the vertical tab alone
  EXPECT_TRUE(sf::PlanLiterals("(?m)^.*ERROR.*$").wholeLine);
  EXPECT_TRUE(sf::PlanLiterals("(?mi)^.*(?:WARN|ERROR).*$").wholeLine);
  for (const char* p : {"(?m)^.*\\bERROR.*$", "(?m)^.*ERRORS?.*$", "(?m)^.*ERROR\\.*$", "^.*ERROR.*$",
                        "(?m)^.*ERR(?-m)OR.*$", "(?m)^.*WARN|ERROR.*$"})
    EXPECT_FALSE(sf::PlanLiterals(p).wholeLine) << p;
  // Declined: a match may cross lines, the literal is optional, or the
  // construct is not analysed.
  for (const char* p : {"(?s)ERROR.*", "ERROR\\s+x", "ERROR\\n", "(?:ERROR)?x", "ERROR|x*", "(?x)ERROR",
                        "(\\w+)ERROR\\1", "(*COMMIT)ERROR", "[^a]ERROR", "\\GERROR", "(?i)ks", "(?i)été",
                        "\\KERROR", "\\p{Cc}ERROR", "ERROR\\D", "[^\\v]ERROR", "[^\\v-\\x{D}]ERROR",
                        "[\\t-\\v]ERROR", "[.-[:^word:]]ERROR"}) {
    const sf::LiteralPlan plan = sf::PlanLiterals(p);
    EXPECT_TRUE(plan.literals.empty()) << p;
    EXPECT_FALSE(plan.declined.empty()) << p;
  }
  // A NUL character starts a range like any other: [NUL-(] holds LF.
  EXPECT_TRUE(sf::PlanLiterals(std::string_view("[\0-(]ERROR", 10)).literals.empty());
}

TEST(Search, CaselessAsciiLettersHaveNoOtherPartners) {
  // The prefilter folds ASCII letters only; except k and s (declined), no
  // other character may match an ASCII letter caselessly.
  std::string all;
  for (uint32_t c = 0x80; c < 0x30000; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    if (c < 0x800) all += {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
    else if (c < 0x10000)
      all += {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
              static_cast<char>(0x80 | (c & 0x3F))};
    else
      all += {static_cast<char>(0xF0 | (c >> 18)), static_cast<char>(0x80 | ((c >> 12) & 0x3F)),
              static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
  }
  for (char c = 'a'; c <= 'z'; ++c) {
    const sf::FilterResult r = sf::Keep(all, std::string("(?i)") + c, "");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.text.empty(), c != 'k' && c != 's') << c << ": " << r.text;
  }
}

// Stops when a deadline passes, as a caller's Cancel would; counts what it heard.
class DeadlineSink : public sf::ResultSink {
 public:
  explicit DeadlineSink(std::chrono::milliseconds after) : deadline_(std::chrono::steady_clock::now() + after) {}
  bool Piece(std::string_view) override { return true; }
  bool Progress(std::size_t scanned) override {
    monotonic_ &= scanned >= last_;
    last_ = scanned;
    ++calls_;
    // A cancel that comes a little later on a busy machine: past the
    // deadline and after a few reports.
    return calls_ < minCalls_ || std::chrono::steady_clock::now() < deadline_;
  }
  std::chrono::steady_clock::time_point deadline_;
  std::size_t last_ = 0;
  int calls_ = 0;
  int minCalls_ = 0;
  bool monotonic_ = true;
};

TEST(Search, PathologicalPatternIsStoppedMidway) {
  // Every start position costs milliseconds; one unbounded call over these
  // texts would take hours. Patterns that assert where a search starts (\G)
  // or skip start positions are searched in one engine call and stopped from
  // inside it; the others between strides (a path's \\G is no \G).
  std::string blocks;
  while (blocks.size() < (1u << 20)) blocks += std::string(19, 'a') + "b";
  const std::string line(1u << 20, 'a');
  // Cheap start positions first (the strides grow long), then the costly ones.
  std::string mixed;
  while (mixed.size() < (1u << 19)) mixed += "x\n";
  const std::size_t cheap = mixed.size();
  mixed += blocks;
  struct Case {
    const char* pattern;
    const std::string& text;
    std::size_t from = 0;  // where the costly positions start
  };
  for (const Case& c : {Case{"(a?){20}a{20}", blocks}, Case{"\\Gq|(?:a|b)*[0-9]", line},
                        Case{"(?:a|b)*[0-9]|(*SKIP)x", line}, Case{"(?:a|b)*[0-9]|x(*COMMIT)", line},
                        Case{"C:\\\\Games|(?:a|b)*[0-9]", line}, Case{"x|(a?){20}a{20}", mixed, cheap}}) {
    for (bool jit : {true, false}) {
      MatchLimits l;
      l.jit = jit;
      DeadlineSink sink(std::chrono::milliseconds(200));
      sink.minCalls_ = 3;
      const auto err = sf::RemoveTo(c.text, c.pattern, l, sink);
      ASSERT_TRUE(err.has_value()) << c.pattern;
      EXPECT_EQ(err->kind, FilterError::Kind::Stopped) << c.pattern;
      // Progress was reported while it ran (on a loaded machine the first
      // start position of the long line may be all it got to).
      EXPECT_GE(sink.calls_, sink.minCalls_) << c.pattern << (jit ? " JIT" : " interpreter");
      if (&c.text != &line) {
        EXPECT_GT(sink.last_, c.from) << (jit ? "JIT" : "interpreter");
      }
      // ... and it stopped long before the end
      EXPECT_LT(sink.last_, c.from + (c.text.size() - c.from) / 10) << c.pattern;
      EXPECT_TRUE(sink.monotonic_) << c.pattern;
    }
  }
  // Whole lines: line after line of such positions, each line its own search.
  std::string lines;
  while (lines.size() < (1u << 20)) lines += std::string(4999, 'a') + "\n";
  for (bool jit : {true, false}) {
    sf::CompileOptions options;
    options.jit = jit;
    options.wholeLines = true;
    const sf::Compilation c = sf::Compile("(?:a|b)*[0-9]", options);
    ASSERT_TRUE(c.pattern);
    DeadlineSink sink(std::chrono::milliseconds(200));
    sink.minCalls_ = 3;
    const auto err = sf::RemoveTo(lines, *c.pattern, MatchLimits{}, sink);
    ASSERT_TRUE(err.has_value());
    EXPECT_EQ(err->kind, FilterError::Kind::Stopped);
    EXPECT_GT(sink.last_, 0u);
    EXPECT_LT(sink.last_, lines.size() / 10);
    EXPECT_TRUE(sink.monotonic_);
  }
}

TEST(Search, ProgressReachesTheEndOfAnOrdinaryRun) {
  std::string text;
  for (int i = 0; i < 200000; ++i) text += "line " + std::to_string(i) + (i % 7 ? " ok\n" : " ERROR\n");
  // Unique and Tally gather before they write: the same progress.
  for (const auto mode : {sf::CompileOptions::KeepMode::All, sf::CompileOptions::KeepMode::Unique,
                          sf::CompileOptions::KeepMode::Tally}) {
    sf::CompileOptions options;
    options.keepMode = mode;
    const sf::Compilation c = sf::Compile("(?m)^.*ERROR.*$", options);
    ASSERT_TRUE(c.pattern);
    DeadlineSink sink(std::chrono::hours(1));
    ASSERT_FALSE(sf::KeepTo(text, *c.pattern, "\n", MatchLimits{}, sink).has_value());
    EXPECT_EQ(sink.last_, text.size());
    EXPECT_GE(sink.calls_, 2);
    EXPECT_TRUE(sink.monotonic_);
  }
}

TEST(Search, ALeadingRepeatOfAnyCharacterFindsMatchesAfterAnInvalidByte) {
  // PCRE2 tries such a pattern only at line starts; in one call over a text
  // with an invalid byte that missed the match after it.
  for (bool jit : {true, false})
    for (const char* p : {".*=", "\\N*=", ".{0,}=", "\\N{0,}=", "(?s:.*)="})
      EXPECT_EQ(Shown(sf::Keep("\xF9=", p, "|", Plain(jit))), "=|") << p << (jit ? " JIT" : " interpreter");
}

TEST(Search, NoJitPatternsUseTheInterpreter) {
  EXPECT_EQ(Shown(sf::Keep("a1b22", "(*NO_JIT)\\d+", ",")), "1,22,");
  EXPECT_EQ(Shown(sf::Remove("a1b22\xff", "(*NO_JIT)\\d+")), "ab\xff");
}

TEST(Search, JitStackGrowsOnDemandUpToTheBound) {
  // Needs far more than the 32 KiB a search starts with.
  const std::string text = std::string(1u << 20, 'a') + "c";
  MatchLimits l;
  const sf::FilterResult r = sf::Keep(text, "(?:(a)|b)*c", "", l);
  ASSERT_TRUE(r.ok) << Shown(r);
  EXPECT_EQ(r.text.size(), text.size());
  l.jitStackBytes = 256 * 1024;
  l.heapLimitKiB = 256;
  EXPECT_EQ(sf::Keep(text, "(?:(a)|b)*c", "", l).error.kind, FilterError::Kind::Limit);
}

// The 32-bytes-per-step validator agrees with the scalar rules on texts
// built from valid characters of every length, ASCII runs (its shortcut),
// and the bytes of every kind of ill-formed sequence, anywhere in a block
// and across block ends.
TEST(Search, FastUtf8CheckAgreesWithTheRules) {
  static const char* pieces[] = {"a", "0123456789abcdef0123456789abcdef", "\xC3\xA9", "\xD0\x96", "\xE2\x82\xAC",
                                 "\xEF\xBF\xBF", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF", "\x80", "\xBF",
                                 "\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF", "\xE0\x9F\xBF", "\xED\xA0\x80",
                                 "\xF0\x80\x80\x80", "\xF4\x90\x80\x80", "\xF5", "\xFF", "\xC3", "\xE2\x82",
                                 "\xF0\x9F\x98", "\n"};
  std::mt19937 rng(20261208);
  int valid = 0, invalid = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const int count = std::uniform_int_distribution<int>(0, 60)(rng);
    const bool clean = rng() % 2 == 0;  // half the texts only of valid pieces
    for (int i = 0; i < count; ++i) {
      const std::size_t k = rng() % std::size(pieces);
      if (clean && (k >= 8 && k <= 21)) continue;
      text += pieces[k];
    }
    const bool expected = siftwell::utf8::IsValid(text);
    ASSERT_EQ(sf::IsValidUtf8Fast(text), expected) << ::testing::PrintToString(text);
    ++(expected ? valid : invalid);
  }
  EXPECT_GT(valid, 5000);
  EXPECT_GT(invalid, 5000);
  EXPECT_TRUE(sf::IsValidUtf8Fast(std::string_view()));  // no text at all (a null pointer: UBSan once objected)
  // Each ill-formed piece alone at every place of a text of ASCII (whose
  // blocks take the shortcut) and of one with other characters.
  for (const std::string& background :
       {std::string(200, 'x'), std::string(40, 'x') + "\xE2\x82\xAC" + std::string(150, 'y')}) {
    for (std::size_t k = 8; k <= 21; ++k) {
      for (std::size_t at = 0; at <= 130; ++at) {
        std::string text = background;
        text.insert(at, pieces[k]);
        ASSERT_EQ(sf::IsValidUtf8Fast(text), siftwell::utf8::IsValid(text)) << ::testing::PrintToString(text);
      }
    }
  }
}

}  // namespace

