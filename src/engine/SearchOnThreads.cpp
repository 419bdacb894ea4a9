#include "engine/SearchOnThreads.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/Utf8Check.h"

namespace siftwell::engine {
namespace {

FilterError Failure(FilterError::Kind kind) {
  FilterError error;
  error.kind = kind;
  return error;
}

struct Part {
  TextPart range;
  std::vector<std::string_view> pieces;  // views into the text or the delimiter
  std::optional<FilterError> error;
  bool valid = true;  // its bytes are valid UTF-8
  bool done = false;  // (under the crew's lock)
};

// A part's pieces, kept until the parts before it are given. It stops when
// the run does; the searching thread's own recorder also asks the run's sink
// now and then, since that thread alone may call it.
class Recorder final : public ResultSink {
 public:
  Recorder(Part& part, const std::atomic<bool>& stop, ResultSink* sink, std::size_t given)
      : part_(part), stop_(stop), sink_(sink), given_(given) {}
  bool Piece(std::string_view piece) override {
    part_.pieces.push_back(piece);
    return !stop_.load(std::memory_order_relaxed);
  }
  bool Progress(std::size_t) override {
    if (sink_ != nullptr && !sink_->Progress(given_)) sinkStopped_ = true;
    return !sinkStopped_ && !stop_.load(std::memory_order_relaxed);
  }
  bool SinkStopped() const noexcept { return sinkStopped_; }

 private:
  Part& part_;
  const std::atomic<bool>& stop_;
  ResultSink* sink_;
  std::size_t given_;
  bool sinkStopped_ = false;
};

// The parts, the threads that search them and what they share. Its helpers
// are joined before it is destroyed, however the run ends.
class Crew {
 public:
  Crew(std::string_view text, const CompiledPattern& pattern, std::string_view delimiter, const MatchLimits& limits,
       std::vector<Part>& parts, std::size_t window)
      : text_(text), pattern_(pattern), delimiter_(delimiter), limits_(limits), parts_(parts), window_(window) {}
  Crew(const Crew&) = delete;
  Crew& operator=(const Crew&) = delete;
  ~Crew() {
    Stop();
    for (std::thread& helper : helpers_) helper.join();
  }

  // Up to `count` helpers; one that cannot be started leaves its share to the others.
  void Start(uint32_t count, void (Crew::*work)()) {
    for (uint32_t k = 0; k < count; ++k) {
      try {
        helpers_.emplace_back(work, this);
      } catch (const std::system_error&) {
        break;
      }
    }
  }
  void JoinAll() {
    for (std::thread& helper : helpers_) helper.join();
    helpers_.clear();
  }

  // Each part's bytes checked as UTF-8 (an LF never splits a character, so
  // the text is valid when every part is).
  void CheckParts() {
    for (std::size_t k; (k = checkNext_++) < parts_.size();) {
      const TextPart& range = parts_[k].range;
      parts_[k].valid = IsValidUtf8Fast(text_.substr(range.begin, range.end - range.begin));
    }
  }

  // A helper: searches the next part while it lies within the window.
  void Help() {
    for (;;) {
      std::size_t k = 0;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stop_.load() || next_ >= parts_.size() || next_ < head_ + window_; });
        if (stop_.load() || next_ >= parts_.size()) return;
        k = next_++;
      }
      Search(k, nullptr, 0);
    }
  }

  // The run's own thread: gives part `head` to `sink` once it is searched,
  // searching parts itself meanwhile. The error that ends the run, if any.
  std::optional<FilterError> Give(std::size_t head, ResultSink& sink, std::size_t given) {
    for (;;) {
      std::unique_lock lock(mutex_);
      if (parts_[head].done) break;
      if (next_ < parts_.size() && next_ < head + window_) {
        const std::size_t k = next_++;
        lock.unlock();
        if (Search(k, &sink, given)) return Stopped();
        continue;
      }
      // A helper has it: wait, and let the sink say stop now and then.
      if (changed_.wait_for(lock, std::chrono::milliseconds(20), [&] { return parts_[head].done; })) break;
      lock.unlock();
      if (!sink.Progress(given)) return Stopped();
    }
    Part& part = parts_[head];
    for (std::string_view piece : part.pieces)
      if (!sink.Piece(piece)) return Stopped();
    if (part.error) return part.error;
    if (!sink.Progress(part.range.end)) return Stopped();
    std::vector<std::string_view>().swap(part.pieces);
    {
      std::lock_guard lock(mutex_);
      head_ = head + 1;
    }
    changed_.notify_all();
    return std::nullopt;
  }

  void Stop() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
  }

 private:
  static FilterError Stopped() { return Failure(FilterError::Kind::Stopped); }

  // Searches part `k`; true when `sink` (this thread's to ask) said stop meanwhile.
  bool Search(std::size_t k, ResultSink* sink, std::size_t given) {
    Part& part = parts_[k];
    bool sinkStopped = false;
    try {
      Recorder recorder(part, stop_, sink, given);
      part.error = KeepPartTo(text_, part.range, pattern_, delimiter_, limits_, recorder);
      sinkStopped = recorder.SinkStopped();
    } catch (const std::exception&) {
      part.error = Failure(FilterError::Kind::NoMemory);
    }
    {
      std::lock_guard lock(mutex_);
      part.done = true;
    }
    changed_.notify_all();
    return sinkStopped;
  }

  std::string_view text_;
  const CompiledPattern& pattern_;
  std::string_view delimiter_;
  const MatchLimits& limits_;
  std::vector<Part>& parts_;
  const std::size_t window_;
  std::vector<std::thread> helpers_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::atomic<bool> stop_{false};
  std::atomic<std::size_t> checkNext_{0};
  std::size_t next_ = 0;  // the next part to search (under the lock)
  std::size_t head_ = 0;  // the part being given (under the lock)
};

// The text cut right after an LF at about every `partBytes`.
std::vector<Part> Cut(std::string_view text, std::size_t partBytes) {
  std::vector<Part> parts;
  for (const TextPart& range : CutAtLines(text, partBytes)) {
    Part part;
    part.range = range;
    parts.push_back(std::move(part));
  }
  return parts;
}

}  // namespace

std::vector<TextPart> CutAtLines(std::string_view text, std::size_t partBytes) {
  partBytes = std::max<std::size_t>(partBytes, 1);
  std::vector<TextPart> parts;
  for (std::size_t begin = 0; begin < text.size();) {
    std::size_t end = text.size();
    if (text.size() - begin > partBytes) {
      const void* lf = std::memchr(text.data() + begin + partBytes - 1, '\n', text.size() - (begin + partBytes - 1));
      if (lf != nullptr) end = static_cast<std::size_t>(static_cast<const char*>(lf) - text.data()) + 1;
    }
    TextPart part;
    part.begin = begin;
    part.end = end;
    parts.push_back(part);
    begin = end;
  }
  return parts;
}

std::optional<FilterError> KeepOnThreads(std::string_view text, const CompiledPattern& pattern,
                                         std::string_view delimiter, const MatchLimits& limits, ResultSink& sink,
                                         uint32_t threads, std::size_t partBytes) {
  partBytes = std::max<std::size_t>(partBytes, 1);
  if (threads < 2 || text.size() <= partBytes || !SearchesInParts(pattern) || !GivesViews(pattern))
    return KeepTo(text, pattern, delimiter, limits, sink);
  std::vector<Part> parts = Cut(text, partBytes);
  if (parts.size() < 2) return KeepTo(text, pattern, delimiter, limits, sink);
  const auto helpers = static_cast<uint32_t>(std::min<std::size_t>(threads - 1, parts.size() - 1));
  // Parts searched from the one being given on, at most: each holds its pieces until it is given.
  const std::size_t window = 2 * (std::size_t{helpers} + 1);
  if (AsksTextValidity(pattern, limits)) {
    Crew check(text, pattern, delimiter, limits, parts, window);
    check.Start(helpers, &Crew::CheckParts);
    check.CheckParts();
    check.JoinAll();
    // A text that is not valid UTF-8 may be matched a valid run at a time,
    // which each part would find out by reading the whole: searched whole.
    if (!std::all_of(parts.begin(), parts.end(), [](const Part& part) { return part.valid; }))
      return KeepTo(text, pattern, delimiter, limits, sink);
    for (Part& part : parts) part.range.textValid = true;
  }
  sink.Begin(text.size());
  std::optional<FilterError> error;
  try {
    Crew crew(text, pattern, delimiter, limits, parts, window);
    crew.Start(helpers, &Crew::Help);
    std::size_t given = 0;
    for (std::size_t head = 0; head < parts.size() && !error; ++head) {
      error = crew.Give(head, sink, given);
      given = parts[head].range.end;
    }
  } catch (const std::bad_alloc&) {  // (the sink's, as in one search; every helper joined)
    error = Failure(FilterError::Kind::NoMemory);
  }
  if (!error) sink.Finish();
  return error;
}

}  // namespace siftwell::engine
