// The user's pattern rewritten for PCRE2 (see PatternTranslator.h).
#include "filter/PatternTranslator.h"

#include <utility>

namespace siftwell::filter {
namespace {

// The ASCII members are letters, digits and a connector already; naming them
// lets the compiled class test ASCII through a bitmap instead of property
// lookups. They stand inside, so whatever borders a translated \w in a class
// still meets a \p item, as it met the \w.
#define SIFTWELL_WORD_ITEMS "\\p{L}A-Za-z0-9_\\p{Nd}\\p{Pc}"
constexpr std::string_view kWordItems = SIFTWELL_WORD_ITEMS;
constexpr std::string_view kWord = "[" SIFTWELL_WORD_ITEMS "]";
constexpr std::string_view kNonWord = "[^" SIFTWELL_WORD_ITEMS "]";
constexpr std::string_view kBoundary =
    "(?:(?<=[" SIFTWELL_WORD_ITEMS "])(?![" SIFTWELL_WORD_ITEMS "])|"
    "(?<![" SIFTWELL_WORD_ITEMS "])(?=[" SIFTWELL_WORD_ITEMS "]))";
constexpr std::string_view kNonBoundary =
    "(?:(?<=[" SIFTWELL_WORD_ITEMS "])(?=[" SIFTWELL_WORD_ITEMS "])|"
    "(?<![" SIFTWELL_WORD_ITEMS "])(?![" SIFTWELL_WORD_ITEMS "]))";
#undef SIFTWELL_WORD_ITEMS

class Translator {
 public:
  Translator(std::string_view in, std::vector<std::size_t>* origin) : in_(in), origin_(origin) {}

  std::string Run() {
    while (i_ < in_.size()) {
      const char c = in_[i_];
      if (c == '\\' && i_ + 1 < in_.size()) {
        Escape();
      } else if (c == '[') {
        Class();
      } else if (in_.substr(i_).starts_with("(?#")) {
        const std::size_t end = in_.find(')', i_);
        CopyRaw(end == std::string_view::npos ? in_.size() - i_ : end + 1 - i_);
      } else {
        CopyRaw(1);
      }
    }
    if (origin_) origin_->push_back(in_.size());
    return std::move(out_);
  }

 private:
  void Emit(std::string_view s, std::size_t from) {
    out_ += s;
    if (origin_) origin_->insert(origin_->end(), s.size(), from);
  }
  void CopyRaw(std::size_t n) {
    for (std::size_t k = 0; k < n; ++k) Emit(in_.substr(i_ + k, 1), i_ + k);
    i_ += n;
  }
  // Length of \Q...\E (or to the end) starting at i_.
  std::size_t QuotedLength() const {
    const std::size_t end = in_.find("\\E", i_ + 2);
    return end == std::string_view::npos ? in_.size() - i_ : end + 2 - i_;
  }
  // Length of an escape other than \Q at i_ (\cX takes its X along).
  std::size_t EscapeLength() const {
    if (in_[i_ + 1] == 'c' && i_ + 2 < in_.size()) return 3;
    return 2;
  }

  void Escape() {
    switch (in_[i_ + 1]) {
      case 'w': Emit(kWord, i_); i_ += 2; return;
      case 'W': Emit(kNonWord, i_); i_ += 2; return;
      case 'b': Emit(kBoundary, i_); i_ += 2; return;
      case 'B': Emit(kNonBoundary, i_); i_ += 2; return;
      case 'Q': CopyRaw(QuotedLength()); return;
      default: CopyRaw(EscapeLength()); return;
    }
  }

  // A bracket class starting at i_. Items are collected with their origins;
  // \w becomes the three properties; \W (which cannot be a union member of a
  // class in PCRE2's syntax without changing its meaning) is taken out and
  // the class rewritten as an alternation or a guarded single character.
  void Class() {
    const std::size_t start = i_;
    std::size_t j = i_ + 1;
    bool negated = false;
    if (j < in_.size() && in_[j] == '^') { negated = true; ++j; }
    std::string items;
    std::vector<std::size_t> itemOrigin;
    auto add = [&](std::string_view s, std::size_t from) {
      items += s;
      itemOrigin.insert(itemOrigin.end(), s.size(), from);
    };
    bool nonWord = false;
    bool first = true;
    while (true) {
      if (j >= in_.size()) {  // unterminated: let PCRE2 report it where it is
        CopyRaw(1);
        return;
      }
      const char c = in_[j];
      if (c == ']' && !first) break;
      first = false;
      if (c == '\\' && j + 1 < in_.size()) {
        const char e = in_[j + 1];
        if (e == 'w') { add(kWordItems, j); j += 2; continue; }
        if (e == 'W') { nonWord = true; j += 2; continue; }
        std::size_t len = 2;
        if (e == 'Q') {
          const std::size_t end = in_.find("\\E", j + 2);
          len = end == std::string_view::npos ? in_.size() - j : end + 2 - j;
        } else if (e == 'c' && j + 2 < in_.size()) {
          len = 3;
        }
        for (std::size_t k = 0; k < len; ++k) add(in_.substr(j + k, 1), j + k);
        j += len;
        continue;
      }
      if (c == '[' && j + 1 < in_.size() && (in_[j + 1] == ':' || in_[j + 1] == '.' || in_[j + 1] == '=')) {
        const std::string_view close = in_[j + 1] == ':' ? ":]" : in_[j + 1] == '.' ? ".]" : "=]";
        const std::size_t end = in_.find(close, j + 2);
        if (end != std::string_view::npos) {
          const std::string_view name = in_.substr(j, end + 2 - j);
          if (name == "[:word:]") add(kWordItems, j);
          else if (name == "[:^word:]") nonWord = true;
          else add(name, j);
          j = end + 2;
          continue;
        }
      }
      add(in_.substr(j, 1), j);
      ++j;
    }
    const std::size_t close = j;  // the closing ]
    i_ = close + 1;
    auto emitItems = [&] {
      if (!items.empty() && items[0] == '^') Emit("\\", start);
      for (std::size_t k = 0; k < items.size(); ++k) Emit(std::string_view(items).substr(k, 1), itemOrigin[k]);
    };
    if (!nonWord) {
      Emit(negated ? "[^" : "[", start);
      for (std::size_t k = 0; k < items.size(); ++k) Emit(std::string_view(items).substr(k, 1), itemOrigin[k]);
      Emit("]", close);
    } else if (items.empty()) {
      Emit(negated ? kWord : kNonWord, start);
    } else if (!negated) {  // items or a non-word character
      Emit("(?:[", start);
      emitItems();
      Emit("]|", close);
      Emit(kNonWord, close);
      Emit(")", close);
    } else {  // a word character that is none of the items
      Emit("(?:(?![", start);
      emitItems();
      Emit("])", close);
      Emit(kWord, close);
      Emit(")", close);
    }
  }

  std::string_view in_;
  std::vector<std::size_t>* origin_;
  std::string out_;
  std::size_t i_ = 0;
};

}  // namespace

std::string TranslatePattern(std::string_view pattern, std::vector<std::size_t>* origin) {
  if (origin) origin->clear();
  return Translator(pattern, origin).Run();
}

}  // namespace siftwell::filter
