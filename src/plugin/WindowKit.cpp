#include "plugin/WindowKit.h"

#include <cmath>
#include <memory>
#include <vector>

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

void SendModeless(HWND host, HWND window, NppMsg action) {
  if (host == nullptr || window == nullptr) return;
  Win32::SendMessage(host, static_cast<uint32_t>(NppMsg::NPPM_MODELESSDIALOG),
                     static_cast<intptr_t>(action), reinterpret_cast<intptr_t>(window));
}

}  // namespace

DialogFont::DialogFont() {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
    font_ = CreateFontIndirectW(&metrics.lfMessageFont);
  }
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

SIZE FixedToolWindowSize(SIZE client) {
  RECT bounds{0, 0, client.cx, client.cy};
  AdjustWindowRectEx(&bounds, kFixedToolStyle, FALSE, kFixedToolExStyle);
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

ToolWindow::ToolWindow(HINSTANCE module, HWND host) : module_(module), host_(host) {}

ToolWindow::~ToolWindow() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

bool ToolWindow::Open(const wchar_t* className, const wchar_t* title, SIZE designClient) {
  if (!EnsureWindowClass(module_, className, &ObjectWindowProc<ToolWindow>)) return false;
  const SIZE client{font_.X(designClient.cx), font_.Y(designClient.cy)};
  outer_ = FixedToolWindowSize(client);
  hwnd_ = CreateWindowExW(kFixedToolExStyle, className, title, kFixedToolStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                          outer_.cx, outer_.cy, nullptr, nullptr, module_, this);
  if (hwnd_ == nullptr) return false;
  FitClient(client);
  RegisterModeless(host_, hwnd_);
  return true;
}

// Some window managers add to the frame; make the client area the one asked for.
void ToolWindow::FitClient(SIZE client) {
  RECT actual{};
  GetClientRect(hwnd_, &actual);
  const LONG dx = client.cx - (actual.right - actual.left);
  const LONG dy = client.cy - (actual.bottom - actual.top);
  if (dx != 0 || dy != 0) {
    outer_.cx += dx;
    outer_.cy += dy;
    SetWindowPos(hwnd_, nullptr, 0, 0, outer_.cx, outer_.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void ToolWindow::SetDesignClient(SIZE designClient) {
  if (hwnd_ == nullptr) return;
  const SIZE client{font_.X(designClient.cx), font_.Y(designClient.cy)};
  RECT actual{};
  GetClientRect(hwnd_, &actual);
  outer_.cx += client.cx - (actual.right - actual.left);
  outer_.cy += client.cy - (actual.bottom - actual.top);
  SetWindowPos(hwnd_, nullptr, 0, 0, outer_.cx, outer_.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  FitClient(client);
}

void ToolWindow::SetTitle(std::wstring_view title) {
  if (hwnd_ == nullptr) return;
  const std::wstring text(title);
  SetWindowTextW(hwnd_, text.c_str());
}

void ToolWindow::Show() {
  if (hwnd_ != nullptr && !IsWindowVisible(hwnd_)) ShowWindow(hwnd_, SW_SHOW);
}

RECT ToolWindow::Scaled(int32_t x, int32_t y, int32_t width, int32_t height) const noexcept {
  const LONG left = font_.X(x);
  const LONG top = font_.Y(y);
  return RECT{left, top, left + font_.X(width), top + font_.Y(height)};
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
    case WM_DESTROY:
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

}  // namespace siftwell::ui
