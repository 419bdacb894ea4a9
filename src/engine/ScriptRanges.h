// Script properties (\p{Cyrillic}, \p{sc=Grek}, \p{scx:Latin}) as classes of
// code-point ranges. PCRE2 finds no start bytes for a script property and
// looks each character's property up; the class of the same code points is
// searched several times faster. The ranges are generated at build time from
// the PCRE2 the engine links (tools/scriptranges), so they are exactly its
// own. Portable: no platform headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace siftwell::engine {

struct ScriptProperty {
  std::size_t set = 0;       // which generated set
  bool negated = false;      // \P{..} or \p{^..}
  std::size_t ranges = 0;    // how many ranges the set has
  // PCRE2's caseless matching of the class adds no code point: the class
  // stands for the property under (?i) too.
  bool caseClosed = false;
};

// The script property named by `name`, the text between \p{ and } (PCRE2's
// loose reading: case, spaces, hyphens and underscores do not count, a
// leading ^ negates); `negated` is true for \P. Nothing for any other
// property or a malformed name.
std::optional<ScriptProperty> FindScriptProperty(std::string_view name, bool negated);

// The class items (\x{..}-\x{..} ...) of the property's code points (a range
// may hold the surrogates, which the text never does; its ends never are).
// There is no complement: PCRE2 10.46 compiles some classes of nearly all code
// points wrongly ([\x{0}-\x{100FF}\x{10809}\x{10836}\x{10839}-\x{1083B}
// \x{1083D}-\x{1083E}\x{10840}-\x{10FFFF}] does not match U+0100), so a
// negated script stays a property inside a class.
std::string ScriptClassItems(const ScriptProperty& property);

// Every script name PCRE2 knows (lower case, no separators), for tests.
std::size_t ScriptNameCount();
std::string_view ScriptNameAt(std::size_t index);

}  // namespace siftwell::engine
