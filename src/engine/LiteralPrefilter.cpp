// Pattern analysis for the literal prefilter, and the literal scan itself.
#include "engine/LiteralPrefilter.h"
#include "engine/PatternTranslator.h"
#include "text/Utf8.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <optional>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
// 32 positions per step where the processor has AVX2 (decided at run time).
// Not on Windows: GCC does not align the stack there for spilled AVX values.
#if defined(__SSE2__) && defined(__x86_64__) && defined(__GNUC__) && !defined(_WIN32)
#define SIFTWELL_PAIR_AVX2 1
#include <immintrin.h>
#endif

namespace siftwell::engine {
namespace {

// ---- How rare a byte is in ordinary text (higher: rarer) ------------------

int Rarity(unsigned char c) {
  if (c == ' ' || c == 'e' || c == 't' || c == 'a' || c == 'o' || c == 'i' || c == 'n') return 0;
  if (c >= 'a' && c <= 'z') return 1;
  if (c >= '0' && c <= '9') return 1;
  if (c == '.' || c == ',' || c == '-' || c == ':' || c == '/' || c == '=' || c == '_' || c == '\r') return 2;
  if (c >= 'A' && c <= 'Z') return 3;
  if (c >= 0x80) return 3;
  return 4;  // other punctuation and controls
}

int CaselessRarity(unsigned char c) {
  if (c >= 'a' && c <= 'z') return std::min(Rarity(c), Rarity(static_cast<unsigned char>(c - 32)));
  if (c >= 'A' && c <= 'Z') return std::min(Rarity(c), Rarity(static_cast<unsigned char>(c + 32)));
  return Rarity(c);
}

bool IsAsciiLetter(unsigned char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }

#ifdef __SSE2__
// The first position p at or after `at` with t[p + i1] == c1 and
// t[p + i2] == c2 (p + max(i1, i2) < n), or npos.
#ifdef SIFTWELL_PAIR_AVX2
__attribute__((target("avx2"))) std::size_t PairAvx2(const char* t, std::size_t n, std::size_t& at, std::size_t i1,
                                                     std::size_t i2, char c1, char c2) {
  const std::size_t reach = std::max(i1, i2);
  const __m256i b1 = _mm256_set1_epi8(c1), b2 = _mm256_set1_epi8(c2);
  for (; at + reach + 32 <= n; at += 32) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + at + i1));
    const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + at + i2));
    const uint32_t mask = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(x, b1), _mm256_cmpeq_epi8(y, b2))));
    if (mask != 0) return at + static_cast<std::size_t>(std::countr_zero(mask));
  }
  return std::string_view::npos;  // none before `at`, which is left where the step stopped
}
#endif

std::size_t NextPair(const char* t, std::size_t n, std::size_t at, std::size_t i1, std::size_t i2, char c1, char c2) {
#ifdef SIFTWELL_PAIR_AVX2
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) {
    const std::size_t hit = PairAvx2(t, n, at, i1, i2, c1, c2);
    if (hit != std::string_view::npos) return hit;
  }
#endif
  const std::size_t reach = std::max(i1, i2);
  const __m128i b1 = _mm_set1_epi8(c1), b2 = _mm_set1_epi8(c2);
  for (; at + reach + 16 <= n; at += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + at + i1));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + at + i2));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(x, b1), _mm_cmpeq_epi8(y, b2))));
    if (mask != 0) return at + static_cast<std::size_t>(std::countr_zero(mask));
  }
  for (; at + reach < n; ++at)
    if (t[at + i1] == c1 && t[at + i2] == c2) return at;
  return std::string_view::npos;
}
#endif

// How much a set of literals narrows the search (higher: better).
int Quality(const std::vector<RequiredLiteral>& set) {
  int worst = 1 << 20;
  for (const RequiredLiteral& l : set) {
    int rarest = 0;
    for (unsigned char c : l.bytes) rarest = std::max(rarest, l.caseless ? CaselessRarity(c) : Rarity(c));
    worst = std::min(worst, static_cast<int>(std::min<std::size_t>(l.bytes.size(), 8)) * 10 + rarest);
  }
  return worst - 3 * static_cast<int>(set.size() - 1);
}

constexpr std::size_t kMaxLiterals = 8;

// ---- The parser ------------------------------------------------------------

// What the analysis knows of one piece of a pattern.
struct Info {
  bool consumesLf = false;                        // some match of it may consume an LF
  std::optional<std::vector<RequiredLiteral>> required;  // every match contains one of these
  std::optional<RequiredLiteral> exact;           // it matches exactly this string
  bool zeroWidth = false;                         // consumes nothing (assertion)
  bool exactSet = false;  // it matches exactly the strings in `required`, nothing else
};

struct Flags {
  bool caseless = false;
  bool dotAll = false;
};

class Analyzer {
 public:
  explicit Analyzer(std::string_view p) : p_(p) {}

  LiteralPlan Run(Flags flags = {}, Info* whole = nullptr, bool lines = false) {
    LiteralPlan plan;
    std::optional<Info> all = Alternation(flags, false);
    if (all && whole) *whole = *all;
    if (all && i_ < p_.size()) Decline("unbalanced closing parenthesis");
    if (!why_.empty()) {
      plan.declined = why_;
      return plan;
    }
    plan.withinLine = !all->consumesLf || lines;
    if (all->consumesLf && !lines) {
      plan.declined = "a match may span a line break";
    } else if (!all->required) {
      plan.declined = "no literal text that every match must contain";
    } else if (Quality(*all->required) < 14) {
      plan.declined = "the required literal text is too common to narrow the search";
    } else if (lines && std::any_of(all->required->begin(), all->required->end(), [](const RequiredLiteral& l) {
                 return l.bytes.find('\r') != std::string::npos;
               })) {
      plan.declined = "a required literal holds a line end";  // (never in a line: such a pattern never matches)
    } else {
      plan.literals = std::move(*all->required);
      plan.anyOccurrence = all->exactSet && std::all_of(plan.literals.begin(), plan.literals.end(), [](const RequiredLiteral& l) {
        return std::all_of(l.bytes.begin(), l.bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
      });
    }
    return plan;
  }

 private:
  void Decline(std::string why) {
    if (why_.empty()) why_ = std::move(why);
  }
  bool At(std::string_view s) const { return p_.substr(i_).starts_with(s); }

  // Branches separated by |, up to ) or the end.
  std::optional<Info> Alternation(Flags& flags, bool inGroup) {
    std::optional<Info> result;
    bool first = true;
    while (true) {
      std::optional<Info> branch = Sequence(flags);
      if (!branch) return std::nullopt;
      if (branch->exact) branch->exactSet = true;
      if (first) {
        result = std::move(branch);
        if (result->exact) result->required = std::vector<RequiredLiteral>{*result->exact};
      } else {
        result->exactSet &= branch->exactSet;
        result->consumesLf |= branch->consumesLf;
        result->zeroWidth &= branch->zeroWidth;
        result->exact.reset();
        if (branch->exact) branch->required = std::vector<RequiredLiteral>{*branch->exact};
        if (result->required && branch->required &&
            result->required->size() + branch->required->size() <= kMaxLiterals) {
          result->required->insert(result->required->end(), branch->required->begin(), branch->required->end());
        } else {
          result->required.reset();
          result->exactSet = false;
        }
      }
      first = false;
      if (i_ < p_.size() && p_[i_] == '|') {
        ++i_;
        continue;
      }
      if (i_ < p_.size() && p_[i_] == ')' && !inGroup) return result;  // caller reports it
      return result;
    }
  }

  // Items up to | or ) or the end.
  std::optional<Info> Sequence(Flags& flags) {
    Info seq;
    seq.zeroWidth = true;
    std::optional<RequiredLiteral> run;  // consecutive exact items
    bool allExact = true;
    int consuming = 0;
    bool assertions = false;
    bool onlySet = false;  // the one consuming item matches exactly a set of strings
    auto consider = [&](const std::vector<RequiredLiteral>& set) {
      if (!seq.required || Quality(set) > Quality(*seq.required)) seq.required = set;
    };
    auto flush = [&] {
      if (run) consider({*run});
    };
    while (i_ < p_.size() && p_[i_] != '|' && p_[i_] != ')') {
      std::optional<Info> atom = Atom(flags);
      if (!atom) return std::nullopt;
      if (!Quantifier(*atom)) return std::nullopt;
      seq.consumesLf |= atom->consumesLf;
      if (atom->zeroWidth) {  // assertions do not break a run of text
        assertions = true;
        continue;
      }
      seq.zeroWidth = false;
      ++consuming;
      onlySet = atom->exactSet && atom->required;
      if (atom->exact) {
        if (run && run->caseless == atom->exact->caseless) {
          run->bytes += atom->exact->bytes;
        } else {
          if (run) allExact = false;
          flush();
          run = atom->exact;
        }
      } else {
        allExact = false;
        flush();
        run.reset();
        if (atom->required) consider(*atom->required);
      }
    }
    flush();
    if (allExact && run) seq.exact = run;
    if (assertions) {
      seq.exact.reset();  // still required, but not all there is to a match
    } else if (consuming == 1 && onlySet && !seq.exact) {
      seq.exactSet = true;
    }
    return seq;
  }

  // A quantifier after an atom, if any: with a minimum of 0 nothing is required.
  bool Quantifier(Info& atom) {
    if (i_ >= p_.size()) return true;
    const char c = p_[i_];
    uint64_t min = 1;
    bool fixed = false;
    if (c == '*' || c == '?') {
      min = 0;
      ++i_;
    } else if (c == '+') {
      ++i_;
    } else if (c == '{') {
      std::size_t j = i_ + 1;
      auto digits = [&] {
        const std::size_t from = j;
        while (j < p_.size() && p_[j] >= '0' && p_[j] <= '9') ++j;
        return j > from;
      };
      if (!digits()) {  // a literal { in one engine version, a quantifier in another
        Decline("a { that is not a plain {n,m} quantifier");
        return false;
      }
      min = 0;
      for (std::size_t k = i_ + 1; k < j && min < 1000000; ++k) min = min * 10 + static_cast<uint64_t>(p_[k] - '0');
      fixed = true;
      if (j < p_.size() && p_[j] == ',') {
        ++j;
        digits();
        fixed = false;
      }
      if (j >= p_.size() || p_[j] != '}') {
        Decline("a { that is not a plain {n,m} quantifier");
        return false;
      }
      i_ = j + 1;
    } else {
      return true;
    }
    if (i_ < p_.size() && (p_[i_] == '?' || p_[i_] == '+')) ++i_;
    if (atom.zeroWidth) return true;
    if (!(fixed && min == 1)) atom.exactSet = false;
    if (min == 0) {
      atom.required.reset();
      atom.zeroWidth = false;
    } else if (atom.exact) {
      atom.required = std::vector<RequiredLiteral>{*atom.exact};
    }
    if (!(fixed && min == 1)) atom.exact.reset();
    return true;
  }

  Info Char(std::string_view bytes, const Flags& flags) {
    Info info;
    if (bytes == "\n") {
      info.consumesLf = true;
      return info;
    }
    bool letter = false;
    for (unsigned char c : bytes) letter |= IsAsciiLetter(c);
    const unsigned char c0 = static_cast<unsigned char>(bytes[0]);
    if (flags.caseless && letter) {
      // k and s have partners outside ASCII (KELVIN SIGN, LONG S); other
      // letters' caseless partners are not known here.
      if (bytes.size() != 1 || (c0 | 0x20) == 'k' || (c0 | 0x20) == 's') return info;
      info.exact = RequiredLiteral{std::string(bytes), true};
    } else if (flags.caseless && c0 >= 0x80) {
      return info;  // other scripts fold in ways not known here
    } else {
      info.exact = RequiredLiteral{std::string(bytes), flags.caseless};
    }
    return info;
  }

  static std::string Utf8(uint32_t c) {
    std::string s;
    utf8::Append(s, c);
    return s;
  }

  // Length of the UTF-8 character at i_ (0 when invalid).
  std::size_t CharAt(std::size_t at) const {
    if (at >= p_.size()) return 0;
    return utf8::ValidLength(reinterpret_cast<const unsigned char*>(p_.data()) + at, p_.size() - at);
  }

  // \xHH or \x{H...}: the code point, or nullopt (declined).
  std::optional<uint32_t> Hex(std::size_t& j) {
    uint32_t v = 0;
    auto hexval = [](char h) -> int {
      if (h >= '0' && h <= '9') return h - '0';
      if ((h | 0x20) >= 'a' && (h | 0x20) <= 'f') return (h | 0x20) - 'a' + 10;
      return -1;
    };
    if (j < p_.size() && p_[j] == '{') {
      std::size_t k = j + 1;
      int digits = 0;
      while (k < p_.size() && hexval(p_[k]) >= 0 && digits < 6) v = v * 16 + static_cast<uint32_t>(hexval(p_[k++])), ++digits;
      if (digits == 0 || k >= p_.size() || p_[k] != '}') return std::nullopt;
      j = k + 1;
    } else {
      int digits = 0;
      while (j < p_.size() && hexval(p_[j]) >= 0 && digits < 2) v = v * 16 + static_cast<uint32_t>(hexval(p_[j++])), ++digits;
      if (digits == 0) return std::nullopt;
    }
    if (v == 0 || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return std::nullopt;
    return v;
  }

  // \p{Name} / \pL at i_ (after the backslash and p): true when it cannot
  // match LF. Only letters, marks, numbers, punctuation, symbols, space
  // separators and a few scripts are known to exclude it.
  bool PropertyWithoutLf(std::size_t& j) {
    std::string name;
    if (j < p_.size() && p_[j] == '{') {
      const std::size_t close = p_.find('}', j);
      if (close == std::string_view::npos) return false;
      for (std::size_t k = j + 1; k < close; ++k)
        if (p_[k] != ' ' && p_[k] != '_' && p_[k] != '-') name += static_cast<char>(std::tolower(static_cast<unsigned char>(p_[k])));
      j = close + 1;
    } else if (j < p_.size()) {
      name = static_cast<char>(std::tolower(static_cast<unsigned char>(p_[j++])));
    }
    static constexpr std::string_view kSafe[] = {
        "l", "lu", "ll", "lt", "lm", "lo", "lc", "l&", "m", "mn", "mc", "me", "n", "nd", "nl", "no",
        "p", "pc", "pd", "ps", "pe", "pi", "pf", "po", "s", "sm", "sc", "sk", "so", "zs",
        "latin", "greek", "cyrillic", "armenian", "hebrew", "arabic", "devanagari", "bengali", "thai",
        "georgian", "hangul", "hiragana", "katakana", "han"};
    return std::find(std::begin(kSafe), std::end(kSafe), name) != std::end(kSafe);
  }

  std::optional<Info> Escape(const Flags& flags) {
    // i_ at the backslash
    if (i_ + 1 >= p_.size()) {
      Decline("a trailing backslash");
      return std::nullopt;
    }
    const char e = p_[i_ + 1];
    std::size_t j = i_ + 2;
    Info info;
    auto done = [&](Info r) {
      i_ = j;
      return std::optional<Info>(std::move(r));
    };
    switch (e) {
      case 'd': case 'w': case 'S': case 'h': return done(info);
      case 'N':
        if (j < p_.size() && p_[j] == '{') break;
        return done(info);
      case 'v':  // the vertical tab U+000B alone, as the translation writes it
        return done(Char(std::string_view("\x0B", 1), flags));
      case 's': case 'D': case 'W': case 'H': case 'V': case 'R': case 'X':
        info.consumesLf = true;
        return done(info);
      case 'b': case 'B': case 'A': case 'z': case 'Z':
        info.zeroWidth = true;
        return done(info);
      case 'n': return done(Char("\n", flags));
      case 't': return done(Char("\t", flags));
      case 'r': return done(Char("\r", flags));
      case 'f': return done(Char("\f", flags));
      case 'e': return done(Char("\x1b", flags));
      case 'a': return done(Char("\a", flags));
      case 'x': {
        std::optional<uint32_t> v = Hex(j);
        if (!v) break;
        return done(Char(Utf8(*v), flags));
      }
      case 'p':
        if (!PropertyWithoutLf(j)) {
          info.consumesLf = true;  // may match LF, or unknown
        }
        return done(info);
      case 'Q': {
        const std::size_t end = p_.find("\\E", j);
        const std::size_t stop = end == std::string_view::npos ? p_.size() : end;
        Info all;
        all.zeroWidth = true;
        std::optional<RequiredLiteral> run;
        bool exact = true;
        for (std::size_t k = j; k < stop;) {
          const std::size_t n = CharAt(k);
          if (n == 0) {
            Decline("invalid UTF-8 in the pattern");
            return std::nullopt;
          }
          Info c = Char(p_.substr(k, n), flags);
          all.zeroWidth = false;
          all.consumesLf |= c.consumesLf;
          if (c.exact && (!run || run->caseless == c.exact->caseless)) {
            if (run) run->bytes += c.exact->bytes; else run = c.exact;
          } else {
            exact = false;
            if (run) all.required = std::vector<RequiredLiteral>{*run};  // keep the first run
            run.reset();
          }
          k += n;
        }
        if (run && exact) all.exact = run;
        else if (run && !all.required) all.required = std::vector<RequiredLiteral>{*run};
        i_ = end == std::string_view::npos ? p_.size() : end + 2;
        return all;
      }
      case 'E':
        info.zeroWidth = true;
        return done(info);
      default:
        if (static_cast<unsigned char>(e) < 0x80 && !std::isalnum(static_cast<unsigned char>(e)) && e != '\n')
          return done(Char(p_.substr(i_ + 1, 1), flags));  // escaped punctuation: itself
        break;
    }
    Decline(std::string("the escape \\") + e + " is not analysed");
    return std::nullopt;
  }

  // A bracket class at i_. It is never literal text; what matters is whether
  // it may match LF.
  std::optional<Info> Class() {
    std::size_t j = i_ + 1;
    bool negated = false;
    if (j < p_.size() && p_[j] == '^') negated = true, ++j;
    bool hasLf = false;     // some item surely includes LF
    bool maybeLf = false;   // some item may include LF
    bool first = true;
    constexpr uint32_t kNoChar = UINT32_MAX;
    uint32_t prev = kNoChar;  // last single character (for ranges); NUL is one too
    while (true) {
      if (j >= p_.size()) {
        Decline("an unterminated class");
        return std::nullopt;
      }
      const char c = p_[j];
      if (c == ']' && !first) break;
      if (first && (c == '[' && j + 1 < p_.size() && (p_[j + 1] == '.' || p_[j + 1] == '='))) {
        Decline("a class starting with [. or [=");
        return std::nullopt;
      }
      first = false;
      if (c == '[' && j + 1 < p_.size() && p_[j + 1] == ':') {
        const std::size_t end = PosixItemEnd(p_, j);
        if (end == std::string_view::npos) {
          Decline("a [: that PCRE2 reads as characters");
          return std::nullopt;
        }
        const std::string_view name = p_.substr(j + 2, end - j - 2);
        if (name == "space" || name == "cntrl") hasLf = true;
        else if (name != "alpha" && name != "digit" && name != "alnum" && name != "upper" && name != "lower" &&
                 name != "word" && name != "xdigit" && name != "punct")
          maybeLf = true;
        j = end + 2;
        prev = kNoChar;
        continue;
      }
      if (c == '-' && prev != kNoChar && j + 1 < p_.size() && p_[j + 1] != ']') {
        // a range prev-hi
        ++j;
        uint32_t hi = 0;
        if (p_[j] == '[' && j + 1 < p_.size() && (p_[j + 1] == ':' || p_[j + 1] == '.' || p_[j + 1] == '=')) {
          // [.-[:^word:]]: the translation takes the POSIX class out; what
          // the hyphen then is, is not analysed here.
          Decline("a hyphen before a POSIX class");
          return std::nullopt;
        }
        if (p_[j] == '\\') {
          if (j + 1 < p_.size() && p_[j + 1] == 'x') {
            std::size_t k = j + 2;
            std::optional<uint32_t> v = Hex(k);
            if (!v) {
              Decline("a class range not analysed");
              return std::nullopt;
            }
            hi = *v;
            j = k;
          } else if (j + 1 < p_.size() && std::ispunct(static_cast<unsigned char>(p_[j + 1]))) {
            hi = static_cast<unsigned char>(p_[j + 1]);
            j += 2;
          } else if (j + 1 < p_.size() && p_[j + 1] == 'v') {
            hi = 0x0B;
            j += 2;
          } else {
            Decline("a class range not analysed");
            return std::nullopt;
          }
        } else {
          const std::size_t n = CharAt(j);
          if (n == 0) {
            Decline("invalid UTF-8 in the pattern");
            return std::nullopt;
          }
          hi = static_cast<unsigned char>(p_[j]);  // only compared with LF below
          if (n > 1) hi = 0x80;
          j += n;
        }
        if (prev <= '\n' && hi >= '\n') maybeLf = true;
        prev = kNoChar;
        continue;
      }
      if (c == '\\' && j + 1 < p_.size()) {
        const char e = p_[j + 1];
        j += 2;
        prev = kNoChar;
        switch (e) {
          case 'd': case 'w': case 'S': case 'h': break;
          case 's': case 'n': hasLf = true; break;
          case 'v': prev = 0x0B; break;  // U+000B alone (not PCRE2's vertical space)
          case 'D': case 'W': case 'H': case 'V': case 'P': case 'N': case 'R': case 'X': maybeLf = true; break;
          case 't': prev = '\t'; break;
          case 'r': prev = '\r'; break;
          case 'f': prev = '\f'; break;
          case 'e': prev = 0x1b; break;
          case 'a': prev = 7; break;
          case 'p':
            if (!PropertyWithoutLf(j)) maybeLf = true;
            break;
          case 'x': {
            std::optional<uint32_t> v = Hex(j);
            if (!v) {
              Decline("a class item not analysed");
              return std::nullopt;
            }
            if (*v == '\n') hasLf = true;
            prev = *v;
            break;
          }
          default:
            if (static_cast<unsigned char>(e) < 0x80 && !std::isalnum(static_cast<unsigned char>(e)) && e != '\n') {
              prev = static_cast<unsigned char>(e);
              break;
            }
            Decline(std::string("the class item \\") + e + " is not analysed");
            return std::nullopt;
        }
        continue;
      }
      const std::size_t n = CharAt(j);
      if (n == 0) {
        Decline("invalid UTF-8 in the pattern");
        return std::nullopt;
      }
      if (c == '\n') hasLf = true;
      prev = n == 1 ? static_cast<unsigned char>(c) : 0x80;
      j += n;
    }
    i_ = j + 1;
    Info info;
    info.consumesLf = negated ? !hasLf : (hasLf || maybeLf);
    if (negated && maybeLf && !hasLf) info.consumesLf = true;
    return info;
  }

  // A group at i_ (the opening parenthesis).
  std::optional<Info> Group(Flags& flags) {
    std::size_t j = i_ + 1;
    bool lookaround = false;
    if (j < p_.size() && p_[j] == '*') {
      Decline("a (* verb or option");
      return std::nullopt;
    }
    Flags inner = flags;
    if (j < p_.size() && p_[j] == '?') {
      ++j;
      if (j >= p_.size()) {
        Decline("an unterminated group");
        return std::nullopt;
      }
      const char c = p_[j];
      if (c == ':' || c == '>' || c == '|') {
        ++j;
      } else if (c == '=' || c == '!') {
        lookaround = true;
        ++j;
      } else if (c == '<' && j + 1 < p_.size() && (p_[j + 1] == '=' || p_[j + 1] == '!')) {
        lookaround = true;
        j += 2;
      } else if (c == '<' || c == '\'' || (c == 'P' && j + 1 < p_.size() && p_[j + 1] == '<')) {
        const char close = c == '\'' ? '\'' : '>';
        const std::size_t end = p_.find(close, j + (c == 'P' ? 2 : 1));
        if (end == std::string_view::npos) {
          Decline("an unterminated group name");
          return std::nullopt;
        }
        j = end + 1;
      } else if (c == '#') {
        const std::size_t end = p_.find(')', j);
        if (end == std::string_view::npos) {
          Decline("an unterminated comment");
          return std::nullopt;
        }
        i_ = end + 1;
        Info none;
        none.zeroWidth = true;
        return none;
      } else {
        // option letters: (?i) (?-i) (?i:...) ...
        Flags set = flags;
        bool on = true;
        while (j < p_.size() && p_[j] != ')' && p_[j] != ':') {
          const char o = p_[j];
          if (o == '-') on = false;
          else if (o == 'i') set.caseless = on;
          else if (o == 's') set.dotAll = on;
          else if (o == 'm') {
          } else {
            Decline(std::string("the group (?") + o + " is not analysed");
            return std::nullopt;
          }
          ++j;
        }
        if (j >= p_.size()) {
          Decline("an unterminated group");
          return std::nullopt;
        }
        if (p_[j] == ')') {  // applies to the rest of the enclosing group
          flags = set;
          i_ = j + 1;
          Info none;
          none.zeroWidth = true;
          return none;
        }
        inner = set;
        ++j;
      }
    }
    i_ = j;
    std::optional<Info> body = Alternation(inner, true);
    if (!body) return std::nullopt;
    if (i_ >= p_.size() || p_[i_] != ')') {
      Decline("an unterminated group");
      return std::nullopt;
    }
    ++i_;
    if (lookaround) {  // sees the whole text; consumes nothing
      Info none;
      none.zeroWidth = true;
      return none;
    }
    return body;
  }

  std::optional<Info> Atom(Flags& flags) {
    const char c = p_[i_];
    switch (c) {
      case '\\': return Escape(flags);
      case '[': return Class();
      case '(': return Group(flags);
      case '^': case '$': {
        ++i_;
        Info z;
        z.zeroWidth = true;
        return z;
      }
      case '.': {
        ++i_;
        Info any;
        any.consumesLf = flags.dotAll;
        return any;
      }
      case '*': case '+': case '?': case '{':
        Decline("a quantifier without an item");
        return std::nullopt;
      default: {
        const std::size_t n = CharAt(i_);
        if (n == 0) {
          Decline("invalid UTF-8 in the pattern");
          return std::nullopt;
        }
        Info info = Char(p_.substr(i_, n), flags);
        i_ += n;
        return info;
      }
    }
  }

  std::string_view p_;
  std::size_t i_ = 0;
  std::string why_;
};

}  // namespace

namespace {

// (?m)^.*M.*$ where M matches exactly a set of literals: the match is the
// whole line whenever the line holds one of them (and `.` takes every
// character of it, i.e. it is valid UTF-8).
bool WholeLine(std::string_view p, bool caseless) {
  Flags flags;
  flags.caseless = caseless;
  if (p.starts_with("(?m)")) p.remove_prefix(4);
  else if (p.starts_with("(?mi)") || p.starts_with("(?im)")) p.remove_prefix(5), flags.caseless = true;
  else return false;
  if (!p.starts_with("^.*") || !p.ends_with(".*$") || p.size() < 7) return false;
  const std::string_view middle = p.substr(3, p.size() - 6);
  for (std::size_t at = middle.find("(?"); at != std::string_view::npos; at = middle.find("(?", at + 1))
    if (at + 2 >= middle.size() || middle[at + 2] != ':') return false;  // no option changes inside
  std::size_t slashes = 0;  // an odd number would escape the final dot
  while (slashes < middle.size() && middle[middle.size() - 1 - slashes] == '\\') ++slashes;
  if (slashes % 2) return false;
  // No alternative at the top: ^.*A|B.*$ is not about whole lines.
  int depth = 0;
  for (std::size_t i = 0; i < middle.size(); ++i) {
    const char c = middle[i];
    if (c == '\\') {
      if (i + 1 < middle.size() && middle[i + 1] == 'Q') return false;
      ++i;
    } else if (c == '[') {
      return false;  // classes are never exact text anyway
    } else if (c == '(') {
      ++depth;
    } else if (c == ')') {
      --depth;
    } else if (c == '|' && depth == 0) {
      return false;
    }
  }
  Info whole;
  const LiteralPlan plan = Analyzer(middle).Run(flags, &whole);
  return !plan.literals.empty() && whole.exactSet && !whole.consumesLf;
}

}  // namespace

LiteralPlan PlanLiterals(std::string_view pattern, const PlanOptions& options) {
  LiteralPlan plan;
  if (pattern.empty()) {
    plan.declined = "empty pattern";
    return plan;
  }
  Flags flags;
  flags.caseless = options.caseless;
  plan = Analyzer(pattern).Run(flags, nullptr, options.lines);
  if (!plan.literals.empty() && !options.lines) plan.wholeLine = WholeLine(pattern, options.caseless);
  return plan;
}

// ---- The scan ----------------------------------------------------------------

// How often each byte occurs in a sample from the start of the text: the
// anchor byte of each literal is the rarest one there.
void LiteralFinder::Rank(std::string_view text, uint32_t* counts) {
  const std::size_t sample = std::min<std::size_t>(text.size(), 256 * 1024);
  for (std::size_t i = 0; i < sample; ++i) ++counts[static_cast<unsigned char>(text[i])];
}

LiteralFinder::LiteralFinder(std::string_view text, std::vector<RequiredLiteral> literals) : text_(text) {
  uint32_t counts[256] = {};
  Rank(text, counts);
  for (RequiredLiteral& l : literals) {
    Scan s;
    bool letters = false;
    for (unsigned char c : l.bytes) letters |= IsAsciiLetter(c);
    if (!letters) l.caseless = false;
    uint64_t best = UINT64_MAX;
    for (std::size_t k = 0; k < l.bytes.size(); ++k) {
      const unsigned char c = static_cast<unsigned char>(l.bytes[k]);
      uint64_t seen = counts[c];
      if (l.caseless && IsAsciiLetter(c)) seen = counts[c | 0x20] + counts[c & ~0x20];
      // Ties: the static guess of what is rare in text in general.
      const uint64_t score = seen * 8 + static_cast<uint64_t>(4 - (l.caseless ? CaselessRarity(c) : Rarity(c)));
      if (score < best) best = score, s.anchor = k;
    }
    uint64_t next = UINT64_MAX;
    s.second = s.anchor;
    for (std::size_t k = 0; k < l.bytes.size(); ++k) {
      if (k == s.anchor) continue;
      const unsigned char c = static_cast<unsigned char>(l.bytes[k]);
      const uint64_t score = uint64_t{counts[c]} * 8 + static_cast<uint64_t>(4 - Rarity(c));
      if (score < next) next = score, s.second = k;
    }
    const unsigned char a = static_cast<unsigned char>(l.bytes[s.anchor]);
    s.probe[0] = s.probe[1] = a;
    if (l.caseless && IsAsciiLetter(a)) {
      s.probe[0] = static_cast<unsigned char>(a | 0x20);
      s.probe[1] = static_cast<unsigned char>(a & ~0x20);
    }
    s.lit = std::move(l);
    scans_.push_back(std::move(s));
  }
}

bool LiteralFinder::Verify(const Scan& s, std::size_t at) const {
  const std::string& b = s.lit.bytes;
  if (at + b.size() > text_.size()) return false;
  const char* t = text_.data() + at;
  if (!s.lit.caseless) {
    if (b.size() > 16) return std::memcmp(t, b.data(), b.size()) == 0;
    for (std::size_t k = 0; k < b.size(); ++k)
      if (t[k] != b[k]) return false;
    return true;
  }
  for (std::size_t k = 0; k < b.size(); ++k) {
    const unsigned char x = static_cast<unsigned char>(t[k]), y = static_cast<unsigned char>(b[k]);
    if (x != y && !(IsAsciiLetter(x) && (x | 0x20) == (y | 0x20))) return false;
  }
  return true;
}

std::size_t LiteralFinder::Find(Scan& s, std::size_t from) {
  const std::size_t n = text_.size();
  const std::size_t len = s.lit.bytes.size();
#ifdef __SSE2__
  if (!s.lit.caseless && len >= 2) {
    // Two of the literal's bytes at their distance, many start positions per
    // step: far fewer false candidates than one byte's memchr.
    const std::string& b = s.lit.bytes;
    for (std::size_t at = from;; ++at) {
      at = NextPair(text_.data(), n, at, s.anchor, s.second, b[s.anchor], b[s.second]);
      if (at == std::string_view::npos) return at;
      if (Verify(s, at)) return at;
    }
  }
#endif
  const bool two = s.probe[0] != s.probe[1];
  // Positions of the anchor byte(s), each advanced by memchr only as needed.
  auto probe = [&](int v, std::size_t at) {
    if (s.probeNext[v] >= at && s.probeNext[v] != 0) return s.probeNext[v];
    const void* p = at < n ? std::memchr(text_.data() + at, s.probe[v], n - at) : nullptr;
    s.probeNext[v] = p ? static_cast<std::size_t>(static_cast<const char*>(p) - text_.data()) : std::string_view::npos;
    return s.probeNext[v];
  };
  std::size_t at = from + s.anchor;
  while (at < n) {
    std::size_t hit = probe(0, at);
    if (two) hit = std::min(hit, probe(1, at));
    if (hit == std::string_view::npos || hit + (len - s.anchor) > n) return std::string_view::npos;
    if (Verify(s, hit - s.anchor)) return hit - s.anchor;
    at = hit + 1;
  }
  return std::string_view::npos;
}

std::size_t LiteralFinder::Next(std::size_t from) {
  std::size_t best = std::string_view::npos;
  for (Scan& s : scans_) {
    if (!s.fresh || (s.found != std::string_view::npos && s.found < from)) {
      s.found = Find(s, from);
      s.fresh = true;
    }
    best = std::min(best, s.found);
  }
  return best;
}

std::size_t LiteralFinder::LengthAt(std::size_t at) const {
  for (const Scan& s : scans_)
    if (Verify(s, at)) return s.lit.bytes.size();
  return 0;
}

}  // namespace siftwell::engine
