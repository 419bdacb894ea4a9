// Fuzz target for the pattern engine. Input: one byte for the delimiter and
// the way Remove walks the text, then the pattern up to the first 0x01 byte,
// then the text (any bytes). Checks that nothing crashes and that Keep and
// Remove agree on the matches: Keep = the non-empty matches, in order, each
// followed by the delimiter; Remove = the text without exactly those ranges
// (a subsequence of it), whether it walks the text with the line prefilter
// off, in strides of a few bytes, in one unbounded call, or by the
// interpreter instead of the JIT; an error leaves no output. Where the
// pattern can be searched in parts cut at line starts, the parts' results
// joined are the whole's.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/PatternFilter.h"
#include "engine/SearchOnThreads.h"

namespace sf = siftwell::engine;

namespace {

[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

void Check(bool ok, const char* what) {
  if (!ok) Broken(what);
}

bool Within(std::string_view piece, std::string_view whole) {
  return piece.data() >= whole.data() && piece.data() + piece.size() <= whole.data() + whole.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  static const std::string_view kDelimiterFields[] = {"\\n", "", ",", "\\t\\n", "\\"};
  const std::string delimiter = sf::ExpandDelimiter(kDelimiterFields[static_cast<uint8_t>(all[0]) % 5]);
  std::string_view rest = all.substr(1);
  const std::size_t split = rest.find('\x01');
  const std::string_view pattern = rest.substr(0, split);
  const std::string_view text = split == std::string_view::npos ? std::string_view() : rest.substr(split + 1);

  sf::MatchLimits limits;
  // Low limits: an input that backtracks up to them costs the whole budget
  // at each start position, and such inputs would otherwise take most of the
  // fuzzer's time. A limit is a limit: the invariants hold the same.
  limits.matchLimit = 20'000;
  limits.depthLimit = 20'000;
  limits.heapLimitKiB = 64 * 1024;
  limits.jitStackBytes = 4u << 20;

  auto pcre2Failure = [](const sf::FilterError& e) {  // these kinds carry PCRE2's code
    using K = sf::FilterError::Kind;
    return e.kind == K::BadPattern || e.kind == K::TooComplex || e.kind == K::Limit || e.kind == K::MatchFailed;
  };

  // One compile per input (compiling, with the JIT, is most of an input's
  // cost); every walk below shares it, as the window and the CLI do.
  const sf::Compilation compiled = sf::Compile(pattern);
  if (!compiled.pattern) {
    // The pattern is rejected: by the whole-text calls the same way, for
    // the same reason at the same place, leaving no output.
    const sf::FilterError& e = *compiled.error;
    Check(e.offset <= pattern.size(), "error offset outside the pattern");
    Check(!pcre2Failure(e) || e.code != 0, "error without PCRE2's code");
    const sf::FilterResult k = sf::Keep(text, pattern, delimiter, limits);
    const sf::FilterResult r = sf::Remove(text, pattern, limits);
    for (const sf::FilterResult* x : {&k, &r})
      Check(!x->ok && x->text.empty() && x->error.kind == e.kind && x->error.code == e.code &&
                x->error.offset == e.offset,
            "a rejected pattern is not rejected the same way by every call");
    return 0;
  }
  const sf::CompiledPattern& re = *compiled.pattern;
  // Each walk gathers its result and has a budget of 20 ms: it is stopped
  // there, as Cancel or a time limit stops a run. A few inputs (long
  // repeats, deep backtracking in the interpreter) take seconds, and the
  // fuzzer, mutating them again and again, spent most of its time on them;
  // the invariants are checked for every walk that ends within its budget,
  // and a stopped walk must say Stopped only when its sink asked.
  class Gather : public sf::ResultSink {
   public:
    explicit Gather(std::function<void(std::string_view)> onPiece = {})
        : onPiece_(std::move(onPiece)), deadline_(std::chrono::steady_clock::now() + std::chrono::milliseconds(20)) {}
    bool Piece(std::string_view piece) override {
      out.append(piece);
      if (onPiece_) onPiece_(piece);
      return true;
    }
    bool Progress(std::size_t) override {
      if (std::chrono::steady_clock::now() >= deadline_) asked = true;
      return !asked;
    }
    // Whether `err` is a stop this sink asked for; any other stop breaks an invariant.
    bool AskedFor(const std::optional<sf::FilterError>& err) const {
      if (!err || err->kind != sf::FilterError::Kind::Stopped) return false;
      Check(asked, "stopped without being asked");
      return true;
    }
    std::string out;
    bool asked = false;

   private:
    std::function<void(std::string_view)> onPiece_;
    std::chrono::steady_clock::time_point deadline_;
  };

  // Keep: pieces alternate between a match (a view into text) and the delimiter.
  std::vector<std::pair<std::size_t, std::size_t>> matches;
  Gather keepSink([&](std::string_view piece) {
    if (!pattern.empty() && piece.data() == delimiter.data() && piece.size() == delimiter.size() &&
        !delimiter.empty())
      return;
    Check(Within(piece, text), "kept piece outside the text");
    matches.emplace_back(piece.data() - text.data(), piece.data() - text.data() + piece.size());
  });
  const auto keepErr = sf::KeepTo(text, re, delimiter, limits, keepSink);
  if (keepSink.AskedFor(keepErr)) return 0;
  const std::string& kept = keepSink.out;

  // Remove, walking the text another way (chosen by the input): the
  // collecting API, the search without the line prefilter, in strides of a
  // few bytes, in one unbounded call, or by the interpreter instead of the
  // JIT. A variant may only run into a matching limit where Keep did not
  // (the limits count per engine call).
  const uint8_t choice = static_cast<uint8_t>(all[0]) / 5;
  sf::MatchLimits variant = limits;
  switch (choice % 5) {
    case 0: break;
    case 1: variant.prefilter = false; break;
    case 2: variant.strideBytes = 1 + choice / 5 % 8; break;
    case 3: variant.prefilter = false, variant.strideBytes = SIZE_MAX; break;
    default: variant.jit = false; break;  // the interpreter, valid runs matched one by one
  }
  std::string removed;
  std::vector<std::pair<std::size_t, std::size_t>> gaps;
  std::optional<sf::FilterError> removeErr;
  if (choice % 5 == 0) {
    sf::FilterResult r = sf::Remove(text, re, limits);
    if (r.ok) removed = std::move(r.text);
    else Check(r.text.empty(), "an error left output"), removeErr = std::move(r.error);
  } else {
    Gather removeSink([&](std::string_view piece) {
      Check(Within(piece, text), "remaining piece outside the text");
      gaps.emplace_back(piece.data() - text.data(), piece.data() - text.data() + piece.size());
    });
    removeErr = sf::RemoveTo(text, re, variant, removeSink);
    if (removeSink.AskedFor(removeErr)) return 0;
    removed = std::move(removeSink.out);
  }
  Check(!keepErr || !pcre2Failure(*keepErr) || keepErr->code != 0, "error without PCRE2's code");
  Check(!removeErr || !pcre2Failure(*removeErr) || removeErr->code != 0, "error without PCRE2's code");
  if (keepErr) {
    // Only a limit may not recur: limits count per engine call, and strides
    // size the calls by the clock (with the JIT a pattern can reach the match
    // limit in short strides and not in long ones).
    const sf::FilterResult k = sf::Keep(text, re, delimiter, limits);
    Check(k.ok || k.text.empty(), "an error left output");
    Check(!k.ok || keepErr->kind == sf::FilterError::Kind::Limit, "Keep failed once and not again");
    return 0;
  }
  if (removeErr) {
    Check(removeErr->kind == sf::FilterError::Kind::Limit, "a search variant failed other than by a limit");
    return 0;
  }
  if (pattern.empty()) {
    Check(kept == text && removed == text, "empty pattern changed the text");
    return 0;
  }
  // The matches: non-empty, in order, no overlap.
  std::string expectKept, expectRemoved;
  std::size_t last = 0;
  for (const auto& [s, e] : matches) {
    Check(s < e, "empty match kept");
    Check(s >= last, "matches overlap or go backwards");
    expectRemoved.append(text.substr(last, s - last));
    expectKept.append(text.substr(s, e - s));
    expectKept.append(delimiter);
    last = e;
  }
  expectRemoved.append(text.substr(last));
  Check(kept == expectKept, "Keep is not the matches joined with the delimiter");
  Check(removed == expectRemoved, "Remove (another walk) is not the text minus Keep's matches");
  for (std::size_t i = 1; i < gaps.size(); ++i) Check(gaps[i - 1].second < gaps[i].first, "gaps touch or overlap");

  // Remove's output is a subsequence of the text.
  std::size_t at = 0;
  for (char ch : removed) {
    while (at < text.size() && text[at] != ch) ++at;
    Check(at < text.size(), "Remove output is not a subsequence of the text");
    ++at;
  }

  // On two threads, in parts of a few bytes where the pattern allows it (as
  // the plugin searches): Keep's result.
  {
    Gather threaded;
    const auto err = sf::KeepOnThreads(text, re, delimiter, limits, threaded, 2, 1 + choice % 7);
    if (err && !threaded.AskedFor(err))
      Check(err->kind == sf::FilterError::Kind::Limit, "a search on threads failed other than by a limit");
    if (!err) Check(threaded.out == expectKept, "Keep on threads is not the whole");
  }

  // In parts cut at line starts (as the CLI's threads search it), where the
  // pattern allows that: the parts' results joined are Keep's and Remove's.
  if (!sf::SearchesInParts(re)) return 0;
  const std::size_t every = 1 + choice % 3;  // a cut after every first, second or third LF
  std::vector<std::size_t> cuts{0};
  for (std::size_t i = 0, lf = 0; i < text.size(); ++i)
    if (text[i] == '\n' && ++lf % every == 0) cuts.push_back(i + 1);
  if (cuts.back() != text.size()) cuts.push_back(text.size());
  for (const bool keep : {true, false}) {
    Gather joined;
    bool limited = false;
    for (std::size_t k = 0; k + 1 < cuts.size() && !limited; ++k) {
      sf::TextPart part;
      part.begin = cuts[k];
      part.end = cuts[k + 1];
      const auto err = keep ? sf::KeepPartTo(text, part, re, delimiter, limits, joined)
                            : sf::RemovePartTo(text, part, re, limits, joined);
      if (err && !joined.AskedFor(err))
        Check(err->kind == sf::FilterError::Kind::Limit, "a part failed other than by a limit");
      limited = err.has_value();
    }
    if (!limited) Check(joined.out == (keep ? expectKept : expectRemoved), "the parts joined are not the whole");
  }
  return 0;
}
