// The presets file: what reading makes of a file, what it refuses and where,
// and that what the writer writes reads back the same.
#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "engine/Presets.h"

namespace {

using siftwell::engine::Preset;
using siftwell::engine::PresetError;
using siftwell::engine::ReadPresets;
using siftwell::engine::WritePresets;
using Kind = PresetError::Kind;

TEST(Presets, ReadsWhatTheFileSays) {
  const auto read = ReadPresets(
      "\xEF\xBB\xBF# saved\r\n[ Errors ]\r\npattern = ^ERROR\\s+(\\w+) \r\ntemplate=$1\r\ntally = yes\r\n"
      "; other\n[b]\npattern = \"  a=b \"\ndelimiter = \", \"\nlines = on\nmatch-case = 0\nline-numbers = true\n"
      "[quoted]\npattern = \"\"x\"\"\ndelimiter=\n");
  ASSERT_FALSE(read.error) << static_cast<int>(read.error->kind) << " line " << read.error->line;
  ASSERT_EQ(read.presets.size(), 3u);
  const Preset& a = read.presets[0];
  EXPECT_EQ(a.name, "Errors");
  EXPECT_EQ(a.pattern, "^ERROR\\s+(\\w+)");
  EXPECT_EQ(a.keepTemplate, "$1");
  EXPECT_EQ(a.delimiter, "\\n");
  EXPECT_TRUE(a.tally && a.matchCase && !a.unique && !a.lines && !a.lineNumbers);
  const Preset& b = read.presets[1];
  EXPECT_EQ(b.pattern, "  a=b ");
  EXPECT_EQ(b.delimiter, ", ");
  EXPECT_TRUE(b.lines && !b.matchCase && b.lineNumbers && !b.tally);
  EXPECT_EQ(b.Options().wholeLines, true);
  EXPECT_EQ(read.presets[2].pattern, "\"x\"");
  EXPECT_EQ(read.presets[2].delimiter, "");
}

TEST(Presets, RefusesWithKindLineAndItem) {
  struct Row {
    const char* file;
    Kind kind;
    std::size_t line;
    const char* item;
  };
  const Row rows[] = {
      {"pattern = x\n", Kind::OutsidePreset, 1, "pattern"},
      {"[a]\npattern = x\nbogus = 1\n", Kind::UnknownKey, 3, "bogus"},
      {"[a]\npattern = x\nlines = maybe\n", Kind::BadSwitch, 3, "lines"},
      {"[a]\npattern = x\npattern = y\n", Kind::Repeated, 3, "pattern"},
      {"[a]\npattern = x\n[a]\npattern = y\n", Kind::Repeated, 3, "a"},
      {"[a]\nlines = yes\n[b]\npattern = y\n", Kind::NoPattern, 1, "a"},
      {"[a]\npattern = x\n\n[b]\npattern = y\nunique = yes\ntally = yes\n", Kind::UniqueAndTally, 4, "b"},
      {"[a]\npattern = x\njust words\n", Kind::Syntax, 3, ""},
      {"[a\npattern = x\n", Kind::Syntax, 1, ""},
      {"[ ]\npattern = x\n", Kind::Syntax, 1, ""},
  };
  for (const Row& r : rows) {
    const auto read = ReadPresets(r.file);
    ASSERT_TRUE(read.error) << r.file;
    EXPECT_EQ(read.error->kind, r.kind) << r.file;
    EXPECT_EQ(read.error->line, r.line) << r.file;
    EXPECT_EQ(read.error->item, r.item) << r.file;
    EXPECT_TRUE(read.presets.empty()) << r.file;
  }
}

TEST(Presets, WrittenPresetsReadBackTheSame) {
  std::vector<Preset> presets(4);
  presets[0] = {"Words [x]", "\\b\\w+\\b", "\\t", "<$0>", false, false, true, false, true};
  presets[1] = {"blanks", " a ", " ", "", true, true, false, true, false};
  presets[2] = {"quotes", "\"q", "\"", "x\"", false, true, false, false, false};
  presets[3] = {"#; = ]x", "", "", "$$", false, true, false, false, false};
  const auto written = WritePresets(presets);
  ASSERT_TRUE(std::holds_alternative<std::string>(written));
  const auto read = ReadPresets(std::get<std::string>(written));
  ASSERT_FALSE(read.error) << std::get<std::string>(written);
  EXPECT_EQ(read.presets, presets) << std::get<std::string>(written);

  auto preset = [](const char* name, const char* pattern, const char* keepTemplate = "") {
    Preset p;
    p.name = name;
    p.pattern = pattern;
    p.keepTemplate = keepTemplate;
    return p;
  };
  Preset both = preset("a", "x");
  both.unique = both.tally = true;
  for (const Preset& bad : {preset("a\nb", "x"), preset("a", "x\ny"), preset("a", "x", "\r"), preset(" a", "x"),
                            preset("a ", "x"), preset("", "x"), both}) {
    const auto refused = WritePresets({bad});
    ASSERT_TRUE(std::holds_alternative<PresetError>(refused)) << bad.name;
  }
}

}  // namespace
