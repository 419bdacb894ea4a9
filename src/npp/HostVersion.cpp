#include "npp/HostVersion.h"


#if defined(_WIN32)
#include "npp/Tables.h"
#include "npp/Win32.h"
#endif

namespace siftwell::npp {

std::string HostVersion::Text() const {
  if (!Known()) return "unknown";
  std::string minor = std::to_string(value_ & 0xFFFFu);
  if (minor.size() < 3) minor.insert(0, 3 - minor.size(), '0');  // 10 -> "010": x.0.1
  while (!minor.empty() && minor.back() == '0') minor.pop_back();
  std::string text = std::to_string(value_ >> 16);
  for (const char digit : minor) (text += '.') += digit;
  return text;
}

#if defined(_WIN32)
HostVersion HostVersion::Query(HWND host) {
  if (host == nullptr) return {};
  const auto ask = [host](intptr_t padded) {
    return static_cast<uint32_t>(
        Win32::SendMessage(host, static_cast<uint32_t>(NppMsg::NPPM_GETNPPVERSION), padded, 0));
  };
  return FromAnswers(ask(1), ask(0));
}
#endif

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The attributes of one start tag (the text after its name, up to '>'):
// calls `take(name, value)` for each well-formed name="value" or name='value'.
template <typename Take>
void ForEachAttribute(std::string_view tag, Take take) {
  size_t i = 0;
  while (i < tag.size()) {
    while (i < tag.size() && IsSpace(tag[i])) ++i;
    const size_t nameStart = i;
    while (i < tag.size() && !IsSpace(tag[i]) && tag[i] != '=' && tag[i] != '/') ++i;
    const std::string_view name = tag.substr(nameStart, i - nameStart);
    while (i < tag.size() && IsSpace(tag[i])) ++i;
    if (name.empty() || i >= tag.size() || tag[i] != '=') {
      ++i;
      continue;
    }
    ++i;
    while (i < tag.size() && IsSpace(tag[i])) ++i;
    if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\'')) continue;
    const char quote = tag[i++];
    const size_t end = tag.find(quote, i);
    if (end == std::string_view::npos) return;
    take(name, tag.substr(i, end - i));
    i = end + 1;
  }
}

}  // namespace

std::optional<bool> DarkModeInHostConfig(std::string_view xml) {
  constexpr std::string_view kTag = "<GUIConfig";
  for (size_t at = xml.find(kTag); at != std::string_view::npos; at = xml.find(kTag, at + kTag.size())) {
    const size_t start = at + kTag.size();
    if (start >= xml.size() || !IsSpace(xml[start])) continue;  // <GUIConfigs>
    const size_t end = xml.find('>', start);
    if (end == std::string_view::npos) return std::nullopt;
    bool darkMode = false;
    std::optional<std::string_view> enable;
    ForEachAttribute(xml.substr(start, end - start), [&](std::string_view name, std::string_view value) {
      if (name == "name") darkMode = value == "DarkMode";
      if (name == "enable") enable = value;
    });
    if (darkMode) return enable && *enable == "yes";
  }
  return std::nullopt;
}

std::wstring HostConfigFile(std::wstring_view pluginsConfigDir) {
  // Two folders up, by hand: the folder names a Windows path on every platform.
  const auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
  std::wstring_view dir = pluginsConfigDir;
  for (int32_t up = 0; up < 2; ++up) {
    while (!dir.empty() && separator(dir.back())) dir.remove_suffix(1);
    while (!dir.empty() && !separator(dir.back())) dir.remove_suffix(1);
  }
  if (dir.empty()) return {};
  return std::wstring(dir) + L"config.xml";
}

}  // namespace siftwell::npp
