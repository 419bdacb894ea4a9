#include "win/AddressSpace.h"

#include <cstdint>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace siftwell::win {

std::optional<bool> ReservableInTurn(std::span<const std::size_t> needs) {
#ifdef _WIN32
  if constexpr (sizeof(void*) == 4) {
    constexpr std::size_t kGranule = std::size_t{64} << 10;
    struct Held {
      std::vector<void*> ranges;
      ~Held() {
        for (void* at : ranges) VirtualFree(at, 0, MEM_RELEASE);
      }
    } held;
    held.ranges.reserve(needs.size());
    for (const std::size_t need : needs) {
      if (need > SIZE_MAX - kGranule) return false;
      void* at = VirtualAlloc(nullptr, need + kGranule, MEM_RESERVE, PAGE_NOACCESS);
      if (at == nullptr) return false;
      held.ranges.push_back(at);
    }
    return true;
  }
#endif
  (void)needs;
  return std::nullopt;
}

}  // namespace siftwell::win
