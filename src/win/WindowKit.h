// Platform pieces for the plugin's windows and threads: the dialog font at a
// monitor's DPI and its scale, the themed common-controls context, fixed-size
// tool-window geometry, colour contrast, placement on a visible monitor, window
// procedures for C++ objects, and threads that pin the module.
// Platform layer: includes windows.h; only the windows' .cpp files include it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace siftwell::win {

// Layouts are drawn for a dialog font of 6 x 13 pixels per average character.
constexpr int32_t kDesignCharWidth = 6;
constexpr int32_t kDesignCharHeight = 13;
constexpr uint32_t kDefaultDpi = 96;

// Border of a fixed-size tool window: thin caption with a close box, no sizing
// frame, no minimise or maximise box, kept out of the taskbar.
constexpr DWORD kFixedToolStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kFixedToolExStyle = WS_EX_TOOLWINDOW | WS_EX_CONTROLPARENT;

// The DPI of the monitor a window is on (GetDpiForWindow where the system has
// it), else the system's DPI. Loaded at run time: older Windows lacks it.
uint32_t DpiOf(HWND hwnd);
uint32_t SystemDpi();

// The system's message font ("MS Shell Dlg" equivalent) at a DPI, and the
// scale from the design grid to it. Owns the font.
class DialogFont {
 public:
  DialogFont();  // at the system's DPI
  explicit DialogFont(uint32_t dpi);
  ~DialogFont();
  DialogFont(const DialogFont&) = delete;
  DialogFont& operator=(const DialogFont&) = delete;

  HFONT Handle() const noexcept { return font_; }
  uint32_t Dpi() const noexcept { return dpi_; }
  // Average character width (mean over the Latin alphabet) and line height, pixels.
  double AverageCharWidth() const noexcept { return averageWidth_; }
  int32_t CharHeight() const noexcept { return height_; }
  // Design pixels -> pixels for this font.
  int32_t X(int32_t design) const noexcept;
  int32_t Y(int32_t design) const noexcept;
  // One line of text in this font, in pixels.
  SIZE TextExtent(std::wstring_view text) const;

 private:
  HFONT font_ = nullptr;
  uint32_t dpi_ = kDefaultDpi;
  double averageWidth_ = kDesignCharWidth;
  int32_t height_ = kDesignCharHeight;
};

// While alive, controls created on this thread come from the version-6 common
// controls (themed), using the manifest resource ISOLATIONAWARE_MANIFEST_RESOURCE_ID
// of `module`. Without that resource nothing is activated and controls stay classic.
class ThemeScope {
 public:
  explicit ThemeScope(HINSTANCE module);
  ~ThemeScope();
  ThemeScope(const ThemeScope&) = delete;
  ThemeScope& operator=(const ThemeScope&) = delete;
  bool Active() const noexcept { return active_; }

 private:
  ULONG_PTR cookie_ = 0;
  bool active_ = false;
};

// Outer window size of a fixed-size tool window with the given client size, at a DPI.
SIZE FixedToolWindowSize(SIZE client, uint32_t dpi = kDefaultDpi);

// Registers a window class once per module (later calls are no-ops).
bool EnsureWindowClass(HINSTANCE module, const wchar_t* name, WNDPROC proc);
// Removes the plugin's window classes; for plugin shutdown, after its windows are gone.
void UnregisterWindowClasses(HINSTANCE module);

// Creates a child control with the dialog font; `id` is its control identifier.
HWND CreateControl(HWND parent, HINSTANCE module, const wchar_t* className, std::wstring_view text,
                   DWORD style, DWORD exStyle, RECT bounds, int32_t id, const DialogFont& font);

// ---- colours ----------------------------------------------------------------

// Relative luminance and contrast ratio (WCAG 2) of colours.
double Luminance(COLORREF colour) noexcept;
double Contrast(COLORREF a, COLORREF b) noexcept;
// The colour for error text on `background`: dark red on light backgrounds,
// light red on dark ones; at least 4.5:1 against it.
COLORREF ErrorTextColour(COLORREF background) noexcept;

// ---- placement ------------------------------------------------------------

// `outer` moved so that it lies on a visible monitor: unchanged when wholly in
// a monitor's work area; pushed inside the nearest one when partly off it;
// nullopt when it touches no monitor at all.
std::optional<RECT> KeptOnScreen(RECT outer);

// A window procedure for a C++ object: the object pointer travels as the
// lpCreateParams of CreateWindowEx and is kept in GWLP_USERDATA.
template <class T>
LRESULT CALLBACK ObjectWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<T*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(hwnd, msg, wParam, lParam);
  if (msg == WM_NCDESTROY) SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
  try {
    return self->HandleMessage(hwnd, msg, wParam, lParam);
  } catch (...) {
    // Nothing may unwind through the platform's dispatcher.
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

// Starts a thread running `body` that holds a reference on this module until
// its very last instruction (it leaves through FreeLibraryAndExitThread), so
// the DLL cannot unload under it. `body` and what it holds are destroyed on the
// thread, before the reference goes. Null when no thread could be started
// (`body` never runs then); the caller owns the handle.
HANDLE StartModuleThread(std::function<void()> body, std::size_t stackReserve);

}  // namespace siftwell::win
