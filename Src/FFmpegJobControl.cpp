// Starting, running, pausing, stopping and ending a job, and its threads.
#include "FFMpegException.h"
#include "FFmpeg.h"
#include "LibraryLock.h"
#include "binding/AVCodecHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "platform/FloatingPoint.h"

namespace {
// Library code runs with every floating-point exception masked. Each
// worker masks its own on start; this guard covers the thread that starts
// the process, which runs inline jobs, from start-up to shut-down.
const TFloatingPointGuard FloatingPointGuard;

class TFFmpegThread : public TThread {
 public:
  explicit TFFmpegThread(TCustomFFmpeg* job) : job_(job) {}

 protected:
  void Execute() override {
    if (!job_) return;
    job_->WorkerThreadId = CurrentThreadId();
    job_->Run();  // may free the job from its terminate event: touch nothing after it
  }

 private:
  TCustomFFmpeg* job_;
};

class TDoTerminateThread : public TThread {
 public:
  explicit TDoTerminateThread(TCustomFFmpeg* job) : job_(job) {}

 protected:
  void Execute() override {
    if (job_) job_->TerminateJob();
  }

 private:
  TCustomFFmpeg* job_;
};

constexpr int DestructionWaitSteps = 10;
constexpr unsigned DestructionWaitStepMs = 100;
}  // namespace

TThread* TCustomFFmpeg::Start(bool threaded, TThreadPriority priority) {
  if (Running || Terminated || TerminatePending) return nullptr;
  try {
    if (Files.OutputFileCount == 0) {
      Cleanup();
      throw FFMpegException("Must supply at least one output file");
    }
    if (Files.InputFileCount == 0) {
      Cleanup();
      throw FFMpegException("Must supply at least one input file");
    }
  } catch (const Exception& error) {
    Log(-1, error.what());
    HasError = true;
    ErrorMessage = error.what();
    TerminateJob();
    return nullptr;
  }
  Running = true;
  StopFlag = false;
  Finished = false;
  Terminated = false;
  if (!threaded) {
    WorkerThreadId = CurrentThreadId();
    Run();
    return nullptr;
  }
  WorkerThread = NewThread<TFFmpegThread>(this);
  WorkerThread->SetPriority(priority);
  return WorkerThread.get();
}

void TCustomFFmpeg::Run() {
  Finished = false;
  try {
    Transcode();
  } catch (const std::exception& error) {
    // Out of memory and the like end the job in order, as the job's own
    // failures do.
    Log(-1, error.what());
    HasError = true;
    ErrorMessage = error.what();
  }
  CloseRegisteredCodecs();
  Cleanup();
  TerminateJob();
}

void TCustomFFmpeg::CloseRegisteredCodecs() {
  for (AVCodecContext* encoder : OpenEncoders) {
    AVUtilApi.av_freep(&encoder->stats_in);
    std::lock_guard lock(LibraryLock());
    AVCodecApi.avcodec_close(encoder);
  }
  OpenEncoders.clear();
  for (AVCodecContext* decoder : OpenDecoders) {
    std::lock_guard lock(LibraryLock());
    AVCodecApi.avcodec_close(decoder);
  }
  OpenDecoders.clear();
}

void TCustomFFmpeg::TerminateJob() {
  Running = false;
  Terminated = true;
  if (TerminateRaised.exchange(true)) return;
  if (OnJobTerminate) OnJobTerminate(this);
}

void TCustomFFmpeg::Stop() {
  if (Running) {
    RequestStop();
  } else if (!Terminated && !TerminatePending.exchange(true)) {
    TerminateThread = NewThread<TDoTerminateThread>(this);
    TerminateThread->SetPriority(tpIdle);
    TerminateThread->Resume();
  }
}

bool TCustomFFmpeg::WorkerRunning() const {
  return WorkerThread && !WorkerThread->Finished();
}

void TCustomFFmpeg::Pause() {
  if (WorkerRunning() && !WorkerThread->Suspended()) WorkerThread->Suspend();
}

void TCustomFFmpeg::Resume() {
  if (WorkerRunning() && WorkerThread->Suspended()) WorkerThread->Resume();
}

void TCustomFFmpeg::RequestStop() {
  StopFlag = true;
  if (WorkerRunning() && WorkerThread->Suspended()) WorkerThread->Resume();
}

void TCustomFFmpeg::StopAndWaitForWorker() {
  RequestStop();
  for (int step = 0; step < DestructionWaitSteps && WorkerRunning(); ++step)
    WorkerThread->WaitFor(DestructionWaitStepMs);
  WorkerThread.reset();  // joins a worker that is still busy
  TerminateThread.reset();
}
