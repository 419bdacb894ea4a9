#include "app/ToolbarBitmap.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <type_traits>

namespace {

struct IconDeleter {
  void operator()(HICON icon) const noexcept { DestroyIcon(icon); }
};
struct DcDeleter {
  void operator()(HDC dc) const noexcept { DeleteDC(dc); }
};
struct BitmapDeleter {
  void operator()(HBITMAP bitmap) const noexcept { DeleteObject(bitmap); }
};
using Icon = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;
using MemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter>;
using Bitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, BitmapDeleter>;

}  // namespace

HBITMAP MakeToolbarBitmap(HINSTANCE module) {
  const int32_t width = GetSystemMetrics(SM_CXICON);
  const int32_t height = GetSystemMetrics(SM_CYICON);
  Icon icon(static_cast<HICON>(LoadImageW(module, L"favicon", IMAGE_ICON, width, height, LR_DEFAULTCOLOR)));
  if (!icon || width <= 0 || height <= 0) return nullptr;

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  Bitmap bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  MemoryDc dc(CreateCompatibleDC(nullptr));
  if (!bitmap || !dc || bits == nullptr) return nullptr;

  HGDIOBJ old = SelectObject(dc.get(), bitmap.get());
  const RECT all{0, 0, width, height};
  FillRect(dc.get(), &all, GetSysColorBrush(COLOR_BTNFACE));
  const bool drawn = DrawIconEx(dc.get(), 0, 0, icon.get(), width, height, 0, nullptr, DI_NORMAL) != FALSE;
  SelectObject(dc.get(), old);
  GdiFlush();
  if (!drawn) return nullptr;

  // GDI leaves the alpha byte undefined; the image is opaque.
  auto* pixel = static_cast<uint32_t*>(bits);
  for (int64_t i = 0, n = int64_t{width} * height; i < n; ++i) pixel[i] |= 0xFF000000u;
  return bitmap.release();
}

HICON MakeToolbarIcon(HINSTANCE module, ToolbarIcon kind) {
  const wchar_t* name = kind == ToolbarIcon::DarkMode ? L"favicon_dark" : L"favicon";
  return static_cast<HICON>(LoadImageW(module, name, IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                       GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
}
