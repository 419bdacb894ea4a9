// Text conversions between the gateway's UTF-16 interface and the 8-bit forms
// the editor component and the native records use.
#pragma once

#include <string>
#include <string_view>

namespace siftwell::win::TextCodec {

// UTF-16 to UTF-8 without a byte-order mark; an unpaired surrogate becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);
// UTF-8 to UTF-16; every maximal ill-formed subsequence becomes one U+FFFD.
std::u16string FromUtf8(std::string_view bytes);

// The system's active ANSI code page. On Windows the platform's conversion is used
// (with its default best-fit replacement); elsewhere Latin-1 stands in for it, with
// '?' for every character outside it.
std::string ToAnsi(std::u16string_view text);
std::u16string FromAnsi(std::string_view bytes);

}  // namespace siftwell::win::TextCodec
