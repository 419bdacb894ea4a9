// The worker facility: jobs off the UI thread, outcomes delivered on it through
// its message queue, stop requests, and newer jobs superseding older ones.
#include "win/Worker.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "WindowTestKit.h"

using siftwell::win::JobControl;
using siftwell::win::Worker;

namespace {

using windowtests::PumpUntil;

// A job that reports progress until asked to stop.
Worker::Job UntilStopped(std::atomic<bool>& running, std::vector<int>& delivered, int tag) {
  return [&running, &delivered, tag](JobControl& control) -> Worker::Delivery {
    running = true;
    for (uint64_t i = 1; !control.StopRequested(); ++i) {
      control.ReportProgress(i, 0);
      Sleep(1);
    }
    return [&delivered, tag] { delivered.push_back(tag); };
  };
}

TEST(Worker, DeliversOnTheCreatingThreadAndWaitsBrieflyForShortJobs) {
  auto worker = Worker::Create(GetModuleHandleW(nullptr));
  ASSERT_NE(worker, nullptr);
  const DWORD ui = GetCurrentThreadId();
  DWORD ranOn = 0, deliveredOn = 0;
  ASSERT_TRUE(worker->Start([&](JobControl&) -> Worker::Delivery {
    ranOn = GetCurrentThreadId();
    return [&] { deliveredOn = GetCurrentThreadId(); };
  }));
  EXPECT_TRUE(worker->Busy());
  EXPECT_TRUE(worker->DeliverWithin(5000));
  EXPECT_FALSE(worker->Busy());
  EXPECT_NE(ranOn, ui);
  EXPECT_EQ(deliveredOn, ui);
}

TEST(Worker, StopIsObeyedReportsProgressAndANewerJobSupersedesAnOlderOne) {
  auto worker = Worker::Create(GetModuleHandleW(nullptr));
  ASSERT_NE(worker, nullptr);
  std::atomic<bool> firstRunning{false}, secondRunning{false};
  std::vector<int> delivered;
  std::vector<uint64_t> progress;
  ASSERT_TRUE(worker->Start(UntilStopped(firstRunning, delivered, 1),
                            [&](JobControl::Progress p) { progress.push_back(p.done); }));
  EXPECT_FALSE(worker->DeliverWithin(100));
  ASSERT_TRUE(PumpUntil([&] { return progress.size() >= 2; }, 5000)) << "progress arrives on the UI thread";
  EXPECT_LT(progress.front(), progress.back());

  // The second job supersedes the first: the first is stopped, its outcome dropped.
  ASSERT_TRUE(worker->Start(UntilStopped(secondRunning, delivered, 2)));
  ASSERT_TRUE(PumpUntil([&] { return secondRunning.load(); }, 5000));
  worker->Stop();
  ASSERT_TRUE(PumpUntil([&] { return !worker->Busy(); }, 5000));
  EXPECT_EQ(delivered, std::vector<int>{2});
}

TEST(Worker, ReleasingItStopsTheJobAndDropsItsOutcome) {
  std::atomic<bool> running{false};
  std::vector<int> delivered;
  {
    auto worker = Worker::Create(GetModuleHandleW(nullptr));
    ASSERT_NE(worker, nullptr);
    ASSERT_TRUE(worker->Start(UntilStopped(running, delivered, 1)));
    ASSERT_TRUE(PumpUntil([&] { return running.load(); }, 5000));
  }  // waits for the thread
  PumpUntil([] { return false; }, 100);
  EXPECT_TRUE(delivered.empty());
}

// A job that does not look at its stop request (one long engine call, say)
// does not hold up closing: the release waits a bounded time, the job ends
// later on its own with what it owns, and its outcome is dropped.
TEST(Worker, ReleasingItDoesNotWaitLongForAJobThatIgnoresStop) {
  auto owned = std::make_shared<std::atomic<int>>(0);  // 1: running, 2: ended
  auto release = std::make_shared<std::atomic<bool>>(false);
  ULONGLONG released = 0;
  {
    auto worker = Worker::Create(GetModuleHandleW(nullptr));
    ASSERT_NE(worker, nullptr);
    ASSERT_TRUE(worker->Start([owned, release](JobControl&) -> Worker::Delivery {
      *owned = 1;
      while (!release->load()) Sleep(5);  // deaf to the stop request
      *owned = 2;
      return [owned] { *owned = 3; };
    }));
    ASSERT_TRUE(PumpUntil([&] { return owned->load() == 1; }, 5000));
    released = GetTickCount64();
  }
  EXPECT_LT(GetTickCount64() - released, 3000u) << "closing waited for a job that ignores stop";
  EXPECT_EQ(owned->load(), 1);
  *release = true;
  ASSERT_TRUE(PumpUntil([&] { return owned->load() != 1; }, 5000));
  PumpUntil([] { return false; }, 100);
  EXPECT_EQ(owned->load(), 2) << "the job ended, its outcome was not delivered";
}

}  // namespace
