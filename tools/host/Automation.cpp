#include "Automation.h"

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <memory>

#include "HostStandIn.h"

namespace siftwell::host {
namespace {

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[256] = {};
  GetClassNameW(hwnd, name, static_cast<int>(std::size(name)));
  std::wstring lower(name);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
  return lower;
}

std::wstring TextOf(HWND hwnd) {
  const int length = GetWindowTextLengthW(hwnd);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  GetWindowTextW(hwnd, text.data(), length + 1);
  text.resize(static_cast<size_t>(length));
  return text;
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM out) {
  reinterpret_cast<std::vector<HWND>*>(out)->push_back(hwnd);
  return TRUE;
}

// Visible descendants of `root` in EnumChildWindows order that `keep` accepts.
template <typename Keep>
std::vector<HWND> Children(HWND root, Keep keep) {
  std::vector<HWND> all;
  EnumChildWindows(root, &CollectChild, reinterpret_cast<LPARAM>(&all));
  std::vector<HWND> found;
  for (HWND hwnd : all) {
    if (IsWindowVisible(hwnd) && keep(hwnd)) found.push_back(hwnd);
  }
  return found;
}

struct DcRelease {
  void operator()(HDC dc) const { ReleaseDC(nullptr, dc); }
};
struct DcDelete {
  void operator()(HDC dc) const { DeleteDC(dc); }
};
struct ObjectDelete {
  void operator()(HGDIOBJ object) const { DeleteObject(object); }
};

}  // namespace

std::vector<HWND> OtherTopLevelWindows(HWND except) {
  std::vector<HWND> windows;
  for (HWND w = GetTopWindow(nullptr); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
    if (w == except || !IsWindowVisible(w)) continue;
    if (GetWindowThreadProcessId(w, nullptr) != GetCurrentThreadId()) continue;
    windows.push_back(w);
  }
  return windows;
}

std::vector<HWND> EditFields(HWND root) {
  return Children(root, [](HWND hwnd) {
    return IsWindowEnabled(hwnd) && ClassOf(hwnd).find(L"edit") != std::wstring::npos;
  });
}

HWND FindButton(HWND root, std::wstring_view text) {
  auto buttons = Children(root, [text](HWND hwnd) {
    if (ClassOf(hwnd).find(L"button") == std::wstring::npos) return false;
    std::wstring caption = TextOf(hwnd);
    std::erase(caption, L'&');
    return caption == text;
  });
  return buttons.empty() ? nullptr : buttons.front();
}

void TypeInto(HostStandIn& host, HWND field, std::wstring_view text) {
  SetFocus(field);
  SendMessageW(field, EM_SETSEL, 0, -1);
  for (wchar_t c : text) PostMessageW(field, WM_CHAR, c, 1);
  host.Pump();
}

bool SaveScreenshot(const std::vector<HWND>& windows, const std::wstring& path,
                    std::wstring* error) {
  auto fail = [&](const wchar_t* why) {
    if (error != nullptr) *error = why;
    return false;
  };
  RECT area{};
  for (HWND w : windows) {
    RECT r{};
    if (!GetWindowRect(w, &r)) continue;
    UnionRect(&area, &area, &r);
  }
  RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  IntersectRect(&area, &area, &screen);
  const int32_t width = area.right - area.left;
  const int32_t height = area.bottom - area.top;
  if (width <= 0 || height <= 0) return fail(L"no visible window to capture");

  std::unique_ptr<std::remove_pointer_t<HDC>, DcRelease> screenDc(GetDC(nullptr));
  std::unique_ptr<std::remove_pointer_t<HDC>, DcDelete> memory(CreateCompatibleDC(screenDc.get()));
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as the file stores it
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  std::unique_ptr<std::remove_pointer_t<HGDIOBJ>, ObjectDelete> bitmap(
      CreateDIBSection(screenDc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap || bits == nullptr) return fail(L"cannot create the capture bitmap");
  HGDIOBJ old = SelectObject(memory.get(), bitmap.get());
  const BOOL copied = BitBlt(memory.get(), 0, 0, width, height, screenDc.get(), area.left,
                             area.top, SRCCOPY | CAPTUREBLT);
  SelectObject(memory.get(), old);
  GdiFlush();
  if (!copied) return fail(L"cannot copy the screen");

  const auto imageBytes = static_cast<DWORD>(width) * static_cast<DWORD>(height) * 4;
  BITMAPFILEHEADER file{};
  file.bfType = 'B' | ('M' << 8);
  file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  file.bfSize = file.bfOffBits + imageBytes;
  info.bmiHeader.biSizeImage = imageBytes;
  std::ofstream out(std::filesystem::path(path), std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof(file));
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof(BITMAPINFOHEADER));
  out.write(static_cast<const char*>(bits), static_cast<std::streamsize>(imageBytes));
  if (!out) return fail(L"cannot write the file");
  return true;
}

}  // namespace siftwell::host
