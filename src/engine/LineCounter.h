// Line numbers as the engine counts lines: a line ends at LF, CR LF or a lone
// CR. Portable.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace siftwell::engine {

// The 1-based number of the line holding each of a series of ascending
// positions (a position past the text counts as its end); the text is read once.
class LineCounter {
 public:
  explicit LineCounter(std::string_view text) : text_(text) {}
  // Counting on from `at`, a line start (never between a CR and its LF), which is line `line`.
  LineCounter(std::string_view text, std::size_t at, uint64_t line) : text_(text), at_(at), line_(line) {}
  uint64_t At(std::size_t pos) {
    pos = std::min(pos, text_.size());
    if (pos > at_) {
      const char* from = text_.data() + at_;
      line_ += static_cast<uint64_t>(std::count(from, text_.data() + pos, '\n'));
      for (const char* cr = from;
           (cr = static_cast<const char*>(std::memchr(cr, '\r', pos - static_cast<std::size_t>(cr - text_.data())))) !=
           nullptr;
           ++cr) {
        const std::size_t i = static_cast<std::size_t>(cr - text_.data());
        if (i + 1 >= text_.size() || text_[i + 1] != '\n') ++line_;
        if (i + 1 >= pos) break;
      }
      at_ = pos;
    }
    return line_;
  }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
  uint64_t line_ = 1;
};

}  // namespace siftwell::engine
