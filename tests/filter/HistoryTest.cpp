// The pattern history: order, one entry per distinct run, the cap, and the
// file round trip (a damaged file keeps what still reads).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/History.h"

namespace {

using siftwell::engine::HistoryEntry;
using siftwell::engine::ReadHistory;
using siftwell::engine::Remember;
using siftwell::engine::WriteHistory;

HistoryEntry Entry(const char* pattern, bool lines = false, const char* delimiter = "\\n") {
  HistoryEntry e;
  e.pattern = pattern;
  e.lines = lines;
  e.delimiter = delimiter;
  return e;
}

std::string Patterns(const std::vector<HistoryEntry>& h) {
  std::string out;
  for (const HistoryEntry& e : h) out += e.pattern + (e.lines ? "/L" : "") + (e.delimiter != "\\n" ? "/d" : "") + " ";
  return out;
}

TEST(History, NewestFirstOnceEachAndCapped) {
  struct Row {
    std::vector<HistoryEntry> runs;
    std::size_t capacity;
    const char* expected;
  };
  const Row rows[] = {
      {{Entry("a"), Entry("b"), Entry("c")}, 100, "c b a "},
      {{Entry("a"), Entry("b"), Entry("a")}, 100, "a b "},                     // moved to the front
      {{Entry("a"), Entry("a", true), Entry("a", false, ",")}, 100, "a/d a/L a "},  // options tell runs apart
      {{Entry("a"), Entry("b"), Entry("c"), Entry("d")}, 3, "d c b "},        // the oldest goes
      {{Entry("a"), Entry("b"), Entry("c"), Entry("a")}, 3, "a c b "},
  };
  for (const Row& r : rows) {
    std::vector<HistoryEntry> h;
    for (const HistoryEntry& e : r.runs) Remember(h, e, r.capacity);
    EXPECT_EQ(Patterns(h), r.expected);
  }
  std::vector<HistoryEntry> h;
  for (int i = 0; i < 130; ++i) Remember(h, Entry(std::to_string(i).c_str()));
  ASSERT_EQ(h.size(), 100u);
  EXPECT_EQ(h.front().pattern, "129");
  EXPECT_EQ(h.back().pattern, "30");
}

TEST(History, FileRoundTripAndDamage) {
  std::vector<HistoryEntry> h = {Entry(" spaced "), Entry("[x]=\"q\"", true), Entry("a", false, ",")};
  h[0].keepTemplate = "$1";
  h[0].tally = true;
  h[1].matchCase = false;
  h[2].lineNumbers = true;
  const std::string file = WriteHistory(h);
  EXPECT_EQ(ReadHistory(file), h) << file;
  // A value with a line break cannot be written: that entry alone is left out.
  std::vector<HistoryEntry> withBreak = h;
  withBreak.insert(withBreak.begin() + 1, Entry("a\nb"));
  EXPECT_EQ(ReadHistory(WriteHistory(withBreak)), h);

  struct Row {
    std::string file;
    const char* expected;
  };
  const Row rows[] = {
      {"", ""},
      {"garbage without sections\n", ""},
      {"\xEF\xBB\xBF[1]\r\npattern = a\r\n[2]\r\npattern = b\r\n", "a b "},
      {"[1]\npattern = a\n[2]\nbogus = 1\npattern = b\n[3]\npattern = c\n", "a c "},   // a bad key: its entry goes
      {"[1]\npattern = a\n[2\npattern = b\n[3]\nlines = maybe\npattern = c\n[4]\npattern = d\n", "a d "},
      {"[1]\npattern = a\n[2]\npattern = a\n[3]\nlines = yes\n", "a "},  // twice, and one without a pattern
      {"[1]\npattern = a\n[1]\npattern = b\n", "a b "},                   // names are only places
      {"[1]\npattern = a\nunique = yes\ntally = yes\n[2]\npattern = b\n", "b "},
  };
  for (const Row& r : rows) EXPECT_EQ(Patterns(ReadHistory(r.file)), r.expected) << r.file;
  std::string many;
  for (int i = 0; i < 120; ++i) {
    const std::string n = std::to_string(i);
    many.append("[").append(n).append("]\npattern = ").append(n).append("\n");
  }
  EXPECT_EQ(ReadHistory(many).size(), 100u);
}

}  // namespace
