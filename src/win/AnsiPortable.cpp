// Stand-in for the ANSI code page where the platform has none: Latin-1.
#include "win/TextCodec.h"

namespace siftwell::win::TextCodec {

std::string ToAnsi(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    // A surrogate pair is one character: one replacement for both units.
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) ++i;
    out.push_back(u <= 0xFF ? static_cast<char>(u) : '?');
  }
  return out;
}

std::u16string FromAnsi(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (const char c : bytes) out.push_back(static_cast<unsigned char>(c));
  return out;
}

}  // namespace siftwell::win::TextCodec
