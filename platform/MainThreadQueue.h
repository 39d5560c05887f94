#pragma once
// Work handed to the main (user-interface) thread: posted tasks and
// one-shot delayed tasks. Any thread may post.
//
// A front end with its own event loop installs a dispatcher that hands each
// task to that loop (the desktop application does so with its event loop).
// Without one, tasks wait in a built-in queue that the main thread drives
// with ProcessMainThreadQueue or RunMainThreadQueueUntil (the command line
// and the tests).
//
// A task runs later, on another thread than the poster's: it must not
// capture anything that may be destroyed before it runs, such as a raw
// pointer to an object that can go away meanwhile.
#include <functional>

using TMainThreadTask = std::function<void()>;
// Receives each posted task with its delay in milliseconds (0 for "as soon
// as possible") and must run it once on the main thread after that delay.
using TMainThreadDispatcher = std::function<void(TMainThreadTask task, int delayMs)>;

// Tasks posted with equal due times run in the order they were posted.
void PostToMainThread(TMainThreadTask task);
// Runs the task once, no earlier than delayMs from now (negative counts as 0).
void PostDelayed(int delayMs, TMainThreadTask task);

// Installs a dispatcher; tasks still waiting in the built-in queue are handed
// over to it in order, with what remains of their delays. An empty
// dispatcher goes back to the built-in queue.
void SetMainThreadDispatcher(TMainThreadDispatcher dispatcher);

// Waits up to timeoutMs (negative: without limit) for a task to become due,
// then runs every task due by then that was posted before this call. Tasks
// those tasks post wait for the next call. Returns how many ran. An
// exception from a task leaves here; the tasks not yet run stay queued.
int ProcessMainThreadQueue(int timeoutMs);

// Runs queued tasks until done() holds or timeoutMs (negative: without
// limit) has passed; returns done(). done() is checked after every batch of
// tasks and at least every few milliseconds, so it may also watch state that
// other threads change without posting.
bool RunMainThreadQueueUntil(const std::function<bool()>& done, int timeoutMs);
