// The component under random batch control: tasks on tiny clips, start
// counts 1 to 3, random Pause, Resume, Stop and Delete while the batch runs,
// now and then a Clear in the middle of it, and always a Clear after it.
// Every task still in the list ends exactly once, a deleted task at most
// once, the all-done event comes exactly once per batch that is not
// cleared, and nothing comes after it. A batch that does not end within the
// watchdog time dumps its state and fails the program.
//
// TAVRELLE_STRESS_SEQUENCES sets the number of batches (default 20) and
// TAVRELLE_STRESS_SEED the first seed (default 1); run the long form under
// the thread sanitizer (make tsan, then the binary with a count of 1000).
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "Src/QvAVConverter.h"
#include "TranscodeTestSupport.h"
#include "platform/MainThreadQueue.h"

namespace {
constexpr int BatchWatchdogMs = 60000;

TMediaFolder& Media() {
  static TMediaFolder folder("tavrelle-stress");
  return folder;
}

std::string TinyClip() {
  TMediaOptions options;
  options.DurationSec = 0.6;
  options.Width = 64;
  options.Height = 48;
  options.SampleRate = 8000;
  options.Channels = 1;
  return Media().Clip("tiny.avi", TMediaKind::Avi, options);
}

int EnvironmentNumber(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::atoi(text) : fallback;
}

enum TControl { ctPause, ctResume, ctStop, ctDelete, ctClear };
const char* const ControlNames[] = {"Pause", "Resume", "Stop", "Delete", "Clear"};

// The events of one batch, by task output name (the index changes when a
// task before it is deleted).
class TBatchRecord {
 public:
  void Ended(const std::string& task) {
    std::lock_guard lock(mutex_);
    ++ends_[task];
    if (allDone_ > 0) ++afterAllDone_;
  }
  void AllDone() {
    std::lock_guard lock(mutex_);
    ++allDone_;
  }
  int Ends(const std::string& task) {
    std::lock_guard lock(mutex_);
    return ends_.count(task) ? ends_[task] : 0;
  }
  int AllDoneCount() {
    std::lock_guard lock(mutex_);
    return allDone_;
  }
  int AfterAllDone() {
    std::lock_guard lock(mutex_);
    return afterAllDone_;
  }
  int TotalEnds() {
    std::lock_guard lock(mutex_);
    int total = 0;
    for (const auto& [task, count] : ends_) total += count;
    return total;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, int> ends_;
  int allDone_ = 0;
  int afterAllDone_ = 0;
};

class TStressBatch {
 public:
  TStressBatch(TQvAVConverter& component, int seed) : component_(component), random_(seed) {
    seed_ = seed;
  }

  // Runs one batch and checks it; returns false after a hang (the state is
  // printed then).
  bool Run() {
    AddTasks();
    component_.OnTerminate() = [this](int index, bool, bool, const std::string&) {
      if (index == -1)
        record_.AllDone();
      else
        record_.Ended(component_.Tasks(index).OutputOptions.FileName);
    };
    const int startCount = 1 + seed_ % 3;
    log_ << "Start(" << startCount << ")";
    component_.Start(startCount);
    bool cleared = false;
    for (int step = static_cast<int>(Below(7)); step > 0 && !cleared; --step) {
      DriveFor(static_cast<int>(Below(25)));
      cleared = Control(static_cast<TControl>(PickControl()));
    }
    if (cleared) return CheckCleared();
    log_ << " Resume";
    component_.Resume();  // a paused batch would never end
    if (!RunMainThreadQueueUntil([this] { return record_.AllDoneCount() > 0; }, BatchWatchdogMs))
      return Hung();
    DriveFor(5);
    CheckEnded();
    log_ << " Clear";
    component_.Clear();
    return true;
  }

 private:
  size_t Below(size_t bound) {
    return std::uniform_int_distribution<size_t>(0, bound - 1)(random_);
  }

  // Clear is rare: it abandons the batch.
  int PickControl() { return Below(20) == 0 ? ctClear : static_cast<int>(Below(4)); }

  void AddTasks() {
    const int count = 1 + static_cast<int>(Below(5));
    for (int i = 0; i < count; ++i) {
      const int index = component_.AddInput(TinyClip());
      ASSERT_GE(index, 0) << component_.LastError();
      TOutputOptions output;
      output.VideoCodec = "mpeg4";
      output.AudioCodec = "pcm_s16le";
      const std::string name =
          Media().FilePath("out-" + std::to_string(seed_) + "-" + std::to_string(i) + ".avi");
      ASSERT_TRUE(component_.AddOutput(index, name, &output)) << component_.LastError();
      tasks_.push_back(name);
    }
  }

  // True when the control cleared the component.
  bool Control(TControl control) {
    log_ << " " << ControlNames[control];
    switch (control) {
      case ctPause:
        component_.Pause();
        break;
      case ctResume:
        component_.Resume();
        break;
      case ctStop:
        component_.Stop();
        break;
      case ctDelete:
        if (component_.TaskCount() > 0) {
          const int index = static_cast<int>(Below(component_.TaskCount()));
          log_ << "(" << index << ")";
          deleted_.push_back(component_.Tasks(index).OutputOptions.FileName);
          component_.Delete(index);
        }
        break;
      case ctClear:
        component_.Clear();
        return true;
    }
    return false;
  }

  static void DriveFor(int milliseconds) {
    RunMainThreadQueueUntil([] { return false; }, milliseconds);
  }

  bool IsDeleted(const std::string& task) const {
    return std::find(deleted_.begin(), deleted_.end(), task) != deleted_.end();
  }

  void CheckEnded() {
    SCOPED_TRACE("seed " + std::to_string(seed_) + ": " + log_.str());
    EXPECT_EQ(record_.AllDoneCount(), 1);
    EXPECT_EQ(record_.AfterAllDone(), 0);
    for (const std::string& task : tasks_) {
      if (IsDeleted(task))
        EXPECT_LE(record_.Ends(task), 1) << task;
      else
        EXPECT_EQ(record_.Ends(task), 1) << task;
    }
  }

  // After a Clear in the middle of a batch nothing more is raised.
  bool CheckCleared() {
    const int ends = record_.TotalEnds(), allDone = record_.AllDoneCount();
    DriveFor(50);
    SCOPED_TRACE("seed " + std::to_string(seed_) + ": " + log_.str());
    EXPECT_EQ(record_.TotalEnds(), ends);
    EXPECT_EQ(record_.AllDoneCount(), allDone);
    EXPECT_LE(allDone, 1);
    for (const std::string& task : tasks_) EXPECT_LE(record_.Ends(task), 1) << task;
    return true;
  }

  bool Hung() {
    std::fprintf(stderr, "batch of seed %d did not end within %d ms\ncontrols: %s\n", seed_,
                 BatchWatchdogMs, log_.str().c_str());
    for (int i = 0; i < component_.TaskCount(); ++i) {
      TFFmpeg& task = component_.Tasks(i);
      std::fprintf(stderr, "task %d %s: Running %d Terminated %d Finished %d ends %d\n", i,
                   task.OutputOptions.FileName.c_str(), task.Running.load(), task.Terminated.load(),
                   task.Finished.load(), record_.Ends(task.OutputOptions.FileName));
    }
    std::fprintf(stderr, "all-done events: %d\n", record_.AllDoneCount());
    return false;
  }

  TQvAVConverter& component_;
  std::mt19937 random_;
  int seed_ = 0;
  std::vector<std::string> tasks_;
  std::vector<std::string> deleted_;
  std::ostringstream log_;
  TBatchRecord record_;
};
}  // namespace

TEST(ComponentStress, RandomControlsEndEveryBatchOnce) {
  const int count = EnvironmentNumber("TAVRELLE_STRESS_SEQUENCES", 20);
  const int firstSeed = EnvironmentNumber("TAVRELLE_STRESS_SEED", 1);
  {
    TQvAVConverter component;
    ASSERT_TRUE(component.LoadAVLib(TestLibFolder(), true)) << component.LastError();
    component.SetLogLevel(llQuiet);
    component.SetProgressInterval(100);
    for (int i = 0; i < count && !HasFailure(); ++i) {
      TStressBatch batch(component, firstSeed + i);
      if (!batch.Run()) {
        // The workers may be stuck for good: end here rather than hang in
        // the component's destructor.
        std::fflush(stderr);
        std::_Exit(1);
      }
    }
  }
  // Every task is freed with the component by now: outputs of tasks that
  // never wrote anything are gone, the others stay.
  for (const auto& entry : std::filesystem::directory_iterator(Media().Path()))
    if (entry.path().filename().string().rfind("out-", 0) == 0) {
      EXPECT_GT(entry.file_size(), 0u) << entry.path();
    }
  std::printf("%d batches\n", count);
}
