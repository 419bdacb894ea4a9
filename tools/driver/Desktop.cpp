#include "Desktop.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cctype>
#include <cwctype>
#include <filesystem>

#include "npp/Tables.h"

namespace siftwell::driver {

namespace {

constexpr UINT kSendTimeoutMs = 10000;

std::wstring Quote(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') quoted.append(backslashes * 2 + 1, L'\\');
    else quoted.append(backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

struct WindowSearch {
  DWORD pid;
  std::vector<WindowInfo>* found;
};

WindowInfo Describe(HWND hwnd) {
  WindowInfo info{hwnd, ClassName(hwnd), {}, GetDlgCtrlID(hwnd), IsWindowVisible(hwnd) != FALSE};
  if (info.className != L"Scintilla") info.text = WindowText(hwnd);
  return info;
}

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM lParam) {
  auto* search = reinterpret_cast<WindowSearch*>(lParam);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == search->pid) search->found->push_back(Describe(hwnd));
  return TRUE;
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM lParam) {
  reinterpret_cast<std::vector<WindowInfo>*>(lParam)->push_back(Describe(hwnd));
  return TRUE;
}

INPUT KeyInput(WORD vk, WORD scan, DWORD flags) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.wScan = scan;
  in.ki.dwFlags = flags;
  return in;
}

bool SendAll(std::vector<INPUT>& inputs) {
  if (inputs.empty()) return true;
  return SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) == inputs.size();
}

std::optional<WORD> VirtualKey(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  struct Named {
    const char* name;
    WORD vk;
  };
  static constexpr Named kNamed[] = {
      {"enter", VK_RETURN}, {"escape", VK_ESCAPE}, {"esc", VK_ESCAPE}, {"tab", VK_TAB},
      {"back", VK_BACK},    {"delete", VK_DELETE}, {"space", VK_SPACE}, {"left", VK_LEFT},
      {"right", VK_RIGHT},  {"up", VK_UP},         {"down", VK_DOWN},   {"home", VK_HOME},
      {"end", VK_END},      {"pageup", VK_PRIOR},  {"pagedown", VK_NEXT}, {"insert", VK_INSERT},
  };
  for (const Named& n : kNamed) {
    if (name == n.name) return n.vk;
  }
  if (name.size() > 1 && name[0] == 'f') {
    const int number = std::atoi(name.c_str() + 1);
    if (number >= 1 && number <= 24) return static_cast<WORD>(VK_F1 + number - 1);
  }
  if (name.size() == 1 && std::isalnum(static_cast<unsigned char>(name[0])))
    return static_cast<WORD>(std::toupper(static_cast<unsigned char>(name[0])));
  return std::nullopt;
}

}  // namespace

// ------------------------------------------------------------------ remote memory

RemoteBlock::RemoteBlock(HANDLE process, std::size_t size)
    : process_(process),
      address_(VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {}

RemoteBlock::~RemoteBlock() {
  if (address_ != nullptr) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
}

bool RemoteBlock::Read(void* into, std::size_t size) const {
  SIZE_T read = 0;
  return address_ != nullptr && ReadProcessMemory(process_, address_, into, size, &read) && read == size;
}

bool RemoteBlock::Write(const void* from, std::size_t size) const {
  SIZE_T written = 0;
  return address_ != nullptr && WriteProcessMemory(process_, address_, from, size, &written) && written == size;
}

// ------------------------------------------------------------------ target

bool Target::Start(const std::wstring& exe, const std::vector<std::wstring>& args, std::wstring& error) {
  if (Running()) {
    error = L"a program is already running";
    return false;
  }
  std::wstring commandLine = Quote(exe);
  for (const std::wstring& a : args) commandLine += L" " + Quote(a);
  const std::wstring folder = std::filesystem::path(exe).parent_path().wstring();
  // The program's standard handles lead nowhere: nothing it (or a crash
  // report about it) prints may reach the driver's answers.
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  Handle nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                         OPEN_EXISTING, 0, nullptr));
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = startup.hStdOutput = startup.hStdError = nul.Get();
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
    error = L"cannot start " + exe + L" (error " + std::to_wstring(GetLastError()) + L")";
    return false;
  }
  process_ = Handle(info.hProcess);
  thread_ = Handle(info.hThread);
  pid_ = info.dwProcessId;
  return true;
}

bool Target::Running() const { return process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT; }

std::optional<DWORD> Target::WaitExit(uint32_t timeoutMs) const {
  if (!process_) return std::nullopt;
  if (WaitForSingleObject(process_.Get(), timeoutMs) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  if (!GetExitCodeProcess(process_.Get(), &code)) return std::nullopt;
  return code;
}

void Target::Kill() const {
  if (Running()) {
    TerminateProcess(process_.Get(), 255);
    WaitForSingleObject(process_.Get(), 5000);
  }
}

std::vector<WindowInfo> Target::Windows() const {
  std::vector<WindowInfo> found;
  if (pid_ == 0) return found;
  WindowSearch search{pid_, &found};
  EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
  return found;
}

HWND Target::FindTopLevel(std::wstring_view className, std::wstring_view title) const {
  for (const WindowInfo& w : Windows()) {
    if (w.visible && w.className == className && (title.empty() || w.text == title)) return w.hwnd;
  }
  return nullptr;
}

bool Target::Owns(HWND hwnd) const {
  DWORD pid = 0;
  return IsWindow(hwnd) && GetWindowThreadProcessId(hwnd, &pid) != 0 && pid == pid_;
}

std::optional<intptr_t> Target::Send(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) const {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(hwnd, msg, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs, &result)) return std::nullopt;
  return static_cast<intptr_t>(result);
}

std::optional<std::string> Target::ViewText(HWND view) const {
  const auto length = Send(view, static_cast<UINT>(SciMsg::SCI_GETLENGTH), 0, 0);
  if (!length || *length < 0) return std::nullopt;
  // The buffer is contiguous after this message; its address is in the
  // target's memory, which is read directly (no copy inside the editor).
  const auto pointer = Send(view, static_cast<UINT>(SciMsg::SCI_GETCHARACTERPOINTER), 0, 0);
  if (!pointer) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(*length), '\0');
  if (bytes.empty()) return bytes;
  SIZE_T read = 0;
  if (!ReadProcessMemory(process_.Get(), reinterpret_cast<const void*>(*pointer), bytes.data(), bytes.size(), &read) ||
      read != bytes.size())
    return std::nullopt;
  return bytes;
}

std::optional<PROCESS_MEMORY_COUNTERS> Target::Memory() const {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof(counters);
  if (!process_ || !GetProcessMemoryInfo(process_.Get(), &counters, sizeof(counters))) return std::nullopt;
  return counters;
}

// ------------------------------------------------------------------ windows

std::vector<WindowInfo> Descendants(HWND root) {
  std::vector<WindowInfo> found;
  EnumChildWindows(root, CollectChild, reinterpret_cast<LPARAM>(&found));
  return found;
}

std::wstring WindowText(HWND hwnd) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &length)) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL,
                           kSendTimeoutMs, &copied))
    return {};
  text.resize(std::min<std::size_t>(static_cast<std::size_t>(copied), text.size() - 1));
  return text;
}

std::wstring ClassName(HWND hwnd) {
  wchar_t name[256] = {};
  const int length = GetClassNameW(hwnd, name, 256);
  return std::wstring(name, static_cast<std::size_t>(std::max(length, 0)));
}

RECT ScreenRect(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  return r;
}

// ------------------------------------------------------------------ input

bool BringToFront(HWND hwnd) {
  HWND root = GetAncestor(hwnd, GA_ROOT);
  if (root == nullptr) return false;
  for (int i = 0; i < 100; ++i) {
    const RECT r = ScreenRect(root);
    const POINT middle{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    // Active in the program's own thread too: its activation (and the focus
    // it restores) is handled before any click reaches it.
    GUITHREADINFO gui{};
    gui.cbSize = sizeof(gui);
    const bool active = GetGUIThreadInfo(GetWindowThreadProcessId(root, nullptr), &gui) && gui.hwndActive == root;
    if (GetForegroundWindow() == root && active && TopLevelAt(middle) == root) return true;
    // Activation alone need not raise a window that another program covers.
    SetForegroundWindow(root);
    SetWindowPos(root, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    Sleep(20);
  }
  return false;
}

HWND TopLevelAt(POINT screen) { return GetAncestor(WindowFromPoint(screen), GA_ROOT); }

bool ClickAt(POINT screen, int32_t times) {
  SetCursorPos(screen.x, screen.y);
  const int width = std::max(GetSystemMetrics(SM_CXSCREEN), 1);
  const int height = std::max(GetSystemMetrics(SM_CYSCREEN), 1);
  std::vector<INPUT> inputs(1 + 2 * static_cast<std::size_t>(std::max(times, 1)));
  for (INPUT& in : inputs) {
    in.type = INPUT_MOUSE;
    in.mi.dx = static_cast<LONG>((static_cast<int64_t>(screen.x) * 65536 + width - 1) / width);
    in.mi.dy = static_cast<LONG>((static_cast<int64_t>(screen.y) * 65536 + height - 1) / height);
  }
  inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  for (std::size_t i = 1; i + 1 < inputs.size(); i += 2) {  // (a double-click: two in one go)
    inputs[i].mi.dwFlags = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE;
    inputs[i + 1].mi.dwFlags = MOUSEEVENTF_LEFTUP | MOUSEEVENTF_ABSOLUTE;
  }
  return SendAll(inputs);
}

bool PressKeys(std::string_view chord, std::wstring& error) {
  std::vector<WORD> modifiers;
  std::optional<WORD> key;
  std::size_t start = 0;
  while (start <= chord.size()) {
    const std::size_t plus = chord.find('+', start + 1);  // "+" itself may be the last part
    const std::size_t end = plus == std::string_view::npos ? chord.size() : plus;
    std::string part(chord.substr(start, end - start));
    std::string lower = part;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    const bool last = end == chord.size();
    if (!last && (lower == "ctrl" || lower == "control")) modifiers.push_back(VK_CONTROL);
    else if (!last && lower == "shift") modifiers.push_back(VK_SHIFT);
    else if (!last && lower == "alt") modifiers.push_back(VK_MENU);
    else if (last && lower == "alt") key = VK_MENU;
    else if (last) key = VirtualKey(part);
    if (last) break;
    start = end + 1;
  }
  if (!key) {
    error = L"unknown key in \"" + Widen(chord) + L"\"";
    return false;
  }
  std::vector<INPUT> inputs;
  for (WORD m : modifiers) inputs.push_back(KeyInput(m, 0, 0));
  const DWORD extended = (*key >= VK_PRIOR && *key <= VK_DOWN) || *key == VK_INSERT || *key == VK_DELETE
                             ? KEYEVENTF_EXTENDEDKEY
                             : 0;
  inputs.push_back(KeyInput(*key, 0, extended));
  inputs.push_back(KeyInput(*key, 0, extended | KEYEVENTF_KEYUP));
  for (auto m = modifiers.rbegin(); m != modifiers.rend(); ++m) inputs.push_back(KeyInput(*m, 0, KEYEVENTF_KEYUP));
  return SendAll(inputs);
}

bool TypeText(std::wstring_view text) {
  std::vector<INPUT> inputs;
  for (wchar_t c : text) {
    inputs.push_back(KeyInput(0, c, KEYEVENTF_UNICODE));
    inputs.push_back(KeyInput(0, c, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP));
  }
  return SendAll(inputs);
}

std::vector<ProcessInfo> Processes() {
  std::vector<ProcessInfo> names;
  Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot || snapshot.Get() == INVALID_HANDLE_VALUE) return names;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry))
    names.push_back({entry.th32ProcessID, entry.th32ParentProcessID, entry.szExeFile});
  return names;
}

std::wstring Widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

std::string Narrow(std::wstring_view text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                    nullptr);
  std::string narrow(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), n, nullptr, nullptr);
  return narrow;
}

}  // namespace siftwell::driver
