#include "win/WindowKit.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>
#include <vector>


namespace siftwell::win {
namespace {

constexpr wchar_t kAlphabet[] = L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";

struct DcDeleter {
  void operator()(HDC dc) const noexcept { ReleaseDC(nullptr, dc); }
};
using ScreenDc = std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter>;

// Selects a font into a DC for one scope.
class FontSelection {
 public:
  FontSelection(HDC dc, HFONT font) : dc_(dc), old_(SelectObject(dc, font)) {}
  ~FontSelection() { SelectObject(dc_, old_); }
  FontSelection(const FontSelection&) = delete;
  FontSelection& operator=(const FontSelection&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// The activation context built from a module's manifest resource, made once.
class ThemeContext {
 public:
  static HANDLE For(HINSTANCE module) {
    static ThemeContext context;
    if (context.module_ != module) context.Reset(module);
    return context.handle_;
  }
  ~ThemeContext() { Release(); }

 private:
  void Reset(HINSTANCE module) {
    Release();
    module_ = module;
    ACTCTXW request{};
    request.cbSize = sizeof(request);
    request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.hModule = module;
    request.lpResourceName = ISOLATIONAWARE_MANIFEST_RESOURCE_ID;  // resource id 2
    handle_ = CreateActCtxW(&request);
  }
  void Release() {
    if (handle_ != INVALID_HANDLE_VALUE) ReleaseActCtx(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }
  HINSTANCE module_ = nullptr;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

struct RegisteredClass {
  HINSTANCE module;
  std::wstring name;
};
std::vector<RegisteredClass>& RegisteredClasses() {
  static std::vector<RegisteredClass> classes;
  return classes;
}

// Functions of newer Windows (10, version 1607), looked up at run time so that
// the plugin still loads where they are missing.
template <typename Fn>
Fn User32(const char* name) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  if (user32 == nullptr) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(user32, name)));
}
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using GetDpiForSystemFn = UINT(WINAPI*)();
using SystemParametersInfoForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

// The message font at `dpi`: asked for that DPI where the system can, else the
// system's font scaled from the system's DPI.
LOGFONTW MessageFontAt(uint32_t dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  static const auto forDpi = User32<SystemParametersInfoForDpiFn>("SystemParametersInfoForDpi");
  if (forDpi != nullptr && forDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi)) {
    return metrics.lfMessageFont;
  }
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(metrics.lfMessageFont), &metrics.lfMessageFont);
  }
  const uint32_t system = SystemDpi();
  if (dpi != system) {
    metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi),
                                            static_cast<int>(system));
  }
  return metrics.lfMessageFont;
}

double Linear(uint32_t channel) {
  const double c = channel / 255.0;
  return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

}  // namespace

uint32_t SystemDpi() {
  static const auto forSystem = User32<GetDpiForSystemFn>("GetDpiForSystem");
  if (forSystem != nullptr) {
    const UINT dpi = forSystem();
    if (dpi > 0) return dpi;
  }
  ScreenDc dc(GetDC(nullptr));
  const int dpi = dc ? GetDeviceCaps(dc.get(), LOGPIXELSY) : 0;
  return dpi > 0 ? static_cast<uint32_t>(dpi) : kDefaultDpi;
}

uint32_t DpiOf(HWND hwnd) {
  static const auto forWindow = User32<GetDpiForWindowFn>("GetDpiForWindow");
  if (forWindow != nullptr && hwnd != nullptr) {
    const UINT dpi = forWindow(hwnd);
    if (dpi > 0) return dpi;
  }
  return SystemDpi();
}

DialogFont::DialogFont() : DialogFont(SystemDpi()) {}

DialogFont::DialogFont(uint32_t dpi) : dpi_(dpi == 0 ? kDefaultDpi : dpi) {
  const LOGFONTW message = MessageFontAt(dpi_);
  font_ = CreateFontIndirectW(&message);
  if (font_ == nullptr) font_ = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  ScreenDc dc(GetDC(nullptr));
  if (!dc) return;
  FontSelection selected(dc.get(), font_);
  TEXTMETRICW text{};
  SIZE alphabet{};
  if (GetTextMetricsW(dc.get(), &text) && text.tmHeight > 0) height_ = text.tmHeight;
  if (GetTextExtentPoint32W(dc.get(), kAlphabet, 52, &alphabet) && alphabet.cx > 0) {
    averageWidth_ = alphabet.cx / 52.0;
  }
}

DialogFont::~DialogFont() {
  // Stock objects ignore DeleteObject, so the fallback needs no special case.
  if (font_ != nullptr) DeleteObject(font_);
}

int32_t DialogFont::X(int32_t design) const noexcept {
  return static_cast<int32_t>(std::lround(design * averageWidth_ / kDesignCharWidth));
}

int32_t DialogFont::Y(int32_t design) const noexcept {
  return static_cast<int32_t>(std::lround(design * static_cast<double>(height_) / kDesignCharHeight));
}

SIZE DialogFont::TextExtent(std::wstring_view text) const {
  SIZE size{0, height_};
  ScreenDc dc(GetDC(nullptr));
  if (!dc) return size;
  FontSelection selected(dc.get(), font_);
  GetTextExtentPoint32W(dc.get(), text.data(), static_cast<int>(text.size()), &size);
  return size;
}

ThemeScope::ThemeScope(HINSTANCE module) {
  HANDLE context = ThemeContext::For(module);
  if (context != INVALID_HANDLE_VALUE) active_ = ActivateActCtx(context, &cookie_) != FALSE;
}

ThemeScope::~ThemeScope() {
  if (active_) DeactivateActCtx(0, cookie_);
}

SIZE FixedToolWindowSize(SIZE client, uint32_t dpi) {
  RECT bounds{0, 0, client.cx, client.cy};
  static const auto forDpi = User32<AdjustWindowRectExForDpiFn>("AdjustWindowRectExForDpi");
  if (forDpi == nullptr || !forDpi(&bounds, kFixedToolStyle, FALSE, kFixedToolExStyle, dpi)) {
    bounds = RECT{0, 0, client.cx, client.cy};
    AdjustWindowRectEx(&bounds, kFixedToolStyle, FALSE, kFixedToolExStyle);
  }
  return SIZE{bounds.right - bounds.left, bounds.bottom - bounds.top};
}

bool EnsureWindowClass(HINSTANCE module, const wchar_t* name, WNDPROC proc) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof(existing);
  if (GetClassInfoExW(module, name, &existing)) return true;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = proc;
  wc.hInstance = module;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszClassName = name;
  if (RegisterClassExW(&wc) == 0) return false;
  RegisteredClasses().push_back({module, name});
  return true;
}

void UnregisterWindowClasses(HINSTANCE module) {
  auto& classes = RegisteredClasses();
  std::erase_if(classes, [module](const RegisteredClass& c) {
    if (c.module != module) return false;
    UnregisterClassW(c.name.c_str(), module);
    return true;
  });
}

HWND CreateControl(HWND parent, HINSTANCE module, const wchar_t* className, std::wstring_view text,
                   DWORD style, DWORD exStyle, RECT bounds, int32_t id, const DialogFont& font) {
  const std::wstring caption(text);
  HWND control = CreateWindowExW(exStyle, className, caption.c_str(), WS_CHILD | WS_VISIBLE | style, bounds.left,
                                 bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), module, nullptr);
  if (control != nullptr) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.Handle()), FALSE);
  return control;
}

double Luminance(COLORREF colour) noexcept {
  return 0.2126 * Linear(GetRValue(colour)) + 0.7152 * Linear(GetGValue(colour)) +
         0.0722 * Linear(GetBValue(colour));
}

double Contrast(COLORREF a, COLORREF b) noexcept {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

COLORREF ErrorTextColour(COLORREF background) noexcept {
  constexpr COLORREF kOnLight = RGB(176, 0, 0);
  constexpr COLORREF kOnDark = RGB(255, 150, 150);
  return Contrast(kOnLight, background) >= Contrast(kOnDark, background) ? kOnLight : kOnDark;
}

std::optional<RECT> KeptOnScreen(RECT outer) {
  HMONITOR monitor = MonitorFromRect(&outer, MONITOR_DEFAULTTONULL);
  if (monitor == nullptr) return std::nullopt;
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  if (!GetMonitorInfoW(monitor, &info)) return outer;
  const RECT& work = info.rcWork;
  const LONG width = outer.right - outer.left, height = outer.bottom - outer.top;
  const LONG x = std::clamp(outer.left, work.left, std::max(work.left, work.right - width));
  const LONG y = std::clamp(outer.top, work.top, std::max(work.top, work.bottom - height));
  return RECT{x, y, x + width, y + height};
}

namespace {

struct ModuleThreadStart {
  std::function<void()> body;
  HMODULE module = nullptr;
};

DWORD WINAPI ModuleThread(void* parameter) {
  HMODULE module = nullptr;
  {
    std::unique_ptr<ModuleThreadStart> start(static_cast<ModuleThreadStart*>(parameter));
    module = start->module;
    start->body();
  }
  // The reference taken for this thread goes last, from code outside this module.
  FreeLibraryAndExitThread(module, 0);
}

}  // namespace

HANDLE StartModuleThread(std::function<void()> body, std::size_t stackReserve) {
  auto start = std::make_unique<ModuleThreadStart>();
  start->body = std::move(body);
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(reinterpret_cast<const void*>(&ModuleThread)), &start->module))
    return nullptr;
  HMODULE module = start->module;
  HANDLE thread = CreateThread(nullptr, stackReserve, &ModuleThread, start.get(), STACK_SIZE_PARAM_IS_A_RESERVATION,
                               nullptr);
  if (thread == nullptr) {
    FreeLibrary(module);
    return nullptr;
  }
  start.release();  // the thread owns it now
  return thread;
}

}  // namespace siftwell::win
