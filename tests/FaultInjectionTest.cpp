// Faults of the machine around a batch: a full disk, an output folder that
// cannot be written, an output name that is a folder, an input cut short
// while it is read. Each fault ends its own task with a message; the other
// tasks of the batch still convert and nothing that existed is replaced.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "Src/QvAVConverter.h"
#include "TestEvent.h"
#include "TranscodeTestSupport.h"
#include "platform/MainThreadQueue.h"

namespace fs = std::filesystem;

namespace {
TMediaFolder& Media() {
  static TMediaFolder folder("tavrelle-faults");
  return folder;
}

std::string ReadText(const std::string& fileName) {
  std::ifstream in(fileName);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string FreshFolder(const std::string& name) {
  const std::string folder = Media().FilePath(name);
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

struct TCliRun {
  int Status = -1;  // -1: ended by a signal
  std::string Output;
  std::string Errors;
};

// tavrelle-cli in a child process whose files may grow to at most
// fileSizeLimit bytes (0: no limit). Writing past the limit fails with
// EFBIG, as on a full disk, since SIGXFSZ is ignored.
TCliRun RunCli(const std::vector<std::string>& arguments, rlim_t fileSizeLimit = 0) {
  const std::string outName = Media().FilePath("cli-stdout.txt");
  const std::string errName = Media().FilePath("cli-stderr.txt");
  std::vector<std::string> argv{IncludeTrailingPathDelimiter(ExecutableFolder()) + "tavrelle-cli"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const pid_t child = ::fork();
  if (child == 0) {
    const int out = ::open(outName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(errName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    if (fileSizeLimit > 0) {
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{fileSizeLimit, fileSizeLimit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::vector<char*> pointers;
    for (std::string& argument : argv) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    ::execv(pointers[0], pointers.data());
    ::_exit(127);
  }
  TCliRun run;
  int status = 0;
  ::waitpid(child, &status, 0);
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.Output = ReadText(outName);
  run.Errors = ReadText(errName);
  return run;
}

// A folder nobody may create files in. Permissions do not bind the
// superuser, so it gets the process file system's root, which takes no new
// files from anyone.
std::string UnwritableFolder() {
  if (::geteuid() == 0) return "/proc";
  const std::string folder = FreshFolder("read-only");
  fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
  return folder;
}

std::string LongClip() {
  TMediaOptions options;
  options.DurationSec = 3;
  return Media().Clip("long.mp4", TMediaKind::Mp4, options);
}
}  // namespace

TEST(CliFaults, AFullDiskFailsThatTaskAndTheBatchGoesOn) {
  const std::string out = FreshFolder("full");
  const std::string big = LongClip();                       // about 1.7 MB as MCE AVI
  const std::string small = Media().Clip(TMediaKind::Wav);  // about 200 kB
  const TCliRun run = RunCli({"convert", "--profile", "4", "--out", out, big, small}, 600 * 1024);
  EXPECT_EQ(run.Status, 1) << run.Errors;
  EXPECT_NE(run.Errors.find("failed: " + big + ": "), std::string::npos) << run.Errors;
  EXPECT_EQ(run.Errors.find("done: " + big), std::string::npos) << run.Errors;
  EXPECT_NE(run.Errors.find("done: " + small), std::string::npos) << run.Errors;
  EXPECT_EQ(run.Output, out + "/wav (Xbox360 MCE 640x480).avi\n");
  // The partial output of the failed task stays when it holds anything.
  for (const auto& entry : fs::directory_iterator(out)) EXPECT_GT(entry.file_size(), 0u);
}

TEST(CliFaults, AnOutputFolderThatCannotBeWrittenIsNamedAndGetsNothing) {
  const std::string folder = UnwritableFolder();
  const TCliRun run =
      RunCli({"convert", "--profile", "9", "--out", folder, Media().Clip(TMediaKind::Wav)});
  EXPECT_TRUE(run.Status == 1 || run.Status == 2) << run.Status;
  EXPECT_NE(run.Errors.find(folder), std::string::npos) << run.Errors;
  EXPECT_TRUE(run.Output.empty()) << run.Output;
}

TEST(CliFaults, AFolderInThePlaceOfTheOutputNameIsLeftAlone) {
  const std::string out = FreshFolder("folder-target");
  const std::string blocked = Media().Clip(TMediaKind::Wav);
  const std::string other = Media().Clip(TMediaKind::Mp3);
  const std::string taken = out + "/wav (MP3 MPEG Layer-3).mp3";
  fs::create_directories(taken + "/inside");
  const TCliRun run = RunCli({"convert", "--profile", "9", "--out", out, blocked, other});
  // Either the name counts as taken and the next free one is used, or the
  // task fails naming the folder; the folder itself is never touched.
  if (run.Status == 0) {
    EXPECT_NE(run.Output.find(out + "/wav (MP3 MPEG Layer-3 [1]).mp3\n"), std::string::npos);
  } else {
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Errors.find("failed: " + blocked + ": Could not open '" + taken + "'"),
              std::string::npos)
        << run.Errors;
  }
  EXPECT_NE(run.Output.find(out + "/mp3 (MP3 MPEG Layer-3).mp3\n"), std::string::npos)
      << run.Output;
  EXPECT_TRUE(fs::is_directory(taken + "/inside"));
}

namespace {
class ComponentFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(component.LoadAVLib(TestLibFolder(), true)) << component.LastError();
    component.SetLogLevel(llQuiet);
    component.SetProgressInterval(100);
    component.OnTerminate() = [this](int index, bool finished, bool, const std::string& message) {
      std::lock_guard lock(mutex);
      ends.push_back({index, finished, message});
      if (index == -1) allDone = true;
    };
  }

  int AddInput(const std::string& source, const std::string& inputOptions = "") {
    TInputOptions input;
    input.ExtOptions = inputOptions;
    const int index = component.AddInput(source, &input);
    EXPECT_GE(index, 0) << component.LastError();
    return index;
  }

  bool AddOutput(int index, const std::string& target) {
    TOutputOptions output;
    output.VideoCodec = "mpeg4";
    output.AudioCodec = "pcm_s16le";
    return component.AddOutput(index, target, &output);
  }

  bool WaitAllDone() {
    return RunMainThreadQueueUntil([this] { return allDone.load(); }, WatchdogMs);
  }

  struct TEnd {
    int Index;
    bool Finished;
    std::string Message;
  };
  TQvAVConverter component;
  std::mutex mutex;
  std::vector<TEnd> ends;
  std::atomic<bool> allDone{false};
};
}  // namespace

TEST_F(ComponentFaults, OutputsThatCannotBeCreatedFailAddOutputAndTheTaskStays) {
  const std::string folderTarget = FreshFolder("component-folder-target") + "/taken.avi";
  fs::create_directories(folderTarget);
  const std::string targets[] = {UnwritableFolder() + "/out.avi", folderTarget};
  for (const std::string& target : targets) {
    SCOPED_TRACE(target);
    const int index = AddInput(Media().Clip(TMediaKind::Avi));
    ASSERT_GE(index, 0);
    EXPECT_FALSE(AddOutput(index, target));
    EXPECT_NE(component.LastError().find(target), std::string::npos) << component.LastError();
    EXPECT_EQ(component.TaskCount(), index + 1);
  }
  EXPECT_TRUE(fs::is_directory(folderTarget));
  EXPECT_TRUE(fs::is_empty(folderTarget));
}

TEST_F(ComponentFaults, AnInputCutShortWhileReadEndsItsTaskAndTheNextOneRuns) {
  TMediaOptions options;
  options.DurationSec = 4;
  const std::string shrinking = Media().FilePath("shrinking.avi");
  fs::copy_file(Media().Clip("four-seconds.avi", TMediaKind::Avi, options), shrinking,
                fs::copy_options::overwrite_existing);
  const std::string first = Media().FilePath("cut-short-out.avi");
  const std::string second = Media().FilePath("after-cut-out.avi");
  fs::remove(first);
  fs::remove(second);
  ASSERT_TRUE(AddOutput(AddInput(shrinking, "re"), first)) << component.LastError();
  ASSERT_TRUE(AddOutput(AddInput(Media().Clip(TMediaKind::Avi)), second)) << component.LastError();
  TEvent running;
  component.OnProgress() = [&](int index, int, int, int, float, float, int64_t, int) {
    if (index == 0) running.Set();
  };
  component.Start(1);
  ASSERT_TRUE(running.WaitFor());
  fs::resize_file(shrinking, fs::file_size(shrinking) / 4);
  ASSERT_TRUE(WaitAllDone());
  std::lock_guard lock(mutex);
  ASSERT_EQ(ends.size(), 3u);
  EXPECT_EQ(ends[0].Index, 0);
  EXPECT_EQ(ends[1].Index, 1);
  EXPECT_TRUE(ends[1].Finished) << ends[1].Message;
  EXPECT_EQ(ends[2].Index, -1);
  EXPECT_GT(fs::file_size(second), 0u);
  // What the first task wrote before the cut stays, unless it is empty.
  if (fs::exists(first)) {
    EXPECT_GT(fs::file_size(first), 0u);
  }
}
