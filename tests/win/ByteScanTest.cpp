// The byte scans against the C library's, over every alignment and length
// around their word and block sizes, the byte at each place and nowhere.
#include "win/ByteScan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(ByteScan, AgreesWithTheCLibraryAtEveryAlignmentLengthAndPlace) {
  std::string buffer(80, 'a');
  for (std::size_t start = 0; start < 8; ++start) {
    for (std::size_t n = 0; start + n <= 72; ++n) {
      const char* s = buffer.data() + start;
      for (const unsigned char c : {0x00, 0x7F, 0x80, 0xFF, 0x01}) {
        for (std::size_t at = 0; at <= n; ++at) {  // at == n: not there
          std::string text(buffer);
          for (std::size_t k = start; k < start + n; ++k) text[k] = static_cast<char>(c ^ 0x5A);
          if (at < n) {  // (and once more at the end: the first is found)
            text[start + at] = static_cast<char>(c);
            text[start + n - 1] = static_cast<char>(c);
          }
          const char* t = text.data() + start;
          ASSERT_EQ(siftwell::win::FindByte(t, c, n), std::memchr(t, c, n))
              << "start " << start << " n " << n << " at " << at << " byte " << int(c);
          ASSERT_EQ(__wrap_memchr(t, c, n), std::memchr(t, c, n));
        }
      }
      // Equal, then one byte differing at each place (by the high bit, or the low).
      std::string other(buffer);
      ASSERT_TRUE(siftwell::win::SameBytes(s, other.data() + start, n));
      for (std::size_t at = 0; at < n; ++at) {
        for (const char flip : {'\x80', '\x01'}) {
          std::string changed(buffer);
          changed[start + at] = static_cast<char>(changed[start + at] ^ flip);
          ASSERT_FALSE(siftwell::win::SameBytes(s, changed.data() + start, n)) << "n " << n << " at " << at;
        }
      }
    }
  }
}

}  // namespace
