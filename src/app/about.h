// The About window: one line of credits and the plugin's version. It opens
// centred on the host's window; Escape or Enter closes it.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "win/NativeTypes.h"

class about {
 public:
  enum ControlId : int { label1 = 1001, versionLabel = 1002 };

  // Builds the window, hidden, titled "About", and announces it to `host`
  // (NPPM_MODELESSDIALOG) until it is destroyed. `host` may be null. Null if
  // the window could not be made.
  static std::unique_ptr<about> Create(HINSTANCE module, HWND host);
  ~about();  // destroys the window if it is still open
  about(const about&) = delete;
  about& operator=(const about&) = delete;

  HWND Handle() const noexcept;  // null once closed
  bool IsClosed() const noexcept;
  void SetTitle(std::wstring_view title);
  // Modeless; a visible window stays as it is. The first time, centred on the
  // host's window (kept on a visible monitor).
  void Show();
  // The host switched between light and dark mode.
  void HostThemeChanged();

  // The credit line.
  static constexpr std::wstring_view CreditText = L"Siftwell, by the Siftwell developers";
  // The line below it: "Version 1.0.0.39277".
  static std::wstring VersionText();

  class Impl;
  class Key {
    friend class about;
    explicit Key() = default;
  };
  about(Key, std::unique_ptr<Impl> impl);  // for Create only

 private:
  std::unique_ptr<Impl> impl_;
};
