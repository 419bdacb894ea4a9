// Win32: the one place that calls the platform's window, profile-file and memory
// functions. Every message sent to the host window or an editor view goes through one
// of the SendMessage overloads below.
//
// This header does not include windows.h. Handles are the same opaque pointer types
// that windows.h declares in its STRICT mode, so values pass between the two freely.
// windows.h defines SendMessage, GetPrivateProfileInt, WritePrivateProfileString,
// OutputDebugString, RtlMoveMemory, MAX_PATH, MF_* and WM_CREATE as macros: include
// windows.h (if at all) before this header, which removes those macros. Including this
// header again after windows.h removes them again.
//
// Sending:
//  - Four bindings of SendMessageA, differing in how lParam travels: a pointer-sized
//    integer, the address of a pointer-sized slot (Out), read-only UTF-16 text, or a
//    writable UTF-16 TextBuffer. All messages sent are private ones (WM_USER and up),
//    which the platform passes through unconverted.
//  - Typed forms taking 32-bit integers, SciMsg numbers, an NppMenuCmd or an
//    Out<LangType>. 32-bit integers are widened with sign extension; an NppMenuCmd with
//    zero extension. Results are the receiver's answer, unchanged.
//  Where int32_t and intptr_t are one type (32-bit builds) the forms that differ only in
//  those types are one function: their bits on the wire are the same.
//
// Output slots: the receiver writes into a zeroed pointer-sized slot owned by the call,
// never into the caller's variable, whose old value is neither read nor sent. A receiver
// that writes nothing leaves the caller with 0. Where pointers are 8 bytes, a slot value
// that does not fit a 32-bit target throws std::overflow_error.
//
// Text buffers: the receiver gets a native buffer holding the caller's text, NUL
// terminated. The native buffer is never smaller than 32768 UTF-16 units (64 KiB for the
// ANSI form), and it ends at an inaccessible page, so a receiver that answers more than
// the capacity writes only into memory owned by the call, and a runaway receiver faults
// instead of corrupting the heap. Afterwards the buffer holds the native text up to its
// first NUL, cut at the capacity.
#undef SendMessage
#undef GetPrivateProfileInt
#undef WritePrivateProfileString
#undef OutputDebugString
#undef RtlMoveMemory
#undef MAX_PATH
#undef MF_BYCOMMAND
#undef MF_CHECKED
#undef MF_UNCHECKED
#undef WM_CREATE

#ifndef SIFTWELL_MESSAGES_WIN32_H
#define SIFTWELL_MESSAGES_WIN32_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "npp/Tables.h"

struct HWND__;
struct HMENU__;

namespace Win32 {

using HWND = ::HWND__*;
using HMENU = ::HMENU__*;

constexpr int32_t MAX_PATH = 260;
constexpr int32_t MF_BYCOMMAND = 0;
constexpr int32_t MF_CHECKED = 8;
constexpr int32_t MF_UNCHECKED = 0;
constexpr int32_t WM_CREATE = 1;

// The platform's SCROLLINFO record.
struct ScrollInfo {
  uint32_t cbSize;  // 28
  uint32_t fMask;   // ScrollInfoMask flags
  int32_t nMin;
  int32_t nMax;
  uint32_t nPage;
  int32_t nPos;
  int32_t nTrackPos;
};
static_assert(sizeof(ScrollInfo) == 28 && offsetof(ScrollInfo, nTrackPos) == 24);

// The platform's POINT record.
struct Point {
  int32_t x;
  int32_t y;
};
static_assert(sizeof(Point) == 8 && offsetof(Point, y) == 4);

// Marks an argument that the receiver writes through lParam:
// Win32::SendMessage(h, msg, 0, Win32::Out(value)).
template <class T>
class Out {
 public:
  explicit Out(T& target) noexcept : target_(target) {}
  T& target() const noexcept { return target_; }

 private:
  T& target_;
};

// A writable text buffer of a fixed capacity in characters; the text never exceeds it.
class TextBuffer {
 public:
  // Throws std::invalid_argument for a negative capacity; longer text is cut.
  explicit TextBuffer(int32_t capacity, std::wstring text = {});
  int32_t Capacity() const noexcept { return capacity_; }
  const std::wstring& Text() const noexcept { return text_; }
  void SetText(std::wstring text);  // cut at the capacity

 private:
  int32_t capacity_;
  std::wstring text_;
};

// --- the four bindings of SendMessageA ---
intptr_t SendMessage(HWND hWnd, uint32_t Msg, intptr_t wParam, intptr_t lParam);
intptr_t SendMessage(HWND hWnd, uint32_t Msg, intptr_t wParam, Out<intptr_t> lParam);
intptr_t SendMessage(HWND hWnd, uint32_t Msg, intptr_t wParam, const std::wstring& lParam);
intptr_t SendMessage(HWND hWnd, uint32_t Msg, intptr_t wParam, TextBuffer& lParam);

// --- typed forms ---
// Host menu command as lParam, zero-extended.
inline intptr_t SendMessage(HWND hWnd, uint32_t Msg, int32_t wParam, NppMenuCmd lParam) {
  return SendMessage(hWnd, Msg, intptr_t{wParam},
                     static_cast<intptr_t>(static_cast<uintptr_t>(static_cast<uint32_t>(lParam))));
}
// Host language code written by the receiver; the caller's value is not sent.
intptr_t SendMessage(HWND hWnd, uint32_t Msg, int32_t wParam, Out<LangType> lParam);
// Editor message with a buffer for 8-bit text in the process's ANSI code page. The
// capacity counts bytes of that text; text that converts to more bytes is cut on entry.
intptr_t SendMessage(HWND hWnd, SciMsg Msg, int32_t wParam, TextBuffer& lParam);
// Editor message with read-only text, sent as NUL-terminated UTF-8.
intptr_t SendMessage(HWND hWnd, SciMsg Msg, int32_t wParam, const std::wstring& lParam);
inline intptr_t SendMessage(HWND hWnd, SciMsg Msg, int32_t wParam, int32_t lParam) {
  return SendMessage(hWnd, static_cast<uint32_t>(Msg), intptr_t{wParam}, intptr_t{lParam});
}

#if INTPTR_MAX > INT32_MAX
// 8-byte pointers: the 32-bit forms are functions of their own.
inline intptr_t SendMessage(HWND hWnd, uint32_t Msg, int32_t wParam, intptr_t lParam) {
  return SendMessage(hWnd, Msg, intptr_t{wParam}, lParam);
}
inline intptr_t SendMessage(HWND hWnd, uint32_t Msg, int32_t wParam, int32_t lParam) {
  return SendMessage(hWnd, Msg, intptr_t{wParam}, intptr_t{lParam});
}
intptr_t SendMessage(HWND hWnd, uint32_t Msg, int32_t wParam, Out<int32_t> lParam);
inline intptr_t SendMessage(HWND hWnd, uint32_t Msg, intptr_t wParam, int32_t lParam) {
  return SendMessage(hWnd, Msg, wParam, intptr_t{lParam});
}
inline intptr_t SendMessage(HWND hWnd, uint32_t Msg, int32_t wParam, TextBuffer& lParam) {
  return SendMessage(hWnd, Msg, intptr_t{wParam}, lParam);
}
inline intptr_t SendMessage(HWND hWnd, uint32_t Msg, int32_t wParam, const std::wstring& lParam) {
  return SendMessage(hWnd, Msg, intptr_t{wParam}, lParam);
}
inline intptr_t SendMessage(HWND hWnd, SciMsg Msg, intptr_t wParam, int32_t lParam) {
  return SendMessage(hWnd, static_cast<uint32_t>(Msg), wParam, intptr_t{lParam});
}
inline intptr_t SendMessage(HWND hWnd, SciMsg Msg, int32_t wParam, intptr_t lParam) {
  return SendMessage(hWnd, static_cast<uint32_t>(Msg), intptr_t{wParam}, lParam);
}
inline intptr_t SendMessage(HWND hWnd, SciMsg Msg, intptr_t wParam, intptr_t lParam) {
  return SendMessage(hWnd, static_cast<uint32_t>(Msg), wParam, lParam);
}
#endif

// --- profile files ---
// ANSI entries: text converted to the ANSI code page with best-fit replacement.
int32_t GetPrivateProfileInt(const std::wstring& lpAppName, const std::wstring& lpKeyName,
                             int32_t nDefault, const std::wstring& lpFileName);
bool WritePrivateProfileString(const std::wstring& lpAppName, const std::wstring& lpKeyName,
                               const std::wstring& lpString, const std::wstring& lpFileName);
// Wide entries: every character of a path or value survives, whatever the code page.
int32_t GetPrivateProfileIntW(const std::wstring& lpAppName, const std::wstring& lpKeyName,
                              int32_t nDefault, const std::wstring& lpFileName);
bool WritePrivateProfileStringW(const std::wstring& lpAppName, const std::wstring& lpKeyName,
                                const std::wstring& lpString, const std::wstring& lpFileName);

// --- menus, coordinates, diagnostics, scroll bars, memory ---
HMENU GetMenu(HWND hWnd);
// Returns the previous check state, or -1 if the item does not exist.
int32_t CheckMenuItem(HMENU hmenu, int32_t uIDCheckItem, int32_t uCheck);
bool ClientToScreen(HWND hWnd, Point& lpPoint);
void OutputDebugString(const std::wstring& lpOutputString);  // ANSI entry
// Non-zero when the record was filled. Set cbSize = 28 and fMask before the call.
int32_t GetScrollInfo(HWND hwnd, ScrollInfoBar nBar, ScrollInfo& scrollInfo);
int32_t GetScrollInfo(HWND hwnd, int32_t nBar, ScrollInfo& scrollInfo);
// kernel32's RtlMoveMemory: copies Length bytes, overlapping ranges allowed.
// A negative Length throws std::invalid_argument (the platform would read it as huge).
void RtlMoveMemory(void* Destination, const void* Source, int32_t Length);

}  // namespace Win32

#endif  // SIFTWELL_MESSAGES_WIN32_H
