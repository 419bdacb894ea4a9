#include "engine/Presets.h"

#include <array>

namespace siftwell::engine {

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trimmed(std::string_view s) {
  const std::size_t from = s.find_first_not_of(kBlanks);
  if (from == std::string_view::npos) return {};
  return s.substr(from, s.find_last_not_of(kBlanks) - from + 1);
}

std::optional<bool> Switch(std::string_view v) {
  for (std::string_view yes : {"yes", "true", "on", "1"})
    if (v == yes) return true;
  for (std::string_view no : {"no", "false", "off", "0"})
    if (v == no) return false;
  return std::nullopt;
}

PresetError Problem(PresetError::Kind kind, std::size_t line, std::string_view item = {}) {
  return PresetError{kind, line, std::string(item)};
}

// The checks a preset must pass whether read or about to be written.
std::optional<PresetError> Check(const Preset& p, std::size_t line) {
  if (p.unique && p.tally) return Problem(PresetError::Kind::UniqueAndTally, line, p.name);
  return std::nullopt;
}

}  // namespace

CompileOptions Preset::Options() const {
  CompileOptions o;
  o.matchCase = matchCase;
  o.wholeLines = lines;
  o.keepTemplate = keepTemplate;
  o.keepMode = tally ? CompileOptions::KeepMode::Tally
               : unique ? CompileOptions::KeepMode::Unique
                        : CompileOptions::KeepMode::All;
  o.lineNumbers = lineNumbers;
  return o;
}

PresetsRead ReadPresets(std::string_view file) {
  PresetsRead out;
  if (file.starts_with("\xEF\xBB\xBF")) file.remove_prefix(3);
  enum Key { kPattern, kDelimiter, kTemplate, kLines, kMatchCase, kUnique, kTally, kLineNumbers, kKeys };
  static constexpr std::array<std::string_view, kKeys> kNames = {
      "pattern", "delimiter", "template", "lines", "match-case", "unique", "tally", "line-numbers"};
  std::array<bool, kKeys> seen{};
  std::size_t sectionLine = 0;
  auto close = [&]() -> std::optional<PresetError> {
    if (out.presets.empty()) return std::nullopt;
    const Preset& p = out.presets.back();
    if (!seen[kPattern]) return Problem(PresetError::Kind::NoPattern, sectionLine, p.name);
    return Check(p, sectionLine);
  };
  std::size_t number = 0;
  for (std::size_t at = 0; at < file.size();) {
    std::size_t end = file.find('\n', at);
    if (end == std::string_view::npos) end = file.size();
    std::string_view line = file.substr(at, end - at);
    at = end + 1;
    ++number;
    if (line.ends_with('\r')) line.remove_suffix(1);
    const std::string_view t = Trimmed(line);
    if (t.empty() || t[0] == '#' || t[0] == ';') continue;
    if (t[0] == '[') {
      if (t.back() != ']' || t.size() < 3) return {{}, Problem(PresetError::Kind::Syntax, number)};
      if (auto err = close()) return {{}, err};
      const std::string_view name = Trimmed(t.substr(1, t.size() - 2));
      if (name.empty()) return {{}, Problem(PresetError::Kind::Syntax, number)};
      if (FindPreset(out.presets, name)) return {{}, Problem(PresetError::Kind::Repeated, number, name)};
      out.presets.push_back(Preset{});
      out.presets.back().name = std::string(name);
      seen = {};
      sectionLine = number;
      continue;
    }
    const std::size_t eq = t.find('=');
    if (eq == std::string_view::npos) return {{}, Problem(PresetError::Kind::Syntax, number)};
    const std::string_view key = Trimmed(t.substr(0, eq));
    std::string_view value = Trimmed(t.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    if (out.presets.empty()) return {{}, Problem(PresetError::Kind::OutsidePreset, number, key)};
    std::size_t k = 0;
    while (k < kKeys && kNames[k] != key) ++k;
    if (k == kKeys) return {{}, Problem(PresetError::Kind::UnknownKey, number, key)};
    if (seen[k]) return {{}, Problem(PresetError::Kind::Repeated, number, key)};
    seen[k] = true;
    Preset& p = out.presets.back();
    if (k == kPattern) p.pattern = std::string(value);
    else if (k == kDelimiter) p.delimiter = std::string(value);
    else if (k == kTemplate) p.keepTemplate = std::string(value);
    else {
      const std::optional<bool> on = Switch(value);
      if (!on) return {{}, Problem(PresetError::Kind::BadSwitch, number, key)};
      (k == kLines ? p.lines : k == kMatchCase ? p.matchCase : k == kUnique ? p.unique : k == kTally ? p.tally
                                                                                              : p.lineNumbers) = *on;
    }
  }
  if (auto err = close()) return {{}, err};
  return out;
}

std::variant<std::string, PresetError> WritePresets(const std::vector<Preset>& presets) {
  std::string out = "# Siftwell presets (UTF-8): one [name] section each; values are taken as they stand.\n";
  auto breaks = [](std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; };
  for (std::size_t i = 0; i < presets.size(); ++i) {
    const Preset& p = presets[i];
    const bool badName = p.name.empty() || breaks(p.name) || Trimmed(p.name) != p.name;
    if (badName || breaks(p.pattern) || breaks(p.delimiter) || breaks(p.keepTemplate))
      return Problem(PresetError::Kind::NotWritable, 0, p.name);
    if (auto err = Check(p, 0)) return *err;
    for (std::size_t j = 0; j < i; ++j)
      if (presets[j].name == p.name) return Problem(PresetError::Kind::Repeated, 0, p.name);
    // Quoted where reading would otherwise drop blanks or a quote.
    auto value = [](std::string_view v) {
      const bool quote = !v.empty() && (v.front() == '"' || Trimmed(v) != v);
      std::string written;
      if (quote) written += '"';
      written += v;
      if (quote) written += '"';
      return written;
    };
    auto yes = [](bool on) { return on ? "yes" : "no"; };
    out += "\n[" + p.name + "]\n";
    out += "pattern = " + value(p.pattern) + "\n";
    out += "delimiter = " + value(p.delimiter) + "\n";
    out += "template = " + value(p.keepTemplate) + "\n";
    out += std::string("lines = ") + yes(p.lines) + "\nmatch-case = " + yes(p.matchCase) + "\nunique = " +
           yes(p.unique) + "\ntally = " + yes(p.tally) + "\nline-numbers = " + yes(p.lineNumbers) + "\n";
  }
  return out;
}

const Preset* FindPreset(const std::vector<Preset>& presets, std::string_view name) {
  for (const Preset& p : presets)
    if (p.name == name) return &p;
  return nullptr;
}

}  // namespace siftwell::engine
