#include "app/PatternStore.h"

#include <windows.h>

#include <filesystem>
#include <memory>
#include <type_traits>
#include <utility>
#include <variant>

#include "win/CodePage.h"

namespace siftwell::app {

namespace {

struct HandleClose {
  void operator()(HANDLE h) const noexcept { CloseHandle(h); }
};
using FileHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleClose>;

FileHandle OpenFile(const std::wstring& path, DWORD access, DWORD disposition) {
  HANDLE h = CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return FileHandle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

// A name a preset can carry: not empty, no line break, no blank at either end
// (the file drops them).
bool UsableName(std::string_view name) {
  if (name.empty() || name.find_first_of("\r\n") != std::string_view::npos) return false;
  if (name.front() == ' ' || name.front() == '\t' || name.back() == ' ' || name.back() == '\t') return false;
  return true;
}

}  // namespace

std::optional<Preset> EntryOf(const FieldSet& fields) {
  Preset p;
  if (!WideToUtf8(fields.pattern, p.pattern) || !WideToUtf8(fields.delimiter, p.delimiter) ||
      !WideToUtf8(fields.options.outputTemplate, p.keepTemplate)) {
    return std::nullopt;
  }
  p.lines = fields.options.wholeLines;
  p.matchCase = fields.options.matchCase;
  p.unique = fields.options.unique;
  p.tally = fields.options.tally;
  p.lineNumbers = fields.options.lineNumbers;
  return p;
}

FieldSet FieldsOf(const Preset& entry, const RunOptions& current) {
  FieldSet f;
  f.pattern = Utf8ToWide(entry.pattern);
  f.delimiter = Utf8ToWide(entry.delimiter);
  f.options = current;
  f.options.outputTemplate = Utf8ToWide(entry.keepTemplate);
  f.options.wholeLines = entry.lines;
  f.options.matchCase = entry.matchCase;
  f.options.unique = entry.unique;
  f.options.tally = entry.tally;
  f.options.lineNumbers = entry.lineNumbers;
  return f;
}

std::optional<std::string> ReadWholeFile(const std::wstring& path) {
  FileHandle file = OpenFile(path, GENERIC_READ, OPEN_EXISTING);
  if (!file) return std::nullopt;
  LARGE_INTEGER size{};
  // These files are small; one far too large for one is not read.
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > (64 << 20)) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!bytes.empty() && (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                         read != bytes.size())) {
    return std::nullopt;
  }
  return bytes;
}

bool ReplaceFile(const std::wstring& path, std::string_view bytes) {
  const std::wstring temporary = path + L".new";
  {
    FileHandle file = OpenFile(temporary, GENERIC_WRITE, CREATE_ALWAYS);
    if (!file) return false;
    DWORD written = 0;
    const bool ok = bytes.empty() || (WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                                                nullptr) &&
                                      written == bytes.size());
    if (!ok || !FlushFileBuffers(file.get())) {
      file.reset();
      DeleteFileW(temporary.c_str());
      return false;
    }
  }
  if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(temporary.c_str());
    return false;
  }
  return true;
}

PatternStore::PatternStore(const std::wstring& folder) {
  if (!folder.empty()) {
    historyFile_ = (std::filesystem::path(folder) / kHistoryFileName).wstring();
    presetsFile_ = (std::filesystem::path(folder) / kPresetsFileName).wstring();
    if (const auto text = ReadWholeFile(historyFile_)) history_ = ReadHistory(*text);
  }
  ReadPresetsFile();
}

void PatternStore::Remember(const Preset& entry) {
  siftwell::engine::Remember(history_, entry);
  SaveHistory();
}

void PatternStore::ClearHistory() {
  history_.clear();
  SaveHistory();
}

void PatternStore::SaveHistory() {
  if (historyFile_.empty()) return;
  try {
    ReplaceFile(historyFile_, WriteHistory(history_));  // a history that cannot be kept is still offered
  } catch (const std::bad_alloc&) {
  }
}

void PatternStore::ReloadPresets() {
  const std::vector<Preset> before = presets_;
  ReadPresetsFile();
  if (presets_ != before && presetsChanged) presetsChanged();
}

void PatternStore::ReadPresetsFile() {
  presetsProblem_.reset();
  if (presetsFile_.empty()) return;
  const auto text = ReadWholeFile(presetsFile_);
  if (!text) {
    // No file is no preset; a file that is there but cannot be read is kept as it is.
    if (GetFileAttributesW(presetsFile_.c_str()) == INVALID_FILE_ATTRIBUTES) presets_.clear();
    else presetsProblem_ = PresetError{PresetError::Kind::Syntax, 0, {}};
    return;
  }
  PresetsRead read = ReadPresets(*text);
  if (read.error) {
    presetsProblem_ = read.error;
    presets_.clear();
    return;
  }
  presets_ = std::move(read.presets);
}

PatternStore::Change PatternStore::WritePresetsFile(std::vector<Preset> presets) {
  const auto text = WritePresets(presets);
  if (!std::holds_alternative<std::string>(text)) return Change::BadName;
  if (!presetsFile_.empty() && !ReplaceFile(presetsFile_, std::get<std::string>(text))) return Change::NotWritten;
  presets_ = std::move(presets);
  if (presetsChanged) presetsChanged();
  return Change::Done;
}

PatternStore::Change PatternStore::SavePreset(const Preset& preset, bool replace) {
  ReloadPresets();
  if (presetsProblem_) return Change::Unreadable;
  if (!UsableName(preset.name)) return Change::BadName;
  std::vector<Preset> presets = presets_;
  for (Preset& p : presets) {
    if (p.name != preset.name) continue;
    if (!replace) return Change::Exists;
    p = preset;  // in its place
    return WritePresetsFile(std::move(presets));
  }
  presets.push_back(preset);
  return WritePresetsFile(std::move(presets));
}

PatternStore::Change PatternStore::RenamePreset(std::string_view from, std::string_view to, bool replace) {
  ReloadPresets();
  if (presetsProblem_) return Change::Unreadable;
  if (!UsableName(to)) return Change::BadName;
  if (!FindPreset(presets_, from)) return Change::NoSuchPreset;
  if (from == to) return Change::Done;
  std::vector<Preset> presets;
  for (const Preset& p : presets_) {
    if (p.name == to && !replace) return Change::Exists;
    if (p.name == to) continue;
    presets.push_back(p);
    if (p.name == from) presets.back().name = std::string(to);
  }
  return WritePresetsFile(std::move(presets));
}

PatternStore::Change PatternStore::DeletePreset(std::string_view name) {
  ReloadPresets();
  if (presetsProblem_) return Change::Unreadable;
  std::vector<Preset> presets = presets_;
  if (std::erase_if(presets, [&](const Preset& p) { return p.name == name; }) == 0) return Change::NoSuchPreset;
  return WritePresetsFile(std::move(presets));
}

}  // namespace siftwell::app
