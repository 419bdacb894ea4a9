#include "npp/HostWindow.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <utility>

#include "npp/HostVersion.h"
#include "npp/Tables.h"
#include "npp/Win32.h"

namespace siftwell::npp {
namespace {

void SendModeless(HWND host, HWND window, NppMsg action) {
  if (host == nullptr || window == nullptr) return;
  Win32::SendMessage(host, static_cast<uint32_t>(NppMsg::NPPM_MODELESSDIALOG),
                     static_cast<intptr_t>(action), reinterpret_cast<intptr_t>(window));
}

}  // namespace

void RegisterModeless(HWND host, HWND window) { SendModeless(host, window, NppMsg::MODELESSDIALOGADD); }

void UnregisterModeless(HWND host, HWND window) { SendModeless(host, window, NppMsg::MODELESSDIALOGREMOVE); }

namespace {

// The host's dark colours (its default, black tone) for hosts that have dark
// mode but do not give its colours.
constexpr DarkModeColors kHostDarkColors{
    RGB(0x20, 0x20, 0x20), RGB(0x40, 0x40, 0x40), RGB(0x40, 0x40, 0x40), RGB(0x20, 0x20, 0x20),
    RGB(0xB0, 0x00, 0x00), RGB(0xE0, 0xE0, 0xE0), RGB(0xC0, 0xC0, 0xC0), RGB(0x80, 0x80, 0x80),
    RGB(0xFF, 0xFF, 0x00), RGB(0x64, 0x64, 0x64), RGB(0x9B, 0x9B, 0x9B), RGB(0x48, 0x48, 0x48)};

// Dark mode as the host's settings file has it; light when the file cannot be read.
bool DarkInHostSettingsFile(HWND host) {
  Win32::TextBuffer buffer(Win32::MAX_PATH);
  Win32::SendMessage(host, static_cast<uint32_t>(NppMsg::NPPM_GETPLUGINSCONFIGDIR), Win32::MAX_PATH, buffer);
  const std::wstring file = HostConfigFile(buffer.Text());
  if (file.empty()) return false;
  const std::filesystem::path path(file);
  std::error_code error;
  const uintmax_t size = std::filesystem::file_size(path, error);
  constexpr uintmax_t kMost = 16u << 20;  // a few kilobytes as the host writes it
  if (error || size > kMost) return false;
  std::ifstream in(path, std::ios::binary);
  std::string xml(static_cast<size_t>(size), '\0');
  in.read(xml.data(), static_cast<std::streamsize>(size));
  xml.resize(static_cast<size_t>(in.gcount()));
  return DarkModeInHostConfig(xml).value_or(false);
}

}  // namespace

HostTheme HostTheme::Query(HWND host) {
  HostTheme theme;
  if (host == nullptr) return theme;
  const HostVersion version = HostVersion::Query(host);
  if (version.HasDarkModeQueries()) {
    theme.dark = Win32::SendMessage(host, static_cast<uint32_t>(NppMsgNewer::NPPM_ISDARKMODEENABLED), 0, 0) != 0;
    if (theme.dark) {
      DarkModeColors colors{};
      if (Win32::SendMessage(host, static_cast<uint32_t>(NppMsgNewer::NPPM_GETDARKMODECOLORS),
                             static_cast<intptr_t>(sizeof(colors)),
                             reinterpret_cast<intptr_t>(&colors)) != 0) {
        theme.colors = colors;
      }
    }
  } else if (version.HasDarkMode()) {
    // The host cannot be asked: its settings file tells the mode it started in.
    theme.dark = DarkInHostSettingsFile(host);
    if (theme.dark) theme.colors = kHostDarkColors;
  }
  return theme;
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
  if (host_ != nullptr && (!change || hostThemes_) && HostVersion::Query(host_).HasDarkModeTheming()) {
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

}  // namespace siftwell::npp
