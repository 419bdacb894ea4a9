// One worker thread that runs the latest job handed to it: a new job stops the
// running one (through its stop token) and replaces any job still waiting. For
// work the user supersedes as they type, such as the live match count.
// Portable: no platform headers. The thread starts with the first job; the
// destructor stops the running job and waits for it, so no code of ours runs
// after the owner is gone.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

namespace siftwell::filter {

class LatestJob {
 public:
  // Runs on the worker. It should look at the token often and return soon
  // once a stop is requested; whatever it throws is dropped.
  using Job = std::function<void(std::stop_token)>;

  LatestJob() = default;
  ~LatestJob();
  LatestJob(const LatestJob&) = delete;
  LatestJob& operator=(const LatestJob&) = delete;

  // Stops the running job, drops a waiting one, and runs `job` next.
  void Submit(Job job);
  // Stops the running job and drops a waiting one.
  void Cancel();
  // True while a job runs or waits.
  bool Busy() const;

 private:
  void Loop();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::optional<Job> next_;
  std::stop_source running_;
  bool active_ = false;
  bool quit_ = false;
  std::thread thread_;
};

}  // namespace siftwell::filter
