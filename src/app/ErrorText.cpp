#include "app/ErrorText.h"

#include "win/CodePage.h"

namespace siftwell::app {

using filter::FilterError;

namespace {

std::string Words(const FilterError& error, bool counting) {
  const std::string where = "at position " + std::to_string(error.position + 1) + " of the pattern";
  const std::string searching =
      counting ? ". The count gave up at byte " + std::to_string(error.textOffset + 1) + " of the text"
               : ". The search gave up at byte " + std::to_string(error.textOffset + 1) +
                     " of the text; the document is unchanged";
  switch (error.kind) {
    case FilterError::Kind::BadPattern:
      return filter::Pcre2ErrorText(error.code) + " " + where;
    case FilterError::Kind::TooComplex:
      // PCRE2's words would describe the text the item was rewritten to.
      if (error.rewritten)
        return "the pattern is too large or too complex for the engine; it gives up " +
               (error.item.empty() ? std::string() : "at " + error.item + " ") + where;
      return filter::Pcre2ErrorText(error.code) + " " + where;
    case FilterError::Kind::Limit:
      return "the pattern needs too much backtracking or memory (" + filter::Pcre2ErrorText(error.code) +
             "); simplify it, e.g. avoid nested repeats like (a+)+" + searching;
    case FilterError::Kind::MatchFailed:
      return "matching failed: " + filter::Pcre2ErrorText(error.code) + searching;
    case FilterError::Kind::NoMemory:
      return counting ? "not enough memory to count the matches in this document"
                      : "not enough memory to filter this document; the document is unchanged";
    case FilterError::Kind::BadTemplate:
      return "the output template's " + error.item + " at position " + std::to_string(error.position + 1) +
             " names no group of the pattern ($0, $1..$99, ${N}, ${name}; $$ for a dollar sign)";
    case FilterError::Kind::TemplateWithLines:
      return "an output template does not apply to whole lines (a line is kept as it stands)";
    case FilterError::Kind::Stopped:
      break;
  }
  return counting ? "the count stopped before the end" : "stopped before the end; the document is unchanged";
}

}  // namespace

std::wstring ErrorText(const FilterError& error, bool counting) {
  return filter::Utf8ToWide(Words(error, counting));
}

}  // namespace siftwell::app
