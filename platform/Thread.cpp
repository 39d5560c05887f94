#include "Thread.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <string>
#include <system_error>

#include "Exception.h"
#include "FloatingPoint.h"

struct TThreadState {
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  bool launched = false;
  bool finished = false;
  bool paused = false;
  // Atomic as well as guarded: Execute polls them without the mutex.
  std::atomic<bool> pauseRequested{false};
  std::atomic<bool> terminated{false};
  TThreadId threadId = 0;
  TThreadPriority priority = tpNormal;
  std::exception_ptr fatalException;
};

namespace {
// The state of the TThread running on this thread; the OS thread's own
// reference keeps it alive even when the object is gone.
thread_local TThreadState* currentState = nullptr;

int ReadOwnNice() {
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, 0);
  return (nice == -1 && errno != 0) ? 0 : nice;
}

struct TProcessStart {
  TThreadId mainThread = CurrentThreadId();
  int nice = ReadOwnNice();
};

const TProcessStart& ProcessStart() {
  static const TProcessStart start;
  return start;
}

// Records the start-up thread before main() runs.
[[maybe_unused]] const TProcessStart& startUp = ProcessStart();

int NiceFor(TThreadPriority priority) {
  static constexpr int offsets[] = {19, 10, 5, 0, -5, -10, -20};
  return std::clamp(ProcessStart().nice + offsets[priority], -20, 19);
}

// Best effort: returns false when the system refuses, changing nothing.
bool ApplyPriority(TThreadId threadId, TThreadPriority priority) {
  const auto id = static_cast<pid_t>(threadId);
  sched_param param{};
  if (priority == tpIdle) return sched_setscheduler(id, SCHED_IDLE, &param) == 0;
  if (sched_getscheduler(id) == SCHED_IDLE && sched_setscheduler(id, SCHED_OTHER, &param) != 0)
    return false;
  return setpriority(PRIO_PROCESS, static_cast<id_t>(id), NiceFor(priority)) == 0;
}
}  // namespace

void TThreadDeleter::operator()(TThread* thread) const noexcept {
  if (!thread) return;
  thread->Terminate();
  thread->WaitFor();
  delete thread;
}

TThread::TThread() : state_(std::make_shared<TThreadState>()) {}

TThread::~TThread() {
  if (RunsOnThisThread()) {
    osThread_.detach();
    return;
  }
  Terminate();
  WaitFor();
}

void TThread::Body(std::shared_ptr<TThreadState> state, TThread* thread) {
  currentState = state.get();
  MaskFloatingPointExceptions();
  {
    std::lock_guard lock(state->mutex);
    state->threadId = CurrentThreadId();
    ApplyPriority(state->threadId, state->priority);
  }
  state->changed.notify_all();

  std::exception_ptr fatal;
  try {
    thread->Execute();
  } catch (...) {
    fatal = std::current_exception();
  }
  // From here on the object may be gone: only the shared state is used.
  currentState = nullptr;
  {
    std::lock_guard lock(state->mutex);
    state->fatalException = fatal;
    state->finished = true;
    state->paused = false;
    state->pauseRequested = false;
  }
  state->changed.notify_all();
}

void TThread::Start() {
  // Once the thread runs, its Execute may destroy this object: from the
  // wait on, only the shared state is used.
  const std::shared_ptr<TThreadState> state = state_;
  std::unique_lock lock(state->mutex);
  if (!state->launched) {
    try {
      osThread_ = std::thread(&TThread::Body, state, this);
    } catch (const std::system_error& error) {
      throw Exception(std::string("Cannot create a thread: ") + error.what());
    }
    state->launched = true;
  }
  state->changed.wait(lock, [&state] { return state->threadId != 0 || state->finished; });
}

void TThread::Resume() {
  {
    std::lock_guard lock(state_->mutex);
    if (state_->launched) {
      state_->pauseRequested = false;
      state_->changed.notify_all();
      return;
    }
  }
  Start();
}

void TThread::Suspend() {
  std::lock_guard lock(state_->mutex);
  if (!state_->launched || state_->finished || state_->terminated) return;
  state_->pauseRequested = true;
}

bool TThread::Suspended() const {
  std::lock_guard lock(state_->mutex);
  return !state_->finished && (!state_->launched || state_->pauseRequested);
}

bool TThread::Paused() const {
  std::lock_guard lock(state_->mutex);
  return state_->paused;
}

bool TThread::WaitUntilPaused(unsigned timeoutMs) const {
  std::unique_lock lock(state_->mutex);
  state_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
    return state_->paused || !state_->pauseRequested || state_->finished;
  });
  return state_->paused;
}

void TThread::Terminate() {
  std::lock_guard lock(state_->mutex);
  state_->terminated = true;
  state_->pauseRequested = false;
  state_->changed.notify_all();
}

bool TThread::Terminated() const {
  return state_->terminated;
}

bool TThread::Finished() const {
  std::lock_guard lock(state_->mutex);
  return state_->finished;
}

void TThread::WaitFor() {
  if (WaitUntilFinished(false, 0)) Join();
}

bool TThread::WaitFor(unsigned timeoutMs) {
  if (!WaitUntilFinished(true, timeoutMs)) return false;
  Join();
  return true;
}

bool TThread::WaitUntilFinished(bool timed, unsigned timeoutMs) {
  if (RunsOnThisThread()) return false;
  std::unique_lock lock(state_->mutex);
  if (!state_->launched) return true;
  auto finished = [this] { return state_->finished; };
  if (!timed) {
    state_->changed.wait(lock, finished);
    return true;
  }
  return state_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), finished);
}

void TThread::Join() {
  {
    // Only a finished thread is joined: then its launch is complete and the
    // join cannot block for long.
    std::lock_guard lock(state_->mutex);
    if (!state_->finished) return;
  }
  std::lock_guard lock(joinMutex_);
  if (osThread_.joinable()) osThread_.join();
}

bool TThread::SetPriority(TThreadPriority priority) {
  std::lock_guard lock(state_->mutex);
  state_->priority = priority;
  // A finished thread's identifier may already belong to another thread.
  if (state_->threadId == 0 || state_->finished) return true;
  return ApplyPriority(state_->threadId, priority);
}

TThreadPriority TThread::Priority() const {
  std::lock_guard lock(state_->mutex);
  return state_->priority;
}

TThreadId TThread::ThreadId() const {
  std::lock_guard lock(state_->mutex);
  return state_->threadId;
}

std::exception_ptr TThread::FatalException() const {
  std::lock_guard lock(state_->mutex);
  return state_->fatalException;
}

void TThread::PausePoint() {
  TThreadState* state = currentState;
  if (!state || !state->pauseRequested) return;
  std::unique_lock lock(state->mutex);
  if (!state->pauseRequested) return;
  state->paused = true;
  state->changed.notify_all();
  state->changed.wait(lock, [state] { return !state->pauseRequested; });
  state->paused = false;
}

bool TThread::RunsOnThisThread() const {
  return currentState == state_.get();
}

TThreadId CurrentThreadId() {
  return static_cast<TThreadId>(gettid());
}

TThreadId MainThreadId() {
  return ProcessStart().mainThread;
}

bool IsMainThread() {
  return CurrentThreadId() == MainThreadId();
}

void Sleep(unsigned ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
