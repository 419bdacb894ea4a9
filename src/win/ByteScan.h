// Comparing and searching the bytes of whole documents, eight at a time. The
// C runtime the plugin links with (msvcrt.dll) does both a byte at a time,
// at least under Wine, where they were a third of a 100 MB run's search and
// most of the checks around its write. Portable.
#pragma once

#include <cstddef>

namespace siftwell::win {

// Whether [a, a + n) and [b, b + n) hold the same bytes.
bool SameBytes(const void* a, const void* b, std::size_t n) noexcept;

// memchr: the first of the n bytes at `s` that is `c` (as unsigned char), or null.
const void* FindByte(const void* s, int c, std::size_t n) noexcept;

}  // namespace siftwell::win

// The plugin module links with -Wl,--wrap=memchr: every memchr in it (the
// engine's searches included) is FindByte.
extern "C" void* __wrap_memchr(const void* s, int c, std::size_t n);
