// Bytes of any kind as a source file for the component: opened with
// AddInput, given an AVI output, converted for at most a fraction of a
// second of output. Every run must end with one terminate event for the
// task and one all-done event, in bounded time.
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "FuzzSupport.h"
#include "Src/QvAVConverter.h"
#include "platform/MainThreadQueue.h"

namespace {
constexpr int WatchdogMs = 30000;
constexpr int OutputDurationMs = 400;

const std::filesystem::path& WorkFolder() {
  static const std::filesystem::path folder = [] {
    auto path =
        std::filesystem::temp_directory_path() / ("tavrelle-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(path);
    return path;
  }();
  return folder;
}

void WriteSource(const std::string& name, const uint8_t* data, size_t size) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void Convert(const std::string& source, const std::string& target) {
  TQvAVConverter component;
  if (!component.LoadAVLib(IncludeTrailingPathDelimiter(ExecutableFolder()) + "lib", true))
    std::abort();
  component.SetLogLevel(llQuiet);
  const int index = component.AddInput(source);
  if (index < 0) return;
  TOutputOptions output;
  output.VideoCodec = "mpeg4";
  output.AudioCodec = "pcm_s16le";
  output.FrameSize = "64x48";
  output.DurationMs = OutputDurationMs;
  if (!component.AddOutput(index, target, &output)) return;
  std::atomic<int> taskEnds{0}, allDone{0};  // raised on the worker thread
  component.OnTerminate() = [&](int i, bool, bool, const std::string&) {
    ++(i == -1 ? allDone : taskEnds);
  };
  component.Start(1);
  if (!RunMainThreadQueueUntil([&] { return allDone > 0; }, WatchdogMs)) {
    std::fprintf(stderr, "fuzz: the conversion did not end within %d ms\n", WatchdogMs);
    std::abort();
  }
  if (taskEnds != 1 || allDone != 1) {
    std::fprintf(stderr, "fuzz: %d task ends, %d all-done events\n", taskEnds.load(),
                 allDone.load());
    std::abort();
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  LoadLibrariesOnce();
  const std::string source = (WorkFolder() / "source.bin").string();
  const std::string target = (WorkFolder() / "target.avi").string();
  WriteSource(source, data, size);
  Convert(source, target);
  std::error_code ignored;
  std::filesystem::remove(target, ignored);
  return 0;
}
