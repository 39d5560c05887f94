// How the component scales with the work and the cores:
//   1. four files with the MCE 640x480 profile at start count 2 against 1
//      (goal: at least 1.8 times the throughput on two cores);
//   2. CodecThreadCount 0 against 1 on the H.264 640x480 profile;
//   3. resident memory over a ten-minute source: at the end against at 10 %
//      of it (goal: at most 1.1 times);
//   4. adding 100 files, each opened through the probe (goal: under 5 s).
// Wall time and the process's CPU time are given for each run, so that a
// machine shared with other work can be read.
//
//   tavrelle-scaling-bench [--only N] [--seconds S] [--long-minutes M]
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "Profiles.h"
#include "Src/LibraryLoader.h"
#include "Src/QvAVConverter.h"
#include "platform/Environment.h"
#include "platform/MainThreadQueue.h"
#include "tests/media/MediaGen.h"

namespace fs = std::filesystem;

namespace {
constexpr int ProfileH264 = 1;
constexpr int ProfileMce = 4;

struct TSettings {
  int Only = 0;         // 0: every measurement
  double Seconds = 20;  // length of each clip of measurements 1 and 2
  double LongMinutes = 10;
};

struct TClock {
  std::chrono::steady_clock::time_point Wall = std::chrono::steady_clock::now();
  double Cpu = CpuSeconds();
  static double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
  }
  double WallSince() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - Wall).count();
  }
  double CpuSince() const { return CpuSeconds() - Cpu; }
};

long ResidentKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

std::string LibFolder() {
  return IncludeTrailingPathDelimiter(ExecutableFolder()) + "lib";
}

std::string MakeClip(const fs::path& folder, const std::string& name, double seconds, int width,
                     int height) {
  // Clips are kept between runs, under names that tell their length and size.
  const std::string file =
      (folder / (name + "-" + std::to_string(static_cast<int>(seconds)) + "s-" +
                 std::to_string(width) + "x" + std::to_string(height) + ".mp4"))
          .string();
  if (fs::exists(file)) return file;
  TMediaOptions options;
  options.DurationSec = seconds;
  options.Width = width;
  options.Height = height;
  std::string error;
  if (!MakeMedia(TMediaKind::Mp4, file, options, error)) {
    std::fprintf(stderr, "scaling-bench: %s\n", error.c_str());
    std::exit(1);
  }
  return file;
}

// One batch of the given profile over the sources; the progress handler may
// look at every report.
using TProgressWatch = std::function<void(int index, int currentDurationMs)>;

struct TBatchResult {
  double Wall = 0;
  double Cpu = 0;
  int Failed = 0;
};

TBatchResult RunBatch(const std::vector<std::string>& sources, int profileNumber, int startCount,
                      int codecThreads, const fs::path& out,
                      const TProgressWatch& watch = nullptr) {
  TQvAVConverter component;
  if (!component.LoadAVLib(LibFolder(), true)) {
    std::fprintf(stderr, "scaling-bench: %s\n", component.LastError().c_str());
    std::exit(3);
  }
  component.SetLogLevel(llQuiet);
  component.SetCodecThreadCount(codecThreads);
  const TOutputProfile& profile = OutputProfiles()[profileNumber - 1];
  fs::remove_all(out);
  fs::create_directories(out);
  for (size_t i = 0; i < sources.size(); ++i) {
    const int index = component.AddInput(sources[i]);
    TOutputOptions record = BuildOutputRecord(profile, TConversionOverrides{},
                                              DescribeSource(component.Tasks(index).Probe));
    const std::string target =
        (out / ("out" + std::to_string(i) + ProfileExtension(profile.Caption))).string();
    if (!component.AddOutput(index, target, &record)) {
      std::fprintf(stderr, "scaling-bench: %s\n", component.LastError().c_str());
      std::exit(1);
    }
  }
  std::atomic<bool> done{false};
  std::atomic<int> failed{0};
  component.OnTerminate() = [&](int index, bool finished, bool, const std::string& message) {
    if (index == -1) {
      done = true;
    } else if (!finished) {
      ++failed;
      std::fprintf(stderr, "scaling-bench: task %d: %s\n", index, message.c_str());
    }
  };
  if (watch)
    component.OnProgress() = [&](int index, int, int, int currentDuration, float, float, int64_t,
                                 int) { watch(index, currentDuration); };
  const TClock clock;
  component.Start(startCount);
  RunMainThreadQueueUntil([&] { return done.load(); }, -1);
  TBatchResult result{clock.WallSince(), clock.CpuSince(), failed};
  component.Clear();
  return result;
}

void Print(const char* what, const TBatchResult& result) {
  std::printf("  %-34s wall %7.2f s  cpu %7.2f s%s\n", what, result.Wall, result.Cpu,
              result.Failed ? "  (tasks failed)" : "");
}

void StartCounts(const TSettings& settings, const fs::path& media) {
  std::printf("1. four %.0f s 640x480 files, profile %d (MCE 640x480)\n", settings.Seconds,
              ProfileMce);
  std::vector<std::string> sources;
  for (int i = 0; i < 4; ++i)
    sources.push_back(MakeClip(media, "four-" + std::to_string(i), settings.Seconds, 640, 480));
  const TBatchResult one = RunBatch(sources, ProfileMce, 1, 1, media / "out");
  const TBatchResult two = RunBatch(sources, ProfileMce, 2, 1, media / "out");
  Print("start count 1:", one);
  Print("start count 2:", two);
  std::printf("  throughput at 2 against 1: %.2fx by wall time (goal 1.8x); cpu %.2fx\n",
              one.Wall / two.Wall, two.Cpu / one.Cpu);
}

void CodecThreads(const TSettings& settings, const fs::path& media) {
  std::printf("2. one %.0f s 640x480 file, profile %d (H.264 640x480)\n", settings.Seconds,
              ProfileH264);
  const std::vector<std::string> sources{MakeClip(media, "four-0", settings.Seconds, 640, 480)};
  const TBatchResult one = RunBatch(sources, ProfileH264, 1, 1, media / "out");
  const TBatchResult automatic = RunBatch(sources, ProfileH264, 1, 0, media / "out");
  Print("CodecThreadCount 1:", one);
  Print("CodecThreadCount 0:", automatic);
  std::printf("  speed-up of 0 against 1: %.2fx by wall time\n", one.Wall / automatic.Wall);
}

void ResidentMemory(const TSettings& settings, const fs::path& media) {
  const double seconds = settings.LongMinutes * 60;
  std::printf("3. resident memory over a %.0f min 320x240 source, profile %d\n",
              settings.LongMinutes, ProfileMce);
  const std::vector<std::string> sources{MakeClip(media, "long", seconds, 320, 240)};
  std::atomic<long> atTenth{-1}, atEnd{-1}, peak{0};
  const int tenthMs = static_cast<int>(seconds * 100);
  const TBatchResult result =
      RunBatch(sources, ProfileMce, 1, 1, media / "out", [&](int, int currentDurationMs) {
        const long resident = ResidentKb();
        if (atTenth < 0 && currentDurationMs >= tenthMs) atTenth = resident;
        atEnd = resident;
        if (resident > peak) peak = resident;
      });
  Print("conversion:", result);
  std::printf(
      "  resident at 10 %%: %ld kB, at the end: %ld kB (%.3fx, goal at most 1.1x), "
      "peak %ld kB\n",
      atTenth.load(), atEnd.load(), static_cast<double>(atEnd) / atTenth, peak.load());
}

void AddHundred(const fs::path& media) {
  std::printf("4. adding 100 files through the probe\n");
  const std::string clip = MakeClip(media, "probe", 2, 320, 240);
  std::vector<std::string> files;
  for (int i = 0; i < 100; ++i) {
    const fs::path copy = media / ("probe-" + std::to_string(i) + ".mp4");
    if (!fs::exists(copy)) fs::copy_file(clip, copy);
    files.push_back(copy.string());
  }
  TQvAVConverter component;
  component.LoadAVLib(LibFolder(), true);
  component.SetLogLevel(llQuiet);
  const TClock clock;
  int added = 0;
  for (const std::string& file : files) {
    TAVProbe& probe = component.Probe();  // as the window reads each file's details
    if (probe.Open(file)) probe.Close();
    if (component.AddInput(file) >= 0) ++added;
  }
  std::printf("  %d of 100 added: wall %.2f s (goal under 5 s), cpu %.2f s\n", added,
              clock.WallSince(), clock.CpuSince());
}

bool ParseArguments(int argc, char** argv, TSettings& settings) {
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--only"))
      settings.Only = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--seconds"))
      settings.Seconds = std::atof(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--long-minutes"))
      settings.LongMinutes = std::atof(argv[i + 1]);
    else
      return false;
  }
  return argc % 2 == 1;
}
}  // namespace

int main(int argc, char** argv) {
  TSettings settings;
  if (!ParseArguments(argc, argv, settings)) {
    std::fputs("usage: tavrelle-scaling-bench [--only N] [--seconds S] [--long-minutes M]\n",
               stderr);
    return 2;
  }
  if (!LoadAllLibraries(LibFolder(), true)) {
    std::fprintf(stderr, "scaling-bench: %s\n", LoadAllError().c_str());
    return 3;
  }
  const fs::path media = fs::temp_directory_path() / "tavrelle-scaling-bench";
  fs::create_directories(media);
  if (settings.Only == 0 || settings.Only == 1) StartCounts(settings, media);
  if (settings.Only == 0 || settings.Only == 2) CodecThreads(settings, media);
  if (settings.Only == 0 || settings.Only == 3) ResidentMemory(settings, media);
  if (settings.Only == 0 || settings.Only == 4) AddHundred(media);
  return 0;
}
