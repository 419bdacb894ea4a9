// Writes the code-point ranges of every script PCRE2 knows, as PCRE2 itself
// matches them, for the engine's translation of \p{Script} into a class
// (src/engine/ScriptRanges.cpp includes the output).
//
// Run at build time with the PCRE2 the engine links: the script names come
// from PCRE2's own property table, the ranges from matching \p{sc=X} and
// \p{scx=X} against a text that holds every Unicode scalar value once, in
// order. For each set it also records whether PCRE2's caseless matching of
// the class of those ranges adds nothing (then the class stands for the
// property under (?i) too, also inside a bracket class).
//
// Usage: script_ranges_gen OUTPUT_FILE
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "text/Utf8.h"

// PCRE2's table of property names (pcre2_ucptables.c). Not part of its API,
// but present in the static library; reading it here is what keeps this list
// exactly the one of the version in use.
struct UcpTypeTable {
  uint16_t name_offset;
  uint16_t type;
  uint16_t value;
};
extern "C" const UcpTypeTable _pcre2_utt_8[];
extern "C" const char _pcre2_utt_names_8[];
extern "C" const size_t _pcre2_utt_size_8;

namespace {

constexpr uint16_t kTypeScript = 3;            // PT_SC
constexpr uint16_t kTypeScriptExtensions = 4;  // PT_SCX

using Ranges = std::vector<std::pair<uint32_t, uint32_t>>;

struct AllCodePoints {
  std::string text;
  std::vector<uint32_t> codePointAt;  // by byte offset (lead bytes only)
  AllCodePoints() {
    codePointAt.reserve(4400000);
    for (uint32_t c = 0; c <= 0x10FFFF; ++c) {
      if (c >= 0xD800 && c <= 0xDFFF) continue;
      const size_t at = text.size();
      siftwell::utf8::Append(text, c);
      codePointAt.resize(text.size(), 0);
      codePointAt[at] = c;
    }
  }
};

// The code points `pattern` (a repeated single-character item) matches, as
// ranges: every match is a run of consecutive code points.
Ranges Matched(const AllCodePoints& all, const std::string& pattern) {
  int error = 0;
  PCRE2_SIZE errorOffset = 0;
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.c_str()), pattern.size(), PCRE2_UTF,
                                   &error, &errorOffset, nullptr);
  if (!code) {
    std::fprintf(stderr, "script_ranges_gen: PCRE2 rejects %s (error %d)\n", pattern.c_str(), error);
    std::exit(1);
  }
  pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
  pcre2_match_data* md = pcre2_match_data_create_from_pattern(code, nullptr);
  Ranges ranges;
  const auto* subject = reinterpret_cast<PCRE2_SPTR>(all.text.data());
  PCRE2_SIZE from = 0;
  while (from < all.text.size()) {
    const int rc = pcre2_match(code, subject, all.text.size(), from, PCRE2_NO_UTF_CHECK, md, nullptr);
    if (rc < 0) break;
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md);
    size_t lastAt = ov[1] - 1;
    while ((static_cast<unsigned char>(all.text[lastAt]) & 0xC0) == 0x80) --lastAt;
    const uint32_t a = all.codePointAt[ov[0]];
    const uint32_t b = all.codePointAt[lastAt];
    // The text has no surrogates, so a match may run across them: the range
    // then holds them too (only a range's ends may not be surrogates).
    ranges.push_back({a, b});
    from = ov[1];
  }
  pcre2_match_data_free(md);
  pcre2_code_free(code);
  return ranges;
}

std::string ClassOf(const Ranges& ranges) {
  std::string s = "[";
  char item[40];
  for (const auto& [a, b] : ranges) {
    if (a == b) std::snprintf(item, sizeof item, "\\x{%X}", a);
    else std::snprintf(item, sizeof item, "\\x{%X}-\\x{%X}", a, b);
    s += item;
  }
  return s + "]";
}

struct Set {
  Ranges ranges;
  bool caseClosed = false;
};

Set SetOf(const AllCodePoints& all, const std::string& property) {
  Set set;
  set.ranges = Matched(all, "\\p{" + property + "}+");
  set.caseClosed = !set.ranges.empty() && Matched(all, "(?i)" + ClassOf(set.ranges) + "+") == set.ranges;
  if (Matched(all, ClassOf(set.ranges) + "+") != set.ranges) {
    std::fprintf(stderr, "script_ranges_gen: the class of \\p{%s} does not match its own ranges\n", property.c_str());
    std::exit(1);
  }
  return set;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: script_ranges_gen OUTPUT_FILE\n");
    return 2;
  }
  const AllCodePoints all;
  char version[64] = {};
  pcre2_config(PCRE2_CONFIG_VERSION, version);
  char unicode[64] = {};
  pcre2_config(PCRE2_CONFIG_UNICODE_VERSION, unicode);

  // Every script (by PCRE2's value) with one name of it, and every name.
  std::map<uint16_t, std::pair<std::string, bool>> scripts;  // value -> (a name, has extensions)
  std::vector<std::pair<std::string, uint16_t>> names;
  for (size_t i = 0; i < _pcre2_utt_size_8; ++i) {
    const UcpTypeTable& t = _pcre2_utt_8[i];
    if (t.type != kTypeScript && t.type != kTypeScriptExtensions) continue;
    const std::string name = _pcre2_utt_names_8 + t.name_offset;
    names.push_back({name, t.value});
    auto& s = scripts[t.value];
    if (s.first.empty() || name.size() > s.first.size()) s.first = name;
    s.second = s.second || t.type == kTypeScriptExtensions;
  }

  std::string out;
  out += "// Generated at build time by tools/scriptranges/ScriptRangesGen.cpp from PCRE2 ";
  out += version;
  out += " (Unicode ";
  out += unicode;
  out += "). Not edited by hand.\n";
  out += "constexpr std::string_view kGeneratedPcre2Version = \"" + std::string(version) + "\";\n";
  std::vector<uint32_t> bounds;
  std::string sets;
  std::map<uint16_t, size_t> index;
  for (const auto& [value, s] : scripts) {
    index[value] = index.size();
    for (const bool extensions : {false, true}) {
      const Set set = SetOf(all, (extensions && s.second ? "scx=" : "sc=") + s.first);
      sets += "    {" + std::to_string(bounds.size()) + ", " + std::to_string(set.ranges.size()) + ", " +
              (set.caseClosed ? "true" : "false") + "},  // " + (extensions ? "scx=" : "sc=") + s.first + "\n";
      for (const auto& [a, b] : set.ranges) {
        bounds.push_back(a);
        bounds.push_back(b);
      }
    }
  }
  out += "// [2 * script]: sc=, [2 * script + 1]: scx= (the same as sc= where PCRE2 has no extensions).\n";
  out += "constexpr ScriptSet kScriptSets[] = {\n" + sets + "};\n";
  out += "// Sorted as PCRE2 sorts them (byte order): lower case, no separators.\n";
  out += "constexpr ScriptName kScriptNames[] = {\n";
  for (const auto& [name, value] : names)
    out += "    {\"" + name + "\", " + std::to_string(index[value]) + ", " +
           (scripts[value].second ? "true" : "false") + "},\n";
  out += "};\n";
  out += "constexpr uint32_t kScriptBounds[] = {";
  for (size_t i = 0; i < bounds.size(); ++i) {
    char item[16];
    std::snprintf(item, sizeof item, "%s0x%X,", i % 8 == 0 ? "\n    " : " ", bounds[i]);
    out += item;
  }
  out += "\n};\n";

  std::FILE* f = std::fopen(argv[1], "wb");
  if (!f || std::fwrite(out.data(), 1, out.size(), f) != out.size() || std::fclose(f) != 0) {
    std::fprintf(stderr, "script_ranges_gen: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
