#include "platform/Thread.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <iterator>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/Lock.h"
#include "tests/TestEvent.h"

namespace {
// A thread whose body is given by the test.
class TBodyThread : public TThread {
 public:
  explicit TBodyThread(std::function<void(TBodyThread&)> body) : body_(std::move(body)) {}

 protected:
  void Execute() override { body_(*this); }

 private:
  std::function<void(TBodyThread&)> body_;
};

size_t OsThreadCount() {
  auto tasks = std::filesystem::directory_iterator("/proc/self/task");
  return static_cast<size_t>(std::distance(begin(tasks), end(tasks)));
}

// Deep inside the work, where only "the current thread" is known.
void WorkStepEnd() {
  TThread::PausePoint();
}

// A thread that counts steps, each under a lock, with a safe point between
// steps, until it is terminated.
class PausingThread : public ::testing::Test {
 protected:
  void StartAndWaitForAStep() {
    thread_->Resume();
    ASSERT_TRUE(stepped_.WaitFor());
  }
  void PauseAndWaitUntilHeld() {
    thread_->Suspend();
    EXPECT_TRUE(thread_->Suspended());
    ASSERT_TRUE(thread_->WaitUntilPaused(WatchdogMs));
  }

  TCriticalSection workLock_;
  std::atomic<int> steps_{0};
  TEvent stepped_;
  TThreadPtr<TBodyThread> thread_ = NewThread<TBodyThread>([this](TBodyThread& self) {
    while (!self.Terminated()) {
      {
        TCriticalSectionGuard guard(workLock_);
        ++steps_;
      }
      stepped_.Set();
      WorkStepEnd();
    }
  });
};
}  // namespace

TEST(Thread, CreatedSuspendedRunsNothingBeforeTheFirstResume) {
  const size_t threadsBefore = OsThreadCount();
  std::atomic<TThreadId> idSeenInside{0};
  auto thread = NewThread<TBodyThread>([&](TBodyThread&) { idSeenInside = CurrentThreadId(); });
  EXPECT_EQ(OsThreadCount(), threadsBefore) << "no OS thread before Resume";
  EXPECT_EQ(thread->ThreadId(), 0u);
  EXPECT_TRUE(thread->Suspended());
  EXPECT_TRUE(thread->WaitFor(0)) << "nothing to wait for";

  thread->Resume();
  const TThreadId id = thread->ThreadId();
  EXPECT_NE(id, 0u) << "known as soon as Resume returns";
  EXPECT_NE(id, CurrentThreadId());
  ASSERT_TRUE(thread->WaitFor(WatchdogMs));
  EXPECT_EQ(idSeenInside, id);
  EXPECT_TRUE(thread->Finished());
  EXPECT_FALSE(thread->Suspended());
  EXPECT_EQ(thread->ThreadId(), id) << "kept after the end";

  std::atomic<bool> ran{false};
  auto neverStarted = NewThread<TBodyThread>([&](TBodyThread&) { ran = true; });
  neverStarted.reset();
  EXPECT_FALSE(ran) << "destroying a thread that was never started must not run it";
}

TEST_F(PausingThread, SuspendHoldsTheThreadAtASafePointWhereItHoldsNoLock) {
  TThread::PausePoint();  // on a thread that is no TThread: returns at once
  ASSERT_NO_FATAL_FAILURE(StartAndWaitForAStep());
  ASSERT_NO_FATAL_FAILURE(PauseAndWaitUntilHeld());
  ASSERT_TRUE(workLock_.TryEnter()) << "a paused thread must not hold its locks";
  workLock_.Leave();
  const int stepsWhilePaused = steps_;
  EXPECT_TRUE(thread_->WaitUntilPaused(0));
  EXPECT_EQ(steps_, stepsWhilePaused);

  stepped_.Reset();
  thread_->Resume();
  ASSERT_TRUE(stepped_.WaitFor());
  EXPECT_GT(steps_, stepsWhilePaused);
  EXPECT_FALSE(thread_->Suspended());
  EXPECT_FALSE(thread_->Paused());
}

TEST_F(PausingThread, TerminateWakesAPausedThreadWhichIsNeverPausedAgain) {
  ASSERT_NO_FATAL_FAILURE(StartAndWaitForAStep());
  ASSERT_NO_FATAL_FAILURE(PauseAndWaitUntilHeld());
  thread_->Terminate();
  thread_->Suspend();
  EXPECT_FALSE(thread_->Suspended()) << "a terminated thread must run to its end";
  ASSERT_TRUE(thread_->WaitFor(WatchdogMs));
  thread_->Suspend();
  EXPECT_FALSE(thread_->Suspended());
  EXPECT_FALSE(thread_->WaitUntilPaused(0));
}

TEST(Thread, WaitForServesSeveralWaitersAndNeverWaitsForItself) {
  TEvent release;
  std::atomic<bool> selfWaitsReturned{false};
  bool timedSelfWait = true;
  auto thread = NewThread<TBodyThread>([&](TBodyThread& self) {
    self.WaitFor();  // would hang if it joined itself
    timedSelfWait = self.WaitFor(24u * 3600 * 1000);
    selfWaitsReturned = true;
    release.WaitFor();
  });
  thread->Resume();

  std::atomic<int> waiters{0};
  std::thread timed([&] { waiters += thread->WaitFor(WatchdogMs) ? 1 : 0; });
  std::thread untimed([&] {
    thread->WaitFor();
    ++waiters;
  });
  release.Set();
  timed.join();
  untimed.join();
  EXPECT_EQ(waiters, 2);
  EXPECT_TRUE(selfWaitsReturned);
  EXPECT_FALSE(timedSelfWait);
  EXPECT_TRUE(thread->Finished());
}

TEST(Thread, AnEscapingExceptionIsKeptNotFatal) {
  auto thread = NewThread<TBodyThread>([](TBodyThread&) { throw std::runtime_error("boom"); });
  thread->Resume();
  ASSERT_TRUE(thread->WaitFor(WatchdogMs));
  ASSERT_TRUE(thread->FatalException());
  EXPECT_THROW(std::rethrow_exception(thread->FatalException()), std::runtime_error);
}

namespace {
// Touches its own members until the very end of Execute: destroying it
// before the join would be a use after free.
class TTrailThread : public TThread {
 public:
  TTrailThread(TEvent& started, std::atomic<bool>& executeReturned)
      : started_(started), executeReturned_(executeReturned) {}

 protected:
  void Execute() override {
    started_.Set();
    while (!Terminated()) {
      trail_.push_back(static_cast<int>(trail_.size()));
      PausePoint();
    }
    trail_.assign(1000, 0);
    executeReturned_ = true;
  }

 private:
  TEvent& started_;
  std::atomic<bool>& executeReturned_;
  std::vector<int> trail_;
};
}  // namespace

TEST(Thread, DestroyingARunningOrPausedThreadJoinsItFirst) {
  for (const bool paused : {false, true}) {
    TEvent started;
    std::atomic<bool> executeReturned{false};
    auto thread = NewThread<TTrailThread>(started, executeReturned);
    thread->Resume();
    ASSERT_TRUE(started.WaitFor());
    if (paused) {
      thread->Suspend();
      ASSERT_TRUE(thread->WaitUntilPaused(WatchdogMs));
    }
    thread.reset();
    EXPECT_TRUE(executeReturned) << (paused ? "paused" : "running");
  }
}

namespace {
struct TJob;

class TJobThread : public TThread {
 public:
  explicit TJobThread(TJob* job) : job_(job) {}

 protected:
  void Execute() override;

 private:
  TJob* job_;
};

// Owns its worker, as a conversion job does; the worker's last act is to
// destroy the job (a terminate handler that clears the task list).
struct TJob {
  std::promise<void>* destroyed = nullptr;
  std::vector<int> resources = std::vector<int>(1000);
  TThreadPtr<TJobThread> worker;

  ~TJob() {
    worker.reset();
    destroyed->set_value();
  }
};

void TJobThread::Execute() {
  job_->resources[0] = 1;
  delete job_;  // destroys this object too; nothing of it is touched below
}
}  // namespace

TEST(Thread, AThreadMayDestroyItsOwnOwner) {
  for (int round = 0; round < 20; ++round) {
    std::promise<void> destroyed;
    auto* job = new TJob;
    job->destroyed = &destroyed;
    job->worker = NewThread<TJobThread>(job);
    job->worker->Resume();  // the job may be gone when this returns
    ASSERT_EQ(destroyed.get_future().wait_for(std::chrono::milliseconds(WatchdogMs)),
              std::future_status::ready);
  }
}

namespace {
struct TObserved {
  int policy;
  int nice;
};

TObserved Observe(TThreadId id) {
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(id));
  return {sched_getscheduler(static_cast<pid_t>(id)), nice};
}

int OwnNice() {
  return getpriority(PRIO_PROCESS, 0);
}

// Runs the check on a thread without the right to raise priorities, so that
// a refusal happens even when the tests run as root.
void RunWithoutTheRightToRaisePriorities(const std::function<void()>& check) {
  std::thread helper([&] {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2]{};
    if (syscall(SYS_capget, &header, caps) == 0) {
      caps[CAP_SYS_NICE / 32].effective &= ~(1u << (CAP_SYS_NICE % 32));
      syscall(SYS_capset, &header, caps);
    }
    check();
  });
  helper.join();
}

// A thread that waits until released, so that its priority can be seen.
struct TParkedThread {
  TEvent release;
  TThreadPtr<TBodyThread> thread =
      NewThread<TBodyThread>([this](TBodyThread&) { release.WaitFor(); });
  ~TParkedThread() { release.Set(); }
};
}  // namespace

TEST(Thread, LowerPrioritiesTakeEffectBeforeAndAfterTheStart) {
  const int creatorNice = OwnNice();
  if (creatorNice > 9) GTEST_SKIP() << "the process runs too low to go lower";
  for (const bool beforeStart : {true, false}) {
    int previousNice = creatorNice;
    for (const TThreadPriority priority : {tpIdle, tpNormal, tpLower, tpLowest}) {
      TParkedThread parked;
      auto setPriority = [&] { EXPECT_TRUE(parked.thread->SetPriority(priority)); };
      if (beforeStart) setPriority();
      parked.thread->Resume();
      if (!beforeStart) setPriority();
      EXPECT_EQ(parked.thread->Priority(), priority);
      const TObserved seen = Observe(parked.thread->ThreadId());
      const char* when = beforeStart ? "set before the start" : "set while running";
      if (priority == tpIdle) {
        EXPECT_EQ(seen.policy, SCHED_IDLE) << when;
        continue;
      }
      EXPECT_EQ(seen.policy, SCHED_OTHER) << when;
      if (priority == tpNormal) {
        EXPECT_EQ(seen.nice, creatorNice) << when;
      } else {
        EXPECT_GT(seen.nice, previousNice) << when << ", priority " << priority;
      }
      previousNice = seen.nice;
    }
  }
}

TEST(Thread, RaisingAPriorityWithoutTheRightKeepsThePreviousOne) {
  RunWithoutTheRightToRaisePriorities([] {
    const int creatorNice = OwnNice();
    for (const TThreadPriority priority : {tpHigher, tpHighest, tpTimeCritical}) {
      TParkedThread atStart;
      atStart.thread->SetPriority(priority);
      atStart.thread->Resume();
      const int niceAtStart = Observe(atStart.thread->ThreadId()).nice;
      EXPECT_TRUE(niceAtStart == creatorNice || niceAtStart < creatorNice) << priority;

      TParkedThread running;
      running.thread->Resume();
      const bool raised = running.thread->SetPriority(priority);
      const int nice = Observe(running.thread->ThreadId()).nice;
      EXPECT_EQ(raised, nice < creatorNice) << "the result tells the truth, priority " << priority;
      if (!raised) {
        EXPECT_EQ(nice, creatorNice) << "refused: unchanged";
      }
    }

    TParkedThread idle;
    idle.thread->SetPriority(tpIdle);
    idle.thread->Resume();
    const bool normal = idle.thread->SetPriority(tpNormal);
    EXPECT_EQ(Observe(idle.thread->ThreadId()).policy, normal ? SCHED_OTHER : SCHED_IDLE);
  });
}

TEST(Thread, MainThreadIsTheStartUpThread) {
  // gtest runs the tests on the thread that started the process.
  EXPECT_EQ(MainThreadId(), static_cast<TThreadId>(getpid()));
  EXPECT_TRUE(IsMainThread());
  bool workerIsMain = true;
  std::thread([&] { workerIsMain = IsMainThread(); }).join();
  EXPECT_FALSE(workerIsMain);
}
