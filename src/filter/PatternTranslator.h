// The user's pattern as handed to PCRE2. Portable: no platform headers.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace siftwell::filter {

// The pattern as handed to PCRE2: \w, \W, \b and \B (also inside brackets and
// POSIX [:word:]) rewritten so that a word character is a letter (L), decimal
// digit (Nd) or connector punctuation (Pc). `origin`, if given, receives for
// every byte of the result (and one past its end) the byte offset in `pattern`
// it stems from, so that compile errors point into the user's pattern.
std::string TranslatePattern(std::string_view pattern, std::vector<std::size_t>* origin = nullptr);

}  // namespace siftwell::filter
