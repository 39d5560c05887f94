#include "ConvertCommand.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>

#include "ConvertOptions.h"
#include "ConvertReport.h"
#include "Json.h"
#include "Src/LibraryLoader.h"
#include "platform/MainThreadQueue.h"

namespace {
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;
constexpr int ExitLibraries = 3;
constexpr int ExitInterrupted = 130;
constexpr int ProgressIntervalMs = 100;

std::atomic<bool> Interrupted{false};

void OnInterrupt(int) {
  Interrupted = true;
}

void CatchInterrupt() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// One conversion batch on the component, as the window runs it.
class TConvertRun {
 public:
  TConvertRun(const TConvertSettings& settings, TConvertReport& report)
      : settings_(settings), report_(report) {}

  bool LoadLibraries() {
    const std::string folder = LibraryFolderBesideExecutable();
    if (component_.LoadAVLib(folder, true)) return true;
    std::fprintf(stderr, "tavrelle-cli: %s\n", component_.LastError().c_str());
    return false;
  }

  int Run() {
    component_.SetLogLevel(settings_.LogLevel);
    component_.SetProgressInterval(ProgressIntervalMs);
    component_.SetCodecThreadCount(0);  // a single conversion uses every core
    AddInputs();
    AddOutputs();
    if (component_.TaskCount() == 0) {
      if (!report_.AnyFailed()) std::fprintf(stderr, "tavrelle-cli: nothing to convert\n");
      return ExitFailed;
    }
    WireEvents();
    CatchInterrupt();
    report_.BatchStarts(settings_.Jobs);
    component_.Start(settings_.Jobs);
    WaitForTheBatch();
    if (Interrupted) return ExitInterrupted;
    return report_.AnyFailed() ? ExitFailed : 0;
  }

 private:
  // Files that cannot be opened are reported and skipped.
  void AddInputs() {
    for (const std::string& file : settings_.Files)
      if (component_.AddInput(file) < 0) report_.SetupFailure(file, component_.LastError());
  }

  void AddOutputs() {
    const TOutputProfile& profile = OutputProfiles()[settings_.Profile - 1];
    const std::string extension = ProfileExtension(profile.Caption);
    const std::string name = ProfileName(profile.Caption);
    TOutputNamer namer;
    for (int index = 0; index < component_.TaskCount();) {
      const std::string input = component_.InputFormatContext(index)->url;
      const std::string output = namer.Next(
          OutputSourcePath(input, settings_.SameFolder, settings_.OutputFolder), extension, name);
      TFFmpeg& task = component_.Tasks(index);
      TOutputOptions record =
          BuildOutputRecord(profile, settings_.Overrides, DescribeSource(task.Probe));
      record.ExtOptions = JoinLines(settings_.Options);
      const int64_t durationUs = task.Probe.FileDurationUs();
      if (component_.AddOutput(index, output, &record)) {
        TTaskView view;
        view.Input = input;
        view.Output = output;
        view.SourceDurationMs = durationUs > 0 ? durationUs / 1000 : -1;
        report_.AddTask(view);
        ++index;
      } else {
        report_.SetupFailure(input, component_.LastError());
        component_.Delete(index);  // the next task moves into this index
      }
    }
  }

  void WireEvents() {
    component_.OnProgress() = [this](int index, int frameNumber, int fps, int currentDuration,
                                     float quality, float bitRate, int64_t currentSize,
                                     int totalOutputDuration) {
      report_.Progress(index, frameNumber, fps, currentDuration, quality, bitRate, currentSize,
                       totalOutputDuration);
      StopWhenInterrupted();  // an inline task keeps the main thread busy
    };
    component_.OnLog() = [this](int index, TLogLevel level, const std::string& message) {
      report_.Log(index, level, message);
    };
    component_.OnTerminate() = [this](int index, bool finished, bool exception,
                                      const std::string& message) {
      report_.Terminate(index, finished, exception, message, stopIssued_);
      if (index == -1) allDone_ = true;
    };
  }

  void StopWhenInterrupted() {
    if (Interrupted && !stopIssued_.exchange(true)) component_.Stop();
  }

  void WaitForTheBatch() {
    while (!allDone_) {
      RunMainThreadQueueUntil([this] { return allDone_ || (Interrupted && !stopIssued_); }, -1);
      StopWhenInterrupted();
    }
  }

  const TConvertSettings& settings_;
  TConvertReport& report_;
  TQvAVConverter component_;
  std::atomic<bool> allDone_{false};
  std::atomic<bool> stopIssued_{false};
};

TConvertReport::TMode ReportMode(bool json) {
  if (json) return TConvertReport::rmJson;
  return isatty(STDERR_FILENO) ? TConvertReport::rmTerminal : TConvertReport::rmPlain;
}
}  // namespace

int RunConvertCommand(const std::vector<std::string>& args) {
  TConvertSettings settings;
  std::string error;
  if (!ParseConvertArguments(args, settings, error)) {
    std::fprintf(stderr,
                 "tavrelle-cli convert: %s\n(tavrelle-cli convert --help lists the options)\n",
                 error.c_str());
    return ExitUsage;
  }
  TConvertReport report(ReportMode(settings.Json), stdout, stderr);
  TConvertRun run(settings, report);
  if (!run.LoadLibraries()) return ExitLibraries;
  return run.Run();
}

int RunProfilesCommand(const std::vector<std::string>& args) {
  const bool json = !args.empty() && args[0] == "--json";
  if (!args.empty() && !json) {
    std::fputs("usage: tavrelle-cli profiles [--json]\n", stderr);
    return ExitUsage;
  }
  const auto& profiles = OutputProfiles();
  for (size_t i = 0; i < profiles.size(); ++i) {
    const TOutputProfile& profile = profiles[i];
    if (json)
      std::printf("%s\n", TJsonObject()
                              .Add("Profile", static_cast<int64_t>(i + 1))
                              .Add("Caption", profile.Caption)
                              .Add("Name", ProfileName(profile.Caption))
                              .Add("Extension", ProfileExtension(profile.Caption))
                              .Add("VideoCodec", profile.VideoCodec)
                              .Add("AudioCodec", profile.AudioCodec)
                              .Add("FrameSize", profile.FrameSize)
                              .Add("VideoAspect", profile.VideoAspect)
                              .Add("AudioChannels", profile.AudioChannels)
                              .Add("AudioSampleRate", profile.AudioSampleRate)
                              .Add("VideoBitrate", profile.VideoBitrate)
                              .Add("AudioBitrate", profile.AudioBitrate)
                              .Text()
                              .c_str());
    else
      std::printf("%zu  %s\n", i + 1, profile.Caption);
  }
  return 0;
}
