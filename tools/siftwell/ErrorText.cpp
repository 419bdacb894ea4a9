#include "ErrorText.h"

namespace siftwell::cli {

using filter::FilterError;

std::string ErrorText(const FilterError& error) {
  const std::string where = "at position " + std::to_string(error.position + 1) + " of the pattern";
  const std::string searching = ". Searching from byte " + std::to_string(error.textOffset) +
                                " of the text; nothing was written";
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
      return "not enough memory for this text; nothing was written";
    case FilterError::Kind::BadTemplate:
      return "the template's " + error.item + " at position " + std::to_string(error.position + 1) +
             " names no group of the pattern ($0, $1..$99, ${N}, ${name}; $$ for a dollar sign)";
    case FilterError::Kind::TemplateWithLines:
      return "a template cannot be used with whole lines (a line is kept as it stands)";
    case FilterError::Kind::Stopped:
      break;
  }
  return "stopped before the end; nothing was written";
}

}  // namespace siftwell::cli
