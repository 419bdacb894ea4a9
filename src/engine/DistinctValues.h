// The distinct values of a run and how often each came, for Keep's Unique and
// Tally. Built for millions of values: their bytes sit once in a few large
// blocks, and each value costs one 24-byte entry plus a slot or two of an
// open-addressing table (no node per value). Portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace siftwell::filter {

class DistinctValues {
 public:
  // One distinct value. `tag` (0..3) is the caller's, given with its first
  // occurrence (Keep: that occurrence's line end in whole lines).
  struct Value {
    std::string_view bytes;
    uint64_t count = 0;
    uint8_t tag = 0;
  };

  DistinctValues();
  // Counts one occurrence; returns the value's number (in order of first
  // appearance) and whether it was new. Throws std::bad_alloc.
  std::pair<uint32_t, bool> Add(std::string_view value, uint8_t tag = 0);

  std::size_t Size() const { return entries_.size(); }
  Value At(uint32_t index) const;
  // The numbers of all values, most frequent first, ties in order of first appearance.
  std::vector<uint32_t> ByCount() const;

 private:
  // Length's top two bits hold the tag; a value of 2^62 bytes or more is refused (bad_alloc).
  struct Entry {
    const char* data;
    uint64_t lengthAndTag;
    uint64_t count;
  };
  struct Slot {
    uint32_t entry = 0;  // index + 1; 0: empty
    uint32_t hashTag = 0;
  };
  static constexpr int kTagShift = 62;
  const char* Store(std::string_view value);
  void Grow();

  std::vector<Entry> entries_;
  std::vector<Slot> table_;  // size a power of two
  std::vector<std::unique_ptr<char[]>> blocks_;     // shared by short values; the last one fills
  std::vector<std::unique_ptr<char[]>> ownBlocks_;  // one long value each
  std::size_t blockUsed_ = 0, blockSize_ = 0;
};

}  // namespace siftwell::filter
