// Styled cells for SCI_ADDSTYLEDTEXT: each 16-bit unit is style * 256 + character byte,
// which on little-endian targets lies in memory as character, style, character, style...
// The array is the caller's: Cells keeps the very array it was given and copies nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

class Cells {
 public:
  using Array = std::vector<uint16_t>;

  explicit Cells(std::shared_ptr<Array> array) noexcept : charactersAndStyles(std::move(array)) {}

  // The array given to the constructor (may be null or empty).
  const std::shared_ptr<Array>& Value() const noexcept { return charactersAndStyles; }

 private:
  std::shared_ptr<Array> charactersAndStyles;
};
