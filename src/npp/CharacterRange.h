// The editor component's native character range: two signed 32-bit positions.
#pragma once

#include <cstddef>
#include <cstdint>

struct CharacterRange {
  int32_t cpMin = 0;
  int32_t cpMax = 0;

  constexpr CharacterRange() noexcept = default;
  constexpr CharacterRange(int32_t cpmin, int32_t cpmax) noexcept : cpMin(cpmin), cpMax(cpmax) {}
};
static_assert(sizeof(CharacterRange) == 8);
static_assert(offsetof(CharacterRange, cpMin) == 0 && offsetof(CharacterRange, cpMax) == 4);
