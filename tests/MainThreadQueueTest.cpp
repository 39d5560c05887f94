#include "platform/MainThreadQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Thread.h"
#include "tests/TestEvent.h"

namespace {
using TClock = std::chrono::steady_clock;

// The queue is process-wide: every test starts and ends with the built-in
// queue empty and no dispatcher installed.
class MainThreadQueue : public ::testing::Test {
 protected:
  void SetUp() override { Drain(); }
  void TearDown() override {
    SetMainThreadDispatcher(nullptr);
    Drain();
  }
  static void Drain() {
    while (ProcessMainThreadQueue(0) > 0) {
    }
  }

  // Records what ran, in order; posters may be any thread.
  void Record(const std::string& what) {
    std::lock_guard lock(mutex_);
    ran_.push_back(what);
  }
  std::vector<std::string> Ran() {
    std::lock_guard lock(mutex_);
    return ran_;
  }
  size_t RanCount() { return Ran().size(); }

  TMainThreadTask Recorder(std::string what) {
    return [this, what = std::move(what)] { Record(what); };
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> ran_;
};
}  // namespace

TEST_F(MainThreadQueue, RunsPostsInOrderAndDelayedPostsByDueTimeNeverEarly) {
  const auto posted = TClock::now();
  TClock::time_point lateRan, earlyRan;
  PostDelayed(1000, [&] {
    lateRan = TClock::now();
    Record("late");
  });
  PostToMainThread(Recorder("a"));
  PostDelayed(500, [&] {
    earlyRan = TClock::now();
    Record("early");
  });
  PostDelayed(-5, Recorder("b"));  // a negative delay is no delay
  PostToMainThread(Recorder("c"));

  EXPECT_EQ(ProcessMainThreadQueue(0), 3);
  EXPECT_EQ(Ran(), (std::vector<std::string>{"a", "b", "c"}));
  ASSERT_TRUE(RunMainThreadQueueUntil([&] { return RanCount() == 5; }, WatchdogMs));
  EXPECT_EQ(Ran(), (std::vector<std::string>{"a", "b", "c", "early", "late"}));
  EXPECT_GE(earlyRan - posted, std::chrono::milliseconds(500));
  EXPECT_GE(lateRan - posted, std::chrono::milliseconds(1000));
}

TEST_F(MainThreadQueue, PostsFromWorkersRunOnTheDrivingThreadInEachPostersOrder) {
  constexpr int Posters = 4;
  constexpr int PostsEach = 50;
  std::vector<std::vector<int>> seen(Posters);
  std::atomic<int> offThread{0};
  std::vector<std::thread> posters;
  for (int p = 0; p < Posters; ++p)
    posters.emplace_back([&, p] {
      for (int i = 0; i < PostsEach; ++i)
        PostToMainThread([&, p, i] {
          if (!IsMainThread()) ++offThread;
          seen[p].push_back(i);  // only the driving thread touches seen
        });
    });
  for (auto& poster : posters) poster.join();

  int total = 0;
  ASSERT_TRUE(RunMainThreadQueueUntil(
      [&] {
        total = 0;
        for (const auto& s : seen) total += static_cast<int>(s.size());
        return total == Posters * PostsEach;
      },
      WatchdogMs));
  EXPECT_EQ(offThread, 0);
  for (const auto& s : seen)
    for (int i = 0; i < PostsEach; ++i) EXPECT_EQ(s[i], i);
}

TEST_F(MainThreadQueue, ATaskThatPostsAgainWaitsForTheNextRound) {
  int runs = 0;
  std::function<void()> again = [&] {
    ++runs;
    PostToMainThread(again);
  };
  PostToMainThread(again);
  EXPECT_EQ(ProcessMainThreadQueue(0), 1);
  EXPECT_EQ(ProcessMainThreadQueue(0), 1);
  EXPECT_EQ(runs, 2);
  // Stop the chain: the task now in the queue posts once more.
  again = [&] { ++runs; };
  Drain();
}

TEST_F(MainThreadQueue, AFailingTaskLeavesTheOthersQueued) {
  PostToMainThread([] { throw std::runtime_error("task failed"); });
  PostToMainThread(Recorder("after"));
  EXPECT_THROW(ProcessMainThreadQueue(0), std::runtime_error);
  EXPECT_EQ(ProcessMainThreadQueue(0), 1);
  EXPECT_EQ(Ran(), std::vector<std::string>{"after"});
}

TEST_F(MainThreadQueue, AnInstalledDispatcherTakesOverWaitingAndNewTasksInOrder) {
  PostToMainThread(Recorder("waiting"));
  PostDelayed(60000, Recorder("delayed"));

  std::vector<std::pair<TMainThreadTask, int>> handed;
  SetMainThreadDispatcher(
      [&](TMainThreadTask task, int delayMs) { handed.emplace_back(std::move(task), delayMs); });
  PostToMainThread(Recorder("new"));
  EXPECT_EQ(ProcessMainThreadQueue(0), 0) << "nothing left in the built-in queue";

  ASSERT_EQ(handed.size(), 3u);
  EXPECT_EQ(handed[0].second, 0);
  EXPECT_GT(handed[1].second, 50000) << "what remains of the delay";
  EXPECT_LE(handed[1].second, 60000);
  EXPECT_EQ(handed[2].second, 0);
  for (auto& [task, delay] : handed) task();
  EXPECT_EQ(Ran(), (std::vector<std::string>{"waiting", "delayed", "new"}));

  SetMainThreadDispatcher(nullptr);
  PostToMainThread(Recorder("built-in again"));
  EXPECT_EQ(ProcessMainThreadQueue(0), 1);
}

TEST_F(MainThreadQueue, RunUntilSeesStateOtherThreadsChangeWithoutPosting) {
  std::atomic<bool> flag{false};
  std::thread setter([&] { flag = true; });
  EXPECT_TRUE(RunMainThreadQueueUntil([&] { return flag.load(); }, WatchdogMs));
  setter.join();
  EXPECT_FALSE(RunMainThreadQueueUntil([] { return false; }, 30)) << "gives up at the timeout";
}
