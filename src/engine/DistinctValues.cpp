#include "engine/DistinctValues.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

namespace siftwell::filter {

namespace {
constexpr std::size_t kBlock = std::size_t{4} << 20;
constexpr std::size_t kOwnBlock = std::size_t{64} << 10;  // values this long get a block of their own
}  // namespace

DistinctValues::DistinctValues() : table_(std::size_t{1} << 10) {}

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

void DistinctValues::Grow() {
  std::vector<Slot> bigger(table_.size() * 2);
  const std::size_t mask = bigger.size() - 1;
  for (const Slot& s : table_) {
    if (s.entry == 0) continue;
    const Entry& e = entries_[s.entry - 1];
    const std::size_t h = std::hash<std::string_view>{}(
        std::string_view(e.data, static_cast<std::size_t>(e.lengthAndTag & ((uint64_t{1} << kTagShift) - 1))));
    std::size_t i = h & mask;
    while (bigger[i].entry != 0) i = (i + 1) & mask;
    bigger[i] = s;
  }
  table_ = std::move(bigger);
}

std::pair<uint32_t, bool> DistinctValues::Add(std::string_view value, uint8_t tag) {
  const std::size_t h = std::hash<std::string_view>{}(value);
  const uint32_t hashTag = static_cast<uint32_t>(h);
  const std::size_t mask = table_.size() - 1;
  std::size_t i = h & mask;
  for (;; i = (i + 1) & mask) {
    Slot& s = table_[i];
    if (s.entry == 0) break;
    if (s.hashTag != hashTag) continue;
    Entry& e = entries_[s.entry - 1];
    const auto length = static_cast<std::size_t>(e.lengthAndTag & ((uint64_t{1} << kTagShift) - 1));
    if (length == value.size() && (length == 0 || std::memcmp(e.data, value.data(), length) == 0)) {
      ++e.count;
      return {s.entry - 1, false};
    }
  }
  if (entries_.size() >= UINT32_MAX - 1 || uint64_t{value.size()} >= (uint64_t{1} << kTagShift))
    throw std::bad_alloc();
  entries_.push_back(Entry{Store(value), uint64_t{value.size()} | (uint64_t{tag & 3u} << kTagShift), 1});
  const auto index = static_cast<uint32_t>(entries_.size());
  table_[i] = Slot{index, hashTag};
  if (entries_.size() * 10 >= table_.size() * 7) Grow();  // at most 70 % full
  return {index - 1, true};
}

DistinctValues::Value DistinctValues::At(uint32_t index) const {
  const Entry& e = entries_[index];
  const auto length = static_cast<std::size_t>(e.lengthAndTag & ((uint64_t{1} << kTagShift) - 1));
  return Value{std::string_view(e.data, length), e.count, static_cast<uint8_t>(e.lengthAndTag >> kTagShift)};
}

std::vector<uint32_t> DistinctValues::ByCount() const {
  std::vector<uint32_t> order(entries_.size());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    return entries_[a].count != entries_[b].count ? entries_[a].count > entries_[b].count : a < b;
  });
  return order;
}

}  // namespace siftwell::filter
