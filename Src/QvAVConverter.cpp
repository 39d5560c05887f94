// The component's construction, properties, library loading and task list.
#include "QvAVConverter.h"

#include "ComponentRegistry.h"
#include "LibraryLoader.h"
#include "binding/AVUtilHlpr.h"
#include "binding/LogLevels.h"
#include "platform/Format.h"
#include "platform/MainThreadQueue.h"

// ---- TFFmpegList -----------------------------------------------------------

int TFFmpegList::Add(std::unique_ptr<TFFmpeg> job) {
  job->Index = Count();
  jobs_.push_back(std::move(job));
  return Count() - 1;
}

TFFmpeg& TFFmpegList::Get(int index) const {
  if (index < 0 || index >= Count())
    throw EListError(Format("List index out of bounds (%d)", {index}));
  return *jobs_[index];
}

int TFFmpegList::IndexOf(const TFFmpeg* job) const {
  for (int i = 0; i < Count(); ++i)
    if (jobs_[i].get() == job) return i;
  return -1;
}

TFFmpeg* TFFmpegList::FindByThreadId(TThreadId threadId) const {
  for (const auto& job : jobs_)
    if (job->ThreadId() == threadId) return job.get();
  return nullptr;
}

std::unique_ptr<TFFmpeg> TFFmpegList::Extract(int index) {
  Get(index);  // range check
  std::unique_ptr<TFFmpeg> job = std::move(jobs_[index]);
  jobs_.erase(jobs_.begin() + index);
  for (int i = index; i < Count(); ++i) jobs_[i]->Index = i;
  job->Index = -1;
  return job;
}

std::vector<std::unique_ptr<TFFmpeg>> TFFmpegList::ExtractAll() {
  std::vector<std::unique_ptr<TFFmpeg>> jobs = std::move(jobs_);
  jobs_.clear();
  for (auto& job : jobs) job->Index = -1;
  return jobs;
}

// ---- Construction and destruction ------------------------------------------

TCustomFFmpegVCL::TCustomFFmpegVCL(bool designing)
    : designing_(designing), alive_(std::make_shared<TAliveToken>(TAliveToken{this})) {
  if (!designing_) ComponentList().Add(this);
}

TCustomFFmpegVCL::~TCustomFFmpegVCL() {
  alive_.reset();  // delayed launches and checks of this component do nothing now
  if (!designing_) {
    ComponentList().Remove(this);
    // Waits for an event in delivery to end.
    TCriticalSectionGuard guard(lock_);
  }
  std::vector<std::unique_ptr<TFFmpeg>> jobs;
  {
    TCriticalSectionGuard guard(lock_);
    jobs = taskList_.ExtractAll();
    for (auto& job : retired_) jobs.push_back(std::move(job));
    retired_.clear();
    batchRunning_ = false;
    pendingCount_ = 0;
  }
  // Each job stops and waits for its worker; their late events find no task.
  jobs.clear();
}

// ---- Properties ------------------------------------------------------------

void TQvAVConverter::SetLogLevel(TLogLevel level) {
  logLevel_ = level;
  ApplyLogLevel();
}

void TCustomFFmpegVCL::ApplyLogLevel() {
  if (!LibrariesLoaded() || designing_) return;
  AVUtilApi.av_log_set_level(LibraryLogLevel(static_cast<int>(logLevel_) - 1));
  RefreshLogFilterLevel();
}

void TQvAVConverter::SetProgressInterval(int milliseconds) {
  progressInterval_ = milliseconds <= 100 ? 100 : milliseconds;
}

void TQvAVConverter::SetThreadPriority(TConvertPriority priority) {
  if (priority < tpIdle) priority = tpIdle;
  if (priority > tpNormal) priority = tpNormal;
  threadPriority_ = priority;
}

// ---- Libraries and tasks ---------------------------------------------------

bool TCustomFFmpegVCL::LoadLibraries(const std::string& folder, bool versioned) {
  if (designing_) return true;
  if (!LoadAllLibraries(folder, versioned)) {
    lastError_ = LoadAllError();
    return false;
  }
  InstallLibraryLogCallback();
  ApplyLogLevel();
  return true;
}

void TCustomFFmpegVCL::WireJobEvents(TFFmpeg& job) {
  job.OnJobProgress = [this](TCustomFFmpeg* sender, int frameNumber, int fps, int currentDuration,
                             float quality, float bitRate, int64_t currentSize,
                             int totalOutputDuration) {
    DoProgress(sender, frameNumber, fps, currentDuration, quality, bitRate, currentSize,
               totalOutputDuration);
  };
  job.OnJobTerminate = [this](TCustomFFmpeg* sender) { DoTerminate(sender); };
}

int TCustomFFmpegVCL::AddInputTask(const std::string& fileName, TInputOptions* options) {
  FreeRetiredJobs();
  if (!LibrariesLoaded()) {
    lastError_ = "The media libraries are not loaded";
    return -1;
  }
  auto job = std::make_unique<TFFmpeg>();
  job->OnJobLog = [this](TCustomFFmpeg* sender, int level, const std::string& message) {
    DoLog(sender, level, message);
  };
  try {
    job->Reset();
    job->OptVerbosity(static_cast<int>(logLevel_) - 1);
    // Before the record, so that its option text may still change it.
    job->Runtime.ThreadCount = codecThreadCount_;
    if (options)
      OptionsFromInputRecord(*job, *options, fileName);
    else
      ResetInputOptions(job->InputOptions);
    if (!job->OpenInputFile(fileName)) {
      job->OnJobLog = nullptr;
      lastError_ = job->LastError;
      return -1;
    }
    job->Probe.Attach(job->Files.InputFiles[job->Files.InputFileCount - 1]);
    WireJobEvents(*job);
    TCriticalSectionGuard guard(lock_);
    return taskList_.Add(std::move(job));
  } catch (const std::exception& error) {
    lastError_ = error.what();
    return -1;
  }
}

bool TCustomFFmpegVCL::AddTaskOutput(int index, const std::string& fileName,
                                     TOutputOptions* options) {
  FreeRetiredJobs();
  TFFmpeg& job = TaskAt(index);
  try {
    if (options) {
      OptionsFromOutputRecord(job, *options, fileName);
      if (options->CustomHook) {
        job.OnJobCustomHook = [this](TCustomFFmpeg* sender, TBitmap24* bitmap, int frameNumber,
                                     int64_t pts, bool& update, bool& stopHook) {
          DoCustomHook(sender, bitmap, frameNumber, pts, update, stopHook);
        };
      } else if (options->BeforeHook) {
        job.OnJobBeforeHook = [this](TCustomFFmpeg* sender, int64_t pts, THookAction& action) {
          DoBeforeHook(sender, pts, action);
        };
      } else {
        ParseHookRanges(job, options->HookRanges);
      }
    } else {
      ResetOutputOptions(job.OutputOptions);
    }
    if (job.OpenOutputFile(fileName)) return true;
    lastError_ = job.LastError;
    return false;
  } catch (const std::exception& error) {
    lastError_ = error.what();
    return false;
  }
}

int TCustomFFmpegVCL::CountTasks() {
  TCriticalSectionGuard guard(lock_);
  return taskList_.Count();
}

TFFmpeg& TCustomFFmpegVCL::TaskAt(int index) {
  TCriticalSectionGuard guard(lock_);
  return taskList_.Get(index);
}

int TCustomFFmpegVCL::IndexOfSender(const TCustomFFmpeg* sender) const {
  return sender ? static_cast<const TFFmpeg*>(sender)->Index.load() : -1;
}

// ---- Clearing, deleting and freeing ----------------------------------------

void TCustomFFmpegVCL::ClearTasks() {
  std::vector<std::unique_ptr<TFFmpeg>> removed;
  {
    TCriticalSectionGuard guard(lock_);
    removed = taskList_.ExtractAll();
    // A job still being launched is stopped by its launcher (FinishLaunch).
    for (auto& job : removed)
      if (job->Running && !LaunchedElsewhere(*job)) job->RequestStop();
    // A batch whose tasks are gone is abandoned: no further events.
    batchRunning_ = false;
    pendingCount_ = 0;
    batchSize_ = 0;
    finishedCount_ = 0;
    freeSlots_ = 0;
    startCount_ = 0;
  }
  lastError_.clear();
  Retire(std::move(removed));
}

void TCustomFFmpegVCL::DeleteTask(int index) {
  bool batchDone = false;
  std::exception_ptr handlerError;
  std::vector<std::unique_ptr<TFFmpeg>> removed;
  {
    TCriticalSectionGuard guard(lock_);
    removed.push_back(taskList_.Extract(index));
    LeaveBatch(*removed.front());
    batchDone = RaiseAllDoneIfComplete(handlerError);
  }
  Retire(std::move(removed));
  if (batchDone) ClearLogList();
  LaunchFreeSlots();
  if (handlerError) std::rethrow_exception(handlerError);
}

void TCustomFFmpegVCL::Retire(std::vector<std::unique_ptr<TFFmpeg>> jobs) {
  {
    TCriticalSectionGuard guard(lock_);
    for (auto& job : jobs) retired_.push_back(std::move(job));
  }
  FreeRetiredJobs();
}

bool TCustomFFmpegVCL::CanFree(const TFFmpeg& job) const {
  return !job.Launching && job.EventsInDelivery == 0 && !job.Running && !job.WorkerRunning();
}

void TCustomFFmpegVCL::FreeRetiredJobs() {
  std::vector<std::unique_ptr<TFFmpeg>> freeable;
  bool remaining = false;
  {
    TCriticalSectionGuard guard(lock_);
    // Inside an event the freeing waits: a job's destruction may join a
    // thread that waits for the lock this thread holds.
    if (InsideEvent()) {
      remaining = !retired_.empty();
    } else {
      for (auto& job : retired_)
        if (CanFree(*job)) freeable.push_back(std::move(job));
      std::erase(retired_, nullptr);
      remaining = !retired_.empty();
    }
  }
  freeable.clear();
  if (remaining) PostRetiredJobsCheck();
}

void TCustomFFmpegVCL::PostRetiredJobsCheck() {
  constexpr int RetryMs = 100;
  {
    TCriticalSectionGuard guard(lock_);
    if (retiredCheckPosted_) return;
    retiredCheckPosted_ = true;
  }
  PostDelayed(RetryMs, [alive = std::weak_ptr<TAliveToken>(alive_)] {
    const auto token = alive.lock();
    if (!token) return;
    {
      TCriticalSectionGuard guard(token->Owner->lock_);
      token->Owner->retiredCheckPosted_ = false;
    }
    token->Owner->FreeRetiredJobs();
  });
}
