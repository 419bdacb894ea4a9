// Time to result and peak memory of one Keep or Remove in the host stand-in,
// one configuration per process (peak figures cannot be reset):
//
//   plugin_bench.exe keep|remove[-lines] PATTERN SIZE_MB (PLUGIN.dll | --editor-only)
//
// (-lines: the window's "Whole lines" ticked; with the plugin only.)
// The document is a generated log of SIZE_MB MiB, loaded into the main view
// without undo history and without a second copy. With a plugin, its filter
// window runs the operation (clicked like a user would) and the time runs from
// the click until the view holds the result. With --editor-only the same
// result is computed beforehand and written by the host itself (SCI_SETTEXT):
// what the editor alone needs for the new document and its undo history.
// Prints one line of key=value pairs; memory from GetProcessMemoryInfo.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "Automation.h"
#include "HostStandIn.h"
#include "engine/PatternFilter.h"
#include "npp/SciMsg.h"

namespace {

LRESULT Sci(HWND view, SciMsg msg, WPARAM wParam = 0, LPARAM lParam = 0) {
  return SendMessageW(view, static_cast<UINT>(msg), wParam, lParam);
}

// Log lines with timestamps, levels, names and numbers; ASCII, CR LF.
void LoadLog(HWND view, std::size_t bytes) {
  static const char* const kUsers[] = {"alice", "bob", "carol", "dave", "erin", "frank"};
  static const char* const kLevels[] = {"INFO", "WARN", "DEBUG", "ERROR"};
  Sci(view, SciMsg::SCI_SETUNDOCOLLECTION, 0);
  Sci(view, SciMsg::SCI_CLEARALL);
  Sci(view, SciMsg::SCI_ALLOCATE, bytes + 256);  // no growth by copying
  std::string chunk;
  std::size_t written = 0;
  for (uint32_t n = 0; written < bytes; ++n) {
    char line[160];
    const int length = std::snprintf(line, sizeof line,
                                     "2026-12-07T%02u:%02u:%02u.%03u %-5s user=%s id=%u request served in %u ms\r\n",
                                     n / 3600 % 24, n / 60 % 60, n % 60, n % 1000, kLevels[n % 4], kUsers[n % 6],
                                     n * 7919u % 1000000u, n % 997u);
    chunk.append(line, static_cast<std::size_t>(length));
    if (chunk.size() >= (1u << 20) || written + chunk.size() >= bytes) {
      const std::size_t take = std::min(chunk.size(), bytes - written);
      Sci(view, SciMsg::SCI_APPENDTEXT, take, reinterpret_cast<LPARAM>(chunk.data()));
      written += take;
      chunk.clear();
    }
  }
  Sci(view, SciMsg::SCI_SETUNDOCOLLECTION, 1);
  Sci(view, SciMsg::SCI_EMPTYUNDOBUFFER);
  Sci(view, SciMsg::SCI_SETSAVEPOINT);
}

PROCESS_MEMORY_COUNTERS Memory() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
  return counters;
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

int Usage() {
  std::fputs("usage: plugin_bench keep|remove[-lines] PATTERN SIZE_MB (PLUGIN.dll | --editor-only)\n", stderr);
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) return Usage();
  std::wstring op = argv[1];
  const bool lines = op.size() > 6 && op.ends_with(L"-lines");
  if (lines) op.resize(op.size() - 6);
  const std::wstring pattern = argv[2];
  const std::size_t megabytes = static_cast<std::size_t>(_wtoi(argv[3]));
  const std::wstring plugin = argv[4];
  const bool keep = op == L"keep";
  if ((!keep && op != L"remove") || megabytes == 0) return Usage();
  const bool editorOnly = plugin == L"--editor-only";
  if (lines && editorOnly) return Usage();

  siftwell::host::HostStandIn host;
  if (!editorOnly) {
    std::wstring error;
    if (!host.LoadPlugin(plugin, &error)) {
      std::fwprintf(stderr, L"%ls\n", error.c_str());
      return 2;
    }
  }
  host.Start();
  HWND view = host.View(0);
  LoadLog(view, megabytes << 20);
  const auto documentBytes = static_cast<std::size_t>(Sci(view, SciMsg::SCI_GETLENGTH));

  HWND keepButton = nullptr, removeButton = nullptr;
  std::string result;
  if (editorOnly) {
    const std::string patternUtf8(pattern.begin(), pattern.end());  // ASCII patterns only
    const std::string_view text(reinterpret_cast<const char*>(Sci(view, SciMsg::SCI_GETCHARACTERPOINTER)),
                                documentBytes);
    auto filtered = keep ? siftwell::engine::Keep(text, patternUtf8, "\r\n") : siftwell::engine::Remove(text, patternUtf8);
    if (!filtered.ok) return 3;
    result = std::move(filtered.text);
  } else {
    host.ClickMenuItem(L"Open Siftwell");
    host.PumpUntil([] { return false; }, 300);
    auto windows = siftwell::host::OtherTopLevelWindows(host.MainWindow());
    if (windows.empty()) return 3;
    auto fields = siftwell::host::EditFields(windows.front());
    if (fields.empty()) return 3;
    siftwell::host::TypeInto(host, fields.front(), pattern);
    keepButton = siftwell::host::FindButton(windows.front(), L"Keep Pattern");
    removeButton = siftwell::host::FindButton(windows.front(), L"Everything BUT pattern");
    if (keepButton == nullptr || removeButton == nullptr) return 3;
    if (lines) {
      HWND box = siftwell::host::FindButton(windows.front(), L"Whole lines");
      if (box == nullptr) return 3;
      SendMessageW(box, BM_CLICK, 0, 0);
    }
  }
  host.Pump();
  const PROCESS_MEMORY_COUNTERS before = Memory();

  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  if (editorOnly) {
    Sci(view, SciMsg::SCI_SETTEXT, 0, reinterpret_cast<LPARAM>(result.c_str()));
  } else {
    SendMessageW(keep ? keepButton : removeButton, BM_CLICK, 0, 0);
    host.PumpUntil([&] { return static_cast<std::size_t>(Sci(view, SciMsg::SCI_GETLENGTH)) != documentBytes; },
                   600000);
  }
  QueryPerformanceCounter(&end);
  // Let the views repaint the new text, in every mode alike, before the peak is read.
  host.PumpUntil([] { return false; }, 500);
  const PROCESS_MEMORY_COUNTERS after = Memory();
  const auto resultBytes = static_cast<std::size_t>(Sci(view, SciMsg::SCI_GETLENGTH));

  std::printf("op=%s mb=%zu mode=%s seconds=%.3f document=%zu result=%zu ws_before=%zu peak_ws=%zu "
              "commit_before=%zu peak_commit=%zu\n",
              keep ? "keep" : "remove", megabytes, editorOnly ? "editor" : "plugin", Seconds(start, end),
              documentBytes, resultBytes, static_cast<std::size_t>(before.WorkingSetSize),
              static_cast<std::size_t>(after.PeakWorkingSetSize), static_cast<std::size_t>(before.PagefileUsage),
              static_cast<std::size_t>(after.PeakPagefileUsage));
  std::fflush(stdout);
  return 0;
}
