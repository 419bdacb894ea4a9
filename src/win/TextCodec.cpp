#include "win/TextCodec.h"

#include <cstdint>

#include "text/Utf8.h"

namespace siftwell::win::TextCodec {

namespace {

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

}  // namespace

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      siftwell::utf8::Append(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else {
      siftwell::utf8::Append(out, u >= 0xD800 && u <= 0xDFFF ? 0xFFFD : u);  // an unpaired surrogate
    }
  }
  return out;
}

std::u16string FromUtf8(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  for (size_t i = 0; i < bytes.size();) {
    char32_t cp = 0;
    i += siftwell::utf8::Decode(p + i, bytes.size() - i, cp);
    AppendUtf16(out, cp);
  }
  return out;
}

}  // namespace siftwell::win::TextCodec
