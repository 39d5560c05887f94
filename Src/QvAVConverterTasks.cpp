// The batch: launching tasks a given number at a time, counting their ends,
// stopping, pausing and resuming them.
//
// Tasks are claimed under the component's lock and launched outside it, so
// a task that ends at once (its start checks fail, or it stops before its
// launcher returns) finds consistent counters, and no library call made
// while starting a job runs under the lock. A launch loop that is already
// running on this thread picks up the slots such an end frees instead of
// starting a nested loop.
#include <algorithm>

#include "ComponentRegistry.h"
#include "QvAVConverter.h"
#include "platform/MainThreadQueue.h"

namespace {
constexpr int InlineLaunchDelayMs = 100;

// The components whose launch loop runs on this thread.
thread_local std::vector<const TCustomFFmpegVCL*> LaunchingComponents;

class TLaunchLoopScope {
 public:
  explicit TLaunchLoopScope(const TCustomFFmpegVCL* component) : component_(component) {
    LaunchingComponents.push_back(component);
  }
  ~TLaunchLoopScope() { std::erase(LaunchingComponents, component_); }
  static bool Active(const TCustomFFmpegVCL* component) {
    return std::find(LaunchingComponents.begin(), LaunchingComponents.end(), component) !=
           LaunchingComponents.end();
  }

 private:
  const TCustomFFmpegVCL* component_;
};
}  // namespace

void TCustomFFmpegVCL::StartBatch(int startCount) {
  FreeRetiredJobs();
  ClearLogList();
  {
    TCriticalSectionGuard guard(lock_);
    startCount_ = startCount;
    nextIndex_ = 0;
    finishedCount_ = 0;
    batchSize_ = 0;
    for (int i = 0; i < taskList_.Count(); ++i) {
      TFFmpeg& job = taskList_.Get(i);
      // A job runs once: one that has run or is running stays out.
      job.InBatch = !job.Terminated && !job.Running;
      job.Launched = false;
      job.Reported = false;
      job.StopAfterLaunch = false;
      job.PauseAfterLaunch = false;
      if (job.InBatch) ++batchSize_;
    }
    pendingCount_ = batchSize_;
    freeSlots_ = startCount > 0 ? startCount : 1;
    batchRunning_ = batchSize_ > 0;
  }
  LaunchFreeSlots();
}

void TCustomFFmpegVCL::LaunchFreeSlots() {
  if (TLaunchLoopScope::Active(this)) return;
  TLaunchLoopScope scope(this);
  for (;;) {
    TFFmpeg* job = nullptr;
    bool threaded = false;
    {
      TCriticalSectionGuard guard(lock_);
      job = ClaimNextTask();
      threaded = startCount_ > 0;
    }
    if (!job) return;
    if (threaded)
      LaunchThreaded(*job);
    else
      PostInlineLaunch(job);
  }
}

TFFmpeg* TCustomFFmpegVCL::ClaimNextTask() {
  if (!batchRunning_ || freeSlots_ <= 0 || pendingCount_ <= 0) return nullptr;
  for (int i = 0; i < taskList_.Count(); ++i) {
    TFFmpeg& job = taskList_.Get(i);
    if (!job.InBatch || job.Launched) continue;
    job.Launched = true;
    job.Launching = startCount_ > 0;
    --pendingCount_;
    --freeSlots_;
    nextIndex_ = i + 1;
    return &job;
  }
  pendingCount_ = 0;
  return nullptr;
}

void TCustomFFmpegVCL::PrepareForStart(TFFmpeg& job) {
  job.ReportInterval = static_cast<int64_t>(progressInterval_) * 1000;
  job.OptVerbosity(static_cast<int>(logLevel_) - 1);
}

void TCustomFFmpegVCL::LaunchThreaded(TFFmpeg& job) {
  PrepareForStart(job);
  try {
    // The worker records its own thread identifier before the job runs, so
    // even its first log line names the task.
    if (TThread* worker = job.Start(true, threadPriority_)) worker->Resume();
  } catch (const std::exception& error) {
    // No thread could be made: the task ends here, failed.
    job.HasError = true;
    job.ErrorMessage = error.what();
    job.TerminateJob();
  }
  FinishLaunch(job);
}

void TCustomFFmpegVCL::PostInlineLaunch(TFFmpeg* job) {
  PostDelayed(InlineLaunchDelayMs,
              [alive = std::weak_ptr<TAliveToken>(alive_), serial = job->Serial] {
                if (const auto token = alive.lock()) token->Owner->RunInlineTask(serial);
              });
}

void TCustomFFmpegVCL::RunInlineTask(uint64_t serial) {
  TFFmpeg* job = nullptr;
  {
    TCriticalSectionGuard guard(lock_);
    for (int i = 0; i < taskList_.Count() && !job; ++i)
      if (taskList_.Get(i).Serial == serial) job = &taskList_.Get(i);
    // Deleted or cleared since it was claimed.
    if (!job || !job->InBatch) return;
    job->Launching = true;
  }
  PrepareForStart(*job);
  job->SetThreadId(MainThreadId());
  try {
    job->Start(false, threadPriority_);  // returns when the job has ended
  } catch (const std::exception& error) {
    job->HasError = true;
    job->ErrorMessage = error.what();
    job->TerminateJob();
  }
  FinishLaunch(*job);
}

void TCustomFFmpegVCL::FinishLaunch(TFFmpeg& job) {
  bool retired = false;
  {
    TCriticalSectionGuard guard(lock_);
    job.Launching = false;
    retired = job.Index < 0;
    if (retired) {
      if (job.Running) job.RequestStop();
    } else if (job.StopAfterLaunch) {
      job.Stop();
    } else if (job.PauseAfterLaunch) {
      job.Pause();
    }
    job.PauseAfterLaunch = false;
  }
  if (retired) PostRetiredJobsCheck();
}

bool TCustomFFmpegVCL::LaunchedElsewhere(const TFFmpeg& job) const {
  return job.Launching && startCount_ > 0;
}

void TCustomFFmpegVCL::StopJob(TFFmpeg& job) {
  // A job between its claim and the end of its launch is stopped by its
  // launcher: a worker launch sets up the job's thread outside the lock.
  if (LaunchedElsewhere(job) || (job.Launching && !job.Running))
    job.StopAfterLaunch = true;
  else
    job.Stop();
}

void TCustomFFmpegVCL::StopBatch() {
  TCriticalSectionGuard guard(lock_);
  pendingCount_ = 0;
  for (int i = 0; i < taskList_.Count(); ++i) StopJob(taskList_.Get(i));
}

void TCustomFFmpegVCL::PauseBatch() {
  TCriticalSectionGuard guard(lock_);
  for (int i = 0; i < taskList_.Count(); ++i) {
    TFFmpeg& job = taskList_.Get(i);
    if (LaunchedElsewhere(job))
      job.PauseAfterLaunch = true;
    else
      job.Pause();
  }
}

void TCustomFFmpegVCL::ResumeBatch() {
  TCriticalSectionGuard guard(lock_);
  for (int i = 0; i < taskList_.Count(); ++i) {
    TFFmpeg& job = taskList_.Get(i);
    if (LaunchedElsewhere(job))
      job.PauseAfterLaunch = false;
    else
      job.Resume();
  }
}

bool TCustomFFmpegVCL::CountTermination(TFFmpeg& job, std::exception_ptr& handlerError) {
  if (!batchRunning_ || !job.InBatch || job.Reported) return false;
  job.Reported = true;
  ++finishedCount_;
  if (job.Launched) ++freeSlots_;
  return RaiseAllDoneIfComplete(handlerError);
}

bool TCustomFFmpegVCL::RaiseAllDoneIfComplete(std::exception_ptr& handlerError) {
  if (!batchRunning_ || pendingCount_ > 0 || finishedCount_ < batchSize_) return false;
  batchRunning_ = false;
  if (onTerminate_) {
    TEventScope scope;
    try {
      onTerminate_(-1, true, false, std::string());
    } catch (...) {
      if (!handlerError) handlerError = std::current_exception();
    }
  }
  return true;
}

void TCustomFFmpegVCL::LeaveBatch(TFFmpeg& job) {
  if (!batchRunning_ || !job.InBatch || job.Reported) return;
  job.InBatch = false;
  --batchSize_;
  if (!job.Launched) {
    --pendingCount_;
    return;
  }
  ++freeSlots_;
  // A job still being launched is stopped by its launcher (FinishLaunch).
  if (job.Running && !LaunchedElsewhere(job)) job.RequestStop();
}
