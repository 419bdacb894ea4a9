// Pieces shared by the plugin's two windows: the dialog font at a monitor's DPI
// and its scale, the themed common-controls context, fixed-size tool-window
// geometry, the host's theme (dark mode), placement on a visible monitor, and
// the registration of modeless windows with the host's message loop.
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

namespace siftwell::ui {

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

// The host's message loop gives dialog keys (Tab, Shift+Tab) only to windows it
// knows; both calls do nothing for a null host.
void RegisterModeless(HWND host, HWND window);
void UnregisterModeless(HWND host, HWND window);

// Creates a child control with the dialog font; `id` is its control identifier.
HWND CreateControl(HWND parent, HINSTANCE module, const wchar_t* className, std::wstring_view text,
                   DWORD style, DWORD exStyle, RECT bounds, int32_t id, const DialogFont& font);

// ---- the host's theme ----------------------------------------------------

// The host's dark-mode colours record (NPPM_GETDARKMODECOLORS), in its order.
struct DarkModeColors {
  COLORREF background, softerBackground, hotBackground, pureBackground, errorBackground;
  COLORREF text, darkerText, disabledText, linkText, edge, hotEdge, disabledEdge;
};
static_assert(sizeof(DarkModeColors) == 12 * sizeof(COLORREF));

// What the host says about its mode. A host that predates dark mode answers 0
// to the questions, which reads as light.
struct HostTheme {
  bool dark = false;
  std::optional<DarkModeColors> colors;  // only when dark and the host gave them
  static HostTheme Query(HWND host);
};

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

// A fixed-size, top-level tool window without owner, known to the host while it
// lives, laid out for the DPI of its monitor and themed like the host. Closing
// destroys it; the object stays and reports IsClosed() and where it last was.
class ToolWindow {
 public:
  ToolWindow(HINSTANCE module, HWND host);
  virtual ~ToolWindow();  // destroys the window if it is still open
  ToolWindow(const ToolWindow&) = delete;
  ToolWindow& operator=(const ToolWindow&) = delete;

  // Creates the (hidden) window with a client area of `designClient` at the
  // design scale (the derived class may widen it, see ClientSize). False if
  // the platform refused.
  bool Open(const wchar_t* className, const wchar_t* title, SIZE designClient);

  HWND Handle() const noexcept { return hwnd_; }
  HWND Host() const noexcept { return host_; }
  bool IsClosed() const noexcept { return closed_; }
  // Sizes the open window again for ClientSize (which may have changed) and
  // places the controls again; its top-left corner stays in place.
  void Relayout();
  void SetTitle(std::wstring_view title);
  // Shows the window modeless; a visible window stays as it is.
  void Show();
  // Moves the window's top-left corner to `topLeft` (screen), kept on a visible
  // monitor, and lays it out again if that monitor has another DPI. False (and
  // not moved) when that place is on no monitor.
  bool MoveTo(POINT topLeft);
  // The outer rectangle now, or where it was when it closed.
  RECT LastRect() const noexcept { return lastRect_; }

  // Themes the window like the host: at open (after the controls exist) and
  // when the host reports a change of mode.
  void ApplyHostTheme(bool change);
  const HostTheme& Theme() const noexcept { return theme_; }

  HINSTANCE Module() const noexcept { return module_; }
  const DialogFont& Font() const noexcept { return *font_; }
  RECT Scaled(int32_t x, int32_t y, int32_t width, int32_t height) const noexcept;

  LRESULT HandleMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

 protected:
  // The window's own messages; the default hands them to DefWindowProc.
  virtual LRESULT OnMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  // Client size for the current font; the default scales the design size.
  virtual SIZE ClientSize(const DialogFont& font) const;
  // Places the controls for the current font (and gives them that font).
  virtual void LayoutControls() {}

 private:
  void Resize(const RECT* suggested);
  void ApplyDpi(uint32_t dpi, const RECT* suggested);

  HINSTANCE module_;
  HWND host_;
  HWND hwnd_ = nullptr;
  bool closed_ = false;
  SIZE design_{};
  SIZE outer_{};
  RECT lastRect_{};
  std::unique_ptr<DialogFont> font_;
  HostTheme theme_;
  bool hostThemes_ = false;  // the host answered its theming message
  HBRUSH ownBackground_ = nullptr;  // dark background when we theme ourselves
};

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

}  // namespace siftwell::ui
