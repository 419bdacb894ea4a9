// UTF-8 validation, 32 bytes per step (see Utf8Check.h). The vector part is
// the lookup method of Keiser and Lemire ("Validating UTF-8 in less than one
// instruction per byte", 2021): three 16-entry tables indexed by the high and
// low nibble of the previous byte and the high nibble of the current one flag
// every two-byte error (too short, too long, overlong, surrogate, above
// U+10FFFF), and saturating subtractions check the third and fourth bytes of
// the longer forms. An incomplete character at the end of a block is carried
// into the next; the text's last bytes are checked in a block padded with
// NULs, so a character cut short at its end is one too.
#include "engine/Utf8Check.h"

#include "text/Utf8.h"

#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(_WIN32)
#define SIFTWELL_UTF8_AVX2 1
#include <immintrin.h>
#endif

namespace siftwell::engine {
namespace {

#ifdef SIFTWELL_UTF8_AVX2
constexpr uint8_t kTooShort = 1 << 0;
constexpr uint8_t kTooLong = 1 << 1;
constexpr uint8_t kOverlong3 = 1 << 2;
constexpr uint8_t kTooLarge = 1 << 3;
constexpr uint8_t kSurrogate = 1 << 4;
constexpr uint8_t kOverlong2 = 1 << 5;
constexpr uint8_t kTooLarge1000 = 1 << 6;
constexpr uint8_t kOverlong4 = 1 << 6;
constexpr uint8_t kTwoConts = 1 << 7;
constexpr uint8_t kCarry = kTooShort | kTooLong | kTwoConts;

__attribute__((target("avx2"))) inline __m256i Table(uint8_t a0, uint8_t a1, uint8_t a2, uint8_t a3, uint8_t a4,
                                                     uint8_t a5, uint8_t a6, uint8_t a7, uint8_t a8, uint8_t a9,
                                                     uint8_t a10, uint8_t a11, uint8_t a12, uint8_t a13,
                                                     uint8_t a14, uint8_t a15) {
  return _mm256_setr_epi8(static_cast<char>(a0), static_cast<char>(a1), static_cast<char>(a2),
                          static_cast<char>(a3), static_cast<char>(a4), static_cast<char>(a5),
                          static_cast<char>(a6), static_cast<char>(a7), static_cast<char>(a8),
                          static_cast<char>(a9), static_cast<char>(a10), static_cast<char>(a11),
                          static_cast<char>(a12), static_cast<char>(a13), static_cast<char>(a14),
                          static_cast<char>(a15), static_cast<char>(a0), static_cast<char>(a1),
                          static_cast<char>(a2), static_cast<char>(a3), static_cast<char>(a4),
                          static_cast<char>(a5), static_cast<char>(a6), static_cast<char>(a7),
                          static_cast<char>(a8), static_cast<char>(a9), static_cast<char>(a10),
                          static_cast<char>(a11), static_cast<char>(a12), static_cast<char>(a13),
                          static_cast<char>(a14), static_cast<char>(a15));
}

// The bytes of `input` shifted right by n (1..3) across the 128-bit lanes,
// the first n coming from the end of `prev`.
template <int N>
__attribute__((target("avx2"))) inline __m256i Prev(__m256i input, __m256i prev) {
  return _mm256_alignr_epi8(input, _mm256_permute2x128_si256(prev, input, 0x21), 16 - N);
}

// One block of 32 bytes, after `prev`: errors are or-ed into `error`.
__attribute__((target("avx2"), always_inline)) inline void Step(__m256i input, __m256i& prev, __m256i& error) {
  const __m256i byte1High = Table(kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong,
                                  kTwoConts, kTwoConts, kTwoConts, kTwoConts, kTooShort | kOverlong2, kTooShort,
                                  kTooShort | kOverlong3 | kSurrogate,
                                  kTooShort | kTooLarge | kTooLarge1000 | kOverlong4);
  const __m256i byte1Low =
      Table(kCarry | kOverlong3 | kOverlong2 | kOverlong4, kCarry | kOverlong2, kCarry, kCarry, kCarry | kTooLarge,
            kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000,
            kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000,
            kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000,
            kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000,
            kCarry | kTooLarge | kTooLarge1000 | kSurrogate, kCarry | kTooLarge | kTooLarge1000,
            kCarry | kTooLarge | kTooLarge1000);
  const __m256i byte2High = Table(
      kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
      kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 | kOverlong4,
      kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge,
      kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge,
      kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge, kTooShort, kTooShort, kTooShort, kTooShort);
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  const __m256i third = _mm256_set1_epi8(static_cast<char>(0xE0 - 0x80));
  const __m256i fourth = _mm256_set1_epi8(static_cast<char>(0xF0 - 0x80));
  const __m256i high = _mm256_set1_epi8(static_cast<char>(0x80));
  if (_mm256_movemask_epi8(input) == 0) {
    // All ASCII: only a character left open by the block before is wrong.
    if (!_mm256_testz_si256(prev, prev)) {
      // A lead byte in the last three places of `prev` still wants a
      // continuation here.
      const __m256i want = _mm256_or_si256(
          _mm256_or_si256(_mm256_subs_epu8(Prev<1>(input, prev), _mm256_set1_epi8(static_cast<char>(0xC0 - 1))),
                          _mm256_subs_epu8(Prev<2>(input, prev), _mm256_set1_epi8(static_cast<char>(0xE0 - 1)))),
          _mm256_subs_epu8(Prev<3>(input, prev), _mm256_set1_epi8(static_cast<char>(0xF0 - 1))));
      error = _mm256_or_si256(error, want);
    }
    prev = input;
    return;
  }
  const __m256i prev1 = Prev<1>(input, prev);
  const __m256i special = _mm256_and_si256(
      _mm256_and_si256(_mm256_shuffle_epi8(byte1High, _mm256_and_si256(_mm256_srli_epi16(prev1, 4), nibble)),
                       _mm256_shuffle_epi8(byte1Low, _mm256_and_si256(prev1, nibble))),
      _mm256_shuffle_epi8(byte2High, _mm256_and_si256(_mm256_srli_epi16(input, 4), nibble)));
  const __m256i must23 =
      _mm256_or_si256(_mm256_subs_epu8(Prev<2>(input, prev), third), _mm256_subs_epu8(Prev<3>(input, prev), fourth));
  error = _mm256_or_si256(error, _mm256_xor_si256(_mm256_and_si256(must23, high), special));
  prev = input;
}

// Whether the n bytes at p are well-formed UTF-8.
__attribute__((target("avx2"))) bool ValidAvx2(const unsigned char* p, std::size_t n) {
  __m256i prev = _mm256_setzero_si256();
  __m256i error = _mm256_setzero_si256();
  std::size_t at = 0;
  for (; at + 32 <= n; at += 32) Step(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + at)), prev, error);
  // The rest, then NULs (at least one): a character still open at the end
  // of the text is then one cut short.
  alignas(32) unsigned char last[32] = {};
  if (n > at) std::memcpy(last, p + at, n - at);  // (p may be null when n is 0)
  Step(_mm256_load_si256(reinterpret_cast<const __m256i*>(last)), prev, error);
  return _mm256_testz_si256(error, error);
}
#endif

}  // namespace

bool IsValidUtf8Fast(std::string_view s) {
#ifdef SIFTWELL_UTF8_AVX2
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) return ValidAvx2(reinterpret_cast<const unsigned char*>(s.data()), s.size());
#endif
  return utf8::IsValid(s);
}

}  // namespace siftwell::engine
