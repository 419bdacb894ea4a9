// The plugin's filter window: a pattern field, a delimiter field, the two
// buttons that run Keep and Remove on the host's active view, and a status
// line with the live match count, what the last run did or why it failed
// (wrapped, the window grows to show all of it). A run computes off the UI
// thread; one that is not done within a moment shows a progress bar and a
// Cancel button (Escape cancels too; with no run, Escape closes the window)
// until it ends; then the focus is back in the pattern field. Ctrl+Z and
// Ctrl+Y in the window undo and redo in the document. The count computes off
// the UI thread too, about 300 ms after the pattern last changed, and gives up
// after kCountBudgetMs. Both
// follow the pipeline of EditorFilter.h: a copy of the document taken on this
// thread a bounded piece per turn of the message loop, the matching on a
// worker over that copy, the outcome written or shown back on this thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/DocumentSnapshot.h"
#include "app/EditorFilter.h"
#include "app/PatternStore.h"
#include "win/NativeTypes.h"

class frmMyDlg {
 public:
  // Starts one operation with the field texts (on the UI thread); the window
  // computes it on its worker and commits it back on the UI thread. `counted`:
  // the live count's copy of the document, if the window holds one.
  using Runner = std::function<std::unique_ptr<siftwell::app::FilterRun>(
      siftwell::app::Operation op, std::wstring_view pattern, std::wstring_view delimiterField,
      const siftwell::app::RunOptions& options, std::shared_ptr<siftwell::app::DocumentCopy> counted)>;
  // The copy of the document the live count runs over (complete, or still
  // to be taken step by step on the UI thread); `documentChanged` says a copy
  // kept from before is out of date.
  using CountSource = std::function<std::shared_ptr<siftwell::app::DocumentCopy>(bool documentChanged)>;
  // The editor view that Ctrl+Z / Ctrl+Y in the window undo and redo in (may answer null).
  using ActiveView = std::function<HWND()>;

  // A run still going after this long shows its progress and Cancel.
  static constexpr uint32_t kQuietMilliseconds = 300;
  // Quiet time after the last change to the pattern before it is counted.
  static constexpr uint32_t kCountDelayMs = 300;
  // Work one count may take before it gives up (until the pattern or the
  // document changes): a runaway pattern never keeps a core busy while typing.
  static constexpr uint32_t kCountBudgetMs = 1500;

  // Control identifiers, in the order the controls are created.
  enum ControlId : int32_t {
    textBox1 = 1001,  // pattern
    button1,          // "Keep Pattern"
    button2,          // "Everything BUT pattern"
    label1,           // "Regex Pattern:"
    label2,           // "Delimiter:"
    textBox2,         // delimiter
    statusLabel,      // live count, or why the last run failed; hidden while empty
    progressBar,      // share of the document scanned; shown during a long run
    cancelButton,     // "Cancel"; shown during a long run
    wholeLinesBox,    // "Whole lines"
    matchCaseBox,     // "Match case"
    inSelectionBox,   // "In selection"; enabled while the active view has a selection (or it is ticked)
    label3,           // "Output:"
    textBox3,         // Keep's output template; disabled with whole lines
    label4,           // "Result:"
    resultBox,        // where the result goes: This document, New tab, Clipboard
    historyButton,    // the arrow at the right of the pattern field: recent patterns and presets
    highlightBox,     // "Highlight"; disabled (with a tooltip saying why) when the host gives no indicator
    previousButton,   // "Previous": the match before the selection (Shift+F3)
    nextButton,       // "Next": the match after the selection (F3)
    uniqueBox,        // "Unique": Keep writes each distinct output once
    tallyBox,         // "Tally": ... with its count, most frequent first (not with Unique)
    lineNumbersBox,   // "Line numbers": Keep writes each line's number; enabled with whole lines
  };
  // Quiet time after a scroll of the active view before its marks follow.
  static constexpr uint32_t kScrollDelayMs = 60;
  // Work one highlight search may take before it gives up (its marks are cleared).
  static constexpr uint32_t kHighlightBudgetMs = 1000;

  // siftwell::app::StartOnCurrentView.
  static Runner CurrentViewRunner();
  // The host's active view, copied again only after it changed.
  static CountSource CurrentViewSource();
  // The host's active view.
  static ActiveView CurrentView();

  // Where each control goes at a DPI, in client pixels, and the client size
  // (with the progress row shown during a long run: runningHeight), with
  // `status` in the status line (as many lines as it takes).
  struct Placement {
    ControlId id;
    int32_t left, top, right, bottom;
    std::wstring_view text;
  };
  struct Layout {
    int32_t width = 0, height = 0, runningHeight = 0;
    std::vector<Placement> controls;
  };
  static Layout LayoutAt(uint32_t dpi, std::wstring_view status = {});

  // Builds the window, hidden, titled "frmMyDlg", and announces it to `host`
  // (NPPM_MODELESSDIALOG) until it is destroyed. `host` may be null. Null if
  // the window could not be made or `run` is empty. Without `view`, Ctrl+Z and
  // Ctrl+Y in the window reach no document.
  static std::unique_ptr<frmMyDlg> Create(HINSTANCE module, HWND host, Runner run = CurrentViewRunner(),
                                          CountSource source = CurrentViewSource(), ActiveView view = {});
  ~frmMyDlg();  // destroys the window if it is still open
  frmMyDlg(const frmMyDlg&) = delete;
  frmMyDlg& operator=(const frmMyDlg&) = delete;

  HWND Handle() const noexcept;  // null once closed
  bool IsClosed() const noexcept;
  void SetTitle(std::wstring_view title);
  void Show();  // modeless; a visible window stays as it is
  // Shows the window (if hidden), brings it forward and puts the caret in the
  // pattern field with its text selected: for the open command, shortcut and
  // toolbar button, also when the window is already open.
  void Present();
  // Puts the window's top-left corner there, kept on a visible monitor; false
  // when that place is on no monitor (the window stays where it was).
  bool MoveTo(int32_t left, int32_t top);
  // The window's top-left corner now, or where it was when it closed.
  std::pair<int32_t, int32_t> LastPosition() const noexcept;

  std::wstring PatternText() const;
  std::wstring DelimiterText() const;
  // The choices beside the fields (check boxes, template, result target).
  siftwell::app::RunOptions Options() const;
  void SetOptions(const siftwell::app::RunOptions& options);
  // Recent patterns and presets: every run goes to the store's history; Up
  // and Down in the pattern field step through it (Up: older; Down past the
  // newest gives back what was typed, with its delimiter and options); Alt+Down
  // there, or the arrow beside the field, lists it with the presets (choose,
  // save, rename, delete). Without a store, none of this is offered.
  void SetPatternStore(std::shared_ptr<siftwell::app::PatternStore> store);
  // Fills the pattern and delimiter fields and the options.
  void SetFields(const siftwell::app::FieldSet& fields);
  // Opens the list of recent patterns and presets under the pattern field.
  void ShowRecallMenu();
  // Puts a message in the status line (in the error colour when `error`).
  void ShowMessage(const std::wstring& text, bool error);
  std::wstring StatusText() const;  // the live count, what a run did, a failure, or empty
  bool StatusIsError() const noexcept;

  // The buttons' click handlers: run Keep / Remove with the field texts.
  // While a run is in flight they start nothing.
  void button1_Click();
  void button2_Click();

  bool IsRunning() const noexcept;
  // Stops the run in flight, if any; the document stays as it was.
  void CancelRun();
  // Stops the run if its document is no longer the one shown, or was made
  // read-only (for the host's buffer notifications).
  void CheckRun();
  // `view` reported an insertion or deletion: a run on its document stops
  // and writes nothing; the count follows.
  void DocumentEdited(HWND view);

  // The active view's selection may have changed (In selection follows it).
  void SelectionChanged();

  // The host switched between light and dark mode.
  void HostThemeChanged();
  // The document changed, or another one became active: count again.
  void DocumentChanged();
  // Shows `text` in the status line as a count shows a failure (it stays until
  // the pattern or the document changes). False when the window is closed or a
  // run has the status line.
  bool ShowNotice(const std::wstring& text);

  // Highlight: the indicator the host handed out for the matches (none: the
  // host cannot hand one out, Highlight stays off and says so) and the views
  // it is styled in and cleared from (the host's two views).
  void SetHighlightIndicator(std::optional<int32_t> indicator, std::vector<HWND> views);
  std::optional<int32_t> HighlightIndicator() const noexcept;
  // The active view may have scrolled (its marks follow what it shows).
  void ViewScrolled();
  // F3 / Shift+F3: selects the next / previous match in the active view,
  // searched off the UI thread; at the end of the document it goes on from
  // the other end and says so in the status line.
  void FindNext(bool forward);

  class Impl;
  class Key {
    friend class frmMyDlg;
    explicit Key() = default;
  };
  frmMyDlg(Key, std::unique_ptr<Impl> impl);  // for Create only

 private:
  std::unique_ptr<Impl> impl_;
};
