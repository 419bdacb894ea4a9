// Siftwell.dll loaded by the host stand-in, with a settings folder of its own
// (root/plugins/Config, so the host's config.xml lies at root), and the steps the
// tests take in the plugin's windows.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Automation.h"
#include "HostStandIn.h"
#include "PluginPath.h"

namespace e2e {

namespace fs = std::filesystem;
using siftwell::host::HostOptions;
using siftwell::host::HostStandIn;

// The filter window's controls.
constexpr int kPattern = 1001, kKeep = 1002, kRemove = 1003, kDelimiter = 1006, kStatus = 1007, kProgress = 1008,
              kCancel = 1009, kWholeLines = 1010, kMatchCase = 1011, kInSelection = 1012, kOutput = 1014,
              kResult = 1016;

inline std::wstring WindowText(HWND hwnd) {
  wchar_t buffer[512] = {};
  GetWindowTextW(hwnd, buffer, 512);
  return buffer;
}

inline std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

class PluginHost : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    root_ = fs::path(temp) / (L"siftwell-e2e-" + std::to_wstring(GetCurrentProcessId()));
    configDir_ = root_ / L"plugins" / L"Config";
    fs::remove_all(root_);
  }
  void TearDown() override {
    host_.reset();
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  HostStandIn& Start(HostOptions options = {}) {
    host_.reset();
    options.configDir = configDir_.wstring();
    host_ = std::make_unique<HostStandIn>(options);
    std::wstring error;
    EXPECT_TRUE(host_->LoadPlugin(PluginPath(), &error)) << Narrow(error);
    host_->Start();
    host_->Pump();
    return *host_;
  }

  // Every visible top-level window of this thread with that exact title.
  std::vector<HWND> WindowsTitled(std::wstring_view title) {
    std::vector<HWND> found;
    for (HWND w : siftwell::host::OtherTopLevelWindows(host_->MainWindow()))
      if (WindowText(w) == title) found.push_back(w);
    return found;
  }
  // The first window with that title once the host loop has shown it (null if none comes).
  HWND Titled(std::wstring_view title) {
    HWND found = nullptr;
    host_->PumpUntil([&] {
      const auto windows = WindowsTitled(title);
      found = windows.empty() ? nullptr : windows.front();
      return found != nullptr;
    });
    return found;
  }
  HWND OpenFilterWindow() {
    EXPECT_TRUE(host_->ClickMenuItem(L"Open Siftwell"));
    return Titled(L"Siftwell");
  }
  void Close(HWND window) {
    PostMessageW(window, WM_CLOSE, 0, 0);
    host_->PumpUntil([&] { return !IsWindow(window); });
  }
  void Click(HWND window, int id) {
    SendMessageW(GetDlgItem(window, id), BM_CLICK, 0, 0);
    host_->Pump();
  }
  void Type(HWND window, int id, std::wstring_view text) {
    siftwell::host::TypeInto(*host_, GetDlgItem(window, id), text);
  }
  std::wstring Field(HWND window, int id) { return WindowText(GetDlgItem(window, id)); }
  int Count(UINT msg) {
    int n = 0;
    for (const auto& m : host_->MessageLog()) n += m.msg == msg ? 1 : 0;
    return n;
  }

  fs::path root_, configDir_;
  std::unique_ptr<HostStandIn> host_;
};

}  // namespace e2e
