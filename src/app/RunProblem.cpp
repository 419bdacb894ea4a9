#include "app/RunProblem.h"
#include "app/ErrorText.h"

#include <windows.h>

namespace siftwell::app {
namespace {

std::wstring Number(uint64_t n) { return std::to_wstring(n); }

// 12 345 with a no-break space between the groups, as the live count writes it.
std::wstring Grouped(uint64_t n) {
  const std::wstring digits = std::to_wstring(n);
  std::wstring grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += L'\u00A0';
    grouped += digits[i];
  }
  return grouped;
}

std::wstring Matches(uint64_t n) { return Grouped(n) + (n == 1 ? L" match" : L" matches"); }

// 3.2 MB, 14 KB, 12 bytes.
std::wstring Size(uint64_t bytes) {
  if (bytes >= (uint64_t{1} << 20) && bytes < (uint64_t{10} << 20)) {
    const uint64_t tenths = (bytes * 10 + (uint64_t{1} << 19)) >> 20;
    return Number(tenths / 10) + L"." + Number(tenths % 10) + L" MB";
  }
  if (bytes >= (uint64_t{10} << 20)) return Number(bytes >> 20) + L" MB";
  if (bytes >= (uint64_t{10} << 10)) return Number(bytes >> 10) + L" KB";
  return Number(bytes) + L" bytes";
}

constexpr wchar_t kUnchanged[] = L" Nothing was written; the document is as it was.";

}  // namespace

std::wstring EngineErrorText(const FilterError& error) { return siftwell::app::ErrorText(error); }

std::wstring ConversionMessage(ConversionFailure failure, uint32_t codePage, bool ofResult) {
  switch (failure) {
    case ConversionFailure::NotRepresentable:
      return ofResult ? L"The result holds characters that this document's code page (" + Number(codePage) +
                            L") cannot hold. Nothing was changed."
                      : L"This document holds bytes that its code page (" + Number(codePage) +
                            L") cannot represent, so filtering it could change text you did not match. "
                            L"Nothing was changed.";
    case ConversionFailure::TooLarge:
      return L"This document is too large to convert from its code page (" + Number(codePage) +
             L"). Nothing was changed.";
    case ConversionFailure::Stopped:
      return L"Stopped. The document is unchanged.";
    default:
      return L"The text could not be converted between this document's code page (" + Number(codePage) +
             L") and Unicode. Nothing was changed.";
  }
}

std::wstring Words(const RunProblem& p) {
  using Kind = RunProblem::Kind;
  switch (p.kind) {
    case Kind::BrokenPattern:
      return L"The pattern holds a broken character (a lone surrogate). Nothing was changed.";
    case Kind::BrokenTemplate:
      return L"The output template holds a broken character (a lone surrogate). Nothing was changed.";
    case Kind::NoSelection:
      return L"In selection is ticked but nothing is selected. Select the text to filter, or clear In selection; "
             L"nothing was changed.";
    case Kind::SelectionNotPlain:
      return L"In selection works on one ordinary selection, not a rectangular or multiple one. Nothing was changed.";
    case Kind::NoNewTab:
      return L"Notepad++ did not open a new tab for the result. Nothing was changed.";
    case Kind::ClipboardFailed:
      return L"The result could not be put on the clipboard (another program may hold it). The document is "
             L"unchanged.";
    case Kind::ClipboardNul:
      return L"The result holds NUL characters, which text on the clipboard cannot carry (it would end at the "
             L"first one). Nothing was copied; the document is unchanged.";
    case Kind::BrokenDelimiter:
      return L"The delimiter holds a broken character (a lone surrogate). Nothing was changed.";
    case Kind::NoView:
      return L"There is no editor view to filter. Nothing was changed.";
    case Kind::ReadOnly:
      return L"This document is read-only. Make it editable to filter it; nothing was changed.";
    case Kind::DelimiterNotInCodePage:
      return L"The delimiter holds characters that this document's code page (" + Number(p.codePage) +
             L") cannot hold: " + p.characters + L". Nothing was changed.";
    case Kind::Conversion:
      if (p.counting && p.conversion == ConversionFailure::NotRepresentable)
        return L"This document holds bytes that its code page (" + Number(p.codePage) +
               L") cannot represent; Keep and Remove refuse it, and its matches are not counted.";
      if (p.counting)
        return L"The matches cannot be counted: the text could not be converted from this document's code page (" +
               Number(p.codePage) + L").";
      return ConversionMessage(p.conversion, p.codePage, p.ofResult);
    case Kind::Engine:
      if (p.engine) return siftwell::app::ErrorText(*p.engine, p.counting);
      return L"The pattern could not be run. Nothing was changed.";
    case Kind::NoMemory:
      if (p.counting) return L"Not enough memory to count the matches.";
      return L"Not enough memory for this operation. The document is unchanged.";
    case Kind::CountTooSlow: {
      const std::wstring seconds = Number(p.budgetMs / 1000) + L"." + Number(p.budgetMs % 1000 / 100) + L" s";
      if (p.matches > 0)
        return L"At least " + Matches(p.matches) + L" so far; the count stopped after " + seconds +
               L". Keep and Remove still work, with Cancel.";
      return L"Too slow to count while typing (stopped after " + seconds +
             L"). Keep and Remove still work, with Cancel.";
    }
    case Kind::NoWorker:
      return L"The run could not be started (no worker thread could be had). Nothing was changed.";
    case Kind::Stopped:
      return L"Stopped. The document is unchanged.";
    case Kind::Failed:
      return L"The operation failed. The document is unchanged.";
    case Kind::ViewClosed:
      return std::wstring(L"The editor view was closed during the run.") + kUnchanged;
    case Kind::OtherDocument:
      return std::wstring(L"Another document was shown in the editor during the run.") + kUnchanged;
    case Kind::Edited:
      return L"The document changed during the run; nothing was written.";
    case Kind::Reloaded:
      return std::wstring(L"The document's text was replaced during the run (reloaded, say).") + kUnchanged;
    case Kind::MadeReadOnly:
      return std::wstring(L"The document was made read-only during the run.") + kUnchanged;
    case Kind::EditorCannotHold:
      return L"The editor cannot hold the result (" + Size(p.resultBytes) +
             (p.editorOutOfMemory ? L": it ran out of memory)." : L").") + kUnchanged;
    case Kind::WriteFailedRestored:
      return L"The editor failed while writing the result (" + Size(p.resultBytes) +
             (p.editorOutOfMemory ? L", out of memory" : L"") +
             L"). The document was put back exactly as it was, but its undo history was cleared.";
    case Kind::WriteFailedNotRestored:
      return L"The editor failed while writing the result (" + Size(p.resultBytes) +
             (p.editorOutOfMemory ? L", out of memory" : L"") +
             L") and now refuses changes to this document, so its text could not be put back. " +
             (p.recoveryFile.empty() ? std::wstring(L"")
                                     : L"The original text is kept in " + p.recoveryFile + L". ") +
             L"Do not save this document; close it without saving and reopen the file.";
  }
  return L"The operation failed. The document is unchanged.";
}

std::wstring DescribeLines(uint64_t lines) {
  if (lines == 0) return L"no line";
  return Grouped(lines) + (lines == 1 ? L" line" : L" lines");
}

std::wstring Words(const RunOutcome& o) {
  std::wstring what = o.lines ? Grouped(o.matches) + (o.matches == 1 ? L" line" : L" lines") : Matches(o.matches);
  std::wstring of = o.lines ? L" of " + Grouped(o.totalLines) : std::wstring();
  // Unique and Tally: "12 distinct values (345 matches)", "3 distinct lines with their counts (9 lines of 20)".
  if (o.distinct && o.keep && o.matches > 0) {
    what = Grouped(*o.distinct) + L" distinct " +
           (o.lines ? (*o.distinct == 1 ? L"line" : L"lines") : (*o.distinct == 1 ? L"value" : L"values")) +
           (o.tally ? (*o.distinct == 1 ? L" with its count" : L" with their counts") : L"") + L" (" + what + of + L")";
    of.clear();
  }
  const std::wstring where = o.inSelection ? L" in the selection" : L"";
  std::wstring words;
  if (o.target == 2) {
    words = L"Copied " + Size(o.resultBytes) + L" to the clipboard (" + (o.keep ? L"kept " : L"removed ") + what +
            of + where + L"); the document is unchanged.";
  } else if (o.target == 1) {
    words = (o.keep ? L"Kept " : L"Removed ") + what + of + where + L" into a new tab; the document is unchanged.";
    if (o.jumpBack) words += L" Double-click a line there to go to it in the document.";
  } else if (!o.keep && o.matches == 0) {
    return L"no match";  // the document is as it was
  } else if (!o.keep) {
    words = L"Removed " + what + of + where + L" \u2014 Ctrl+Z to undo";
  } else if (o.documentEmpty && !o.inSelection) {
    words = L"Kept 0 " + std::wstring(o.lines ? L"lines" : L"matches") + of + L": the document is now empty \u2014 Ctrl+Z to undo";
  } else {
    words = L"Kept " + what + of + where + L" \u2014 Ctrl+Z to undo";
  }
  if (o.endsInCr)
    words += L". The matches end in the CR of the document's CR LF line ends; tick Whole lines to keep lines "
             L"with their ends.";
  return words;
}

}  // namespace siftwell::app
