// Keep on several threads at once: the text searched in parts, the sink given
// exactly what one search gives it. Portable: no platform headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "engine/PatternFilter.h"

namespace siftwell::engine {

// `text` cut into parts of about `partBytes` (at least one byte), each ending
// right after an LF, the last at the text's end: the parts a search may be cut
// into when SearchesInParts.
std::vector<TextPart> CutAtLines(std::string_view text, std::size_t partBytes);

// Keep of `text` to `sink`, as KeepTo gives it: the same pieces in the same
// order, the same error. When the pattern can be searched in parts
// (SearchesInParts), its outputs are views into the text or the delimiter
// (no template, no line numbers) and the text holds more than one part of
// about `partBytes` (each cut right after an LF), up to `threads` threads
// search the parts at once: this one and helpers it starts and joins before
// it returns, at most a few parts ahead of the one being given. The sink is
// called on this thread only: Begin, each part's pieces in turn, Progress
// after each part and while this thread waits for one (with the bytes given
// so far: a stop is obeyed as in one search), Finish. Otherwise, KeepTo.
std::optional<FilterError> KeepOnThreads(std::string_view text, const CompiledPattern& pattern,
                                         std::string_view delimiter, const MatchLimits& limits, ResultSink& sink,
                                         uint32_t threads, std::size_t partBytes = std::size_t{4} << 20);

}  // namespace siftwell::engine
