// The build's Siftwell.dll as Windows sees it (Wine maps / to Z:).
#pragma once

#include <string>

inline std::wstring PluginPath() {
  const std::string built = SIFTWELL_PLUGIN_DLL;
  std::wstring path(built.begin(), built.end());
  if (!path.empty() && path[0] == L'/') path = L"Z:" + path;
  return path;
}
