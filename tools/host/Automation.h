// Helpers that drive plugin windows from outside, for the host exe and tests:
// find a plugin's top-level window, its edit fields and buttons, type into a
// field through the host loop, and save a screenshot.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace siftwell::host {

class HostStandIn;

// Visible top-level windows of this thread other than `except`, topmost first.
std::vector<HWND> OtherTopLevelWindows(HWND except);
// Visible, enabled edit fields under `root`, in tab (child) order.
std::vector<HWND> EditFields(HWND root);
// The visible button under `root` whose caption, without '&' marks, is `text`.
HWND FindButton(HWND root, std::wstring_view text);
// Focuses `field`, selects its text and types `text` as WM_CHAR messages
// through the host loop.
void TypeInto(HostStandIn& host, HWND field, std::wstring_view text);
// Saves what the screen shows of the union of `windows` as a 32-bit BMP file.
bool SaveScreenshot(const std::vector<HWND>& windows, const std::wstring& path,
                    std::wstring* error = nullptr);

}  // namespace siftwell::host
