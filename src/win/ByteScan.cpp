#include "win/ByteScan.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace siftwell::win {
namespace {

static_assert(std::endian::native == std::endian::little, "the first byte found is the lowest one set");

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;

inline uint64_t Word(const unsigned char* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The lowest byte of `v` that is zero has its high bit set here (bytes above
// it may be set wrongly, which does not matter for the first one).
inline uint64_t ZeroBytes(uint64_t v) { return (v - kOnes) & ~v & kHighs; }

}  // namespace

bool SameBytes(const void* a, const void* b, std::size_t n) noexcept {
  const auto* p = static_cast<const unsigned char*>(a);
  const auto* q = static_cast<const unsigned char*>(b);
  std::size_t i = 0;
  for (; n - i >= 32; i += 32) {
    const uint64_t differ = (Word(p + i) ^ Word(q + i)) | (Word(p + i + 8) ^ Word(q + i + 8)) |
                            (Word(p + i + 16) ^ Word(q + i + 16)) | (Word(p + i + 24) ^ Word(q + i + 24));
    if (differ != 0) return false;
  }
  for (; i < n; ++i)
    if (p[i] != q[i]) return false;
  return true;
}

const void* FindByte(const void* s, int c, std::size_t n) noexcept {
  const auto* p = static_cast<const unsigned char*>(s);
  const auto byte = static_cast<unsigned char>(c);
  const uint64_t all = kOnes * byte;
  std::size_t i = 0;
  for (; n - i >= 16; i += 16) {
    const uint64_t first = ZeroBytes(Word(p + i) ^ all), second = ZeroBytes(Word(p + i + 8) ^ all);
    if ((first | second) == 0) continue;
    return first != 0 ? p + i + std::countr_zero(first) / 8 : p + i + 8 + std::countr_zero(second) / 8;
  }
  for (; i < n; ++i)
    if (p[i] == byte) return p + i;
  return nullptr;
}

}  // namespace siftwell::win

extern "C" void* __wrap_memchr(const void* s, int c, std::size_t n) {
  return const_cast<void*>(siftwell::win::FindByte(s, c, n));
}
