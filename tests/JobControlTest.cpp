// Starting, pausing, resuming, stopping and destroying jobs, inline and on
// worker threads.
#include <atomic>
#include <memory>

#include "TestEvent.h"
#include "TranscodeTestSupport.h"
#include "platform/Files.h"
#include "platform/FloatingPoint.h"

namespace {
TMediaFolder& Media() {
  static TMediaFolder folder("tavrelle-jobcontrol");
  return folder;
}

// A clip long enough that a conversion is still busy while the test acts.
std::string LongClip() {
  TMediaOptions options;
  options.DurationSec = 20;
  return Media().Clip("long.avi", TMediaKind::Avi, options);
}

// Counts terminate events and remembers the thread of the last one; lives
// outside the job so that it outlives a destroyed job.
struct TTerminateProbe {
  std::atomic<int> Count{0};
  std::atomic<TThreadId> Thread{0};
  std::atomic<bool> FloatingPointMasked{false};
  TEvent Done;
  void Attach(TCustomFFmpeg& job) {
    job.OnJobTerminate = [this](TCustomFFmpeg*) {
      Thread = CurrentThreadId();
      FloatingPointMasked = FloatingPointExceptionsMasked();
      ++Count;
      Done.Set();
    };
  }
};

void PrepareLongJob(TTranscodeJob& job, const std::string& name) {
  ASSERT_TRUE(job.Prepare(LongClip(), "vcodec=mpeg4\nacodec=pcm_s16le", Media().FilePath(name)));
}
}  // namespace

struct TStartCheckCase {
  const char* Name;
  bool WithInput;
  const char* Message;
};

class StartCheckTest : public ::testing::TestWithParam<TStartCheckCase> {};

TEST_P(StartCheckTest, FailsEndsAndNeverRuns) {
  TTranscodeJob job;
  if (GetParam().WithInput) {
    ASSERT_TRUE(job.OpenInputFile(Media().Clip(TMediaKind::Mp4)));
  }
  EXPECT_EQ(job.Start(true, tpNormal), nullptr);
  EXPECT_TRUE(job.HasError);
  EXPECT_EQ(job.ErrorMessage, GetParam().Message);
  EXPECT_TRUE(job.Lines.size() >= 1 && job.Lines.back() == (TLogLine{-1, GetParam().Message}));
  EXPECT_EQ(job.TerminateCount, 1);
  EXPECT_TRUE(job.Terminated && !job.Running && !job.Finished);
  EXPECT_EQ(job.Files.InputFileCount, 0) << "released before the failure";
  EXPECT_EQ(job.Start(false, tpNormal), nullptr);
  EXPECT_EQ(job.TerminateCount, 1) << "a terminated job stays terminated";
}

INSTANTIATE_TEST_SUITE_P(
    Checks, StartCheckTest,
    ::testing::Values(TStartCheckCase{"InputOnly", true, "Must supply at least one output file"},
                      TStartCheckCase{"Nothing", false, "Must supply at least one output file"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(JobControl, StopBeforeStartTerminatesOnceFromAnotherThread) {
  TTerminateProbe probe;
  TTranscodeJob job;
  probe.Attach(job);
  ASSERT_TRUE(job.Prepare(Media().Clip(TMediaKind::Mp4), "", Media().FilePath("never.mp4")));
  job.Stop();
  job.Stop();
  ASSERT_TRUE(probe.Done.WaitFor());
  EXPECT_NE(probe.Thread, CurrentThreadId());
  EXPECT_EQ(job.Start(false, tpNormal), nullptr) << "a stopped job never starts";
  EXPECT_EQ(probe.Count, 1);
  EXPECT_FALSE(job.Finished || job.HasError);
}

TEST(JobControl, WorkerRunsToTheEndOnItsOwnThread) {
  TTerminateProbe probe;
  TTranscodeJob job;
  probe.Attach(job);
  ASSERT_TRUE(job.Prepare(Media().Clip(TMediaKind::Mp4), "", Media().FilePath("threaded.mp4")));
  TThread* worker = job.Start(true, tpLower);
  ASSERT_NE(worker, nullptr);
  EXPECT_TRUE(job.Running);
  EXPECT_EQ(job.Start(true, tpLower), nullptr) << "started only once";
  worker->Resume();
  ASSERT_TRUE(probe.Done.WaitFor());
  EXPECT_EQ(probe.Thread, job.WorkerThreadId);
  EXPECT_NE(probe.Thread, CurrentThreadId());
  EXPECT_TRUE(job.Finished);
  EXPECT_FALSE(job.HasError) << job.ErrorMessage;
  EXPECT_EQ(probe.Count, 1);
  EXPECT_TRUE(probe.FloatingPointMasked);
}

TEST(JobControl, PauseHoldsTheWorkerAndStopEndsAPausedJob) {
  TTerminateProbe probe;
  TTranscodeJob job;
  probe.Attach(job);
  PrepareLongJob(job, "paused.avi");
  TThread* worker = job.Start(true, tpNormal);
  ASSERT_NE(worker, nullptr);
  worker->Resume();
  job.Pause();
  ASSERT_TRUE(worker->WaitUntilPaused(WatchdogMs));
  job.Resume();
  job.Pause();
  ASSERT_TRUE(worker->WaitUntilPaused(WatchdogMs));
  EXPECT_EQ(probe.Count, 0);
  job.Stop();
  ASSERT_TRUE(probe.Done.WaitFor());
  EXPECT_FALSE(job.Finished) << "stopped, not finished";
  EXPECT_FALSE(job.HasError) << job.ErrorMessage;
  EXPECT_EQ(probe.Count, 1);
  job.Pause();  // no running worker: nothing happens
  job.Resume();
}

TEST(JobControl, StopWindsARunningJobDownWithAPlayableOutput) {
  TTerminateProbe probe;
  TTranscodeJob job;
  probe.Attach(job);
  PrepareLongJob(job, "stopped.avi");
  std::atomic<int> reports{0};
  TEvent reported;
  job.ReportInterval = 0;
  job.OnJobProgress = [&](TCustomFFmpeg*, int, int, int, float, float, int64_t, int) {
    if (++reports == 3) reported.Set();
  };
  TThread* worker = job.Start(true, tpNormal);
  worker->Resume();
  ASSERT_TRUE(reported.WaitFor());
  job.Stop();
  ASSERT_TRUE(probe.Done.WaitFor());
  EXPECT_FALSE(job.Finished);
  EXPECT_FALSE(job.HasError) << job.ErrorMessage;
  const TFileSummary summary = Summarise(Media().FilePath("stopped.avi"));
  ASSERT_TRUE(summary.First(AVMEDIA_TYPE_VIDEO));
  EXPECT_GT(summary.First(AVMEDIA_TYPE_VIDEO)->Frames, 0);
  EXPECT_LT(summary.First(AVMEDIA_TYPE_VIDEO)->Frames, 20 * 25);
}

TEST(JobControl, DestructionOfARunningJobStopsAndWaitsForIt) {
  TTerminateProbe probe;
  auto job = std::make_unique<TTranscodeJob>();
  probe.Attach(*job);
  PrepareLongJob(*job, "destroyed.avi");
  TThread* worker = job->Start(true, tpNormal);
  worker->Resume();
  job.reset();
  EXPECT_EQ(probe.Count, 1) << "the worker ended before the job went";
}

TEST(JobControl, DestructionOfAPausedJobWakesAndWaitsForIt) {
  TTerminateProbe probe;
  auto job = std::make_unique<TTranscodeJob>();
  probe.Attach(*job);
  PrepareLongJob(*job, "destroyed-paused.avi");
  TThread* worker = job->Start(true, tpNormal);
  worker->Resume();
  job->Pause();
  ASSERT_TRUE(worker->WaitUntilPaused(WatchdogMs));
  job.reset();
  EXPECT_EQ(probe.Count, 1);
}

TEST(JobControl, FailedTranscodeReportsAndStillTerminatesOnce) {
  TTranscodeJob job;
  ASSERT_TRUE(
      job.Prepare(Media().Clip(TMediaKind::Mp4), "map=0:0", Media().FilePath("failed.mp4")));
  job.Start(false, tpNormal);
  const std::string message = "Number of stream maps must match number of output streams";
  EXPECT_TRUE(job.HasError);
  EXPECT_EQ(job.ErrorMessage, message);
  EXPECT_TRUE(job.Logged(message));
  EXPECT_EQ(job.Lines.back(), (TLogLine{-1, message}));
  EXPECT_FALSE(job.Finished);
  EXPECT_EQ(job.TerminateCount, 1);
  EXPECT_TRUE(job.OpenEncoders.empty() && job.OpenDecoders.empty());
  EXPECT_FALSE(FileExists(Media().FilePath("failed.mp4"))) << "the empty output is deleted";
}

TEST(JobControl, JobsConvertSideBySide) {
  std::vector<std::unique_ptr<TTerminateProbe>> probes;  // outlive the jobs
  std::vector<std::unique_ptr<TTranscodeJob>> jobs;
  const std::string sets[] = {"vcodec=libx264\nacodec=aac", "vcodec=wmv2\nacodec=wmav2",
                              "vcodec=msmpeg4v2\nacodec=pcm_s16le"};
  const std::string names[] = {"side-1.mp4", "side-2.wmv", "side-3.avi"};
  for (int index = 0; index < 3; ++index) {
    jobs.push_back(std::make_unique<TTranscodeJob>());
    probes.push_back(std::make_unique<TTerminateProbe>());
    probes.back()->Attach(*jobs.back());
    ASSERT_TRUE(jobs.back()->Prepare(Media().Clip(TMediaKind::Matroska), sets[index],
                                     Media().FilePath(names[index])));
  }
  for (auto& job : jobs) job->Start(true, tpNormal)->Resume();
  for (auto& probe : probes) ASSERT_TRUE(probe->Done.WaitFor());
  for (int index = 0; index < 3; ++index) {
    EXPECT_TRUE(jobs[index]->Finished) << jobs[index]->ErrorMessage;
    const TFileSummary summary = Summarise(Media().FilePath(names[index]));
    ASSERT_TRUE(summary.First(AVMEDIA_TYPE_VIDEO) && summary.First(AVMEDIA_TYPE_AUDIO));
    EXPECT_NEAR(summary.First(AVMEDIA_TYPE_VIDEO)->Frames, 25, 1);
  }
}
