#pragma once
// The conversion component applications embed: it loads the media
// libraries, keeps one engine job per input file (a task), runs the batch a
// given number of tasks at a time and relays the jobs' events with the task
// index in place of the job.
//
// Events are raised on the thread that runs the task (a worker thread, the
// main thread for inline tasks, or the thread that terminates a task stopped
// before it started); handlers run there. Log, progress and terminate
// handlers of one component never run at the same time.
//
// Lock order, outermost first: the library lock, the process-wide component
// list (held while a library log line is delivered), a component's lock.
// A handler that calls back into the component keeps that order only for
// the calls that take no further lock (TaskCount, Tasks, Clear, Delete,
// Stop, Pause and Resume are safe from handlers).
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "TFFmpeg.h"
#include "TaskRecords.h"
#include "platform/Exception.h"
#include "platform/Lock.h"
#include "platform/Thread.h"
#include "probe/AVProbe.h"

class TBitmap24;

enum TLogLevel { llQuiet, llError, llInfo, llDebug, llAll };
// The worker priorities a component offers: tpIdle to tpNormal.
using TConvertPriority = TThreadPriority;

using TBeforeHookEvent = std::function<void(int index, int64_t pts, THookAction& hookAction)>;
using TCustomHookEvent = std::function<void(int index, TBitmap24* bitmap, int frameNumber,
                                            int64_t pts, bool& update, bool& stopHook)>;
using TLogEvent = std::function<void(int index, TLogLevel logLevel, const std::string& message)>;
using TProgressEvent =
    std::function<void(int index, int frameNumber, int fps, int currentDuration, float quality,
                       float bitRate, int64_t currentSize, int totalOutputDuration)>;
using TTerminateEvent =
    std::function<void(int index, bool finished, bool exception, const std::string& message)>;

// An index outside a list.
class EListError : public Exception {
 public:
  using Exception::Exception;
};

// A library log level on the engine's scale (-1 to 3 and beyond) as a
// component log level.
TLogLevel LogLevelOfEngineLevel(int level);

// The tasks of a component in the order they were added; owns them. The
// component guards every access with its lock.
class TFFmpegList {
 public:
  int Add(std::unique_ptr<TFFmpeg> job);
  // Raises EListError for an index outside 0 to Count()-1.
  TFFmpeg& Get(int index) const;
  int Count() const { return static_cast<int>(jobs_.size()); }
  int IndexOf(const TFFmpeg* job) const;
  // The first job run by that thread, or null.
  TFFmpeg* FindByThreadId(TThreadId threadId) const;
  // Takes the job out of the list and renumbers the following ones.
  std::unique_ptr<TFFmpeg> Extract(int index);
  std::vector<std::unique_ptr<TFFmpeg>> ExtractAll();

 private:
  std::vector<std::unique_ptr<TFFmpeg>> jobs_;
};

// State and behaviour of the component; TQvAVConverter publishes it.
class TCustomFFmpegVCL {
 public:
  // A component being designed loads nothing and never enters the
  // process-wide component list.
  explicit TCustomFFmpegVCL(bool designing = false);
  virtual ~TCustomFFmpegVCL();
  TCustomFFmpegVCL(const TCustomFFmpegVCL&) = delete;
  TCustomFFmpegVCL& operator=(const TCustomFFmpegVCL&) = delete;

  std::string About;  // kept for the application; no behaviour

  // A probe the application may use freely.
  TAVProbe& Probe() { return probe_; }
  // The text of the last failure of LoadAVLib, AddInput or AddOutput.
  const std::string& LastError() const { return lastError_; }
  bool Designing() const { return designing_; }

  // Hands one assembled library log line to this component: to the task that
  // thread runs, or with index -1.
  void DeliverLog(TThreadId threadId, int level, const std::string& line);

 protected:
  // The relays of the jobs' events, in this order.
  virtual void DoBeforeHook(TCustomFFmpeg* sender, int64_t pts, THookAction& hookAction);
  virtual void DoCustomHook(TCustomFFmpeg* sender, TBitmap24* bitmap, int frameNumber, int64_t pts,
                            bool& update, bool& stopHook);
  virtual void DoLog(TCustomFFmpeg* sender, int level, const std::string& message);
  virtual void DoProgress(TCustomFFmpeg* sender, int frameNumber, int fps, int currentDuration,
                          float quality, float bitRate, int64_t currentSize,
                          int totalOutputDuration);
  virtual void DoTerminate(TCustomFFmpeg* sender);

  // ---- Task list and batch, in QvAVConverter*.cpp ------------------------
  bool LoadLibraries(const std::string& folder, bool versioned);
  int AddInputTask(const std::string& fileName, TInputOptions* options);
  bool AddTaskOutput(int index, const std::string& fileName, TOutputOptions* options);
  void StartBatch(int startCount);
  void StopBatch();
  void PauseBatch();
  void ResumeBatch();
  void ClearTasks();
  void DeleteTask(int index);
  int CountTasks();
  TFFmpeg& TaskAt(int index);
  void ApplyLogLevel();

  TLogLevel logLevel_ = llInfo;
  int progressInterval_ = 500;  // milliseconds
  TConvertPriority threadPriority_ = tpNormal;
  int codecThreadCount_ = 1;
  TBeforeHookEvent onBeforeHook_;
  TCustomHookEvent onCustomHook_;
  TLogEvent onLog_;
  TProgressEvent onProgress_;
  TTerminateEvent onTerminate_;

 private:
  struct TAliveToken {
    TCustomFFmpegVCL* Owner;
  };

  int IndexOfSender(const TCustomFFmpeg* sender) const;
  void WireJobEvents(TFFmpeg& job);
  // Launches tasks while slots are free and tasks are pending.
  void LaunchFreeSlots();
  TFFmpeg* ClaimNextTask();
  void LaunchThreaded(TFFmpeg& job);
  void PostInlineLaunch(TFFmpeg* job);
  void RunInlineTask(uint64_t serial);
  void PrepareForStart(TFFmpeg& job);
  void FinishLaunch(TFFmpeg& job);
  // Its launch runs on another thread; the launcher then owns its control.
  bool LaunchedElsewhere(const TFFmpeg& job) const;
  void StopJob(TFFmpeg& job);
  // Completion of one task, under the lock; true when the batch is done.
  // A handler's exception is kept in handlerError so that the count
  // still completes.
  bool CountTermination(TFFmpeg& job, std::exception_ptr& handlerError);
  bool RaiseAllDoneIfComplete(std::exception_ptr& handlerError);
  void LeaveBatch(TFFmpeg& job);
  // Jobs taken out of the list wait here until no thread or event uses them.
  void Retire(std::vector<std::unique_ptr<TFFmpeg>> jobs);
  void FreeRetiredJobs();
  bool CanFree(const TFFmpeg& job) const;
  void PostRetiredJobsCheck();

  const bool designing_;
  TCriticalSection lock_;
  TAVProbe probe_;
  TFFmpegList taskList_;
  std::vector<std::unique_ptr<TFFmpeg>> retired_;
  std::string lastError_;
  std::shared_ptr<TAliveToken> alive_;
  bool retiredCheckPosted_ = false;

  // The batch, under lock_.
  int startCount_ = 0;
  int nextIndex_ = -1;
  int pendingCount_ = 0;
  int finishedCount_ = 0;
  int batchSize_ = 0;
  int freeSlots_ = 0;
  bool batchRunning_ = false;
};

class TQvAVConverter : public TCustomFFmpegVCL {
 public:
  using TCustomFFmpegVCL::TCustomFFmpegVCL;

  // ---- Properties ------------------------------------------------------
  TLogLevel LogLevel() const { return logLevel_; }
  // Also sets the libraries' log level when they are loaded.
  void SetLogLevel(TLogLevel level);
  int ProgressInterval() const { return progressInterval_; }
  // Milliseconds; 100 or less is stored as 100.
  void SetProgressInterval(int milliseconds);
  TConvertPriority ThreadPriority() const { return threadPriority_; }
  void SetThreadPriority(TConvertPriority priority);
  // Codec threads of each task added from now on; 0 lets the libraries
  // choose by the number of processors.
  int CodecThreadCount() const { return codecThreadCount_; }
  void SetCodecThreadCount(int count) { codecThreadCount_ = count < 0 ? 0 : count; }
  static std::string Version() { return "2.2"; }

  // Assign before Start; handlers run on the task's thread.
  TBeforeHookEvent& OnBeforeHook() { return onBeforeHook_; }
  TCustomHookEvent& OnCustomHook() { return onCustomHook_; }
  TLogEvent& OnLog() { return onLog_; }
  TProgressEvent& OnProgress() { return onProgress_; }
  TTerminateEvent& OnTerminate() { return onTerminate_; }

  // ---- Operations --------------------------------------------------------
  bool LoadAVLib(const std::string& folder, bool versioned) {
    return LoadLibraries(folder, versioned);
  }
  // The task index, or -1 with LastError. A record whose FileName is empty
  // receives fileName.
  int AddInput(const std::string& fileName, TInputOptions* options = nullptr) {
    return AddInputTask(fileName, options);
  }
  // Raises EListError for an invalid index; otherwise false with LastError
  // on failure, the task staying in the list.
  bool AddOutput(int index, const std::string& fileName, TOutputOptions* options = nullptr) {
    return AddTaskOutput(index, fileName, options);
  }
  // Above 0: that many tasks at once, each on its own worker thread. 0 or
  // less: one at a time, inline on the main thread, each launched 100 ms
  // after it is due through the main-thread queue.
  void Start(int startCount) { StartBatch(startCount); }
  void Stop() { StopBatch(); }
  void Pause() { PauseBatch(); }
  void Resume() { ResumeBatch(); }
  // Take the tasks out of the list at once; each job is freed once no
  // thread and no event uses it any more (a running one is asked to stop).
  void Clear() { ClearTasks(); }
  void Delete(int index) { DeleteTask(index); }
  int TaskCount() { return CountTasks(); }
  TFFmpeg& Tasks(int index) { return TaskAt(index); }
  // The format context of the task's first input.
  AVFormatContext* InputFormatContext(int index) { return TaskAt(index).Files.InputFiles[0]; }
};
