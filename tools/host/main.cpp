// siftwell-host: runs plugin DLLs inside the host stand-in.
//
//   siftwell-host.exe [--config-dir D] [--file F]
//                     [--after-command NAME]... [--type TEXT]... [--click TEXT]
//                     [--screenshot OUT.bmp] [--print-text] plugin.dll...
//
// Without --screenshot the host stays open until its window is closed. With
// it, the host loads the plugins, loads F into the main view, runs each named
// menu command in order, types each TEXT into the next edit field of the
// focused plugin window, clicks the button captioned TEXT there, moves the
// plugin windows over the second view (so the main view's text stays in
// sight), saves the main window and the plugin windows as a BMP, and exits.
// --print-text writes the main view's bytes to stdout before exiting.
// Exit codes: 0 done, 1 usage, 2 plugin or file failed, 3 command or control
// not found, 4 screenshot failed.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Automation.h"
#include "HostStandIn.h"

using siftwell::host::HostOptions;
using siftwell::host::HostStandIn;

namespace {

struct Arguments {
  std::wstring configDir;
  std::wstring file;
  std::wstring screenshot;
  std::vector<std::wstring> commands;
  std::vector<std::wstring> typed;
  std::wstring click;
  bool printText = false;
  std::vector<std::wstring> plugins;
};

int Usage() {
  std::fputws(L"usage: siftwell-host.exe [--config-dir D] [--file F] [--after-command NAME]... "
              L"[--type TEXT]... [--click TEXT] [--screenshot OUT.bmp] [--print-text] "
              L"plugin.dll...\n",
              stderr);
  return 1;
}

int Fail(int code, const std::wstring& message) {
  std::fwprintf(stderr, L"siftwell-host: %ls\n", message.c_str());
  return code;
}

// Lets windows show and paint before the next step.
void Settle(HostStandIn& host) {
  host.PumpUntil([] { return false; }, 300);
}

// Puts each plugin window at the top right of the second view.
void MoveOverSecondView(HostStandIn& host, const std::vector<HWND>& windows) {
  RECT view{};
  GetWindowRect(host.View(1), &view);
  for (HWND w : windows) {
    RECT r{};
    GetWindowRect(w, &r);
    const int32_t x = std::max<int32_t>(view.left, view.right - (r.right - r.left) - 8);
    SetWindowPos(w, nullptr, x, view.top + 8, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void PrintText(HostStandIn& host) {
  const std::string text = host.Text(0);
  _setmode(_fileno(stdout), _O_BINARY);  // the bytes as they stand, no CRLF translation
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

HWND PluginWindow(HostStandIn& host) {
  HWND focused = GetFocus();
  HWND root = focused != nullptr ? GetAncestor(focused, GA_ROOT) : nullptr;
  if (root != nullptr && root != host.MainWindow()) return root;
  auto others = siftwell::host::OtherTopLevelWindows(host.MainWindow());
  return others.empty() ? nullptr : others.front();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Arguments args;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    auto value = [&](std::wstring& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::wstring v;
    if (arg == L"--config-dir") {
      if (!value(args.configDir)) return Usage();
    } else if (arg == L"--file") {
      if (!value(args.file)) return Usage();
    } else if (arg == L"--screenshot") {
      if (!value(args.screenshot)) return Usage();
    } else if (arg == L"--after-command") {
      if (!value(v)) return Usage();
      args.commands.push_back(v);
    } else if (arg == L"--type") {
      if (!value(v)) return Usage();
      args.typed.push_back(v);
    } else if (arg == L"--click") {
      if (!value(args.click)) return Usage();
    } else if (arg == L"--print-text") {
      args.printText = true;
    } else if (arg.starts_with(L"--")) {
      return Usage();
    } else {
      args.plugins.push_back(arg);
    }
  }
  if (args.plugins.empty()) return Usage();

  HostOptions options;
  options.configDir = args.configDir.empty()
                          ? (std::filesystem::current_path() / L"plugins" / L"Config").wstring()
                          : std::filesystem::absolute(args.configDir).wstring();
  options.quitOnClose = true;
  HostStandIn host(options);

  for (const auto& plugin : args.plugins) {
    std::wstring error;
    if (!host.LoadPlugin(std::filesystem::absolute(plugin).wstring(), &error)) {
      return Fail(2, error);
    }
  }
  host.Start();

  if (!args.file.empty()) {
    std::ifstream in(std::filesystem::path(args.file), std::ios::binary);
    if (!in) return Fail(2, L"cannot read " + args.file);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    host.SetText(0, bytes);
    host.SetBuffer(0, 1, std::filesystem::absolute(args.file).wstring());
  }
  host.SetActiveView(0);
  Settle(host);

  if (args.screenshot.empty() && args.commands.empty() && !args.printText) {
    host.Run();
    return 0;
  }

  for (const auto& command : args.commands) {
    if (!host.ClickMenuItem(command)) return Fail(3, L"no menu command \"" + command + L"\"");
    Settle(host);
  }
  if (!args.typed.empty() || !args.click.empty()) {
    HWND window = PluginWindow(host);
    if (window == nullptr) return Fail(3, L"no plugin window to type into");
    auto fields = siftwell::host::EditFields(window);
    if (fields.size() < args.typed.size()) return Fail(3, L"the plugin window has too few fields");
    for (size_t i = 0; i < args.typed.size(); ++i) {
      siftwell::host::TypeInto(host, fields[i], args.typed[i]);
    }
    if (!args.click.empty()) {
      HWND button = siftwell::host::FindButton(window, args.click);
      if (button == nullptr) return Fail(3, L"no button \"" + args.click + L"\"");
      SendMessageW(button, BM_CLICK, 0, 0);
    }
    Settle(host);
  }

  if (args.printText) PrintText(host);
  if (args.screenshot.empty()) {
    if (!args.printText) {
      // Stay open with the plugin's windows beside the filtered text.
      auto windows = siftwell::host::OtherTopLevelWindows(host.MainWindow());
      MoveOverSecondView(host, windows);
      host.Run();
    }
    return 0;
  }
  auto windows = siftwell::host::OtherTopLevelWindows(host.MainWindow());
  MoveOverSecondView(host, windows);
  windows.push_back(host.MainWindow());
  for (HWND w : windows) RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Settle(host);
  std::wstring error;
  if (!siftwell::host::SaveScreenshot(windows, args.screenshot, &error)) return Fail(4, error);
  return 0;
}
