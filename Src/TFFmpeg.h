#pragma once
// The job of one conversion task of the component: the engine job with its
// place in the task list, the thread that runs it, its two option records
// and a probe attached to its opened input.
#include <atomic>
#include <cstdint>

#include "FFmpeg.h"
#include "TaskRecords.h"
#include "probe/AVProbe.h"

class TFFmpeg : public TCustomFFmpeg {
 public:
  TFFmpeg();
  ~TFFmpeg() override;

  // Position in the component's task list; kept dense on deletion.
  std::atomic<int> Index{-1};
  // The thread that runs the job: its worker, or the main thread for an
  // inline task; 0 until started or when it never got a thread.
  TThreadId ThreadId() const { return WorkerThreadId; }
  void SetThreadId(TThreadId id) { WorkerThreadId = id; }

  TInputOptions InputOptions;
  TOutputOptions OutputOptions;
  TAVProbe Probe;

  // Unique in the process; names the job where a pointer could outlive it.
  const uint64_t Serial;

  // Scheduling marks of the component, guarded by its lock.
  bool InBatch = false;    // part of the current batch
  bool Launched = false;   // taken for launching in the current batch
  bool Launching = false;  // its Start is under way outside the lock
  bool StopAfterLaunch = false;
  bool PauseAfterLaunch = false;
  bool Reported = false;     // its termination was counted
  int EventsInDelivery = 0;  // its events now being relayed
};
