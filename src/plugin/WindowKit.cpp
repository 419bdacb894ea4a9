#include "plugin/WindowKit.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "messages/Tables.h"
#include "messages/Win32.h"

namespace siftwell::ui {
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

void SendModeless(HWND host, HWND window, NppMsg action) {
  if (host == nullptr || window == nullptr) return;
  Win32::SendMessage(host, static_cast<uint32_t>(NppMsg::NPPM_MODELESSDIALOG),
                     static_cast<intptr_t>(action), reinterpret_cast<intptr_t>(window));
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

void RegisterModeless(HWND host, HWND window) { SendModeless(host, window, NppMsg::MODELESSDIALOGADD); }

void UnregisterModeless(HWND host, HWND window) { SendModeless(host, window, NppMsg::MODELESSDIALOGREMOVE); }

HWND CreateControl(HWND parent, HINSTANCE module, const wchar_t* className, std::wstring_view text,
                   DWORD style, DWORD exStyle, RECT bounds, int32_t id, const DialogFont& font) {
  const std::wstring caption(text);
  HWND control = CreateWindowExW(exStyle, className, caption.c_str(), WS_CHILD | WS_VISIBLE | style, bounds.left,
                                 bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), module, nullptr);
  if (control != nullptr) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.Handle()), FALSE);
  return control;
}

HostTheme HostTheme::Query(HWND host) {
  HostTheme theme;
  if (host == nullptr) return theme;
  theme.dark = Win32::SendMessage(host, static_cast<uint32_t>(NppMsgNewer::NPPM_ISDARKMODEENABLED), 0, 0) != 0;
  if (theme.dark) {
    DarkModeColors colors{};
    if (Win32::SendMessage(host, static_cast<uint32_t>(NppMsgNewer::NPPM_GETDARKMODECOLORS),
                           static_cast<intptr_t>(sizeof(colors)),
                           reinterpret_cast<intptr_t>(&colors)) != 0) {
      theme.colors = colors;
    }
  }
  return theme;
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

ToolWindow::ToolWindow(HINSTANCE module, HWND host)
    : module_(module), host_(host), font_(std::make_unique<DialogFont>()) {}

ToolWindow::~ToolWindow() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  if (ownBackground_ != nullptr) DeleteObject(ownBackground_);
}

bool ToolWindow::Open(const wchar_t* className, const wchar_t* title, SIZE designClient) {
  if (!EnsureWindowClass(module_, className, &ObjectWindowProc<ToolWindow>)) return false;
  design_ = designClient;
  outer_ = FixedToolWindowSize(ClientSize(*font_), font_->Dpi());
  hwnd_ = CreateWindowExW(kFixedToolExStyle, className, title, kFixedToolStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                          outer_.cx, outer_.cy, nullptr, nullptr, module_, this);
  if (hwnd_ == nullptr) return false;
  const uint32_t dpi = DpiOf(hwnd_);
  if (dpi != font_->Dpi()) font_ = std::make_unique<DialogFont>(dpi);
  Resize(nullptr);
  RegisterModeless(host_, hwnd_);
  return true;
}

SIZE ToolWindow::ClientSize(const DialogFont& font) const { return SIZE{font.X(design_.cx), font.Y(design_.cy)}; }

// Sizes the window for the current font, at the suggested place or where it is.
void ToolWindow::Resize(const RECT* suggested) {
  const SIZE client = ClientSize(*font_);
  outer_ = FixedToolWindowSize(client, font_->Dpi());
  RECT now{};
  GetWindowRect(hwnd_, &now);
  const POINT at = suggested != nullptr ? POINT{suggested->left, suggested->top} : POINT{now.left, now.top};
  SetWindowPos(hwnd_, nullptr, at.x, at.y, outer_.cx, outer_.cy, SWP_NOZORDER | SWP_NOACTIVATE);
  // Some window managers add to the frame; make the client area the one asked for.
  RECT actual{};
  GetClientRect(hwnd_, &actual);
  const LONG dx = client.cx - (actual.right - actual.left);
  const LONG dy = client.cy - (actual.bottom - actual.top);
  if (dx != 0 || dy != 0) {
    outer_.cx += dx;
    outer_.cy += dy;
    SetWindowPos(hwnd_, nullptr, 0, 0, outer_.cx, outer_.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  GetWindowRect(hwnd_, &lastRect_);
}

// A new font for the DPI, the window sized for it, the controls placed again.
// The old font lives until every control has the new one.
void ToolWindow::ApplyDpi(uint32_t dpi, const RECT* suggested) {
  std::unique_ptr<DialogFont> old = std::exchange(font_, std::make_unique<DialogFont>(dpi));
  Resize(suggested);
  LayoutControls();
  RedrawWindow(hwnd_, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void ToolWindow::Relayout() {
  if (hwnd_ == nullptr) return;
  Resize(nullptr);
  LayoutControls();
}

void ToolWindow::SetTitle(std::wstring_view title) {
  if (hwnd_ == nullptr) return;
  const std::wstring text(title);
  SetWindowTextW(hwnd_, text.c_str());
}

void ToolWindow::Show() {
  if (hwnd_ != nullptr && !IsWindowVisible(hwnd_)) ShowWindow(hwnd_, SW_SHOW);
}

bool ToolWindow::MoveTo(POINT topLeft) {
  if (hwnd_ == nullptr) return false;
  const auto kept = KeptOnScreen(RECT{topLeft.x, topLeft.y, topLeft.x + outer_.cx, topLeft.y + outer_.cy});
  if (!kept) return false;
  SetWindowPos(hwnd_, nullptr, kept->left, kept->top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  // A system that re-scales moved windows itself has sent WM_DPICHANGED by now.
  const uint32_t dpi = DpiOf(hwnd_);
  if (dpi != font_->Dpi()) ApplyDpi(dpi, nullptr);
  GetWindowRect(hwnd_, &lastRect_);
  return true;
}

void ToolWindow::ApplyHostTheme(bool change) {
  if (hwnd_ == nullptr) return;
  theme_ = HostTheme::Query(host_);
  if (host_ != nullptr && (!change || hostThemes_)) {
    const NppMsgNewer flags = change ? NppMsgNewer::dmfHandleChange : NppMsgNewer::dmfInit;
    hostThemes_ = Win32::SendMessage(host_, static_cast<uint32_t>(NppMsgNewer::NPPM_DARKMODESUBCLASSANDTHEME),
                                     static_cast<intptr_t>(flags), reinterpret_cast<intptr_t>(hwnd_)) != 0;
  }
  // A host with dark mode but without the theming message: paint the
  // background and texts ourselves in its colours.
  if (ownBackground_ != nullptr) DeleteObject(ownBackground_);
  ownBackground_ = nullptr;
  if (!hostThemes_ && theme_.dark && theme_.colors) ownBackground_ = CreateSolidBrush(theme_.colors->background);
  SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0,
               SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  RedrawWindow(hwnd_, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
}

RECT ToolWindow::Scaled(int32_t x, int32_t y, int32_t width, int32_t height) const noexcept {
  const LONG left = font_->X(x);
  const LONG top = font_->Y(y);
  return RECT{left, top, left + font_->X(width), top + font_->Y(height)};
}

LRESULT ToolWindow::HandleMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_GETMINMAXINFO: {
      // Fixed size, whatever the frame or the window manager would allow.
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      if (outer_.cx > 0 && outer_.cy > 0) {
        info->ptMinTrackSize = POINT{outer_.cx, outer_.cy};
        info->ptMaxTrackSize = POINT{outer_.cx, outer_.cy};
      }
      return 0;
    }
    case WM_DPICHANGED:
      if (hwnd_ != nullptr) ApplyDpi(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_MOVE:
      if (hwnd_ != nullptr) GetWindowRect(hwnd, &lastRect_);
      break;
    case WM_ERASEBKGND:
      if (ownBackground_ != nullptr) {
        RECT client{};
        GetClientRect(hwnd, &client);
        FillRect(reinterpret_cast<HDC>(wParam), &client, ownBackground_);
        return 1;
      }
      break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORBTN:
      if (ownBackground_ != nullptr) {
        const auto dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, theme_.colors->text);
        SetBkColor(dc, theme_.colors->background);
        return reinterpret_cast<LRESULT>(ownBackground_);
      }
      break;
    case WM_DESTROY:
      GetWindowRect(hwnd, &lastRect_);
      UnregisterModeless(host_, hwnd);
      break;
    case WM_NCDESTROY:
      hwnd_ = nullptr;
      closed_ = true;
      break;
    default:
      break;
  }
  return OnMessage(hwnd, msg, wParam, lParam);
}

LRESULT ToolWindow::OnMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(hwnd, msg, wParam, lParam);
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

}  // namespace siftwell::ui
