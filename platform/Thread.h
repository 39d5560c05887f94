#pragma once
// Worker threads: created suspended, cooperative pause at safe points,
// per-thread priorities, and an ownership handle that never lets a thread
// object die under its running OS thread.
//
// Typical owner:
//   class TWorker : public TThread {
//     void Execute() override { while (!Terminated()) { Step(); TThread::PausePoint(); } }
//   };
//   TThreadPtr<TWorker> worker = NewThread<TWorker>();
//   worker->SetPriority(tpLower);
//   worker->Resume();          // the OS thread starts here
//   worker->Suspend();         // it waits at its next PausePoint()
//   worker->Resume();          // and goes on
//   worker.reset();            // terminates, wakes and joins it, then deletes it
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

// Kernel thread identifier (gettid); 0 means "no thread".
using TThreadId = uint32_t;

// tpIdle runs only when the processor has nothing else to do (SCHED_IDLE);
// the others are nice values relative to the process's own. Raising a
// priority above the process's needs the right to do so; without it the
// thread keeps the priority it has.
enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

struct TThreadState;
class TThread;

// Deletes a thread object safely: asks it to terminate, wakes it if paused,
// waits for Execute to return and only then destroys the object. When
// called on the thread itself (Execute destroyed its own owner) it cannot
// wait; the OS thread is detached and Execute must not touch the object
// after that point. A thread that was never started is deleted without
// ever running Execute.
struct TThreadDeleter {
  void operator()(TThread* thread) const noexcept;
};

template <class T>
using TThreadPtr = std::unique_ptr<T, TThreadDeleter>;

template <class T, class... TArgs>
TThreadPtr<T> NewThread(TArgs&&... args) {
  return TThreadPtr<T>(new T(std::forward<TArgs>(args)...));
}

class TThread {
 public:
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Starts the OS thread on the first call; later calls do nothing. Returns
  // once the thread runs and ThreadId() is known, without touching the
  // object after that point, so Execute may destroy it at once. Raises
  // Exception when the system cannot create a thread.
  void Start();
  // Starts the thread on the first call; afterwards releases a pause.
  void Resume();
  // Asks the thread to wait at its next PausePoint(). Ignored once the
  // thread was asked to terminate or has finished.
  void Suspend();
  // True before the first start and while a pause is requested or held.
  bool Suspended() const;
  // True while the thread actually waits at a pause point.
  bool Paused() const;
  // Waits until the thread holds at a pause point; false on timeout, or
  // when no pause is requested any more, or the thread has finished.
  bool WaitUntilPaused(unsigned timeoutMs) const;

  // Asks Execute to return (it polls Terminated()) and releases a pause.
  void Terminate();
  bool Terminated() const;
  // True once Execute has returned.
  bool Finished() const;
  // Waits until Execute has returned and joins the OS thread. Any number of
  // threads may wait at once. Returns at once when the thread was never
  // started, or when called from the thread itself (it cannot wait for
  // itself); the timed form then returns false, as on timeout.
  void WaitFor();
  bool WaitFor(unsigned timeoutMs);

  // Takes effect at once on a running thread, at the start otherwise.
  // Returns false when the system refused the change; the thread keeps
  // running at its previous priority.
  bool SetPriority(TThreadPriority priority);
  TThreadPriority Priority() const;
  // The kernel thread identifier; 0 until started. Kept after the end.
  TThreadId ThreadId() const;
  // An exception that escaped Execute, or null.
  std::exception_ptr FatalException() const;

  // A safe point: when the current thread is a TThread asked to pause, waits
  // here until it is resumed or terminated. Call it only where the thread
  // holds no lock. Does nothing on any other thread.
  static void PausePoint();

 protected:
  TThread();
  // Joins a thread that is still running (after Terminate) as a last
  // resort; owners should hold threads in TThreadPtr so that the join
  // happens before any part of the object is destroyed.
  virtual ~TThread();

  virtual void Execute() = 0;

 private:
  friend struct TThreadDeleter;
  static void Body(std::shared_ptr<TThreadState> state, TThread* thread);
  bool RunsOnThisThread() const;
  bool WaitUntilFinished(bool timed, unsigned timeoutMs);
  void Join();

  // Shared with the OS thread, which may outlive this object when it
  // destroyed its own owner.
  std::shared_ptr<TThreadState> state_;
  std::mutex joinMutex_;
  std::thread osThread_;
};

TThreadId CurrentThreadId();
// The thread that first used the platform's thread functions; in practice
// the thread that ran the process's start-up.
TThreadId MainThreadId();
bool IsMainThread();
void Sleep(unsigned ms);
