// The conversion component: task list, batch scheduling with each start
// count, stopping, the all-done event, clearing from an event, and the
// library log relay with its per-thread line assembly.
#include <atomic>
#include <mutex>
#include <thread>

#include "Src/ComponentRegistry.h"
#include "Src/QvAVConverter.h"
#include "TestEvent.h"
#include "TranscodeTestSupport.h"
#include "platform/Files.h"
#include "platform/MainThreadQueue.h"
#include "platform/Text.h"

namespace {
TMediaFolder& Media() {
  static TMediaFolder folder("tavrelle-component");
  return folder;
}

std::string ShortClip() {
  return Media().Clip(TMediaKind::Avi);
}

std::string LongClip() {
  TMediaOptions options;
  options.DurationSec = 30;
  return Media().Clip("long.avi", TMediaKind::Avi, options);
}

struct TTerminateRecord {
  int Index;
  bool Finished;
  bool Exception;
  std::string Message;
  TThreadId Thread;
};

// Keeps every terminate event of a component.
class TRecorder {
 public:
  explicit TRecorder(TQvAVConverter& component) {
    component.OnTerminate() = [this](int index, bool finished, bool exception,
                                     const std::string& message) {
      std::lock_guard lock(mutex_);
      records_.push_back({index, finished, exception, message, CurrentThreadId()});
      if (index == -1) ++allDone_;
    };
  }
  std::vector<TTerminateRecord> Records() {
    std::lock_guard lock(mutex_);
    return records_;
  }
  std::vector<int> Indices() {
    std::vector<int> indices;
    for (const auto& record : Records()) indices.push_back(record.Index);
    return indices;
  }
  int AllDone() const { return allDone_; }
  // Drives the main-thread queue until the all-done event came.
  bool WaitAllDone() {
    return RunMainThreadQueueUntil([this] { return allDone_ > 0; }, WatchdogMs);
  }

 private:
  std::mutex mutex_;
  std::vector<TTerminateRecord> records_;
  std::atomic<int> allDone_{0};
};

class ComponentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(component.LoadAVLib(TestLibFolder(), true)) << component.LastError();
    component.SetLogLevel(llError);
  }

  // A task converting source into a new AVI of its own.
  // inputOptions: option lines for the input record ("re" reads at the
  // clip's own pace, so that a long task is surely still running when a
  // test acts on it).
  int AddTask(const std::string& source, const std::string& outputName,
              const std::string& inputOptions = "") {
    TInputOptions input;
    input.ExtOptions = inputOptions;
    const int index = component.AddInput(source, &input);
    EXPECT_GE(index, 0) << component.LastError();
    if (index < 0) return index;
    TOutputOptions output;
    output.VideoCodec = "mpeg4";
    output.AudioCodec = "pcm_s16le";
    EXPECT_TRUE(component.AddOutput(index, Media().FilePath(outputName), &output))
        << component.LastError();
    return index;
  }

  TQvAVConverter component;
};
}  // namespace

TEST_F(ComponentTest, PropertiesStartAtTheirDefaults) {
  TQvAVConverter fresh;
  EXPECT_EQ(fresh.LogLevel(), llInfo);
  EXPECT_EQ(fresh.ProgressInterval(), 500);
  EXPECT_EQ(fresh.ThreadPriority(), tpNormal);
  EXPECT_EQ(fresh.CodecThreadCount(), 1);
  EXPECT_EQ(fresh.Version(), "2.2");
  EXPECT_EQ(fresh.TaskCount(), 0);
}

TEST_F(ComponentTest, ProgressIntervalHasAFloorOf100) {
  const std::pair<int, int> cases[] = {{50, 100}, {100, 100}, {101, 101}, {-5, 100}};
  for (const auto& [given, stored] : cases) {
    component.SetProgressInterval(given);
    EXPECT_EQ(component.ProgressInterval(), stored) << given;
  }
}

TEST_F(ComponentTest, DesignedComponentLoadsNothing) {
  TQvAVConverter designed(true);
  EXPECT_TRUE(designed.LoadAVLib("/nonexistent", true));
}

TEST_F(ComponentTest, AddInputOfAnUnopenableFileChangesNothing) {
  AddTask(ShortClip(), "kept.avi");
  TInputOptions record;
  EXPECT_EQ(component.AddInput(Media().FilePath("missing.avi"), &record), -1);
  EXPECT_EQ(component.TaskCount(), 1);
  EXPECT_NE(component.LastError().find("missing.avi"), std::string::npos) << component.LastError();
  EXPECT_EQ(record.FileName, Media().FilePath("missing.avi"));
  const std::string noise = Media().Random("noise.bin", 4096, 7);
  EXPECT_EQ(component.AddInput(noise), -1);
  EXPECT_EQ(component.TaskCount(), 1);
}

TEST_F(ComponentTest, AddInputAttachesTheTaskProbeAndCodecThreads) {
  component.SetCodecThreadCount(0);
  const int index = component.AddInput(ShortClip());
  ASSERT_EQ(index, 0) << component.LastError();
  EXPECT_EQ(component.Tasks(0).Runtime.ThreadCount, 0);
  EXPECT_EQ(component.Tasks(0).Probe.GetFileName(), ShortClip());
  EXPECT_EQ(component.Tasks(0).Probe.VideoStreamCount, 1);
  EXPECT_STREQ(component.InputFormatContext(0)->url, ShortClip().c_str());
  component.SetCodecThreadCount(1);
  component.AddInput(ShortClip());
  EXPECT_EQ(component.Tasks(1).Runtime.ThreadCount, 1);
}

TEST_F(ComponentTest, InvalidIndicesRaiseTheListError) {
  AddTask(ShortClip(), "one.avi");
  EXPECT_THROW(component.Tasks(1), EListError);
  EXPECT_THROW(component.Tasks(-1), EListError);
  EXPECT_THROW(component.AddOutput(3, "x.avi"), EListError);
  EXPECT_THROW(component.Delete(1), EListError);
  EXPECT_THROW(component.InputFormatContext(1), EListError);
}

TEST_F(ComponentTest, DeleteRenumbersTheFollowingTasks) {
  const std::string clips[] = {Media().Clip("a.avi", TMediaKind::Avi, {}),
                               Media().Clip("b.avi", TMediaKind::Avi, {}),
                               Media().Clip("c.avi", TMediaKind::Avi, {})};
  for (const auto& clip : clips) ASSERT_GE(component.AddInput(clip), 0);
  component.Delete(0);
  ASSERT_EQ(component.TaskCount(), 2);
  EXPECT_EQ(component.Tasks(0).Index, 0);
  EXPECT_EQ(component.Tasks(1).Index, 1);
  EXPECT_STREQ(component.InputFormatContext(0)->url, clips[1].c_str());
  EXPECT_STREQ(component.InputFormatContext(1)->url, clips[2].c_str());
}

TEST_F(ComponentTest, StartWithoutTasksRaisesNothing) {
  TRecorder recorder(component);
  for (int count : {0, 1, 2}) component.Start(count);
  ProcessMainThreadQueue(300);
  EXPECT_TRUE(recorder.Records().empty());
}

class StartCountTest : public ComponentTest, public ::testing::WithParamInterface<int> {};

TEST_P(StartCountTest, RunsEveryTaskThenRaisesAllDoneOnce) {
  const int count = GetParam();
  for (int i = 0; i < 3; ++i)
    AddTask(ShortClip(), "count" + std::to_string(count) + "-" + std::to_string(i) + ".avi");
  TRecorder recorder(component);
  component.Start(count);
  ASSERT_TRUE(recorder.WaitAllDone());
  ProcessMainThreadQueue(0);
  const auto records = recorder.Records();
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records.back().Index, -1);
  EXPECT_TRUE(records.back().Finished);
  EXPECT_FALSE(records.back().Exception);
  EXPECT_EQ(records.back().Message, "");
  EXPECT_EQ(recorder.AllDone(), 1);
  std::vector<int> taskIndices = recorder.Indices();
  taskIndices.pop_back();
  if (count <= 1) {
    EXPECT_EQ(taskIndices, (std::vector<int>{0, 1, 2}));  // one at a time, in order
  } else {
    EXPECT_NE(taskIndices.front(), 2);  // launched only when one of the first two ended
    std::sort(taskIndices.begin(), taskIndices.end());
    EXPECT_EQ(taskIndices, (std::vector<int>{0, 1, 2}));
  }
  for (size_t i = 0; i + 1 < records.size(); ++i) {
    EXPECT_TRUE(records[i].Finished) << records[i].Message;
    EXPECT_FALSE(records[i].Exception) << records[i].Message;
    if (count <= 0)
      EXPECT_EQ(records[i].Thread, MainThreadId());
    else
      EXPECT_NE(records[i].Thread, MainThreadId());
  }
  for (int i = 0; i < 3; ++i) {
    const auto summary = Summarise(
        Media().FilePath("count" + std::to_string(count) + "-" + std::to_string(i) + ".avi"));
    EXPECT_EQ(summary.Count(AVMEDIA_TYPE_VIDEO), 1);
  }
  // A second start over tasks that have all run raises nothing.
  component.Start(count);
  ProcessMainThreadQueue(300);
  EXPECT_EQ(recorder.Records().size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Counts, StartCountTest, ::testing::Values(0, 1, 2));

TEST_F(ComponentTest, StopInTheMiddleEndsEveryTaskThenAllDone) {
  AddTask(ShortClip(), "stop0.avi");
  AddTask(LongClip(), "stop1.avi", "re");
  AddTask(ShortClip(), "stop2.avi");
  TRecorder recorder(component);
  TEvent secondRuns;
  component.OnProgress() = [&](int index, int, int, int, float, float, int64_t, int) {
    if (index == 1) secondRuns.Set();
  };
  component.SetProgressInterval(100);
  component.Start(1);
  ASSERT_TRUE(secondRuns.WaitFor());
  component.Stop();
  ASSERT_TRUE(recorder.WaitAllDone());
  const auto records = recorder.Records();
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].Index, 0);
  EXPECT_TRUE(records[0].Finished);
  EXPECT_EQ(records[3].Index, -1);
  for (int i = 1; i <= 2; ++i) {
    const auto& record = records[i];
    EXPECT_TRUE(record.Index == 1 || record.Index == 2);
    EXPECT_FALSE(record.Finished);
    EXPECT_FALSE(record.Exception) << record.Message;
  }
}

TEST_F(ComponentTest, FailingTaskIsReportedAndTheBatchGoesOn) {
  ASSERT_EQ(component.AddInput(ShortClip()), 0);  // no output: its start checks fail
  AddTask(ShortClip(), "after-failure.avi");
  TRecorder recorder(component);
  component.Start(1);
  ASSERT_TRUE(recorder.WaitAllDone());
  const auto records = recorder.Records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].Index, 0);
  EXPECT_TRUE(records[0].Exception);
  EXPECT_FALSE(records[0].Finished);
  EXPECT_EQ(records[0].Message, "Must supply at least one output file");
  EXPECT_EQ(records[1].Index, 1);
  EXPECT_TRUE(records[1].Finished);
  EXPECT_EQ(records[2].Index, -1);
}

TEST_F(ComponentTest, ClearFromTheAllDoneEventFreesTheTasksLater) {
  for (int i = 0; i < 2; ++i) AddTask(ShortClip(), "clear" + std::to_string(i) + ".avi");
  std::atomic<int> allDone{0};
  component.OnTerminate() = [&](int index, bool, bool, const std::string&) {
    if (index != -1) return;
    component.Clear();  // as the window does when a batch ends
    ++allDone;
  };
  component.Start(1);
  ASSERT_TRUE(RunMainThreadQueueUntil([&] { return allDone > 0; }, WatchdogMs));
  EXPECT_EQ(component.TaskCount(), 0);
  // A new batch on the same component.
  TRecorder recorder(component);
  AddTask(ShortClip(), "clear-again.avi");
  component.Start(1);
  ASSERT_TRUE(recorder.WaitAllDone());
  EXPECT_EQ(recorder.Indices(), (std::vector<int>{0, -1}));
}

TEST_F(ComponentTest, ClearDuringARunStopsAndAbandonsTheBatch) {
  AddTask(LongClip(), "cleared-run.avi", "re");
  TRecorder recorder(component);
  TEvent runs;
  component.OnProgress() = [&](int, int, int, int, float, float, int64_t, int) { runs.Set(); };
  component.SetProgressInterval(100);
  component.Start(1);
  ASSERT_TRUE(runs.WaitFor());
  component.Clear();
  EXPECT_EQ(component.TaskCount(), 0);
  // The stopped job is freed once its worker has ended.
  RunMainThreadQueueUntil([] { return false; }, 500);
  EXPECT_TRUE(recorder.Records().empty());
}

TEST_F(ComponentTest, DeletingAPendingTaskKeepsTheBatchGoing) {
  for (int i = 0; i < 3; ++i) AddTask(ShortClip(), "pending" + std::to_string(i) + ".avi");
  TRecorder recorder(component);
  component.Start(0);  // inline tasks wait for the main-thread queue
  component.Delete(1);
  ASSERT_TRUE(recorder.WaitAllDone());
  EXPECT_EQ(recorder.Indices(), (std::vector<int>{0, 1, -1}));
  EXPECT_TRUE(FileExists(Media().FilePath("pending2.avi")));
  EXPECT_FALSE(FileExists(Media().FilePath("pending1.avi")));
}

TEST_F(ComponentTest, EngineLevelsArriveAsComponentLevels) {
  const std::pair<int, TLogLevel> cases[] = {{-1, llQuiet}, {0, llError}, {1, llInfo},
                                             {2, llDebug},  {3, llAll},   {7, llAll}};
  for (const auto& [engine, component] : cases)
    EXPECT_EQ(LogLevelOfEngineLevel(engine), component) << engine;
}

// ---- The library log relay -------------------------------------------------

namespace {
struct TLogRecord {
  int Index;
  TLogLevel Level;
  std::string Text;
  bool operator==(const TLogRecord&) const = default;
};

class TLogRecorder {
 public:
  explicit TLogRecorder(TQvAVConverter& component) {
    component.OnLog() = [this](int index, TLogLevel level, const std::string& text) {
      std::lock_guard lock(mutex_);
      lines_.push_back({index, level, text});
    };
  }
  std::vector<TLogRecord> Lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  std::mutex mutex_;
  std::vector<TLogRecord> lines_;
};

void LibraryLog(const char* text, int level = AV_LOG_ERROR, void* context = nullptr) {
  AVUtilApi.av_log(context, level, "%s", text);
}
}  // namespace

class LogRelayTest : public ComponentTest {
 protected:
  void SetUp() override {
    ComponentTest::SetUp();
    component.SetLogLevel(llInfo);
    ClearLogList();
  }
  void TearDown() override { ClearLogList(); }
};

TEST_F(LogRelayTest, PartialMessagesMakeOneLine) {
  TLogRecorder log(component);
  LibraryLog("abc");
  LibraryLog("def\n");
  LibraryLog("one\ntwo\nrest");
  EXPECT_EQ(log.Lines(), (std::vector<TLogRecord>{
                             {-1, llError, "abcdef"}, {-1, llError, "one"}, {-1, llError, "two"}}));
  LibraryLog("!\n");
  EXPECT_EQ(log.Lines().back(), (TLogRecord{-1, llError, "rest!"}));
}

TEST_F(LogRelayTest, ThreadsKeepTheirOwnPendingText) {
  TLogRecorder log(component);
  TEvent firstPartDone, otherPartDone, otherLineDone;
  LibraryLog("main-");
  std::thread other([&] {
    LibraryLog("other-");
    otherPartDone.Set();
    firstPartDone.WaitFor();
    LibraryLog("end\n");
    otherLineDone.Set();
  });
  otherPartDone.WaitFor();
  LibraryLog("end\n");
  firstPartDone.Set();
  otherLineDone.WaitFor();
  other.join();
  EXPECT_EQ(log.Lines(),
            (std::vector<TLogRecord>{{-1, llError, "main-end"}, {-1, llError, "other-end"}}));
}

TEST_F(LogRelayTest, PrefixOnlyAtTheStartOfALine) {
  TLogRecorder log(component);
  AVFormatContext* context = AVFormatApi.avformat_alloc_context();
  LibraryLog("first ", AV_LOG_ERROR, context);
  LibraryLog("second\n", AV_LOG_ERROR, context);
  const auto lines = log.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(StartsWith(lines[0].Text, "[NULL @ ")) << lines[0].Text;
  EXPECT_EQ(lines[0].Text.find('['), lines[0].Text.rfind('['));
  EXPECT_TRUE(lines[0].Text.ends_with("]first second")) << lines[0].Text;
  AVFormatApi.avformat_free_context(context);
}

TEST_F(LogRelayTest, OverlongTextIsCutAtTheBuffer) {
  TLogRecorder log(component);
  const std::string pending(2000, 'p');
  LibraryLog(pending.c_str());
  const std::string more(3000, 'm');
  LibraryLog((more + "\n").c_str());
  LibraryLog("next\n");
  // A full buffer is delivered as it stands; what did not fit is lost, and
  // the thread's next message starts a fresh line.
  const auto lines = log.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].Text, pending + std::string(LogBufferSize - 1 - pending.size(), 'm'));
  EXPECT_EQ(lines[1].Text, "next");
}

TEST_F(LogRelayTest, FilterLevelHoldsBackDetail) {
  TLogRecorder log(component);
  LibraryLog("detail\n", AV_LOG_DEBUG);
  LibraryLog("shown\n", AV_LOG_INFO);
  EXPECT_EQ(log.Lines(), (std::vector<TLogRecord>{{-1, llInfo, "shown"}}));
}

TEST_F(LogRelayTest, EveryComponentGetsTheLineOnlyItsOwnNamesTheTask) {
  TQvAVConverter second;
  TLogRecorder log(component);
  TLogRecorder secondLog(second);
  ASSERT_EQ(component.AddInput(ShortClip()), 0);
  ClearLogList();
  const auto before = log.Lines().size();
  component.Tasks(0).SetThreadId(CurrentThreadId());
  LibraryLog("from the task\n");
  const auto lines = log.Lines();
  ASSERT_EQ(lines.size(), before + 1);
  EXPECT_EQ(lines.back(), (TLogRecord{0, llError, "from the task"}));
  EXPECT_EQ(secondLog.Lines().back(), (TLogRecord{-1, llError, "from the task"}));
}

TEST_F(LogRelayTest, RelayedEngineMessagesKeepTheirLevel) {
  ASSERT_EQ(component.AddInput(ShortClip()), 0);
  TLogRecorder log(component);
  TFFmpeg& job = component.Tasks(0);
  for (int level : {-1, 0, 1}) job.OnJobLog(&job, level, "engine " + std::to_string(level));
  EXPECT_EQ(log.Lines(),
            (std::vector<TLogRecord>{
                {0, llQuiet, "engine -1"}, {0, llError, "engine 0"}, {0, llInfo, "engine 1"}}));
}
