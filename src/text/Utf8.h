// UTF-8, one set of rules for the whole program (the engine, the CLI and the
// Windows toolkit): well-formed sequences only (no overlong forms, no
// surrogates, nothing above U+10FFFF). Portable: no platform headers.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace siftwell::utf8 {

// Length of the well-formed character at p (left > 0 bytes remain), or 0
// when the bytes there do not start one.
inline std::size_t ValidLength(const unsigned char* p, std::size_t left) {
  const unsigned c = p[0];
  if (c < 0x80) return 1;
  std::size_t n = 0;
  if (c >= 0xC2 && c <= 0xDF) n = 2;
  else if (c >= 0xE0 && c <= 0xEF) n = 3;
  else if (c >= 0xF0 && c <= 0xF4) n = 4;
  else return 0;
  if (left < n) return 0;
  for (std::size_t i = 1; i < n; ++i)
    if ((p[i] & 0xC0) != 0x80) return 0;
  if ((c == 0xE0 && p[1] < 0xA0) || (c == 0xED && p[1] >= 0xA0) || (c == 0xF0 && p[1] < 0x90) ||
      (c == 0xF4 && p[1] >= 0x90))
    return 0;
  return n;
}

inline bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Bytes taken by the character at p (left > 0), with its code point in `cp`;
// for ill-formed bytes, the length of the maximal ill-formed subsequence there
// (Unicode's "substitution of maximal subparts", at least 1) and U+FFFD.
inline std::size_t Decode(const unsigned char* p, std::size_t left, char32_t& cp) {
  const std::size_t n = ValidLength(p, left);
  if (n == 1) {
    cp = p[0];
  } else if (n > 1) {
    cp = p[0] & (0xFF >> (n + 1));
    for (std::size_t i = 1; i < n; ++i) cp = (cp << 6) | (p[i] & 0x3F);
  } else {
    cp = 0xFFFD;
    // The longest prefix that could still have begun a character.
    const unsigned c = p[0];
    const std::size_t want = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 1;
    std::size_t k = 1;
    for (; k < want && k < left; ++k) {
      const unsigned b = p[k];
      const bool ok = k > 1 ? IsContinuation(static_cast<unsigned char>(b))
                            : (c == 0xE0   ? b >= 0xA0 && b <= 0xBF
                               : c == 0xED ? b >= 0x80 && b <= 0x9F
                               : c == 0xF0 ? b >= 0x90 && b <= 0xBF
                               : c == 0xF4 ? b >= 0x80 && b <= 0x8F
                                           : IsContinuation(static_cast<unsigned char>(b)));
      if (!ok) break;
    }
    return k;
  }
  return n;
}

// The longest prefix of `text`, at most `limit` bytes, that ends on a
// character boundary (or `limit` when no boundary is near: ill-formed text).
inline std::size_t BoundaryBefore(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  std::size_t cut = limit;
  for (int back = 0; back < 4 && cut > 0 && IsContinuation(static_cast<unsigned char>(text[cut])); ++back) --cut;
  return cut > 0 && !IsContinuation(static_cast<unsigned char>(text[cut])) ? cut : limit;
}

// The same, but 1 for a byte that does not start a character (an invalid
// byte counts as one character).
inline std::size_t CharLength(const unsigned char* p, std::size_t left) {
  const std::size_t n = ValidLength(p, left);
  return n == 0 ? 1 : n;
}

// Characters before `byteOffset` (invalid bytes count one each).
inline std::size_t CharIndex(std::string_view s, std::size_t byteOffset) {
  std::size_t chars = 0;
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  for (std::size_t i = 0; i < byteOffset && i < s.size(); ++chars) i += CharLength(p + i, s.size() - i);
  return chars;
}

inline bool IsValid(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const auto* end = p + s.size();
  while (p < end) {
    if constexpr (std::endian::native == std::endian::little) {
      if (end - p >= 8) {  // eight bytes at a time up to the next non-ASCII one
        uint64_t eight;
        std::memcpy(&eight, p, 8);
        const uint64_t high = eight & 0x8080808080808080u;
        if (high == 0) {
          p += 8;
          continue;
        }
        p += std::countr_zero(high) / 8;
      }
    }
    if (*p < 0x80) {
      ++p;
      continue;
    }
    const std::size_t n = ValidLength(p, static_cast<std::size_t>(end - p));
    if (n == 0) return false;
    p += n;
  }
  return true;
}

// Appends code point c (not a surrogate, at most U+10FFFF).
inline void Append(std::string& s, uint32_t c) {
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += static_cast<char>(0xC0 | (c >> 6));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    s += static_cast<char>(0xE0 | (c >> 12));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (c >> 18));
    s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace siftwell::utf8
