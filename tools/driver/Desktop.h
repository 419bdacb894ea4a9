// Driving another program's windows from outside, as a user would: find its
// windows, click and type with real input events, and read what its editor
// views hold through their messages and the process's memory.
// Platform layer of the driver: the only place that includes windows.h.
#pragma once

#include <windows.h>
#include <psapi.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace siftwell::driver {

// A window as the driver reports it.
struct WindowInfo {
  HWND hwnd;
  std::wstring className;
  std::wstring text;  // empty for editor views (their "text" is the document)
  int32_t id;         // control identifier (children only)
  bool visible;
};

// Owns a kernel handle.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE h) noexcept : h_(h) {}
  ~Handle() { Reset(); }
  Handle(Handle&& other) noexcept : h_(other.h_) { other.h_ = nullptr; }
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      Reset();
      h_ = other.h_;
      other.h_ = nullptr;
    }
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE Get() const noexcept { return h_; }
  explicit operator bool() const noexcept { return h_ != nullptr; }
  void Reset() noexcept {
    if (h_ != nullptr) CloseHandle(h_);
    h_ = nullptr;
  }

 private:
  HANDLE h_ = nullptr;
};

// Memory committed in another process, freed on destruction.
class RemoteBlock {
 public:
  RemoteBlock(HANDLE process, std::size_t size);
  ~RemoteBlock();
  RemoteBlock(const RemoteBlock&) = delete;
  RemoteBlock& operator=(const RemoteBlock&) = delete;
  void* Address() const noexcept { return address_; }
  bool Read(void* into, std::size_t size) const;
  bool Write(const void* from, std::size_t size) const;

 private:
  HANDLE process_;
  void* address_ = nullptr;
};

// The one program under test, started by the driver.
class Target {
 public:
  // Starts `exe` with `args` (each quoted as needed) in the executable's folder.
  bool Start(const std::wstring& exe, const std::vector<std::wstring>& args, std::wstring& error);
  bool Running() const;
  DWORD ProcessId() const noexcept { return pid_; }
  HANDLE Process() const noexcept { return process_.Get(); }
  // Exit code once it has ended within `timeoutMs`; nothing if it still runs.
  std::optional<DWORD> WaitExit(uint32_t timeoutMs) const;
  void Kill() const;

  // Top-level windows of the target, topmost first.
  std::vector<WindowInfo> Windows() const;
  // A visible top-level window with this class and (unless empty) title.
  HWND FindTopLevel(std::wstring_view className, std::wstring_view title) const;
  bool Owns(HWND hwnd) const;

  // Sends to a window of the target (10 s at most); nothing if it did not answer.
  std::optional<intptr_t> Send(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) const;
  // The document of an editor view (Scintilla) in the target, byte for byte.
  std::optional<std::string> ViewText(HWND view) const;
  // Peak and current working set and commit of the target, bytes.
  std::optional<PROCESS_MEMORY_COUNTERS> Memory() const;

 private:
  Handle process_;
  Handle thread_;
  DWORD pid_ = 0;
};

std::vector<WindowInfo> Descendants(HWND root);
std::wstring WindowText(HWND hwnd);
std::wstring ClassName(HWND hwnd);
RECT ScreenRect(HWND hwnd);

// Real input events, delivered to whatever the user's input would reach.
// Activates the top-level window of `hwnd` and raises it above the others.
bool BringToFront(HWND hwnd);
// The top-level window the user sees at a point of the screen.
HWND TopLevelAt(POINT screen);
bool ClickAt(POINT screen, int32_t times = 1);
// Chords such as "ctrl+shift+x", "alt+p", "enter", "escape", "down", "f3".
bool PressKeys(std::string_view chord, std::wstring& error);
bool TypeText(std::wstring_view text);

// Every process in this Wine prefix (or session).
struct ProcessInfo {
  DWORD pid;
  DWORD parent;
  std::wstring exe;
};
std::vector<ProcessInfo> Processes();

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view text);

}  // namespace siftwell::driver
