// A key definition for the editor's key-binding messages: key code in the low
// 16 bits, SCMOD_ modifier flags from bit 16 up.
#pragma once

#include <cstdint>

#include "npp/SciMsg.h"

class KeyModifier {
 public:
  constexpr KeyModifier(SciMsg SCK_KeyCode, SciMsg SCMOD_modifier) noexcept
      : value(static_cast<int32_t>(static_cast<uint32_t>(SCK_KeyCode) | (static_cast<uint32_t>(SCMOD_modifier) << 16))) {}

  constexpr int32_t Value() const noexcept { return value; }

 private:
  int32_t value;
};
