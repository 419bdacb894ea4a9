// The two filter operations on a document's bytes: Keep and Remove.
// Portable: no platform headers. The text is UTF-8 (invalid sequences allowed
// and preserved); matching is PCRE2 with the semantics the plugin promises.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace siftwell::filter {

// Why an operation did not produce a result. The document must stay untouched.
struct FilterError {
  enum class Kind { BadPattern, Limit, NoMemory };
  Kind kind = Kind::BadPattern;
  std::string message;  // for the user: the engine's text, plus where in the pattern
  std::size_t offset = 0;  // byte offset in the pattern (BadPattern only)
};

struct FilterResult {
  bool ok = false;
  std::string text;    // the new document (ok only)
  FilterError error;   // why not (!ok only)
};

// The delimiter field's text expanded: "\n" -> CR LF, then "\t" -> TAB.
std::string ExpandDelimiter(std::string_view field);

// Every non-empty match, each followed by the (already expanded) delimiter.
FilterResult Keep(std::string_view text, std::string_view pattern, std::string_view delimiter);
// The text with every match deleted.
FilterResult Remove(std::string_view text, std::string_view pattern);

}  // namespace siftwell::filter
