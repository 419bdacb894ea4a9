// The filter window's words for the engine's errors (one place for all of them).
#pragma once

#include <string>

#include "engine/PatternFilter.h"

namespace siftwell::app {

// What the window shows when a run or a count failed. A stop is worded by the
// caller, who knows why it stopped.
std::wstring ErrorText(const filter::FilterError& error);

}  // namespace siftwell::app
