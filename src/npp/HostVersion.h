// Which Notepad++ the plugin runs in, and so which of the host messages newer
// than the published 6.9.1 interface (NppMsgNewer) it may send. Every "does
// this host have ..." question is answered here, from the host's version and
// the first version of each message (NppMsgNewerSince, from data/).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "npp/NppMsgNewer.h"
#include "win/NativeTypes.h"

namespace siftwell::npp {

class HostVersion {
 public:
  constexpr HostVersion() noexcept = default;

  // From what NPPM_GETNPPVERSION answers with wParam TRUE and with FALSE: major
  // << 16 | the minor digits, padded to three with TRUE (8.9.7 -> 8, 970; with
  // FALSE 8, 97). Hosts before the padding argument ignore wParam and answer
  // the digits as they are (8.3.3 -> 8, 33 both times); their digits are
  // padded here, so both forms compare alike. Where the answers differ the
  // host has padded (9.0.1 -> 10 against 1, which padding by hand would take
  // for 9.1). 0 (a host that does not answer) stays unknown and has none of
  // the newer messages.
  static constexpr HostVersion FromAnswers(uint32_t padded, uint32_t unpadded) noexcept {
    if (padded != unpadded) return HostVersion(padded);
    uint32_t minor = padded & 0xFFFFu;
    while (minor != 0 && minor < 100) minor *= 10;
    return HostVersion((padded & 0xFFFF0000u) | minor);
  }
  // Asks the host (null: unknown).
  static HostVersion Query(HWND host);

  constexpr uint32_t Value() const noexcept { return value_; }
  constexpr bool Known() const noexcept { return value_ != 0; }
  constexpr bool AtLeast(uint32_t since) const noexcept { return Known() && value_ >= since; }
  // "8.3.3", "8.9.7", "8.4" (trailing zero digits dropped); "unknown".
  std::string Text() const;

  // The host has a dark mode (it came with the dark-mode toolbar icon, in 8.0).
  constexpr bool HasDarkMode() const noexcept {
    return AtLeast(NppMsgNewerSince::NPPM_ADDTOOLBARICON_FORDARKMODE);
  }
  constexpr bool HasDarkModeToolbarIcon() const noexcept {
    return AtLeast(NppMsgNewerSince::NPPM_ADDTOOLBARICON_FORDARKMODE);
  }
  // The host tells its mode and colours, and when the mode changes.
  constexpr bool HasDarkModeQueries() const noexcept {
    return AtLeast(NppMsgNewerSince::NPPM_ISDARKMODEENABLED) && AtLeast(NppMsgNewerSince::NPPM_GETDARKMODECOLORS) &&
           AtLeast(NppMsgNewerSince::NPPN_DARKMODECHANGED);
  }
  // The host themes a plugin's window itself.
  constexpr bool HasDarkModeTheming() const noexcept {
    return AtLeast(NppMsgNewerSince::NPPM_DARKMODESUBCLASSANDTHEME);
  }
  // The host hands out indicator numbers to plugins.
  constexpr bool HasIndicatorAllocation() const noexcept {
    return AtLeast(NppMsgNewerSince::NPPM_ALLOCATEINDICATOR);
  }
  // The editor's positions are pointer-sized (Scintilla 5, from 8.3 on), which
  // moves the fields after them in SCN_* records on x64. An unknown host is
  // taken for an older one.
  constexpr bool HasWidePositions() const noexcept { return AtLeast(kWidePositionsSince); }

 private:
  static constexpr uint32_t kWidePositionsSince = (8u << 16) | 300u;  // 8.3
  constexpr explicit HostVersion(uint32_t value) noexcept : value_(value) {}
  uint32_t value_ = 0;
};

// Whether the host's settings file (config.xml) has dark mode on: its
// <GUIConfig name="DarkMode" enable="yes|no" .../>. Empty when the file holds
// no such element. Hosts without the dark-mode queries (8.0 to 8.4.0) are
// followed this way: the file holds the mode they started in.
std::optional<bool> DarkModeInHostConfig(std::string_view xml);

// The host's settings file, from the plugins' configuration folder the host
// names (NPPM_GETPLUGINSCONFIGDIR): <settings>\plugins\Config, so config.xml
// is two levels up, beside notepad++.exe in a portable install, else in
// %APPDATA%\Notepad++ or the -settingsDir folder. Empty for an empty folder.
std::wstring HostConfigFile(std::wstring_view pluginsConfigDir);

}  // namespace siftwell::npp
