// Whether a text is well-formed UTF-8, by the rules of text/Utf8.h, 32 bytes
// per step where the processor has AVX2 (chosen at run time; not on Windows,
// as the pair scan of the literal prefilter). The search asks it for every
// candidate line of a line pattern, so it is on the hot path. Portable: no
// platform headers.
#pragma once

#include <string_view>

namespace siftwell::engine {

bool IsValidUtf8Fast(std::string_view s);

}  // namespace siftwell::engine
