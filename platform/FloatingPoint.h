#pragma once
// The floating-point environment. Library code must run with every
// floating-point exception masked (a division by zero gives infinity, not a
// signal). The environment belongs to each thread; new threads inherit the
// one of the thread that creates them, and TThread masks its own at start.
#include <cfenv>

// Masks every floating-point exception on the calling thread.
void MaskFloatingPointExceptions();

// True when no floating-point exception would trap on the calling thread.
bool FloatingPointExceptionsMasked();

// Saves the calling thread's environment, clears its exception flags and
// masks every exception; restores the saved environment when destroyed.
// Destroy it on the thread that created it. A process creates one at
// start-up, before any worker thread, and keeps it until shut-down.
class TFloatingPointGuard {
 public:
  TFloatingPointGuard();
  ~TFloatingPointGuard();
  TFloatingPointGuard(const TFloatingPointGuard&) = delete;
  TFloatingPointGuard& operator=(const TFloatingPointGuard&) = delete;

 private:
  std::fenv_t saved_;
};
