#include "win/Worker.h"

#include <windows.h>

#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <utility>

#include "win/WindowKit.h"

namespace siftwell::win {
namespace {

constexpr wchar_t kClassName[] = L"SiftwellWorker";
constexpr UINT kDeliver = WM_APP + 1;  // posted by the worker thread: an outcome is ready
constexpr UINT_PTR kProgressTimer = 1;
constexpr SIZE_T kThreadStack = 1 << 20;
// How long closing waits for a job that was asked to stop. A job that takes
// longer finishes on its own: it owns what it reads, its outcome is dropped,
// and its thread pins the module until its last instruction.
constexpr DWORD kStopWaitMs = 1000;

}  // namespace

// What the UI thread and the worker thread share; guarded by `mutex`.
class Worker::State {
 public:
  struct Pending {
    uint64_t id = 0;
    Job job;
    std::shared_ptr<JobControl> control;
  };

  std::mutex mutex;
  std::condition_variable changed;
  HWND window = nullptr;
  uint64_t nextId = 0;
  uint64_t current = 0;                  // the job whose outcome the UI thread wants
  std::optional<Pending> pending;        // waiting for the thread
  std::optional<std::pair<uint64_t, Delivery>> finished;
  bool threadRunning = false;            // a thread will still look at `pending`
  HANDLE thread = nullptr;               // the last thread started
  bool quit = false;

  // The worker thread's loop: runs jobs until none is waiting.
  void RunJobs() {
    for (;;) {
      Pending next;
      {
        std::lock_guard lock(mutex);
        if (quit || !pending) {
          threadRunning = false;
          return;
        }
        next = std::move(*pending);
        pending.reset();
      }
      Delivery delivery;
      try {
        delivery = next.job(*next.control);
      } catch (...) {
        delivery = [error = std::current_exception()] { std::rethrow_exception(error); };
      }
      next.job = nullptr;
      HWND target = nullptr;
      {
        std::lock_guard lock(mutex);
        if (next.id == current) finished.emplace(next.id, std::move(delivery));
        target = window;
      }
      changed.notify_all();
      // Posted, never sent. If the queue refuses it, the progress timer finds
      // the outcome all the same.
      if (target != nullptr) PostMessageW(target, kDeliver, 0, 0);
    }
  }
};


std::unique_ptr<Worker> Worker::Create(HINSTANCE module) {
  auto worker = std::make_unique<Worker>(Key{}, module);
  if (worker->window_ == nullptr) return nullptr;
  return worker;
}

Worker::Worker(Key, HINSTANCE module) : module_(module), state_(std::make_shared<State>()) {
  if (!siftwell::win::EnsureWindowClass(module_, kClassName, &siftwell::win::ObjectWindowProc<Worker>)) return;
  window_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module_, this);
  state_->window = window_;
}

Worker::~Worker() {
  HANDLE thread = nullptr;
  {
    std::lock_guard lock(state_->mutex);
    state_->quit = true;
    state_->pending.reset();
    state_->current = 0;
    state_->finished.reset();
    state_->window = nullptr;
    thread = std::exchange(state_->thread, nullptr);
  }
  if (control_) control_->RequestStop();
  if (thread != nullptr) {
    WaitForSingleObject(thread, kStopWaitMs);
    CloseHandle(thread);
  }
  if (window_ != nullptr) DestroyWindow(window_);
}

bool Worker::Start(Job job, ProgressHandler onProgress) {
  auto control = std::make_shared<JobControl>();
  HANDLE previous = nullptr;
  bool needThread = false;
  {
    std::lock_guard lock(state_->mutex);
    state_->current = ++state_->nextId;
    state_->finished.reset();
    state_->pending = State::Pending{state_->current, std::move(job), control};
    needThread = !state_->threadRunning;
    if (needThread) {
      state_->threadRunning = true;
      previous = std::exchange(state_->thread, nullptr);
    }
  }
  if (control_) control_->RequestStop();  // superseded
  if (needThread) {
    if (previous != nullptr) {  // past its last look at the state: ends at once
      WaitForSingleObject(previous, INFINITE);
      CloseHandle(previous);
    }
    HANDLE thread = siftwell::win::StartModuleThread([state = state_] { state->RunJobs(); }, kThreadStack);
    std::lock_guard lock(state_->mutex);
    if (thread == nullptr) {
      state_->pending.reset();
      state_->threadRunning = false;
      state_->current = 0;
      control_.reset();
      onProgress_ = nullptr;
      busy_ = false;
      return false;
    }
    state_->thread = thread;
  }
  control_ = std::move(control);
  onProgress_ = std::move(onProgress);
  busy_ = true;
  SetTimer(window_, kProgressTimer, kProgressIntervalMs, nullptr);
  return true;
}

void Worker::Stop() {
  if (control_) control_->RequestStop();
}

bool Worker::DeliverWithin(uint32_t milliseconds) {
  if (!busy_) return false;
  {
    std::unique_lock lock(state_->mutex);
    const bool done = state_->changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] {
      return state_->finished && state_->finished->first == state_->current;
    });
    if (!done) return false;
  }
  DeliverFinished();
  return true;
}

void Worker::DeliverFinished() {
  Delivery delivery;
  {
    std::lock_guard lock(state_->mutex);
    if (!state_->finished || state_->finished->first != state_->current) return;
    delivery = std::move(state_->finished->second);
    state_->finished.reset();
  }
  // Idle again before the delivery runs: it may start the next job.
  busy_ = false;
  control_.reset();
  onProgress_ = nullptr;
  KillTimer(window_, kProgressTimer);
  if (delivery) delivery();
}

intptr_t Worker::HandleMessage(HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  switch (msg) {
    case kDeliver:
      DeliverFinished();
      return 0;
    case WM_TIMER:
      if (wParam == kProgressTimer) {
        if (busy_ && onProgress_ && control_) {
          const ProgressHandler handler = onProgress_;  // it may start or stop jobs
          handler(control_->LastProgress());
        }
        DeliverFinished();
        return 0;
      }
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace siftwell::win
