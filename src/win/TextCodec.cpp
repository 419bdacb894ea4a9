#include "win/TextCodec.h"

#include <cstdint>

namespace TextCodec {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

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
      AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

std::u16string FromUtf8(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  size_t i = 0;
  const size_t n = bytes.size();
  auto at = [&](size_t k) { return static_cast<uint8_t>(bytes[k]); };
  while (i < n) {
    const uint8_t b = at(i);
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    // Expected length and the permitted range of the second byte (Unicode table 3-7).
    size_t len = 0;
    uint8_t lo = 0x80, hi = 0xBF;
    char32_t cp = 0;
    if (b >= 0xC2 && b <= 0xDF) {
      len = 2, cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      len = 3, cp = b & 0x0F;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4, cp = b & 0x07;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    } else {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    size_t k = 1;
    for (; k < len && i + k < n; ++k) {
      const uint8_t c = at(i + k);
      if (k == 1 ? (c < lo || c > hi) : (c < 0x80 || c > 0xBF)) break;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (k == len) {
      AppendUtf16(out, cp);
    } else {
      out.push_back(kReplacement);
    }
    i += k;
  }
  return out;
}

}  // namespace TextCodec
