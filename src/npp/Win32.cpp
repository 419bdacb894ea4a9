// Platform bindings of Win32.h. The only translation unit of this layer that sees windows.h.
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace {
// The platform's values, taken before Win32.h removes their macros.
constexpr int32_t kMaxPath = MAX_PATH;
constexpr int32_t kMfByCommand = MF_BYCOMMAND;
constexpr int32_t kMfChecked = MF_CHECKED;
constexpr int32_t kMfUnchecked = MF_UNCHECKED;
constexpr int32_t kWmCreate = WM_CREATE;
}  // namespace

#include "npp/Win32.h"

static_assert(Win32::MAX_PATH == kMaxPath && Win32::MF_BYCOMMAND == kMfByCommand &&
              Win32::MF_CHECKED == kMfChecked && Win32::MF_UNCHECKED == kMfUnchecked &&
              Win32::WM_CREATE == kWmCreate);
static_assert(std::is_same_v<Win32::HWND, ::HWND> && std::is_same_v<Win32::HMENU, ::HMENU>);
static_assert(sizeof(Win32::ScrollInfo) == sizeof(SCROLLINFO) &&
              offsetof(Win32::ScrollInfo, fMask) == offsetof(SCROLLINFO, fMask) &&
              offsetof(Win32::ScrollInfo, nMin) == offsetof(SCROLLINFO, nMin) &&
              offsetof(Win32::ScrollInfo, nMax) == offsetof(SCROLLINFO, nMax) &&
              offsetof(Win32::ScrollInfo, nPage) == offsetof(SCROLLINFO, nPage) &&
              offsetof(Win32::ScrollInfo, nPos) == offsetof(SCROLLINFO, nPos) &&
              offsetof(Win32::ScrollInfo, nTrackPos) == offsetof(SCROLLINFO, nTrackPos));
static_assert(sizeof(Win32::Point) == sizeof(POINT));

namespace Win32 {
namespace {

// Smallest native text buffer, in bytes: room for the longest Windows path (32767
// UTF-16 units and a NUL), whatever capacity the caller asked for.
constexpr size_t kMinNativeBytes = 65536;

// Zeroed read-write memory that ends at an inaccessible page. Released on destruction.
class GuardedBlock {
 public:
  explicit GuardedBlock(size_t bytes) {
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    const size_t page = info.dwPageSize;
    const size_t usable = (bytes + page - 1) / page * page;
    base_ = ::VirtualAlloc(nullptr, usable + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (base_ == nullptr) throw std::bad_alloc();
    DWORD old = 0;
    if (!::VirtualProtect(static_cast<char*>(base_) + usable, page, PAGE_NOACCESS, &old)) {
      ::VirtualFree(base_, 0, MEM_RELEASE);
      throw std::bad_alloc();
    }
    data_ = static_cast<char*>(base_) + (usable - bytes);
  }
  ~GuardedBlock() { ::VirtualFree(base_, 0, MEM_RELEASE); }
  GuardedBlock(const GuardedBlock&) = delete;
  GuardedBlock& operator=(const GuardedBlock&) = delete;

  char* data() const noexcept { return data_; }

 private:
  void* base_ = nullptr;
  char* data_ = nullptr;
};

size_t NativeBytes(size_t units, size_t unitSize) {
  return std::max(kMinNativeBytes, (units + 1) * unitSize);
}

std::string Narrow(UINT codePage, const std::wstring& text) {
  if (text.empty()) return {};
  const int32_t length = static_cast<int32_t>(text.size());
  const int32_t bytes = ::WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes), '\0');
  ::WideCharToMultiByte(codePage, 0, text.data(), length, out.data(), bytes, nullptr, nullptr);
  return out;
}

std::wstring Widen(UINT codePage, const char* text, size_t length) {
  if (length == 0) return {};
  const int32_t n = static_cast<int32_t>(length);
  const int32_t units = ::MultiByteToWideChar(codePage, 0, text, n, nullptr, 0);
  std::wstring out(static_cast<size_t>(units), L'\0');
  ::MultiByteToWideChar(codePage, 0, text, n, out.data(), units);
  return out;
}

LRESULT Send(HWND hWnd, uint32_t Msg, intptr_t wParam, LPARAM lParam) {
  return ::SendMessageA(hWnd, Msg, static_cast<WPARAM>(wParam), lParam);
}

template <class T>
T NarrowSlot(intptr_t slot) {
  if constexpr (sizeof(intptr_t) > sizeof(int32_t)) {
    if (slot < std::numeric_limits<int32_t>::min() || slot > std::numeric_limits<int32_t>::max())
      throw std::overflow_error("the receiver wrote a value outside the 32-bit range");
  }
  return static_cast<T>(static_cast<int32_t>(slot));
}

}  // namespace

TextBuffer::TextBuffer(int32_t capacity, std::wstring text) : capacity_(capacity) {
  if (capacity < 0) throw std::invalid_argument("text buffer capacity is negative");
  SetText(std::move(text));
}

void TextBuffer::SetText(std::wstring text) {
  if (text.size() > static_cast<size_t>(capacity_)) text.resize(static_cast<size_t>(capacity_));
  text_ = std::move(text);
}

intptr_t SendMessage(HWND hWnd, uint32_t Msg, intptr_t wParam, intptr_t lParam) {
  return Send(hWnd, Msg, wParam, lParam);
}

intptr_t SendMessage(HWND hWnd, uint32_t Msg, intptr_t wParam, Out<intptr_t> lParam) {
  intptr_t slot = 0;
  const intptr_t result = Send(hWnd, Msg, wParam, reinterpret_cast<LPARAM>(&slot));
  lParam.target() = slot;
  return result;
}

intptr_t SendMessage(HWND hWnd, uint32_t Msg, intptr_t wParam, const std::wstring& lParam) {
  static_assert(sizeof(wchar_t) == 2);
  return Send(hWnd, Msg, wParam, reinterpret_cast<LPARAM>(lParam.c_str()));
}

intptr_t SendMessage(HWND hWnd, uint32_t Msg, intptr_t wParam, TextBuffer& lParam) {
  const size_t capacity = static_cast<size_t>(lParam.Capacity());
  GuardedBlock block(NativeBytes(capacity, sizeof(wchar_t)));
  auto* native = reinterpret_cast<wchar_t*>(block.data());
  std::memcpy(native, lParam.Text().data(), lParam.Text().size() * sizeof(wchar_t));
  const intptr_t result = Send(hWnd, Msg, wParam, reinterpret_cast<LPARAM>(native));
  native[capacity] = L'\0';
  lParam.SetText(std::wstring(native));
  return result;
}

intptr_t SendMessage(HWND hWnd, uint32_t Msg, int32_t wParam, Out<LangType> lParam) {
  intptr_t slot = 0;
  const intptr_t result = SendMessage(hWnd, Msg, intptr_t{wParam}, Out<intptr_t>(slot));
  lParam.target() = NarrowSlot<LangType>(slot);
  return result;
}

#if INTPTR_MAX > INT32_MAX
intptr_t SendMessage(HWND hWnd, uint32_t Msg, int32_t wParam, Out<int32_t> lParam) {
  intptr_t slot = 0;
  const intptr_t result = SendMessage(hWnd, Msg, intptr_t{wParam}, Out<intptr_t>(slot));
  lParam.target() = NarrowSlot<int32_t>(slot);
  return result;
}
#endif

intptr_t SendMessage(HWND hWnd, SciMsg Msg, int32_t wParam, TextBuffer& lParam) {
  const size_t capacity = static_cast<size_t>(lParam.Capacity());
  std::string text = Narrow(CP_ACP, lParam.Text());
  if (text.size() > capacity) text.resize(capacity);  // a double-byte code page may need more
  GuardedBlock block(NativeBytes(capacity, 1));
  char* native = block.data();
  std::memcpy(native, text.data(), text.size());
  const intptr_t result = Send(hWnd, static_cast<uint32_t>(Msg), wParam, reinterpret_cast<LPARAM>(native));
  native[capacity] = '\0';
  lParam.SetText(Widen(CP_ACP, native, std::strlen(native)));
  return result;
}

intptr_t SendMessage(HWND hWnd, SciMsg Msg, int32_t wParam, const std::wstring& lParam) {
  const std::string utf8 = Narrow(CP_UTF8, lParam);
  return Send(hWnd, static_cast<uint32_t>(Msg), wParam, reinterpret_cast<LPARAM>(utf8.c_str()));
}

int32_t GetPrivateProfileInt(const std::wstring& lpAppName, const std::wstring& lpKeyName,
                             int32_t nDefault, const std::wstring& lpFileName) {
  return static_cast<int32_t>(::GetPrivateProfileIntA(Narrow(CP_ACP, lpAppName).c_str(),
                                                      Narrow(CP_ACP, lpKeyName).c_str(), nDefault,
                                                      Narrow(CP_ACP, lpFileName).c_str()));
}

bool WritePrivateProfileString(const std::wstring& lpAppName, const std::wstring& lpKeyName,
                               const std::wstring& lpString, const std::wstring& lpFileName) {
  return ::WritePrivateProfileStringA(Narrow(CP_ACP, lpAppName).c_str(), Narrow(CP_ACP, lpKeyName).c_str(),
                                      Narrow(CP_ACP, lpString).c_str(),
                                      Narrow(CP_ACP, lpFileName).c_str()) != FALSE;
}

int32_t GetPrivateProfileIntW(const std::wstring& lpAppName, const std::wstring& lpKeyName,
                              int32_t nDefault, const std::wstring& lpFileName) {
  return static_cast<int32_t>(
      ::GetPrivateProfileIntW(lpAppName.c_str(), lpKeyName.c_str(), nDefault, lpFileName.c_str()));
}

bool WritePrivateProfileStringW(const std::wstring& lpAppName, const std::wstring& lpKeyName,
                                const std::wstring& lpString, const std::wstring& lpFileName) {
  return ::WritePrivateProfileStringW(lpAppName.c_str(), lpKeyName.c_str(), lpString.c_str(),
                                      lpFileName.c_str()) != FALSE;
}

HMENU GetMenu(HWND hWnd) { return ::GetMenu(hWnd); }

int32_t CheckMenuItem(HMENU hmenu, int32_t uIDCheckItem, int32_t uCheck) {
  return static_cast<int32_t>(
      ::CheckMenuItem(hmenu, static_cast<UINT>(uIDCheckItem), static_cast<UINT>(uCheck)));
}

bool ClientToScreen(HWND hWnd, Point& lpPoint) {
  POINT p{lpPoint.x, lpPoint.y};
  const bool ok = ::ClientToScreen(hWnd, &p) != FALSE;
  lpPoint = Point{static_cast<int32_t>(p.x), static_cast<int32_t>(p.y)};
  return ok;
}

void OutputDebugString(const std::wstring& lpOutputString) {
  ::OutputDebugStringA(Narrow(CP_ACP, lpOutputString).c_str());
}

int32_t GetScrollInfo(HWND hwnd, int32_t nBar, ScrollInfo& scrollInfo) {
  SCROLLINFO native{};
  native.cbSize = scrollInfo.cbSize;
  native.fMask = scrollInfo.fMask;
  native.nMin = scrollInfo.nMin;
  native.nMax = scrollInfo.nMax;
  native.nPage = scrollInfo.nPage;
  native.nPos = scrollInfo.nPos;
  native.nTrackPos = scrollInfo.nTrackPos;
  const BOOL filled = ::GetScrollInfo(hwnd, nBar, &native);
  scrollInfo = ScrollInfo{native.cbSize, native.fMask, native.nMin, native.nMax,
                          native.nPage, native.nPos, native.nTrackPos};
  return static_cast<int32_t>(filled);
}

int32_t GetScrollInfo(HWND hwnd, ScrollInfoBar nBar, ScrollInfo& scrollInfo) {
  return GetScrollInfo(hwnd, static_cast<int32_t>(nBar), scrollInfo);
}

void RtlMoveMemory(void* Destination, const void* Source, int32_t Length) {
  if (Length < 0) throw std::invalid_argument("RtlMoveMemory: negative length");
  using MoveMemoryFn = VOID(WINAPI*)(PVOID, const VOID*, SIZE_T);
  // kernel32's export (windows.h only offers a macro over memmove).
  static const auto move = reinterpret_cast<MoveMemoryFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "RtlMoveMemory")));
  if (move == nullptr) {
    std::memmove(Destination, Source, static_cast<size_t>(Length));
    return;
  }
  move(Destination, Source, static_cast<SIZE_T>(Length));
}

}  // namespace Win32
