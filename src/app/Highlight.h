// Highlight and stepping to a match (F3 / Shift+F3) in the filter window.
//
// Both follow the pipeline of EditorFilter.h:
//  1. UI thread: the text searched is copied (ShownText::Take: the lines the
//     view shows and a screen above and below, at most kMaxBytes; a step to a
//     match reads the whole document through the count's DocumentCopy).
//  2. Worker thread: the engine searches that copy (FindMarks, FindStep), as
//     it does for Keep, with the window's whole-lines and match-case choices.
//  3. UI thread: the marks are set (ApplyMarks) or the selection moved only
//     while the view still shows that document with those bytes there.
// Marks use one indicator the host handed to the plugin (NPPM_ALLOCATEINDICATOR);
// with none (a host before that message) nothing is ever marked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/PatternFilter.h"
#include "win/NativeTypes.h"

namespace siftwell::app {

// The plugin is built on the engine below it: its names are used unqualified here.
using namespace siftwell::engine;

// The text around what a view shows, copied on the UI thread.
struct ShownText {
  // A very long line is cut here (around the lines shown): a search never
  // reads more than this per scroll, whatever the document's size.
  static constexpr intptr_t kMaxBytes = intptr_t{1} << 20;
  HWND view = nullptr;
  intptr_t document = 0;  // SCI_GETDOCPOINTER
  intptr_t from = 0;      // the document position of bytes[0], a line start unless the line was cut
  intptr_t firstLine = 0, linesOnScreen = 0;  // what the view showed
  std::string bytes;
  bool utf8 = true;  // the view's code page is UTF-8

  // From the start of the line a screen above the first line shown to the end
  // of the line a screen below the last. Null for no view.
  static std::shared_ptr<const ShownText> Take(HWND view);
  // The view shows the same lines of the same document as when taken (a
  // scroll, another document, a resize: no).
  static bool Shows(HWND view, intptr_t document, intptr_t firstLine, intptr_t linesOnScreen);
  bool StillShown() const { return Shows(view, document, firstLine, linesOnScreen); }
};

// Document positions [start, end) of matches.
using Ranges = std::vector<std::pair<intptr_t, intptr_t>>;

struct Marks {
  Ranges ranges;                     // in the document's positions
  std::optional<FilterError> error;  // the pattern was rejected, or the search failed
  bool stopped = false;              // asked to stop, or out of time: nothing to show
};

// Worker thread: every non-empty match of `pattern` (UTF-8) in `text`, as
// Keep finds it; with whole lines, each selected line. A document whose code
// page is not UTF-8 is marked where the text shown is ASCII only (else no marks).
// `stop` is asked now and then.
Marks FindMarks(const ShownText& text, std::string_view pattern, const CompileOptions& options,
                const std::function<bool()>& stop);

// UI thread: marks `marks` in the view, after clearing the indicator from the
// whole document; false (and nothing changed) when the view no longer shows
// that document or its bytes there differ from the copy.
bool ApplyMarks(const ShownText& text, const Ranges& marks, int32_t indicator);
// UI thread: the indicator off the whole document the view shows.
void ClearMarks(HWND view, int32_t indicator);
// UI thread: the indicator's look in `view`: a rounded box under the text, in
// a colour chosen for the view's background (light or dark).
void StyleMarks(HWND view, int32_t indicator);

// The document the marks were last set in (UI thread). It is held
// (SCI_ADDREFDOCUMENT) so that its marks can still be cleared once no view
// shows it (another tab is shown, or the host closed it), through a view of
// our own that shows it for the moment; then it is let go.
class MarkedDocument {
 public:
  MarkedDocument() = default;
  MarkedDocument(const MarkedDocument&) = delete;
  MarkedDocument& operator=(const MarkedDocument&) = delete;
  ~MarkedDocument() { Let(); }
  // Marks are now in the document `view` shows; one held before is cleared
  // (wherever it is) and let go.
  void Hold(HWND view, int32_t indicator);
  // The held document's marks cleared, and the document let go.
  void Clear(int32_t indicator);
  intptr_t Document() const noexcept { return document_; }

 private:
  void Let();
  HWND view_ = nullptr;  // a view that held it (the host's views live as long as the host)
  intptr_t document_ = 0;
};

// Worker thread: the match to step to from the selection [selStart, selEnd)
// of `text` (the whole document): forward, the first match starting at or
// after selEnd; backward, the last match starting before selStart. `wrapped` says it came
// from the other end of the document. Nullopt: no match at all, or `error`.
struct Step {
  std::optional<std::pair<std::size_t, std::size_t>> match;
  bool wrapped = false;
  std::optional<FilterError> error;
  bool stopped = false;
};
Step FindStep(std::string_view text, bool utf8, std::string_view pattern, const CompileOptions& options,
              std::size_t selStart, std::size_t selEnd, bool forward, const std::function<bool()>& stop);

}  // namespace siftwell::app
