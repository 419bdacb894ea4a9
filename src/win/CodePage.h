// Text of a document in another code page than UTF-8, converted for matching
// and back. The platform converts at most INT_MAX units per call, so longer
// text goes in pieces cut at character boundaries; every call's result is
// checked. Nothing here is ever silently lossy: bytes that do not come back
// the same, or characters the code page lacks, are reported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace siftwell::win {

// Why a conversion did not give a result.
enum class ConversionFailure {
  None,
  NotRepresentable,  // bytes or characters the code page cannot carry both ways
  Failed,            // the platform refused (unknown code page, out of memory)
  TooLarge,          // longer than one call can take, in a code page that cannot be cut safely
  Stopped,           // the caller asked to stop
};

// Input bytes per platform call (well below INT_MAX for every expansion).
constexpr std::size_t kConversionPiece = std::size_t{16} << 20;

using StopRequested = std::function<bool()>;

// `bytes` in `codePage` to UTF-8, appended to `out`. Each piece must convert
// back to exactly its bytes, or the result is NotRepresentable.
ConversionFailure CodePageToUtf8(std::string_view bytes, uint32_t codePage, std::string& out,
                                 const StopRequested& stop = {}, std::size_t piece = kConversionPiece);

// UTF-8 `text` to `codePage`, appended to `out`; a character the code page
// lacks (no best-fit stand-ins) makes it NotRepresentable.
ConversionFailure Utf8ToCodePage(std::string_view text, uint32_t codePage, std::string& out,
                                 const StopRequested& stop = {}, std::size_t piece = kConversionPiece);

// UTF-16 to UTF-8; false for a lone surrogate (which has no UTF-8 form).
bool WideToUtf8(std::wstring_view text, std::string& out);
// UTF-8 to UTF-16; invalid sequences become U+FFFD.
std::wstring Utf8ToWide(std::string_view text);

// The characters of `text` that `codePage` cannot hold, each once, in order.
std::wstring Unrepresentable(std::wstring_view text, uint32_t codePage);

}  // namespace siftwell::win
