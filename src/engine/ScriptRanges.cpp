// Script properties as code-point ranges (see ScriptRanges.h).
#include "engine/ScriptRanges.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace siftwell::engine {
namespace {

struct ScriptSet {
  std::size_t first;   // into kScriptBounds: pairs of first and last code point
  std::size_t count;   // ranges
  bool caseClosed;
};
struct ScriptName {
  std::string_view name;
  std::size_t script;
  bool extensions;  // PCRE2 has Script_Extensions for it: \p{name} means scx=
};

#include "ScriptRanges.inc"

// PCRE2 reads at most 49 significant characters of a property name.
constexpr std::size_t kLongestName = 49;

void AppendItem(std::string& out, uint32_t first, uint32_t last) {
  char item[32];
  if (first == last) std::snprintf(item, sizeof item, "\\x{%X}", first);
  else std::snprintf(item, sizeof item, "\\x{%X}-\\x{%X}", first, last);
  out += item;
}

}  // namespace

std::optional<ScriptProperty> FindScriptProperty(std::string_view name, bool negated) {
  std::string key;
  std::size_t separator = std::string_view::npos;
  bool caret = false;
  for (const char c : name) {
    if (c == '_' || c == '-' || c == ' ' || (c >= '\t' && c <= '\r')) continue;
    if (key.empty() && c == '^' && !caret) {  // the first significant character
      caret = true;
      negated = !negated;
      continue;
    }
    if (c < '&' || c > 'z') return std::nullopt;
    if ((c == ':' || c == '=') && separator == std::string_view::npos) separator = key.size();
    key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c | 0x20) : c;
    if (key.size() > kLongestName) return std::nullopt;
  }
  enum class Kind { Plain, Script, Extensions } kind = Kind::Plain;
  if (separator != std::string_view::npos) {
    const std::string_view what = std::string_view(key).substr(0, separator);
    if (what == "sc" || what == "script") kind = Kind::Script;
    else if (what == "scx" || what == "scriptextensions") kind = Kind::Extensions;
    else return std::nullopt;
    key.erase(0, separator + 1);
  }
  const auto it = std::lower_bound(std::begin(kScriptNames), std::end(kScriptNames), key,
                                   [](const ScriptName& n, const std::string& k) { return n.name < k; });
  if (it == std::end(kScriptNames) || it->name != key) return std::nullopt;
  const bool extensions = it->extensions && kind != Kind::Script;
  const std::size_t set = 2 * it->script + (extensions ? 1 : 0);
  const ScriptSet& s = kScriptSets[set];
  if (s.count == 0) return std::nullopt;
  return ScriptProperty{set, negated, s.count, s.caseClosed};
}

std::string ScriptClassItems(const ScriptProperty& property) {
  const ScriptSet& s = kScriptSets[property.set];
  const uint32_t* bounds = kScriptBounds + s.first;
  std::string out;
  for (std::size_t i = 0; i < s.count; ++i) AppendItem(out, bounds[2 * i], bounds[2 * i + 1]);
  return out;
}

std::size_t ScriptNameCount() { return std::size(kScriptNames); }
std::string_view ScriptNameAt(std::size_t index) { return kScriptNames[index].name; }

}  // namespace siftwell::engine
