#include "engine/DistinctValues.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <new>

namespace siftwell::engine {

namespace {
constexpr std::size_t kBlock = std::size_t{4} << 20;
constexpr std::size_t kOwnBlock = std::size_t{64} << 10;  // values this long get a block of their own
}  // namespace

DistinctValues::DistinctValues(bool notes) : withNotes_(notes) { table_.resize(std::size_t{1} << bits_); }

// The slot where a value's search starts: the hash's top bits (the hash is
// mixed to its last bit). A slot keeps the top 32 bits as its tag, so that a
// table of up to 2^32 slots grows without looking at the values again.
std::size_t DistinctValues::Home(uint64_t hash, std::size_t bits) {
  return static_cast<std::size_t>(hash >> (64 - bits));
}

const char* DistinctValues::Store(std::string_view value) {
  if (value.empty()) return nullptr;
  if (value.size() >= kOwnBlock) {
    auto own = std::make_unique_for_overwrite<char[]>(value.size());
    std::memcpy(own.get(), value.data(), value.size());
    ownBlocks_.push_back(std::move(own));
    return ownBlocks_.back().get();
  }
  if (blocks_.empty() || blockSize_ - blockUsed_ < value.size()) {
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlock));
    blockSize_ = kBlock;
    blockUsed_ = 0;
  }
  char* to = blocks_.back().get() + blockUsed_;
  std::memcpy(to, value.data(), value.size());
  blockUsed_ += value.size();
  return to;
}

namespace {
// `n` (at most 8) bytes at `p` as memcpy into a zeroed uint64_t would give
// them, without a call and without reading past them: two overlapping 4-byte
// loads, or for fewer than 4 the first, middle and last byte.
inline uint64_t Load(const char* p, std::size_t n) {
  if constexpr (std::endian::native == std::endian::little) {
    if (n >= 4) {
      uint32_t low = 0, high = 0;
      std::memcpy(&low, p, 4);
      std::memcpy(&high, p + n - 4, 4);
      return low | (uint64_t{high} << (8 * (n - 4)));
    }
    if (n == 0) return 0;
    const auto byte = [&](std::size_t i) { return uint64_t{static_cast<unsigned char>(p[i])} << (8 * i); };
    return byte(0) | byte(n / 2) | byte(n - 1);
  } else {
    uint64_t v = 0;
    std::memcpy(&v, p, n);
    return v;
  }
}

// Values of up to 16 bytes (most) are mixed inline; longer ones by the library's hash.
uint64_t LongHash(std::string_view v) { return std::hash<std::string_view>{}(v); }
inline uint64_t Mix(uint64_t a, uint64_t b, std::size_t n) {
  uint64_t h = (a ^ 0x9E3779B97F4A7C15ull) * 0xBF58476D1CE4E5B9ull;
  h ^= (b + n) * 0x94D049BB133111EBull;
  h ^= h >> 31;
  h *= 0xD6E8FEB86659FD93ull;
  return h ^ (h >> 32);
}
inline uint64_t HashOf(std::string_view v) {
  if (v.size() > 16) return LongHash(v);
  return Mix(Load(v.data(), std::min<std::size_t>(v.size(), 8)),
             v.size() > 8 ? Load(v.data() + 8, v.size() - 8) : 0, v.size());
}
constexpr uint64_t kLengthMask = (uint64_t{1} << 62) - 1;
}  // namespace

void DistinctValues::Grow() {
  const std::size_t bits = bits_ + 1;
  std::vector<Slot> bigger(std::size_t{1} << bits);
  const std::size_t mask = bigger.size() - 1;
  for (const Slot& s : table_) {
    if (s.entry == 0) continue;
    std::size_t i = 0;
    if (bits <= 32) {
      i = Home(uint64_t{s.hashTag} << 32, bits);
    } else {
      const Entry& e = entries_[s.entry - 1];
      i = Home(HashOf(std::string_view(e.data, static_cast<std::size_t>(e.lengthAndTag & kLengthMask))), bits);
    }
    while (bigger[i].entry != 0) i = (i + 1) & mask;
    bigger[i] = s;
  }
  table_ = std::move(bigger);
  bits_ = bits;
}

void DistinctValues::Add(std::string_view value, bool lasting, uint8_t tag, uint64_t note) {
  Pending& p = pending_[pendingCount_++];
  if (lasting) {
    p.value = value;
  } else {
    p.copy.assign(value);
    p.value = p.copy;
  }
  // The hash and the head from the same few loads.
  const std::size_t n = value.size();
  const uint64_t first = Load(value.data(), std::min<std::size_t>(n, 8));
  if (n <= 16) {
    const uint64_t second = n > 8 ? Load(value.data() + 8, n - 8) : 0;
    p.hash = Mix(first, second, n);
    p.head = Head{first, static_cast<uint32_t>(second)};
  } else {
    p.hash = LongHash(value);
    p.head = Head{first, static_cast<uint32_t>(Load(value.data() + 8, 4))};
  }
  p.tag = tag;
  p.note = note;
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(&table_[Home(p.hash, bits_)]);
#endif
  if (pendingCount_ == kBatch) {
    for (const Pending& q : pending_) Count(q);
    pendingCount_ = 0;
  }
}

void DistinctValues::Count(const Pending& p) {
  const std::string_view value = p.value;
  const uint64_t h = p.hash;
  const auto hashTag = static_cast<uint32_t>(h >> 32);
  const auto length = value.size() >= UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value.size());
  const Head head = p.head;  // (as a slot holds it, compared whole)
  const std::size_t mask = table_.size() - 1;
  std::size_t i = Home(h, bits_);
  for (;; i = (i + 1) & mask) {
    Slot& s = table_[i];
    if (s.entry == 0) break;
    if (s.hashTag != hashTag || s.length != length || s.headFirst != head.first || s.headSecond != head.second)
      continue;
    if (value.size() > kHead) {
      const Entry& e = entries_[s.entry - 1];
      if ((e.lengthAndTag & kLengthMask) != value.size() ||
          std::memcmp(e.data + kHead, value.data() + kHead, value.size() - kHead) != 0)
        continue;
    }
    ++s.count;
    return;
  }
  if (entries_.size() >= UINT32_MAX - 1 || uint64_t{value.size()} > kLengthMask) throw std::bad_alloc();
  entries_.push_back(Entry{Store(value), uint64_t{value.size()} | (uint64_t{p.tag & 3u} << kTagShift)});
  if (withNotes_) notes_.push_back(p.note);
  Slot& s = table_[i];
  s.count = 1;
  s.entry = static_cast<uint32_t>(entries_.size());
  s.hashTag = hashTag;
  s.length = length;
  s.headFirst = head.first;
  s.headSecond = head.second;
  if (entries_.size() * 10 >= table_.size() * 7) Grow();  // at most 70 % full
}

void DistinctValues::Seal() {
  for (std::size_t k = 0; k < pendingCount_; ++k) Count(pending_[k]);
  pendingCount_ = 0;
  counts_.assign(entries_.size(), 0);
  for (const Slot& s : table_)
    if (s.entry != 0) counts_[s.entry - 1] = s.count;
}

DistinctValues::Value DistinctValues::At(uint32_t index) const {
  const Entry& e = entries_[index];
  return Value{std::string_view(e.data, static_cast<std::size_t>(e.lengthAndTag & kLengthMask)), counts_[index],
               static_cast<uint8_t>(e.lengthAndTag >> kTagShift)};
}

// A stable radix sort on the count, 16 bits at a time from the lowest, each
// digit taken downwards: most frequent first, ties in the order they had.
std::vector<uint32_t> DistinctValues::ByCount() const {
  const std::size_t n = entries_.size();
  std::vector<uint32_t> order(n), scratch(n);
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  uint64_t most = 0;
  for (const uint64_t c : counts_) most = std::max(most, c);
  constexpr uint32_t kDigits = 1u << 16;
  std::vector<std::size_t> start(kDigits + 1);
  for (uint32_t shift = 0; shift < 64 && (most >> shift) != 0; shift += 16) {
    const auto digit = [&](uint32_t i) { return kDigits - 1 - static_cast<uint32_t>((counts_[i] >> shift) & 0xFFFF); };
    std::fill(start.begin(), start.end(), 0);
    for (const uint32_t i : order) ++start[digit(i) + 1];
    for (uint32_t d = 0; d < kDigits; ++d) start[d + 1] += start[d];
    for (const uint32_t i : order) scratch[start[digit(i)]++] = i;
    order.swap(scratch);
  }
  return order;
}

}  // namespace siftwell::engine
