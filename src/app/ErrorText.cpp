#include "app/ErrorText.h"

#include "win/CodePage.h"

namespace siftwell::app {

using engine::FilterError;

namespace {

std::string Words(const FilterError& error, bool counting) {
  switch (error.kind) {
    case FilterError::Kind::Limit:
    case FilterError::Kind::MatchFailed:
      return engine::PatternProblemText(error) +
             (counting ? ". The count gave up at byte " + std::to_string(error.textOffset + 1) + " of the text"
                       : ". The search gave up at byte " + std::to_string(error.textOffset + 1) +
                             " of the text; the document is unchanged");
    case FilterError::Kind::NoMemory:
      return counting ? "not enough memory to count the matches in this document"
                      : "not enough memory to filter this document; the document is unchanged";
    case FilterError::Kind::Stopped:
      return counting ? "the count stopped before the end" : "stopped before the end; the document is unchanged";
    default:
      return engine::PatternProblemText(error);
  }
}

}  // namespace

std::wstring ErrorText(const FilterError& error, bool counting) {
  return win::Utf8ToWide(Words(error, counting));
}

}  // namespace siftwell::app
