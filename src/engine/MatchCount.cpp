#include "engine/MatchCount.h"

#include <optional>
#include <utility>

namespace siftwell::engine {
namespace {

// Hears the count's progress and asks the caller whether to stop.
class Counter : public ResultSink {
 public:
  explicit Counter(const std::function<bool()>& stopRequested) : stopRequested_(stopRequested) {}
  bool Piece(std::string_view) override { return true; }  // (a count gets no pieces)
  bool Progress(std::size_t) override { return !stopRequested_(); }

 private:
  const std::function<bool()>& stopRequested_;
};

}  // namespace

MatchCount CountMatches(std::string_view text, const CompiledPattern& pattern,
                        const std::function<bool()>& stopRequested, const MatchLimits& limits) {
  MatchCount result;
  if (IsEmpty(pattern)) {  // it leaves the text as it is: no match to count
    result.ok = true;
    return result;
  }
  Counter counter(stopRequested);
  uint64_t count = 0;
  if (std::optional<FilterError> error = CountTo(text, pattern, limits, counter, count)) {
    result.error = std::move(*error);
    return result;
  }
  result.ok = true;
  result.count = count;
  return result;
}

MatchCount CountMatches(std::string_view text, std::string_view pattern,
                        const std::function<bool()>& stopRequested, const MatchLimits& limits) {
  Compilation c = Compile(pattern, JitOnly(limits.jit));
  if (c.error) {
    MatchCount result;
    result.error = std::move(*c.error);
    return result;
  }
  return CountMatches(text, *c.pattern, stopRequested, limits);
}

std::wstring DescribeCount(uint64_t count) {
  if (count == 0) return L"no match";
  if (count == 1) return L"1 match";
  std::wstring digits = std::to_wstring(count);
  std::wstring grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += L'\u00A0';
    grouped += digits[i];
  }
  return grouped + L" matches";
}

}  // namespace siftwell::engine
