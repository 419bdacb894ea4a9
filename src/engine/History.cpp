#include "engine/History.h"

#include <algorithm>
#include <variant>

namespace siftwell::engine {

bool SameRun(const HistoryEntry& a, const HistoryEntry& b) {
  return a.pattern == b.pattern && a.delimiter == b.delimiter && a.keepTemplate == b.keepTemplate &&
         a.lines == b.lines && a.matchCase == b.matchCase && a.unique == b.unique && a.tally == b.tally &&
         a.lineNumbers == b.lineNumbers;
}

void Remember(std::vector<HistoryEntry>& history, HistoryEntry entry, std::size_t capacity) {
  entry.name.clear();
  std::erase_if(history, [&](const HistoryEntry& e) { return SameRun(e, entry); });
  history.insert(history.begin(), std::move(entry));
  if (history.size() > capacity) history.resize(capacity);
}

std::vector<HistoryEntry> ReadHistory(std::string_view file, std::size_t capacity) {
  std::vector<HistoryEntry> out;
  if (file.starts_with("\xEF\xBB\xBF")) file.remove_prefix(3);
  // Each section on its own: one that does not read costs only itself.
  auto take = [&](std::string_view section) {
    const PresetsRead read = ReadPresets(section);
    if (read.error || read.presets.size() != 1 || out.size() >= capacity) return;
    HistoryEntry entry = read.presets.front();
    entry.name.clear();
    if (std::none_of(out.begin(), out.end(), [&](const HistoryEntry& e) { return SameRun(e, entry); }))
      out.push_back(std::move(entry));
  };
  std::size_t start = std::string_view::npos;
  for (std::size_t at = 0; at < file.size();) {
    std::size_t end = file.find('\n', at);
    if (end == std::string_view::npos) end = file.size();
    const std::size_t first = file.find_first_not_of(" \t", at);
    if (first < end && file[first] == '[') {
      if (start != std::string_view::npos) take(file.substr(start, at - start));
      start = at;
    }
    at = end + 1;
  }
  if (start != std::string_view::npos) take(file.substr(start));
  return out;
}

std::string WriteHistory(const std::vector<HistoryEntry>& history) {
  std::string out = "# Siftwell: the patterns run lately, newest first (kept by the plugin).\n";
  std::size_t number = 0;
  for (const HistoryEntry& e : history) {
    HistoryEntry named = e;
    named.name = std::to_string(number + 1);
    const auto written = WritePresets({named});
    if (!std::holds_alternative<std::string>(written)) continue;
    const std::string& text = std::get<std::string>(written);
    out += text.substr(text.find("\n[") );  // without the presets file's own heading
    ++number;
  }
  return out;
}

}  // namespace siftwell::engine
