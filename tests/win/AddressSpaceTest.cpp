#include "win/AddressSpace.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr std::size_t MB = std::size_t{1} << 20;

TEST(AddressSpace, OnlyA32BitProcessIsAskedAndNothingStaysReserved) {
  const std::vector<std::size_t> small{64 * MB, 64 * MB};
  const auto answer = siftwell::win::ReservableInTurn(small);
  if (sizeof(void*) != 4) {
    EXPECT_FALSE(answer.has_value());
    return;
  }
  ASSERT_TRUE(answer.has_value());
  EXPECT_TRUE(*answer);
  // More than the addresses a 32-bit process has, in one block or in turn.
  EXPECT_FALSE(*siftwell::win::ReservableInTurn(std::vector<std::size_t>{4095 * MB}));
  EXPECT_FALSE(*siftwell::win::ReservableInTurn(std::vector<std::size_t>{1400 * MB, 1400 * MB, 1400 * MB}));
  // The largest block there is, asked for again and again: each answer released what it took.
  std::size_t low = 64 * MB, high = 4095 * MB;
  while (high - low > MB) {
    const std::size_t mid = low + (high - low) / 2;
    (*siftwell::win::ReservableInTurn(std::vector<std::size_t>{mid}) ? low : high) = mid;
  }
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(*siftwell::win::ReservableInTurn(std::vector<std::size_t>{low})) << i;
  EXPECT_FALSE(*siftwell::win::ReservableInTurn(std::vector<std::size_t>{low, low, low, low, low}));
}

}  // namespace
