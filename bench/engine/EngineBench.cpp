// Keep and Remove over a generated log-like text (mixed ASCII and non-ASCII).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/PatternFilter.h"

namespace {

namespace sf = siftwell::engine;

const std::string& Corpus() {
  static const std::string text = [] {
    const char* users[] = {"alice", "José", "Øyvind", "田中", "Müller", "bob_1"};
    const char* words[] = {"request", "timeout", "error", "connected", "données", "ошибка", "ok", "retry"};
    std::string t;
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7fff; };
    while (t.size() < (8u << 20)) {
      t += "2026-12-07 12:" + std::to_string(next() % 60) + ":" + std::to_string(next() % 60);
      t += next() % 10 == 0 ? " ERROR " : " INFO ";
      t += "user=" + std::string(users[next() % 6]) + " id=" + std::to_string(next());
      for (int i = 0; i < 6; ++i) t += std::string(" ") + words[next() % 8];
      if (next() % 5 == 0) t += " mail " + std::string(users[next() % 6]) + "@example.org";
      t += next() % 2 ? "\n" : "\r\n";
    }
    return t;
  }();
  return text;
}

void Run(benchmark::State& state, const char* pattern, bool keep) {
  const std::string& text = Corpus();
  const std::string delimiter = sf::ExpandDelimiter("\\n");
  for (auto _ : state) {
    sf::FilterResult r = keep ? sf::Keep(text, pattern, delimiter) : sf::Remove(text, pattern);
    if (!r.ok) state.SkipWithError(sf::Pcre2ErrorText(r.error.code).c_str());
    benchmark::DoNotOptimize(r.text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

#define SIFTWELL_BENCH(name, pattern)                                                     \
  void Keep_##name(benchmark::State& s) { Run(s, pattern, true); }                        \
  void Remove_##name(benchmark::State& s) { Run(s, pattern, false); }                     \
  BENCHMARK(Keep_##name)->Unit(benchmark::kMillisecond);                                  \
  BENCHMARK(Remove_##name)->Unit(benchmark::kMillisecond)

SIFTWELL_BENCH(Literal, "timeout");
SIFTWELL_BENCH(Digits, "\\d+");
SIFTWELL_BENCH(Words, "\\w+");
SIFTWELL_BENCH(Email, "[\\w.+-]+@[\\w-]+\\.[\\w.-]+");
SIFTWELL_BENCH(ErrorLines, "(?mi)^.*error.*$");
SIFTWELL_BENCH(Alternation, "error|timeout|retry|connected");
SIFTWELL_BENCH(Lookbehind, "(?<=user=)\\w+");
SIFTWELL_BENCH(WordBoundary, "\\bok\\b");

}  // namespace

namespace {

// The interpreter (no JIT) over text with invalid UTF-8 and many matches: the
// time must grow with the text, not with its square (each call once checked
// the text from its start to the next invalid byte).
void Interpreter_InvalidUtf8(benchmark::State& state) {
  std::string text;
  while (text.size() < static_cast<std::size_t>(state.range(0))) text += "ab 12 cd ";
  text += '\xff';
  sf::MatchLimits limits;
  limits.jit = false;
  for (auto _ : state) {
    sf::FilterResult r = sf::Keep(text, "\\d+", ",", limits);
    if (!r.ok) state.SkipWithError(sf::Pcre2ErrorText(r.error.code).c_str());
    benchmark::DoNotOptimize(r.text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(Interpreter_InvalidUtf8)->Arg(200 << 10)->Arg(2 << 20)->Unit(benchmark::kMillisecond);

// The strided search against one unbounded call: the cost of bounding each
// engine call (goal: negligible).
void Strides(benchmark::State& state, const char* pattern, std::size_t stride) {
  const std::string& text = Corpus();
  sf::MatchLimits limits;
  limits.strideBytes = stride;
  limits.prefilter = false;
  for (auto _ : state) {
    sf::FilterResult r = sf::Keep(text, pattern, "\n", limits);
    if (!r.ok) state.SkipWithError(sf::Pcre2ErrorText(r.error.code).c_str());
    benchmark::DoNotOptimize(r.text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK_CAPTURE(Strides, words_adaptive, "\\w+", 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Strides, words_one_call, "\\w+", SIZE_MAX)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Strides, literal_adaptive, "timeout", 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Strides, literal_one_call, "timeout", SIZE_MAX)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Strides, nomatch_adaptive, "zq\\w+", 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Strides, nomatch_one_call, "zq\\w+", SIZE_MAX)->Unit(benchmark::kMillisecond);

// Tally and Unique against a plain Keep: 10 M matches of 1 M distinct values
// (each value comes about ten times, spread over the text), streamed to a sink
// that only counts the bytes, as a caller that writes the result out would.
const std::string& ValuesCorpus() {
  static const std::string text = [] {
    std::string t;
    t.reserve(10'000'000 * 9);
    uint64_t seed = 99;
    for (int32_t i = 0; i < 10'000'000; ++i) {
      seed = seed * 6364136223846793005u + 1442695040888963407u;
      t += 'v';
      t += std::to_string((seed >> 33) % 1'000'000);
      t += ' ';
    }
    return t;
  }();
  return text;
}

class CountingSink : public sf::ResultSink {
 public:
  bool Piece(std::string_view piece) override {
    bytes += piece.size();
    return true;
  }
  std::size_t bytes = 0;
};

void Distinct(benchmark::State& state, sf::CompileOptions::KeepMode mode, bool lines) {
  const std::string& text = ValuesCorpus();
  sf::CompileOptions options;
  options.keepMode = mode;
  options.wholeLines = lines;
  const sf::Compilation c = sf::Compile(lines ? "." : "v\\d+", options);
  std::string newlines;
  if (lines) {  // the same values one per line
    newlines = text;
    for (char& ch : newlines)
      if (ch == ' ') ch = '\n';
  }
  const std::string& subject = lines ? newlines : text;
  const std::string delimiter = sf::ExpandDelimiter("\\n");
  std::size_t out = 0;
  for (auto _ : state) {
    CountingSink sink;
    if (auto err = sf::KeepTo(subject, *c.pattern, delimiter, sf::MatchLimits{}, sink))
      state.SkipWithError("keep failed");
    out = sink.bytes;
  }
  state.counters["out_MB"] = static_cast<double>(out) / 1e6;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(subject.size()));
}
BENCHMARK_CAPTURE(Distinct, keep_10M_matches, sf::CompileOptions::KeepMode::All, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Distinct, unique_1M_of_10M, sf::CompileOptions::KeepMode::Unique, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Distinct, tally_1M_of_10M, sf::CompileOptions::KeepMode::Tally, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Distinct, keep_lines_10M, sf::CompileOptions::KeepMode::All, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Distinct, tally_lines_1M_of_10M, sf::CompileOptions::KeepMode::Tally, true)->Unit(benchmark::kMillisecond);

}  // namespace
