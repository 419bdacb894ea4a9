// The distinct values of a run and how often each came, for Keep's Unique and
// Tally. Built for millions of values: their bytes sit once in a few large
// blocks; each value costs a 16-byte entry (in order of first appearance) and
// a 32-byte slot of an open-addressing table at most 70 % full, no node of its
// own. A slot holds the count and the first 12 bytes of its value, so counting
// one more of a short value touches one slot only. Portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace siftwell::engine {

class DistinctValues {
 public:
  // One distinct value. `tag` (0..3) is the caller's, given with its first
  // occurrence (Keep: that occurrence's line end in whole lines).
  struct Value {
    std::string_view bytes;
    uint64_t count = 0;
    uint8_t tag = 0;
  };

  // `notes`: each value keeps the note given with its first occurrence.
  explicit DistinctValues(bool notes = false);
  // Counts one occurrence (a new value's bytes are copied into the blocks).
  // Values are counted in small batches, so that the table's memory is
  // fetched for several at once: until then the value is read where it is
  // when `lasting` (it stays valid and unchanged until Seal), else from a
  // copy. Throws std::bad_alloc.
  void Add(std::string_view value, bool lasting, uint8_t tag = 0, uint64_t note = 0);

  // Once every value is in: then the values by number (0: the first to appear).
  void Seal();
  std::size_t Size() const { return entries_.size(); }
  Value At(uint32_t index) const;
  uint64_t NoteOf(uint32_t index) const { return notes_[index]; }
  // The numbers of all values, most frequent first, ties in order of first appearance.
  std::vector<uint32_t> ByCount() const;

 private:
  static constexpr std::size_t kHead = 12;
  struct Entry {
    const char* data;
    uint64_t lengthAndTag;  // the top two bits hold the tag
  };
  // A value's first kHead bytes as two numbers (zeros after a shorter value).
  struct Head {
    uint64_t first = 0;   // bytes 0..7
    uint32_t second = 0;  // bytes 8..11
    bool operator==(const Head&) const = default;
  };
  struct Slot {
    uint64_t count = 0;
    uint32_t entry = 0;     // index + 1; 0: empty
    uint32_t hashTag = 0;
    uint32_t length = 0;    // UINT32_MAX: that or more (the entry has it)
    uint32_t headSecond = 0;
    uint64_t headFirst = 0;  // the value's first bytes
  };
  struct Pending {
    std::string_view value;
    uint64_t hash = 0, note = 0;
    Head head;
    uint8_t tag = 0;
    std::string copy;  // the bytes, when not lasting
  };
  static constexpr std::size_t kBatch = 16;
  void Count(const Pending& p);
  static constexpr int kTagShift = 62;
  static std::size_t Home(uint64_t hash, std::size_t bits);
  const char* Store(std::string_view value);
  void Grow();

  std::vector<Entry> entries_;
  std::vector<Slot> table_;  // size 2^bits_
  std::size_t bits_ = 10;
  std::vector<uint64_t> counts_;  // by entry, once sealed
  bool withNotes_ = false;
  std::vector<uint64_t> notes_;   // by entry
  Pending pending_[kBatch];
  std::size_t pendingCount_ = 0;
  std::vector<std::unique_ptr<char[]>> blocks_;     // shared by short values; the last one fills
  std::vector<std::unique_ptr<char[]>> ownBlocks_;  // one long value each
  std::size_t blockUsed_ = 0, blockSize_ = 0;
};

}  // namespace siftwell::engine
