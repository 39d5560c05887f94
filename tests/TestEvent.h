#pragma once
// A manual-reset event for sequencing test threads. Waits are bounded so that
// a broken sequence fails the test instead of hanging it.
#include <chrono>
#include <condition_variable>
#include <mutex>

// Generous bound for waits that only guard against a hang.
inline constexpr int WatchdogMs = 10000;

class TEvent {
 public:
  void Set() {
    {
      std::lock_guard lock(mutex_);
      set_ = true;
    }
    changed_.notify_all();
  }

  void Reset() {
    std::lock_guard lock(mutex_);
    set_ = false;
  }

  bool WaitFor(int timeoutMs = WatchdogMs) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return set_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool set_ = false;
};
