// The resource script as the platform sees it once linked into a module, and
// the toolbar image made from it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "WindowTestKit.h"
#include "app/ToolbarBitmap.h"

namespace {

using windowtests::Module;

struct Resource {
  const uint8_t* data = nullptr;
  DWORD size = 0;
};

Resource Find(const wchar_t* name, const wchar_t* type) {
  HRSRC info = FindResourceW(Module(), name, type);
  if (info == nullptr) return {};
  HGLOBAL loaded = LoadResource(Module(), info);
  return {static_cast<const uint8_t*>(LockResource(loaded)), SizeofResource(Module(), info)};
}

uint32_t BigEndian32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

TEST(Resources, FaviconLoadsAtEverySizeItHolds) {
  for (int32_t side : {16, 24, 32, 48, 256}) {
    SCOPED_TRACE(side);
    HICON icon = static_cast<HICON>(LoadImageW(Module(), L"favicon", IMAGE_ICON, side, side, LR_DEFAULTCOLOR));
    ASSERT_NE(icon, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP colour{};
    ASSERT_NE(info.hbmColor, nullptr);
    GetObjectW(info.hbmColor, sizeof(colour), &colour);
    EXPECT_EQ(colour.bmWidth, side);
    EXPECT_EQ(colour.bmHeight, side);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
  }
  // The icon group lists the five images, all 32 bits per pixel.
  const Resource group = Find(L"favicon", RT_GROUP_ICON);
  ASSERT_NE(group.data, nullptr);
  ASSERT_GE(group.size, 6u);
  uint16_t count = 0;
  std::memcpy(&count, group.data + 4, 2);
  ASSERT_EQ(count, 5);
  ASSERT_GE(group.size, 6u + 14u * count);
  for (uint16_t i = 0; i < count; ++i) {
    uint16_t bits = 0;
    std::memcpy(&bits, group.data + 6 + 14 * i + 6, 2);
    EXPECT_EQ(bits, 32);
  }
}

TEST(Resources, StarIsA16PixelPngWithAlpha) {
  const Resource star = Find(L"star", L"PNG");
  ASSERT_NE(star.data, nullptr);
  ASSERT_GT(star.size, 33u);
  EXPECT_EQ(std::memcmp(star.data, "\x89PNG\r\n\x1a\n", 8), 0);
  EXPECT_EQ(std::memcmp(star.data + 12, "IHDR", 4), 0);
  EXPECT_EQ(BigEndian32(star.data + 16), 16u);
  EXPECT_EQ(BigEndian32(star.data + 20), 16u);
  EXPECT_EQ(star.data[24], 8);  // bits per channel
  EXPECT_EQ(star.data[25], 6);  // RGBA
}

TEST(Resources, StarBmpIsAn8BitBitmapOnMagenta) {
  HBITMAP bitmap = static_cast<HBITMAP>(
      LoadImageW(Module(), L"star_bmp", IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION | LR_DEFAULTSIZE));
  ASSERT_NE(bitmap, nullptr);
  DIBSECTION dib{};
  ASSERT_EQ(GetObjectW(bitmap, sizeof(dib), &dib), static_cast<int>(sizeof(dib)));
  EXPECT_EQ(dib.dsBmih.biWidth, 16);
  EXPECT_EQ(std::abs(dib.dsBmih.biHeight), 16);
  EXPECT_EQ(dib.dsBmih.biBitCount, 8);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bitmap);
  EXPECT_EQ(GetPixel(dc, 0, 0), RGB(255, 0, 255));
  EXPECT_NE(GetPixel(dc, 8, 8), RGB(255, 0, 255)) << "the star itself";
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(bitmap);
}

TEST(Resources, VersionRecordNamesSiftwellAndTheBuildVersion) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(Module(), path, MAX_PATH);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  ASSERT_GT(size, 0u);
  std::vector<uint8_t> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, block.data()));
  auto value = [&block](const wchar_t* key) {
    void* text = nullptr;
    UINT length = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + key;
    if (!VerQueryValueW(block.data(), query.c_str(), &text, &length) || length == 0) return std::wstring();
    return std::wstring(static_cast<const wchar_t*>(text));
  };
  EXPECT_EQ(value(L"ProductName"), L"Siftwell");
  EXPECT_EQ(value(L"FileVersion"), L"" SIFTWELL_TEST_VERSION);
  void* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", &fixed, &length));
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
  const std::string version = std::to_string(HIWORD(info->dwFileVersionMS)) + "." +
                              std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
                              std::to_string(HIWORD(info->dwFileVersionLS)) + "." +
                              std::to_string(LOWORD(info->dwFileVersionLS));
  EXPECT_EQ(version, SIFTWELL_TEST_VERSION);
}

TEST(Resources, CommonControlsManifestIsTheIsolationAwareOne) {
  const Resource manifest = Find(ISOLATIONAWARE_MANIFEST_RESOURCE_ID, RT_MANIFEST);
  ASSERT_NE(manifest.data, nullptr);
  const std::string text(reinterpret_cast<const char*>(manifest.data), manifest.size);
  EXPECT_NE(text.find("Microsoft.Windows.Common-Controls"), std::string::npos);
  EXPECT_NE(text.find("version=\"6.0.0.0\""), std::string::npos);
}

// The host's standard icon set shows the bitmap on its toolbar, light or dark:
// the small icon size, transparent outside the disc.
TEST(ToolbarBitmap, FaviconAtTheSmallIconSizeTransparentOutsideTheDisc) {
  HBITMAP bitmap = MakeToolbarBitmap(Module());
  ASSERT_NE(bitmap, nullptr);
  DIBSECTION dib{};
  ASSERT_EQ(GetObjectW(bitmap, sizeof(dib), &dib), static_cast<int>(sizeof(dib)));
  const int32_t width = GetSystemMetrics(SM_CXSMICON);
  const int32_t height = GetSystemMetrics(SM_CYSMICON);
  EXPECT_EQ(dib.dsBm.bmWidth, width);
  EXPECT_EQ(dib.dsBm.bmHeight, height);
  EXPECT_EQ(dib.dsBm.bmBitsPixel, 32);
  ASSERT_NE(dib.dsBm.bmBits, nullptr);
  // Top-down BGRA rows, alpha premultiplied: no colour exceeds its alpha.
  const auto* pixels = static_cast<const uint32_t*>(dib.dsBm.bmBits);
  auto at = [&](int32_t x, int32_t y) { return pixels[y * width + x]; };
  for (int32_t i = 0; i < width * height; ++i) {
    const uint32_t alpha = pixels[i] >> 24;
    for (const int32_t shift : {0, 8, 16}) ASSERT_LE((pixels[i] >> shift) & 0xFFu, alpha) << i;
  }
  EXPECT_EQ(at(0, 0), 0u) << "outside the disc: transparent";
  EXPECT_EQ(at(width - 1, height - 1), 0u);
  const uint32_t centre = at(width / 2, height / 2);
  const uint32_t b = centre & 0xFF, g = (centre >> 8) & 0xFF, r = (centre >> 16) & 0xFF;
  EXPECT_GT(b, r);
  EXPECT_GT(b, g);
  EXPECT_EQ(centre >> 24, 0xFFu) << "opaque";
  // Each call makes a bitmap of its own.
  HBITMAP other = MakeToolbarBitmap(Module());
  EXPECT_NE(other, bitmap);
  DeleteObject(other);
  DeleteObject(bitmap);
}

TEST(ToolbarBitmap, ModuleWithoutTheIconGivesNull) {
  EXPECT_EQ(MakeToolbarBitmap(GetModuleHandleW(L"kernel32.dll")), nullptr);
}

}  // namespace
