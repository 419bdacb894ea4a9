// siftwell-drive: drives a Windows program (Notepad++ for the real-host tests,
// the in-host benchmark and screenshots) from outside, in the same Wine prefix
// and display, the way a user would: real clicks and keystrokes, windows found
// by class and title, an editor's text read through its messages.
//
// One command per line on standard input, fields separated by TAB; one answer
// line each on standard output: "ok" and result fields, or "error" and a
// message. In fields, \\ \t \n \r and \xHH stand for a backslash, TAB, LF, CR
// and any byte. Window handles are written 0x..., numbers in decimal.
//
//   start EXE [ARG...]                 -> PID     start the program (in its folder)
//   pid                                -> PID     the program's process id (0: none started)
//   wait-window CLASS TITLE MS         -> HWND    visible top-level window of it (TITLE empty: any)
//   windows                            -> (HWND CLASS VISIBLE TITLE)...   its top-level windows
//   children HWND                      -> (HWND PARENT CLASS ID VISIBLE TEXT)... every descendant
//   text HWND                          -> TEXT
//   rect HWND / client-rect HWND       -> LEFT TOP RIGHT BOTTOM  (screen coordinates)
//   front HWND                                   bring its top-level window to the front
//   move HWND X Y                                move a top-level window (screen coordinates)
//   click HWND [X Y]                             mouse click at client X,Y (default: centre)
//   double-click HWND [X Y]                      the same, twice in one go
//   keys CHORD...                                e.g. ctrl+shift+x alt+p down enter escape
//   type TEXT                                    Unicode keystrokes
//   send HWND MSG WPARAM LPARAM        -> RESULT  a parameter "@BYTES" is passed as the address of
//                                                 a copy of BYTES in the program
//   post HWND MSG WPARAM LPARAM
//   send-out HWND MSG WPARAM SIZE      -> RESULT BYTES   lParam: SIZE zeroed bytes in the program
//   view-text HWND                     -> BYTES   the document of a Scintilla view
//   timed-click HWND VIEW MS           -> MILLISECONDS LENGTH LONGEST LAST   click, then wait for VIEW's length to
//                                         change; LONGEST: the longest wait for an answer before, LAST: the last one
//   memory                             -> PEAK_WORKING_SET WORKING_SET PEAK_COMMIT COMMIT (bytes)
//   wait-exit MS                       -> EXIT_CODE
//   processes                          -> (PID PARENT_PID EXE)...  processes running in this prefix
//   kill                                         end the program
//   quit
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "Desktop.h"
#include "npp/Tables.h"

namespace {

using namespace siftwell::driver;

std::string Escape(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\\') out += "\\\\";
    else if (c == '\t') out += "\\t";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c < 0x20 || c == 0x7f) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += ch;
    }
  }
  return out;
}

std::string Unescape(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\' || i + 1 == field.size()) {
      out += field[i];
      continue;
    }
    const char next = field[++i];
    if (next == 't') out += '\t';
    else if (next == 'n') out += '\n';
    else if (next == 'r') out += '\r';
    else if (next == 'x' && i + 2 < field.size()) {
      out += static_cast<char>(std::strtoul(std::string(field.substr(i + 1, 2)).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += next;
    }
  }
  return out;
}

std::vector<std::string> SplitFields(std::string_view line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  while (true) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(Unescape(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start)));
    if (tab == std::string_view::npos) break;
    start = tab + 1;
  }
  return fields;
}

std::string Hex(HWND hwnd) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(hwnd)));
  return text;
}

class Failure {
 public:
  explicit Failure(std::string why) : why_(std::move(why)) {}
  const std::string& Why() const { return why_; }

 private:
  std::string why_;
};

int64_t Number(const std::string& field) {
  char* end = nullptr;
  const long long value = std::strtoll(field.c_str(), &end, 0);
  if (field.empty() || *end != '\0') throw Failure("not a number: " + field);
  return value;
}

HWND Window(const std::string& field) {
  const auto hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoull(field.c_str(), nullptr, 0)));
  if (!IsWindow(hwnd)) throw Failure("no such window: " + field);
  return hwnd;
}

class Session {
 public:
  std::vector<std::string> Run(const std::vector<std::string>& f) {
    const std::string& command = f[0];
    auto need = [&](std::size_t n) {
      if (f.size() < n + 1) throw Failure(command + ": needs " + std::to_string(n) + " arguments");
    };
    if (command == "start") {
      need(1);
      std::vector<std::wstring> args;
      for (std::size_t i = 2; i < f.size(); ++i) args.push_back(Widen(f[i]));
      std::wstring error;
      if (!target_.Start(Widen(f[1]), args, error)) throw Failure(Narrow(error));
      return {std::to_string(target_.ProcessId())};
    }
    if (command == "pid") {
      return {std::to_string(target_.ProcessId())};
    }
    if (command == "wait-window") {
      need(3);
      const std::wstring cls = Widen(f[1]), title = Widen(f[2]);
      HWND found = nullptr;
      const bool ok = WaitFor(Number(f[3]), [&] { return (found = target_.FindTopLevel(cls, title)) != nullptr; });
      if (!ok) throw Failure("no window \"" + f[2] + "\" of class " + f[1] + " appeared");
      return {Hex(found)};
    }
    if (command == "windows") {
      std::vector<std::string> out;
      for (const WindowInfo& w : target_.Windows()) {
        out.insert(out.end(), {Hex(w.hwnd), Narrow(w.className), w.visible ? "1" : "0", Narrow(w.text)});
      }
      return out;
    }
    if (command == "children") {
      need(1);
      std::vector<std::string> out;
      for (const WindowInfo& w : Descendants(Window(f[1]))) {
        out.insert(out.end(),
                   {Hex(w.hwnd), Hex(GetParent(w.hwnd)), Narrow(w.className), std::to_string(w.id),
                    w.visible ? "1" : "0", Narrow(w.text)});
      }
      return out;
    }
    if (command == "text") {
      need(1);
      return {Narrow(WindowText(Window(f[1])))};
    }
    if (command == "enabled") {
      need(1);
      return {IsWindowEnabled(Window(f[1])) ? "1" : "0"};
    }
    if (command == "rect" || command == "client-rect") {
      need(1);
      HWND hwnd = Window(f[1]);
      RECT r = ScreenRect(hwnd);
      if (command == "client-rect") {
        GetClientRect(hwnd, &r);
        MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT*>(&r), 2);
      }
      return {std::to_string(r.left), std::to_string(r.top), std::to_string(r.right), std::to_string(r.bottom)};
    }
    if (command == "front") {
      need(1);
      if (!BringToFront(Window(f[1]))) throw Failure("cannot bring the window to the front");
      return {};
    }
    if (command == "move") {
      need(3);
      HWND hwnd = Window(f[1]);
      const auto x = static_cast<LONG>(Number(f[2])), y = static_cast<LONG>(Number(f[3]));
      SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      if (!WaitFor(3000, [&] {
            const RECT r = ScreenRect(hwnd);
            return r.left == x && r.top == y;
          }))
        throw Failure("the window did not move");
      return {};
    }
    if (command == "click" || command == "double-click") {
      need(1);
      Click(Window(f[1]), f, command == "click" ? 1 : 2);
      return {};
    }
    if (command == "keys") {
      for (std::size_t i = 1; i < f.size(); ++i) {
        std::wstring error;
        if (!PressKeys(f[i], error)) throw Failure(Narrow(error));
      }
      return {};
    }
    if (command == "type") {
      need(1);
      if (!TypeText(Widen(f[1]))) throw Failure("input was refused");
      return {};
    }
    if (command == "send" || command == "post") {
      need(4);
      HWND hwnd = Window(f[1]);
      const auto msg = static_cast<UINT>(Number(f[2]));
      if (command == "post") {
        if (!PostMessageW(hwnd, msg, static_cast<WPARAM>(Number(f[3])), static_cast<LPARAM>(Number(f[4]))))
          throw Failure("cannot post");
        return {};
      }
      // "@bytes" arguments are copied into the program and passed by address.
      std::optional<RemoteBlock> blocks[2];
      intptr_t params[2] = {};
      for (int i = 0; i < 2; ++i) {
        const std::string& arg = f[3 + i];
        if (arg.empty() || arg[0] != '@') {
          params[i] = static_cast<intptr_t>(Number(arg));
          continue;
        }
        blocks[i].emplace(target_.Process(), std::max<std::size_t>(arg.size() - 1, 1));
        if (blocks[i]->Address() == nullptr || !blocks[i]->Write(arg.data() + 1, arg.size() - 1))
          throw Failure("cannot place the argument in the program");
        params[i] = reinterpret_cast<intptr_t>(blocks[i]->Address());
      }
      const auto result = target_.Send(hwnd, msg, static_cast<WPARAM>(params[0]), static_cast<LPARAM>(params[1]));
      if (!result) throw Failure("the window did not answer");
      return {std::to_string(*result)};
    }
    if (command == "send-out") {
      need(4);
      const auto size = static_cast<std::size_t>(Number(f[4]));
      std::string bytes;
      intptr_t result = 0;
      if (!SendOut(Window(f[1]), static_cast<UINT>(Number(f[2])), static_cast<WPARAM>(Number(f[3])), size, result,
                   bytes))
        throw Failure("the window did not answer");
      return {std::to_string(result), bytes};
    }
    if (command == "view-text") {
      need(1);
      const auto text = target_.ViewText(Window(f[1]));
      if (!text) throw Failure("cannot read the view's text");
      return {*text};
    }
    if (command == "timed-click") {
      need(3);
      HWND button = Window(f[1]);
      HWND view = Window(f[2]);
      const auto length = [&] { return target_.Send(view, static_cast<UINT>(SciMsg::SCI_GETLENGTH), 0, 0); };
      const auto before = length();
      if (!before) throw Failure("the view does not answer");
      std::optional<intptr_t> now;
      const auto started = std::chrono::steady_clock::now();
      Click(button, {}, 1);
      // The editor answers between its messages only: a length that differs is
      // the finished document, whether the work ran on its UI thread or not.
      // How long each question waited for its answer: the host's stalls (the
      // last one waits for the write of the result).
      double longest = 0, last = 0;
      const bool done = WaitFor(Number(f[3]), [&] {
        const auto asked = std::chrono::steady_clock::now();
        now = length();
        last = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - asked).count();
        const bool changed = now && *now != *before;
        if (!changed) longest = std::max(longest, last);
        return changed;
      });
      const auto elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started);
      if (!done) throw Failure("the document did not change");
      return {std::to_string(static_cast<int64_t>(elapsed.count() + 0.5)), std::to_string(*now),
              std::to_string(static_cast<int64_t>(longest + 0.5)), std::to_string(static_cast<int64_t>(last + 0.5))};
    }
    if (command == "memory") {
      const auto m = target_.Memory();
      if (!m) throw Failure("no memory figures for the program");
      return {std::to_string(m->PeakWorkingSetSize), std::to_string(m->WorkingSetSize),
              std::to_string(m->PeakPagefileUsage), std::to_string(m->PagefileUsage)};
    }
    if (command == "wait-exit") {
      need(1);
      const auto code = target_.WaitExit(static_cast<uint32_t>(Number(f[1])));
      if (!code) throw Failure("the program is still running");
      return {std::to_string(*code)};
    }
    if (command == "processes") {
      std::vector<std::string> out;
      for (const ProcessInfo& p : Processes())
        out.insert(out.end(), {std::to_string(p.pid), std::to_string(p.parent), Narrow(p.exe)});
      return out;
    }
    if (command == "kill") {
      target_.Kill();
      return {};
    }
    throw Failure("unknown command: " + command);
  }

 private:
  template <typename Condition>
  static bool WaitFor(int64_t timeoutMs, Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

  void Click(HWND hwnd, const std::vector<std::string>& f, int32_t times) {
    RECT client{};
    GetClientRect(hwnd, &client);
    POINT at{(client.right - client.left) / 2, (client.bottom - client.top) / 2};
    if (f.size() >= 4) at = {static_cast<LONG>(Number(f[2])), static_cast<LONG>(Number(f[3]))};
    ClientToScreen(hwnd, &at);
    HWND root = GetAncestor(hwnd, GA_ROOT);
    // A disabled control drops a click without a trace: wait for the program
    // to enable it (a run's end, a selection it has yet to hear of), or say so.
    if (!WaitFor(10000, [&] { return IsWindowEnabled(hwnd) && IsWindowVisible(hwnd); }))
      throw Failure("the window to click stays disabled or hidden");
    // The click must land on this window, not on one that covers it.
    if (!WaitFor(3000, [&] { return BringToFront(hwnd) && TopLevelAt(at) == root; }))
      throw Failure("the window cannot be brought above the others at the point to click");
    if (!ClickAt(at, times)) throw Failure("input was refused");
  }

  bool SendOut(HWND hwnd, UINT msg, WPARAM wParam, std::size_t size, intptr_t& result, std::string& bytes) {
    RemoteBlock block(target_.Process(), std::max<std::size_t>(size, 1));
    if (block.Address() == nullptr) return false;
    const auto answer = target_.Send(hwnd, msg, wParam, reinterpret_cast<LPARAM>(block.Address()));
    if (!answer) return false;
    result = *answer;
    bytes.assign(size, '\0');
    return block.Read(bytes.data(), size);
  }

  Target target_;
};

void Answer(const std::vector<std::string>& fields) {
  std::string line = "ok";
  for (const std::string& f : fields) {
    line += '\t';
    line += Escape(f);
  }
  line += "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

int main() {
  // Binary streams: the answers carry their own escapes, no CR is added.
  std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stdin), _O_BINARY);
  Session session;
  std::string line;
  int c = 0;
  while (true) {
    line.clear();
    while ((c = std::fgetc(stdin)) != EOF && c != '\n') line += static_cast<char>(c);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) {
      if (c == EOF) break;
      continue;
    }
    const std::vector<std::string> fields = SplitFields(line);
    if (fields[0] == "quit") break;
    try {
      Answer(session.Run(fields));
    } catch (const Failure& failure) {
      std::string answer = "error\t";
      answer += Escape(failure.Why());
      answer += '\n';
      std::fwrite(answer.data(), 1, answer.size(), stdout);
      std::fflush(stdout);
    }
  }
  return 0;
}
