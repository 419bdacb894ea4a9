// A tool window that the host knows about: registered with the host's message
// loop while it lives (so Tab and Shift+Tab work) and themed like the host
// (dark mode), on top of the platform pieces of WindowKit.
#pragma once

#include "win/WindowKit.h"

namespace siftwell::npp {

using namespace siftwell::win;  // the toolkit this builds on

// The host's message loop gives dialog keys (Tab, Shift+Tab) only to windows it
// knows; both calls do nothing for a null host.
void RegisterModeless(HWND host, HWND window);
void UnregisterModeless(HWND host, HWND window);

// The host's dark-mode colours record (NPPM_GETDARKMODECOLORS), in its order.
struct DarkModeColors {
  COLORREF background, softerBackground, hotBackground, pureBackground, errorBackground;
  COLORREF text, darkerText, disabledText, linkText, edge, hotEdge, disabledEdge;
};
static_assert(sizeof(DarkModeColors) == 12 * sizeof(COLORREF));

// What the host says about its mode. A host that predates dark mode (before
// 8.0) is light; one that has it but cannot be asked (8.0 to 8.4.0) is as its
// settings file says, in its default dark colours.
struct HostTheme {
  bool dark = false;
  std::optional<DarkModeColors> colors;  // only when dark and known
  static HostTheme Query(HWND host);
};

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

}  // namespace siftwell::npp
