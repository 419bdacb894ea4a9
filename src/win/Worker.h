// Work off the UI thread: one job at a time on a worker thread, its outcome
// handed back on the thread that made the Worker (the UI thread) through that
// thread's message queue. A job can be asked to stop, and a newer job
// supersedes an older one. The worker thread never sends to a window (it only
// posts), and it holds a reference on the module that contains this code until
// its very last instruction, so the DLL cannot unload under it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "win/NativeTypes.h"

namespace siftwell::win {

// What a running job sees: whether it should stop, and where to report how
// far it got. Safe to use from any thread.
class JobControl {
 public:
  struct Progress {
    uint64_t done = 0;
    uint64_t total = 0;
  };
  bool StopRequested() const noexcept { return stop_.load(std::memory_order_relaxed); }
  void RequestStop() noexcept { stop_.store(true, std::memory_order_relaxed); }
  void ReportProgress(uint64_t done, uint64_t total) noexcept {
    total_.store(total, std::memory_order_relaxed);
    done_.store(done, std::memory_order_relaxed);
  }
  Progress LastProgress() const noexcept {
    return Progress{done_.load(std::memory_order_relaxed), total_.load(std::memory_order_relaxed)};
  }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> done_{0};
  std::atomic<uint64_t> total_{0};
};

class Worker {
 public:
  using Delivery = std::function<void()>;             // runs on the UI thread
  using Job = std::function<Delivery(JobControl&)>;   // runs on the worker thread
  using ProgressHandler = std::function<void(JobControl::Progress)>;  // UI thread, while the job is out

  // How often the progress handler runs while a job is out.
  static constexpr uint32_t kProgressIntervalMs = 100;

  // Made on the UI thread. Null when its message window could not be made.
  static std::unique_ptr<Worker> Create(HINSTANCE module);
  // Asks the job to stop and waits for the worker thread a second at most;
  // outcomes not yet delivered are dropped. A job that has not ended by then
  // ends on its own later, so a job must own (hold by value or shared
  // ownership) everything it reads, never refer to its starter's objects.
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // Hands `job` to the worker thread. A job still waiting or running is
  // superseded: asked to stop, and its outcome is dropped. False when no
  // thread could be started (nothing runs then).
  bool Start(Job job, ProgressHandler onProgress = {});
  // Asks the current job to stop; its outcome is still delivered.
  void Stop();
  // A job was started and its outcome has not been delivered yet.
  bool Busy() const noexcept { return busy_; }
  // Waits up to `milliseconds` for the current job. If it has finished, its
  // outcome is delivered now, on this thread, before returning true.
  bool DeliverWithin(uint32_t milliseconds);

  class State;
  class Key {
    friend class Worker;
    explicit Key() = default;
  };
  Worker(Key, HINSTANCE module);

  // The message window's handler (delivery and progress ticks).
  intptr_t HandleMessage(HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam);

 private:
  void DeliverFinished();

  HINSTANCE module_;
  HWND window_ = nullptr;
  std::shared_ptr<State> state_;
  ProgressHandler onProgress_;
  std::shared_ptr<JobControl> control_;  // of the current job
  bool busy_ = false;
};

}  // namespace siftwell::win
