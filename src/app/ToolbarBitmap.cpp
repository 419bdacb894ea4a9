#include "app/ToolbarBitmap.h"

#include <windows.h>

#include <algorithm>
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

namespace {

// A new top-down 32-bit DIB section of `width` x `height`, its pixels in `bits`.
Bitmap NewBitmap(int32_t width, int32_t height, uint32_t*& bits) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* raw = nullptr;
  Bitmap bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &raw, nullptr, 0));
  bits = static_cast<uint32_t*>(raw);
  return bitmap;
}

// Draws `icon` over a background of one colour; false if GDI refused.
bool DrawOver(HDC dc, HBITMAP bitmap, HICON icon, int32_t width, int32_t height, COLORREF background) {
  HGDIOBJ old = SelectObject(dc, bitmap);
  const RECT all{0, 0, width, height};
  HBRUSH brush = CreateSolidBrush(background);
  const bool filled = brush != nullptr && FillRect(dc, &all, brush) != 0;
  if (brush != nullptr) DeleteObject(brush);
  const bool drawn = filled && DrawIconEx(dc, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL) != FALSE;
  SelectObject(dc, old);
  GdiFlush();
  return drawn;
}

}  // namespace

HBITMAP MakeToolbarBitmap(HINSTANCE module) {
  const int32_t width = GetSystemMetrics(SM_CXSMICON);
  const int32_t height = GetSystemMetrics(SM_CYSMICON);
  if (width <= 0 || height <= 0) return nullptr;
  Icon icon(static_cast<HICON>(LoadImageW(module, L"favicon", IMAGE_ICON, width, height, LR_DEFAULTCOLOR)));
  uint32_t* onBlack = nullptr;
  uint32_t* onWhite = nullptr;
  Bitmap black = NewBitmap(width, height, onBlack);
  Bitmap white = NewBitmap(width, height, onWhite);
  MemoryDc dc(CreateCompatibleDC(nullptr));
  if (!icon || !black || !white || !dc || onBlack == nullptr || onWhite == nullptr) return nullptr;
  if (!DrawOver(dc.get(), black.get(), icon.get(), width, height, RGB(0, 0, 0)) ||
      !DrawOver(dc.get(), white.get(), icon.get(), width, height, RGB(255, 255, 255))) {
    return nullptr;
  }
  // Over black a pixel shows alpha x colour, over white that plus (1 - alpha)
  // x 255: the difference gives the alpha, the first the premultiplied colour.
  // GDI's own alpha byte is left undefined and is not used.
  for (int64_t i = 0, n = int64_t{width} * height; i < n; ++i) {
    uint32_t alpha = 0;
    for (const int32_t shift : {0, 8, 16}) {
      const uint32_t b = (onBlack[i] >> shift) & 0xFFu;
      const uint32_t w = (onWhite[i] >> shift) & 0xFFu;
      alpha = std::max<uint32_t>(alpha, 255u - std::min<uint32_t>(255u, w >= b ? w - b : 0u));
    }
    uint32_t pixel = alpha << 24;
    for (const int32_t shift : {0, 8, 16}) {
      pixel |= std::min<uint32_t>((onBlack[i] >> shift) & 0xFFu, alpha) << shift;
    }
    onBlack[i] = pixel;
  }
  return black.release();
}

HICON MakeToolbarIcon(HINSTANCE module, ToolbarIcon kind) {
  const wchar_t* name = kind == ToolbarIcon::DarkMode ? L"favicon_dark" : L"favicon";
  return static_cast<HICON>(LoadImageW(module, name, IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                       GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
}
