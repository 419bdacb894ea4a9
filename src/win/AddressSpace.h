// The addresses left to a 32-bit process. It runs out of contiguous addresses
// (2 GB, or 4 GB when large address aware) long before it runs out of memory:
// a block of a few hundred MB can be refused while far more is free in
// pieces. Before the editor is handed a change whose undo copies need such
// blocks, the blocks are asked of the system in the same order; in a 64-bit
// process there is no such limit worth asking about.
#pragma once

#include <cstddef>
#include <optional>
#include <span>

namespace siftwell::win {

// Whether address ranges of `needs` bytes (and a 64 KiB granule each, as a
// heap block of that size takes) can be reserved in this order, all held at
// once; they are released again before it returns, and no memory is
// committed. nullopt in a 64-bit process (and off Windows).
std::optional<bool> ReservableInTurn(std::span<const std::size_t> needs);

}  // namespace siftwell::win
