// The filter window's recent patterns and saved presets, and the two files in
// the plugin's settings folder that keep them (UI thread only):
//   Siftwell-history.ini  the last kHistoryCapacity runs, newest first (engine/History.h)
//   Siftwell-presets.ini  the presets, in the format the CLI reads (engine/Presets.h)
// Both are written whole to a temporary file that then replaces the old one,
// so a crash in between leaves the old file. A history file that does not
// read gives what still reads; a presets file that does not read is never
// written over (its presets are not offered until it is mended).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/EditorFilter.h"
#include "engine/History.h"
#include "engine/Presets.h"

namespace siftwell::app {

// The plugin is built on the engine below it: its names are used unqualified here.
using namespace siftwell::engine;

// The window's pattern, delimiter and options, as a run takes them.
struct FieldSet {
  std::wstring pattern;
  std::wstring delimiter = L"\\n";
  RunOptions options;
};
// As an entry (no name); none for a text with a lone surrogate.
std::optional<Preset> EntryOf(const FieldSet& fields);
// An entry as the window's fields; what an entry does not hold (In selection,
// Result) is taken from `current`.
FieldSet FieldsOf(const Preset& entry, const RunOptions& current);

// The whole file, or none when it cannot be read (missing included).
std::optional<std::string> ReadWholeFile(const std::wstring& path);
// Writes `bytes` to `path` through a temporary file beside it that then
// replaces it; false (and `path` as it was) when that fails.
bool ReplaceFile(const std::wstring& path, std::string_view bytes);

class PatternStore {
 public:
  static constexpr wchar_t kHistoryFileName[] = L"Siftwell-history.ini";
  static constexpr wchar_t kPresetsFileName[] = L"Siftwell-presets.ini";

  // The files in `folder`; an empty folder keeps everything in memory only.
  explicit PatternStore(const std::wstring& folder);

  const std::wstring& PresetsFile() const noexcept { return presetsFile_; }

  // ---- history ----
  const std::vector<HistoryEntry>& History() const noexcept { return history_; }
  // A run of `entry`: to the front (saved at once).
  void Remember(const Preset& entry);
  void ClearHistory();

  // ---- presets ----
  const std::vector<Preset>& Presets() const noexcept { return presets_; }
  // Why the presets file could not be read, when it could not.
  const std::optional<PresetError>& PresetsProblem() const noexcept { return presetsProblem_; }
  // Reads the presets file again (another program may have changed it);
  // presetsChanged hears of a difference.
  void ReloadPresets();

  enum class Change { Done, Exists, NoSuchPreset, BadName, Unreadable, NotWritten };
  // Saves `preset` under its name; one of that name is replaced only when `replace`.
  Change SavePreset(const Preset& preset, bool replace);
  // Renames `from` to `to` (a preset named `to` is replaced only when `replace`).
  Change RenamePreset(std::string_view from, std::string_view to, bool replace);
  Change DeletePreset(std::string_view name);

  // Called after every change of the presets (the commands' names follow).
  std::function<void()> presetsChanged;

 private:
  void ReadPresetsFile();
  Change WritePresetsFile(std::vector<Preset> presets);
  void SaveHistory();

  std::wstring historyFile_, presetsFile_;
  std::vector<HistoryEntry> history_;
  std::vector<Preset> presets_;
  std::optional<PresetError> presetsProblem_;
};

}  // namespace siftwell::app
