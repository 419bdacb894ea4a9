// The live match count: how many non-empty matches a pattern has in a text,
// stoppable at any time, and the words the filter window shows for it.
// Portable: no platform headers.
#pragma once

#include <cstdint>
#include <stop_token>
#include <string>
#include <string_view>

#include "filter/PatternFilter.h"

namespace siftwell::filter {

struct MatchCount {
  bool ok = false;
  uint64_t count = 0;   // non-empty matches (ok only)
  FilterError error;    // why not (!ok only); Kind::Stopped when `stop` was requested
};

// Counts the matches that Keep would keep, without building any result.
MatchCount CountMatches(std::string_view text, std::string_view pattern, std::stop_token stop,
                        const MatchLimits& limits = MatchLimits{});

// "no match", "1 match", "1 234 matches" (thousands grouped by a no-break space).
std::wstring DescribeCount(uint64_t count);

}  // namespace siftwell::filter
