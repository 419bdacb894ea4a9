// The patterns run lately, newest first: what the filter window's Up and Down
// and its drop-down of recent patterns offer, kept across sessions in a small
// UTF-8 file. Portable: the caller reads and writes the file.
//
// The file is the presets file's format (Presets.h) with the sections named
// by their place, newest first:
//
//   [1]
//   pattern = ERROR (\w+)
//   delimiter = \n
//   ...
//   [2]
//   ...
//
// Reading is forgiving: a section that does not read is left out and the
// others are kept, so a damaged file costs at most its damaged entries.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Presets.h"

namespace siftwell::engine {

inline constexpr std::size_t kHistoryCapacity = 100;

// One remembered run: a preset whose name is not used.
using HistoryEntry = Preset;

// Entries that run the same: pattern, delimiter, template and switches (names aside).
bool SameRun(const HistoryEntry& a, const HistoryEntry& b);

// Puts `entry` at the front; an entry that runs the same moves there instead
// of standing twice; beyond `capacity` the oldest go.
void Remember(std::vector<HistoryEntry>& history, HistoryEntry entry, std::size_t capacity = kHistoryCapacity);

// The entries of a history file (newest first; names cleared), at most
// `capacity`, each at most once.
std::vector<HistoryEntry> ReadHistory(std::string_view file, std::size_t capacity = kHistoryCapacity);

// The file's text for `history`; an entry the format cannot hold (a line
// break in a value) is left out.
std::string WriteHistory(const std::vector<HistoryEntry>& history);

}  // namespace siftwell::engine
