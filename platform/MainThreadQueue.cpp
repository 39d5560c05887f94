#include "MainThreadQueue.h"

#include <algorithm>
#include <chrono>
#include <compare>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <utility>

namespace {
using TClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Checks a predicate this often while nothing is posted.
constexpr int PredicateSliceMs = 10;

struct TQueueKey {
  TClock::time_point due;
  uint64_t sequence;
  auto operator<=>(const TQueueKey&) const = default;
};

int RemainingMs(TClock::time_point due, TClock::time_point now) {
  if (due <= now) return 0;
  return static_cast<int>(std::chrono::ceil<milliseconds>(due - now).count());
}

class TMainThreadQueue {
 public:
  void Post(int delayMs, TMainThreadTask task) {
    if (!task) return;
    delayMs = std::max(delayMs, 0);
    std::lock_guard dispatch(dispatchMutex_);
    if (dispatcher_) {
      dispatcher_(std::move(task), delayMs);
      return;
    }
    {
      std::lock_guard lock(mutex_);
      tasks_.emplace(TQueueKey{TClock::now() + milliseconds(delayMs), nextSequence_++},
                     std::move(task));
    }
    posted_.notify_all();
  }

  void SetDispatcher(TMainThreadDispatcher dispatcher) {
    std::lock_guard dispatch(dispatchMutex_);
    dispatcher_ = std::move(dispatcher);
    if (!dispatcher_) return;
    std::map<TQueueKey, TMainThreadTask> waiting;
    {
      std::lock_guard lock(mutex_);
      waiting.swap(tasks_);
    }
    const auto now = TClock::now();
    for (auto& [key, task] : waiting) dispatcher_(std::move(task), RemainingMs(key.due, now));
  }

  int Process(int timeoutMs) {
    std::unique_lock lock(mutex_);
    if (!WaitForDueTask(lock, timeoutMs)) return 0;
    // Tasks posted by the tasks of this batch belong to the next one, so a
    // task that posts itself again cannot keep this call busy for ever.
    const uint64_t batchEnd = nextSequence_;
    const auto now = TClock::now();
    int ran = 0;
    while (!tasks_.empty() && tasks_.begin()->first.due <= now &&
           tasks_.begin()->first.sequence < batchEnd) {
      TMainThreadTask task = std::move(tasks_.begin()->second);
      tasks_.erase(tasks_.begin());
      lock.unlock();
      task();
      ++ran;
      lock.lock();
    }
    return ran;
  }

 private:
  bool FirstIsDue(TClock::time_point now) const {
    return !tasks_.empty() && tasks_.begin()->first.due <= now;
  }

  bool WaitForDueTask(std::unique_lock<std::mutex>& lock, int timeoutMs) {
    const bool limited = timeoutMs >= 0;
    const auto deadline = TClock::now() + milliseconds(std::max(timeoutMs, 0));
    for (auto now = TClock::now(); !FirstIsDue(now); now = TClock::now()) {
      if (limited && now >= deadline) return false;
      if (tasks_.empty() && !limited) {
        posted_.wait(lock);
        continue;
      }
      auto wake = limited ? deadline : TClock::time_point::max();
      if (!tasks_.empty()) wake = std::min(wake, tasks_.begin()->first.due);
      posted_.wait_until(lock, wake);
    }
    return true;
  }

  // Serialises hand-overs to the dispatcher so that tasks keep their order;
  // re-entrant because a dispatcher may post.
  std::recursive_mutex dispatchMutex_;
  TMainThreadDispatcher dispatcher_;

  std::mutex mutex_;
  std::condition_variable posted_;
  std::map<TQueueKey, TMainThreadTask> tasks_;
  uint64_t nextSequence_ = 0;
};

// Never destroyed: threads still running at exit may post.
TMainThreadQueue& Queue() {
  static auto* queue = new TMainThreadQueue;
  return *queue;
}
}  // namespace

void PostToMainThread(TMainThreadTask task) {
  Queue().Post(0, std::move(task));
}

void PostDelayed(int delayMs, TMainThreadTask task) {
  Queue().Post(delayMs, std::move(task));
}

void SetMainThreadDispatcher(TMainThreadDispatcher dispatcher) {
  Queue().SetDispatcher(std::move(dispatcher));
}

int ProcessMainThreadQueue(int timeoutMs) {
  return Queue().Process(timeoutMs);
}

bool RunMainThreadQueueUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = TClock::now() + milliseconds(std::max(timeoutMs, 0));
  while (!done()) {
    int waitMs = PredicateSliceMs;
    if (timeoutMs >= 0) {
      const int remaining = RemainingMs(deadline, TClock::now());
      if (remaining == 0) return done();
      waitMs = std::min(waitMs, remaining);
    }
    ProcessMainThreadQueue(waitMs);
  }
  return true;
}
