// The live match count: how many non-empty matches a pattern has in a text,
// stoppable at any time, and the words the filter window shows for it.
// Portable: no platform headers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "engine/PatternFilter.h"

namespace siftwell::engine {

struct MatchCount {
  bool ok = false;
  uint64_t count = 0;   // non-empty matches (ok only)
  FilterError error;    // why not (!ok only); Kind::Stopped when `stopRequested` said so
};

// Counts the matches that Keep would keep, without building any result.
// `stopRequested` is asked often; once it answers true the count ends soon.
MatchCount CountMatches(std::string_view text, std::string_view pattern,
                        const std::function<bool()>& stopRequested, const MatchLimits& limits = MatchLimits{});
MatchCount CountMatches(std::string_view text, const CompiledPattern& pattern,
                        const std::function<bool()>& stopRequested, const MatchLimits& limits = MatchLimits{});

// "no match", "1 match", "1 234 matches" (thousands grouped by a no-break space).
std::wstring DescribeCount(uint64_t count);

}  // namespace siftwell::engine
