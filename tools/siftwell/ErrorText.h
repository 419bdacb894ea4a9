// The CLI's words for the engine's errors (one place for all of them).
#pragma once

#include <string>

#include "engine/PatternFilter.h"

namespace siftwell::cli {

// One line for standard error, without the "siftwell: " prefix. A stop is
// worded by the caller, who knows why it stopped.
std::string ErrorText(const engine::FilterError& error);

}  // namespace siftwell::cli
