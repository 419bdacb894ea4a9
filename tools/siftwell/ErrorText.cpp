#include "ErrorText.h"

namespace siftwell::cli {

using engine::FilterError;

std::string ErrorText(const FilterError& error) {
  switch (error.kind) {
    case FilterError::Kind::Limit:
    case FilterError::Kind::MatchFailed:
      return engine::PatternProblemText(error) + ". Searching from byte " + std::to_string(error.textOffset) +
             " of the text; nothing was written";
    case FilterError::Kind::NoMemory:
      return "not enough memory for this text; nothing was written";
    case FilterError::Kind::Stopped:
      return "stopped before the end; nothing was written";
    default:
      return engine::PatternProblemText(error);
  }
}

}  // namespace siftwell::cli
