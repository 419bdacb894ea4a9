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
#include <span>
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

// ---- The analysis ----------------------------------------------------------
// It reads the pattern item by item as the translator found them (one
// reading of the syntax for both).

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

using Item = PatternItem;
using Kind = PatternItem::Kind;

class Analyzer {
 public:
  explicit Analyzer(std::span<const Item> items) : items_(items) {}

  LiteralPlan Run(Flags flags = {}, Info* whole = nullptr, bool lines = false) {
    LiteralPlan plan;
    std::optional<Info> all = Alternation(flags);
    if (all && whole) *whole = *all;
    if (all && i_ < items_.size()) Decline("unbalanced closing parenthesis");
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
  bool Next(Kind kind) const { return i_ < items_.size() && items_[i_].kind == kind; }
  // Passes over what PCRE2 reads as nothing at all: a comment, a stray \E,
  // an empty \Q\E. A quantifier after one applies to the item before it.
  void SkipNothing() {
    while (i_ < items_.size() &&
           (items_[i_].kind == Kind::Comment || (items_[i_].kind == Kind::Escape && items_[i_].letter == 'E') ||
            (items_[i_].kind == Kind::Quoted && items_[i_].text.empty())))
      ++i_;
  }

  // Branches separated by |, up to ) or the end.
  std::optional<Info> Alternation(Flags& flags) {
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
      if (!Next(Kind::Bar)) return result;  // ) or the end: the caller's
      ++i_;
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
    while (true) {
      SkipNothing();
      if (i_ >= items_.size() || Next(Kind::Bar) || Next(Kind::Close)) break;
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
    SkipNothing();
    if (Next(Kind::Brace)) {  // a literal { in one engine version, a quantifier in another
      Decline("a { that is not a plain {n,m} quantifier");
      return false;
    }
    if (!Next(Kind::Repeat)) return true;
    const Item& q = items_[i_++];
    if (atom.zeroWidth) return true;
    const bool once = q.min == 1 && q.max == 1;
    if (!once) atom.exactSet = false;
    if (q.min == 0) {
      atom.required.reset();
      atom.zeroWidth = false;
    } else if (atom.exact) {
      atom.required = std::vector<RequiredLiteral>{*atom.exact};
    }
    if (!once) atom.exact.reset();
    return true;
  }

  static Info Char(std::string_view bytes, const Flags& flags) {
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

  // \p{Name} / \pL: true when it cannot match LF. Only letters, marks,
  // numbers, punctuation, symbols, space separators and a few scripts are
  // known to exclude it.
  static bool PropertyWithoutLf(std::string_view written) {
    std::string name;
    for (char c : written)
      if (c != ' ' && c != '_' && c != '-') name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    static constexpr std::string_view kSafe[] = {
        "l", "lu", "ll", "lt", "lm", "lo", "lc", "l&", "m", "mn", "mc", "me", "n", "nd", "nl", "no",
        "p", "pc", "pd", "ps", "pe", "pi", "pf", "po", "s", "sm", "sc", "sk", "so", "zs",
        "latin", "greek", "cyrillic", "armenian", "hebrew", "arabic", "devanagari", "bengali", "thai",
        "georgian", "hangul", "hiragana", "katakana", "han"};
    return std::find(std::begin(kSafe), std::end(kSafe), name) != std::end(kSafe);
  }

  std::optional<Info> Escape(const Item& item) {
    Info info;
    switch (item.letter) {
      case 'd': case 'w': case 'S': case 'h': return info;
      case 'N':
        if (!item.text.empty()) break;  // \N{U+..}
        return info;
      case 's': case 'D': case 'W': case 'H': case 'V': case 'R': case 'X':
        info.consumesLf = true;
        return info;
      case 'b': case 'B': case 'A': case 'z': case 'Z':
        info.zeroWidth = true;
        return info;
      case 'p':
        info.consumesLf = !PropertyWithoutLf(item.text);  // may match LF, or unknown
        return info;
      case 0:
        Decline("a trailing backslash");
        return std::nullopt;
      default:
        break;
    }
    Decline(std::string("the escape \\") + item.letter + " is not analysed");
    return std::nullopt;
  }

  // \Q...\E: its characters in a row.
  std::optional<Info> Quoted(std::string_view text, const Flags& flags) {
    Info all;
    all.zeroWidth = true;
    std::optional<RequiredLiteral> run;
    bool exact = true;
    for (std::size_t k = 0; k < text.size();) {
      const std::size_t n = utf8::ValidLength(reinterpret_cast<const unsigned char*>(text.data()) + k, text.size() - k);
      if (n == 0) {
        Decline("invalid UTF-8 in the pattern");
        return std::nullopt;
      }
      Info c = Char(text.substr(k, n), flags);
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
    return all;
  }

  // A bracket class is never literal text; what matters is whether it may
  // match LF.
  std::optional<Info> Class(const Item& item) {
    using M = Item::Member;
    bool hasLf = false;     // some member surely includes LF
    bool maybeLf = false;   // some member may include LF
    constexpr uint32_t kNoChar = UINT32_MAX;
    uint32_t prev = kNoChar;  // the last single character (for ranges); NUL is one too
    const auto& members = item.members;
    for (std::size_t k = 0; k < members.size(); ++k) {
      const M& m = members[k];
      switch (m.kind) {
        case M::Kind::Char:
          if (m.cp == '\n') hasLf = true;
          prev = m.cp;
          continue;
        case M::Kind::Hyphen: {
          if (prev == kNoChar) {  // a hyphen after a class item: itself
            prev = '-';
            continue;
          }
          const M& hi = members[k + 1];  // (a hyphen is never last)
          if (hi.kind == M::Kind::Posix) {
            // [.-[:^word:]]: the translation takes the POSIX class out; what
            // the hyphen then is, is not analysed here.
            Decline("a hyphen before a POSIX class");
            return std::nullopt;
          }
          if (hi.kind != M::Kind::Char && hi.kind != M::Kind::Hyphen) {
            Decline("a class range not analysed");
            return std::nullopt;
          }
          const uint32_t last = hi.kind == M::Kind::Char ? hi.cp : '-';
          if (prev <= '\n' && last >= '\n') maybeLf = true;
          prev = kNoChar;
          ++k;
          continue;
        }
        case M::Kind::Escape:
          prev = kNoChar;
          switch (m.letter) {
            case 'd': case 'w': case 'S': case 'h': break;
            case 's': case 'n': hasLf = true; break;
            case 'D': case 'W': case 'H': case 'V': case 'P': case 'N': case 'R': case 'X': maybeLf = true; break;
            case 'p':
              if (!PropertyWithoutLf(m.name)) maybeLf = true;
              break;
            default:
              Decline(std::string("the class item \\") + m.letter + " is not analysed");
              return std::nullopt;
          }
          continue;
        case M::Kind::Posix: {
          if (!m.name.starts_with("[:")) {
            Decline("a class with [. or [=");
            return std::nullopt;
          }
          const std::string_view name = std::string_view(m.name).substr(2, m.name.size() - 4);
          if (name == "space" || name == "cntrl") hasLf = true;
          else if (name != "alpha" && name != "digit" && name != "alnum" && name != "upper" && name != "lower" &&
                   name != "word" && name != "xdigit" && name != "punct")
            maybeLf = true;
          prev = kNoChar;
          continue;
        }
        case M::Kind::Quoted:
          Decline("the class item \\Q is not analysed");
          return std::nullopt;
        case M::Kind::Invalid:
          Decline("invalid UTF-8 in the pattern");
          return std::nullopt;
      }
    }
    Info info;
    info.consumesLf = item.negated ? !hasLf : (hasLf || maybeLf);
    if (item.negated && maybeLf && !hasLf) info.consumesLf = true;
    return info;
  }

  // Option letters: i and s are followed, m changes nothing here.
  bool Options(std::string_view letters, Flags& flags) {
    bool on = true;
    for (char o : letters) {
      if (o == '-') on = false;
      else if (o == 'i') flags.caseless = on;
      else if (o == 's') flags.dotAll = on;
      else if (o != 'm') {
        Decline(std::string("the group (?") + o + " is not analysed");
        return false;
      }
    }
    return true;
  }

  // A group (the opening item at i_).
  std::optional<Info> Group(Flags& flags) {
    using G = Item::Group;
    const Item& open = items_[i_++];
    Flags inner = flags;
    bool lookaround = false;
    switch (open.group) {
      case G::Capture: case G::NonCapture: case G::Atomic: case G::BranchReset: break;
      case G::Scoped:
        if (!Options(open.text, inner)) return std::nullopt;
        break;
      case G::Lookahead: case G::NegativeLookahead: case G::Lookbehind: case G::NegativeLookbehind:
        lookaround = true;
        break;
      case G::Other:
        Decline("a group of a kind not analysed");
        return std::nullopt;
    }
    std::optional<Info> body = Alternation(inner);
    if (!body) return std::nullopt;
    if (!Next(Kind::Close)) {
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
    const Item& item = items_[i_];
    Info zero;
    zero.zeroWidth = true;
    switch (item.kind) {
      case Kind::Open: return Group(flags);
      case Kind::Class: ++i_; return Class(item);
      case Kind::Escape: ++i_; return Escape(item);
      case Kind::Quoted: ++i_; return Quoted(item.text, flags);
      case Kind::Char: ++i_; return Char(item.text, flags);
      case Kind::Anchor: case Kind::Comment: ++i_; return zero;
      case Kind::Options:  // for the rest of the enclosing group
        ++i_;
        if (!Options(item.text, flags)) return std::nullopt;
        return zero;
      case Kind::Dot: {
        ++i_;
        Info any;
        any.consumesLf = flags.dotAll;
        return any;
      }
      case Kind::Repeat: case Kind::Brace:
        Decline("a quantifier without an item");
        return std::nullopt;
      case Kind::Verb:
        Decline("a (* verb or option");
        return std::nullopt;
      case Kind::Invalid:
        Decline("invalid UTF-8 in the pattern");
        return std::nullopt;
      case Kind::Close: case Kind::Bar: case Kind::Other:
        break;
    }
    Decline("a back-reference, call, callout or condition");
    return std::nullopt;
  }

  std::span<const Item> items_;
  std::size_t i_ = 0;
  std::string why_;
};

// (?m)^.*M.*$ where M matches exactly a set of literals: the match is the
// whole line whenever the line holds one of them (and `.` takes every
// character of it, i.e. it is valid UTF-8).
bool WholeLine(std::span<const Item> items, bool caseless) {
  Flags flags;
  flags.caseless = caseless;
  if (items.empty() || items[0].kind != Kind::Options) return false;
  const std::string& set = items[0].text;
  if (set == "mi" || set == "im") flags.caseless = true;
  else if (set != "m") return false;
  auto is = [](const Item& item, Kind kind, char letter = 0) { return item.kind == kind && item.letter == letter; };
  auto any = [&](const Item& dot, const Item& star) {
    return is(dot, Kind::Dot) && is(star, Kind::Repeat) && star.min == 0 && star.max == UINT64_MAX;
  };
  if (items.size() < 7 || !is(items[1], Kind::Anchor, '^') || !any(items[2], items[3]) ||
      !any(items[items.size() - 3], items[items.size() - 2]) || !is(items.back(), Kind::Anchor, '$'))
    return false;
  const std::span<const Item> middle = items.subspan(4, items.size() - 7);
  // Plain groups only (no option changes inside, no classes, no \Q), and no
  // alternative at the top: ^.*A|B.*$ is not about whole lines.
  int depth = 0;
  for (const Item& item : middle) {
    if (item.kind == Kind::Open && item.group != Item::Group::Capture && item.group != Item::Group::NonCapture)
      return false;
    if (item.kind == Kind::Options || item.kind == Kind::Class || item.kind == Kind::Quoted) return false;
    if (item.kind == Kind::Open) ++depth;
    if (item.kind == Kind::Close) --depth;
    if (item.kind == Kind::Bar && depth == 0) return false;
  }
  Info whole;
  const LiteralPlan plan = Analyzer(middle).Run(flags, &whole);
  return !plan.literals.empty() && whole.exactSet && !whole.consumesLf;
}

}  // namespace

LiteralPlan PlanLiterals(std::span<const PatternItem> items, const PlanOptions& options) {
  LiteralPlan plan;
  if (items.empty()) {
    plan.declined = "empty pattern";
    return plan;
  }
  Flags flags;
  flags.caseless = options.caseless;
  plan = Analyzer(items).Run(flags, nullptr, options.lines);
  if (!plan.literals.empty() && !options.lines) plan.wholeLine = WholeLine(items, options.caseless);
  return plan;
}

LiteralPlan PlanLiterals(std::string_view pattern, const PlanOptions& options) {
  return PlanLiterals(TranslatePattern(pattern).items, options);
}

// ---- The scan ----------------------------------------------------------------

// How often each byte occurs in a sample from the start of the text: the
// anchor byte of each literal is the rarest one there.
void LiteralFinder::Rank(std::string_view text, std::size_t from, uint32_t* counts) {
  // (Each part of a text searched on threads ranks its own start: a sample
  // of the text's start for each would be read once per part.)
  from = std::min(from, text.size());
  const std::size_t end = from + std::min<std::size_t>(text.size() - from, 32 * 1024);
  for (std::size_t i = from; i < end; ++i) ++counts[static_cast<unsigned char>(text[i])];
}

LiteralFinder::LiteralFinder(std::string_view text, std::vector<RequiredLiteral> literals, std::size_t sample)
    : text_(text) {
  uint32_t counts[256] = {};
  Rank(text, sample, counts);
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
