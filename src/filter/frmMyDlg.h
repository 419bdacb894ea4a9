// The plugin's filter window: a pattern field, a delimiter field, and the two
// buttons that run Keep and Remove on the host's active view. A run computes
// off the UI thread; one that is not done within a moment shows a progress bar
// and a Cancel button (Escape cancels too) until it ends.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "filter/EditorFilter.h"
#include "host/NativeTypes.h"

class frmMyDlg {
 public:
  // Starts one operation with the field texts (on the UI thread); the window
  // computes it on its worker and commits it back on the UI thread.
  using Runner = std::function<std::unique_ptr<siftwell::filter::FilterRun>(
      siftwell::filter::Operation op, std::wstring_view pattern, std::wstring_view delimiterField)>;

  // A run still going after this long shows its progress and Cancel.
  static constexpr uint32_t kQuietMilliseconds = 300;

  // Control identifiers, in the order the controls are created.
  enum ControlId : int32_t {
    textBox1 = 1001,  // pattern
    button1,          // "Keep Pattern"
    button2,          // "Everything BUT pattern"
    label1,           // "Regex Pattern:"
    label2,           // "Delimiter:"
    textBox2,         // delimiter
    statusLabel,      // why the last run failed; hidden while empty
    progressBar,      // share of the document scanned; shown during a long run
    cancelButton,     // "Cancel"; shown during a long run
  };

  // siftwell::filter::StartOnCurrentView.
  static Runner CurrentViewRunner();

  // Builds the window, hidden, titled "frmMyDlg", and announces it to `host`
  // (NPPM_MODELESSDIALOG) until it is destroyed. `host` may be null. Null if
  // the window could not be made or `run` is empty.
  static std::unique_ptr<frmMyDlg> Create(HINSTANCE module, HWND host, Runner run = CurrentViewRunner());
  ~frmMyDlg();  // destroys the window if it is still open
  frmMyDlg(const frmMyDlg&) = delete;
  frmMyDlg& operator=(const frmMyDlg&) = delete;

  HWND Handle() const noexcept;  // null once closed
  bool IsClosed() const noexcept;
  void SetTitle(std::wstring_view title);
  void Show();  // modeless; a visible window stays as it is

  std::wstring PatternText() const;
  std::wstring DelimiterText() const;
  std::wstring StatusText() const;  // empty unless the last run failed

  // The buttons' click handlers: run Keep / Remove with the field texts.
  // While a run is in flight they start nothing.
  void button1_Click();
  void button2_Click();

  bool IsRunning() const noexcept;
  // Stops the run in flight, if any; the document stays as it was.
  void CancelRun();
  // Stops the run if its document is no longer the one shown, or was made
  // editable (for the host's buffer notifications).
  void CheckRun();

  class Impl;
  class Key {
    friend class frmMyDlg;
    explicit Key() = default;
  };
  frmMyDlg(Key, std::unique_ptr<Impl> impl);  // for Create only

 private:
  std::unique_ptr<Impl> impl_;
};
