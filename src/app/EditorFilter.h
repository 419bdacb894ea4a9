// Keep and Remove applied to the host's active editor view: read the document,
// filter it, write it back as one undoable replacement, and check the write.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "win/CodePage.h"
#include "win/NativeTypes.h"

namespace siftwell::filter {

// What the user is told when a document (or, `ofResult`, a result) could not
// be converted between its code page (as the editor gives it: 0 is the
// system's ANSI code page) and UTF-8.
std::wstring ConversionMessage(ConversionFailure failure, uint32_t codePage, bool ofResult);

enum class Operation { Keep, Remove };
class JobControl;

// One Keep or Remove on one editor view, in three steps, so that the long
// part can run off the UI thread:
//  - made on the UI thread (StartOnView): the view's document is made
//    read-only for the run and its bytes are read where the editor holds them;
//  - Compute, once, on any thread: the matching; it ends early, with nothing
//    to write, when the control asks it to stop;
//  - Commit, on the UI thread: writes the result if the view still shows the
//    same, unchanged document, then checks that the write fully happened and
//    undoes a partial one.
// Destroying it (UI thread) gives the document back its read-only state.
class FilterRun {
 public:
  virtual ~FilterRun() = default;
  virtual void Compute(JobControl& control) = 0;
  // UI thread, while Compute runs: why the result could no longer be written
  // (another document shown, the document made editable or changed), if so.
  // The caller then stops the run.
  virtual std::optional<std::wstring> Check() { return std::nullopt; }
  // UI thread, after Compute: nullopt when the document now holds the result
  // (or nothing was to be done); otherwise the message for the user, and the
  // document is as it was.
  virtual std::optional<std::wstring> Commit() = 0;
};

// The document of one view, exactly its SCI_GETLENGTH bytes (NULs included).
std::string GetDocumentTextBytes(HWND curScintilla);

// A run of `op` on `view` with the window's pattern and delimiter field texts.
// Never null; a run that cannot start (empty pattern, read-only document, a
// delimiter the document's code page cannot hold) computes nothing and its
// Commit gives the reason (none for an empty pattern).
std::unique_ptr<FilterRun> StartOnView(HWND view, Operation op, std::wstring_view pattern,
                                       std::wstring_view delimiterField);
// The same on the host's active view (asked anew at each call).
std::unique_ptr<FilterRun> StartOnCurrentView(Operation op, std::wstring_view pattern,
                                              std::wstring_view delimiterField);

// All three steps on the calling thread. Returns the message to show the user
// when the run could not be done; the document is then untouched.
std::optional<std::wstring> RunOnView(HWND view, Operation op, std::wstring_view pattern,
                                      std::wstring_view delimiterField);
std::optional<std::wstring> RunOnCurrentView(Operation op, std::wstring_view pattern,
                                             std::wstring_view delimiterField);

}  // namespace siftwell::filter
