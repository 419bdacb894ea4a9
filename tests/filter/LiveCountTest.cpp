// The live match count and the worker that runs only the latest job.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "filter/LatestJob.h"
#include "filter/MatchCount.h"

using namespace siftwell::filter;
using namespace std::chrono_literals;

TEST(MatchCount, CountsWhatKeepWouldKeep) {
  const std::stop_source never;
  EXPECT_EQ(CountMatches("a1 b22 c333", "\\d+", never.get_token()).count, 3u);
  // Empty matches are not kept, so not counted.
  EXPECT_EQ(CountMatches("bbb", "x*", never.get_token()).count, 0u);
  EXPECT_EQ(CountMatches("b", "x*|b", never.get_token()).count, 0u);
  EXPECT_EQ(CountMatches("aXbX", "X|", never.get_token()).count, 2u);
  const std::string text = "x\xFFy\xC3\xA9z";  // invalid UTF-8 does not stop the count
  EXPECT_EQ(CountMatches(text, "[a-z\\x{E9}]", never.get_token()).count, 4u);
  const MatchCount none = CountMatches("abc", "\\d", never.get_token());
  EXPECT_TRUE(none.ok);
  EXPECT_EQ(none.count, 0u);
}

TEST(MatchCount, ARejectedPatternGivesTheEnginesMessage) {
  const std::stop_source never;
  const MatchCount bad = CountMatches("abc", "a(b", never.get_token());
  ASSERT_FALSE(bad.ok);
  EXPECT_EQ(bad.error.kind, FilterError::Kind::BadPattern);
  EXPECT_NE(bad.error.message.find("missing closing parenthesis"), std::string::npos) << bad.error.message;
}

TEST(MatchCount, AStopRequestEndsTheCountAsStopped) {
  std::stop_source stop;
  stop.request_stop();
  const std::string text(1 << 20, 'a');
  const MatchCount stopped = CountMatches(text, "a", stop.get_token());
  ASSERT_FALSE(stopped.ok);
  EXPECT_EQ(stopped.error.kind, FilterError::Kind::Stopped);
}

TEST(MatchCount, WordsForTheCount) {
  EXPECT_EQ(DescribeCount(0), L"no match");
  EXPECT_EQ(DescribeCount(1), L"1 match");
  EXPECT_EQ(DescribeCount(2), L"2 matches");
  EXPECT_EQ(DescribeCount(999), L"999 matches");
  EXPECT_EQ(DescribeCount(1234), L"1\u00A0234 matches");
  EXPECT_EQ(DescribeCount(1234567), L"1\u00A0234\u00A0567 matches");
  EXPECT_EQ(DescribeCount(100000), L"100\u00A0000 matches");
}

// A job that waits for its stop, reporting that it started and how it ended.
struct Recorder {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> events;
  void Add(std::string e) {
    std::lock_guard lock(mutex);
    events.push_back(std::move(e));
    changed.notify_all();
  }
  bool WaitFor(size_t n) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 10s, [&] { return events.size() >= n; });
  }
};

TEST(LatestJob, ANewJobStopsTheRunningOneAndReplacesTheWaitingOne) {
  Recorder r;
  LatestJob worker;
  std::atomic<bool> release{false};
  worker.Submit([&](std::stop_token stop) {
    r.Add("first started");
    while (!stop.stop_requested() || !release) std::this_thread::sleep_for(1ms);
    r.Add("first stopped");
  });
  ASSERT_TRUE(r.WaitFor(1));
  EXPECT_TRUE(worker.Busy());
  // "second" waits while "first" winds down, and is replaced by "third".
  worker.Submit([&r](std::stop_token) { r.Add("second ran"); });
  worker.Submit([&r](std::stop_token stop) { r.Add(stop.stop_requested() ? "third stopped" : "third ran"); });
  release = true;
  ASSERT_TRUE(r.WaitFor(3));
  for (int i = 0; i < 500 && worker.Busy(); ++i) std::this_thread::sleep_for(2ms);
  EXPECT_FALSE(worker.Busy());
  std::lock_guard lock(r.mutex);
  EXPECT_EQ(r.events, (std::vector<std::string>{"first started", "first stopped", "third ran"}));
}

TEST(LatestJob, DestructionStopsAndWaitsForTheRunningJob) {
  std::atomic<bool> started{false}, finished{false};
  {
    LatestJob worker;
    worker.Submit([&](std::stop_token stop) {
      started = true;
      while (!stop.stop_requested()) std::this_thread::sleep_for(1ms);
      std::this_thread::sleep_for(20ms);  // still busy when asked to stop
      finished = true;
    });
    while (!started) std::this_thread::sleep_for(1ms);
  }
  EXPECT_TRUE(finished);  // the destructor returned only after the job did
}

TEST(LatestJob, CancelDropsTheWaitingJobAndAThrowingJobDoesNotEndTheWorker) {
  Recorder r;
  LatestJob worker;
  worker.Submit([](std::stop_token) { throw std::runtime_error("job failed"); });
  worker.Submit([&r](std::stop_token stop) {
    r.Add("running");
    while (!stop.stop_requested()) std::this_thread::sleep_for(1ms);
  });
  ASSERT_TRUE(r.WaitFor(1));
  worker.Submit([&r](std::stop_token) { r.Add("dropped job ran"); });
  worker.Cancel();
  for (int i = 0; i < 500 && worker.Busy(); ++i) std::this_thread::sleep_for(2ms);
  EXPECT_FALSE(worker.Busy());
  worker.Submit([&r](std::stop_token) { r.Add("after cancel"); });
  ASSERT_TRUE(r.WaitFor(2));
  std::lock_guard lock(r.mutex);
  EXPECT_EQ(r.events, (std::vector<std::string>{"running", "after cancel"}));
}
