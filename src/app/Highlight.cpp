#include "app/Highlight.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "npp/Tables.h"
#include "npp/Win32.h"
#include "win/ByteScan.h"

namespace siftwell::app {
namespace {

intptr_t Sci(HWND view, SciMsg msg, intptr_t wParam = 0, intptr_t lParam = 0) {
  return Win32::SendMessage(view, static_cast<uint32_t>(msg), wParam, lParam);
}

bool Ascii(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Progress answers "go on" while `stop` says so.
class StopWatch : public ResultSink {
 public:
  explicit StopWatch(const std::function<bool()>& stop) : stop_(stop) {}
  bool Piece(std::string_view) override { return false; }
  bool Progress(std::size_t) override { return !(stop_ && stop_()); }

 private:
  const std::function<bool()>& stop_;
};

// The pattern compiled for a search that reports where matches stand (no
// Keep output: the template and the Keep modes play no part).
Compilation CompileForSearch(std::string_view pattern, const CompileOptions& options) {
  CompileOptions searching = options;
  searching.keepTemplate.clear();
  searching.keepMode = CompileOptions::KeepMode::All;
  searching.lineNumbers = false;
  return Compile(pattern, searching);
}

}  // namespace

std::shared_ptr<const ShownText> ShownText::Take(HWND view) {
  if (view == nullptr || !IsWindow(view)) return nullptr;
  auto text = std::make_shared<ShownText>();
  text->view = view;
  text->document = Sci(view, SciMsg::SCI_GETDOCPOINTER);
  text->utf8 = Sci(view, SciMsg::SCI_GETCODEPAGE) == static_cast<intptr_t>(SciMsg::SC_CP_UTF8);
  text->firstLine = Sci(view, SciMsg::SCI_GETFIRSTVISIBLELINE);
  text->linesOnScreen = std::max<intptr_t>(1, Sci(view, SciMsg::SCI_LINESONSCREEN));
  const intptr_t lines = Sci(view, SciMsg::SCI_GETLINECOUNT);
  const intptr_t length = Sci(view, SciMsg::SCI_GETLENGTH);
  // Display lines (wrapping, folding) to document lines.
  const intptr_t top = Sci(view, SciMsg::SCI_DOCLINEFROMVISIBLE, text->firstLine);
  const intptr_t bottom = Sci(view, SciMsg::SCI_DOCLINEFROMVISIBLE, text->firstLine + text->linesOnScreen);
  const intptr_t firstLine = std::max<intptr_t>(0, top - text->linesOnScreen);
  const intptr_t lastLine = std::min<intptr_t>(std::max<intptr_t>(0, lines - 1), bottom + text->linesOnScreen);
  intptr_t from = Sci(view, SciMsg::SCI_POSITIONFROMLINE, firstLine);
  intptr_t to = Sci(view, SciMsg::SCI_GETLINEENDPOSITION, lastLine);
  if (from < 0 || to < from || to > length) return nullptr;
  if (to - from > kMaxBytes) {
    // Lines too long to search whole: a window around the first line shown.
    const intptr_t shown = std::clamp<intptr_t>(Sci(view, SciMsg::SCI_POSITIONFROMLINE, top), from, to);
    from = std::max(from, shown - kMaxBytes / 4);
    to = std::min(to, from + kMaxBytes);
  }
  text->from = from;
  if (to > from) {
    const auto* bytes =
        reinterpret_cast<const char*>(Sci(view, SciMsg::SCI_GETRANGEPOINTER, from, to - from));
    if (bytes == nullptr) return nullptr;
    text->bytes.assign(bytes, static_cast<std::size_t>(to - from));
  }
  return text;
}

bool ShownText::Shows(HWND view, intptr_t document, intptr_t firstLine, intptr_t linesOnScreen) {
  return view != nullptr && IsWindow(view) && Sci(view, SciMsg::SCI_GETDOCPOINTER) == document &&
         Sci(view, SciMsg::SCI_GETFIRSTVISIBLELINE) == firstLine &&
         std::max<intptr_t>(1, Sci(view, SciMsg::SCI_LINESONSCREEN)) == linesOnScreen;
}

Marks FindMarks(const ShownText& text, std::string_view pattern, const CompileOptions& options,
                const std::function<bool()>& stop) {
  Marks marks;
  try {
    Compilation compiled = CompileForSearch(pattern, options);
    if (compiled.error) {
      marks.error = std::move(compiled.error);
      return marks;
    }
    if (IsEmpty(*compiled.pattern) || (!text.utf8 && !Ascii(text.bytes))) return marks;
    StopWatch watch(stop);
    auto err = MatchesTo(text.bytes, *compiled.pattern, MatchLimits{}, watch, [&](std::size_t s, std::size_t e) {
      if (e > s) marks.ranges.emplace_back(text.from + static_cast<intptr_t>(s), text.from + static_cast<intptr_t>(e));
      return true;
    });
    if (err && err->kind == FilterError::Kind::Stopped) marks.stopped = true;
    else if (err) marks.error = std::move(err);
  } catch (const std::bad_alloc&) {
    marks.stopped = true;
  }
  if (marks.stopped || marks.error) marks.ranges.clear();
  return marks;
}

bool ApplyMarks(const ShownText& text, const Ranges& marks, int32_t indicator) {
  HWND view = text.view;
  if (view == nullptr || !IsWindow(view) || Sci(view, SciMsg::SCI_GETDOCPOINTER) != text.document) return false;
  const auto size = static_cast<intptr_t>(text.bytes.size());
  if (text.from + size > Sci(view, SciMsg::SCI_GETLENGTH)) return false;
  if (size > 0) {
    const auto* now = reinterpret_cast<const char*>(Sci(view, SciMsg::SCI_GETRANGEPOINTER, text.from, size));
    if (now == nullptr || !siftwell::win::SameBytes(now, text.bytes.data(), text.bytes.size())) return false;
  }
  ClearMarks(view, indicator);
  Sci(view, SciMsg::SCI_SETINDICATORCURRENT, indicator);
  for (const auto& [start, end] : marks) Sci(view, SciMsg::SCI_INDICATORFILLRANGE, start, end - start);
  return true;
}

void ClearMarks(HWND view, int32_t indicator) {
  if (view == nullptr || !IsWindow(view)) return;
  Sci(view, SciMsg::SCI_SETINDICATORCURRENT, indicator);
  Sci(view, SciMsg::SCI_INDICATORCLEARRANGE, 0, Sci(view, SciMsg::SCI_GETLENGTH));
}

void StyleMarks(HWND view, int32_t indicator) {
  if (view == nullptr || !IsWindow(view)) return;
  const auto back = static_cast<COLORREF>(Sci(view, SciMsg::SCI_STYLEGETBACK, static_cast<intptr_t>(SciMsg::STYLE_DEFAULT)));
  const int32_t luma = (GetRValue(back) * 299 + GetGValue(back) * 587 + GetBValue(back) * 114) / 1000;
  const bool dark = luma < 128;
  // Light: amber, as a marker pen; dark: a teal that keeps light text readable.
  const COLORREF fill = dark ? RGB(0x2E, 0xA8, 0xB8) : RGB(0xFF, 0xB3, 0x00);
  Sci(view, SciMsg::SCI_INDICSETSTYLE, indicator, static_cast<intptr_t>(SciMsg::INDIC_ROUNDBOX));
  Sci(view, SciMsg::SCI_INDICSETFORE, indicator, static_cast<intptr_t>(fill));
  Sci(view, SciMsg::SCI_INDICSETALPHA, indicator, dark ? 110 : 100);
  Sci(view, SciMsg::SCI_INDICSETOUTLINEALPHA, indicator, dark ? 200 : 180);
  Sci(view, SciMsg::SCI_INDICSETUNDER, indicator, 1);
}

void MarkedDocument::Hold(HWND view, int32_t indicator) {
  const intptr_t document = view != nullptr && IsWindow(view) ? Sci(view, SciMsg::SCI_GETDOCPOINTER) : 0;
  if (document == document_) return;
  Clear(indicator);
  if (document == 0) return;
  Sci(view, SciMsg::SCI_ADDREFDOCUMENT, 0, document);
  view_ = view;
  document_ = document;
}

void MarkedDocument::Clear(int32_t indicator) {
  if (document_ == 0) return;
  if (view_ != nullptr && IsWindow(view_) && Sci(view_, SciMsg::SCI_GETDOCPOINTER) == document_) {
    ClearMarks(view_, indicator);
  } else {
    // A view of our own shows it for the moment (Scintilla's class is global to the process).
    HWND scratch = CreateWindowExW(0, L"Scintilla", L"", WS_CHILD, 0, 0, 1, 1, HWND_MESSAGE, nullptr,
                                   GetModuleHandleW(nullptr), nullptr);
    if (scratch != nullptr) {
      Sci(scratch, SciMsg::SCI_SETDOCPOINTER, 0, document_);
      ClearMarks(scratch, indicator);
      Sci(scratch, SciMsg::SCI_SETDOCPOINTER, 0, 0);
      DestroyWindow(scratch);
    }
  }
  Let();
}

void MarkedDocument::Let() {
  if (document_ != 0 && view_ != nullptr && IsWindow(view_)) Sci(view_, SciMsg::SCI_RELEASEDOCUMENT, 0, document_);
  view_ = nullptr;
  document_ = 0;
}

Step FindStep(std::string_view text, bool utf8, std::string_view pattern, const CompileOptions& options,
              std::size_t selStart, std::size_t selEnd, bool forward, const std::function<bool()>& stop) {
  Step step;
  try {
    Compilation compiled = CompileForSearch(pattern, options);
    if (compiled.error) {
      step.error = std::move(compiled.error);
      return step;
    }
    if (IsEmpty(*compiled.pattern) || (!utf8 && !Ascii(text))) return step;
    std::optional<std::pair<std::size_t, std::size_t>> first, last, found;
    StopWatch watch(stop);
    auto err = MatchesTo(text, *compiled.pattern, MatchLimits{}, watch, [&](std::size_t s, std::size_t e) {
      if (e == s) return true;
      if (!first) first = {s, e};
      if (forward && s >= selEnd) {
        found = {s, e};
        return false;  // the one wanted: no need to read further
      }
      if (!forward && s < selStart) found = {s, e};
      last = {s, e};
      return true;
    });
    if (err && err->kind == FilterError::Kind::Stopped && !(forward && found)) {
      step.stopped = true;
      return step;
    }
    if (err && err->kind != FilterError::Kind::Stopped) {
      step.error = std::move(err);
      return step;
    }
    step.match = found;
    if (!found) {
      step.match = forward ? first : last;
      step.wrapped = step.match.has_value();
    }
  } catch (const std::bad_alloc&) {
    step.stopped = true;
  }
  return step;
}

}  // namespace siftwell::app
