#include "filter/LatestJob.h"

#include <utility>

namespace siftwell::filter {

LatestJob::~LatestJob() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
    next_.reset();
    running_.request_stop();
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void LatestJob::Submit(Job job) {
  {
    std::lock_guard lock(mutex_);
    running_.request_stop();
    next_ = std::move(job);
    if (!thread_.joinable()) thread_ = std::thread([this] { Loop(); });
  }
  wake_.notify_one();
}

void LatestJob::Cancel() {
  std::lock_guard lock(mutex_);
  running_.request_stop();
  next_.reset();
}

bool LatestJob::Busy() const {
  std::lock_guard lock(mutex_);
  return active_ || next_.has_value();
}

void LatestJob::Loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return quit_ || next_.has_value(); });
    if (quit_) return;
    Job job = std::move(*next_);
    next_.reset();
    running_ = std::stop_source();
    const std::stop_token token = running_.get_token();
    active_ = true;
    lock.unlock();
    try {
      job(token);
    } catch (...) {
      // A job's failure is its own business; the worker goes on.
    }
    job = nullptr;  // its captures die here, not under the lock
    lock.lock();
    active_ = false;
  }
}

}  // namespace siftwell::filter
