// The filter window's words for the engine's errors (one place for all of them).
#pragma once

#include <string>

#include "engine/PatternFilter.h"

namespace siftwell::app {

// What the window shows when a run (or, `counting`, the live count, which
// never changes the document) failed. Places in the pattern count characters
// from 1, as the editor counts columns. A stop is worded by the caller, who
// knows why it stopped.
std::wstring ErrorText(const engine::FilterError& error, bool counting = false);

}  // namespace siftwell::app
