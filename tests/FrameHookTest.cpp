// The frame hooks of the video path, checked on the decoded output: the
// custom hook with its bitmap and its update and stop switches, the
// before-hook verdicts, the hook ranges, hook modules in a transcode, a
// decoder that changes its picture size, the stream-copy conflicts, and the
// hooks through the component and the command line.
#include <sys/wait.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <ostream>
#include <stdexcept>
#include <thread>

#include "Src/QvAVConverter.h"
#include "TestEvent.h"
#include "TranscodeTestSupport.h"
#include "platform/MainThreadQueue.h"

namespace {
TMediaFolder& Media() {
  static TMediaFolder folder("tavrelle-framehook");
  return folder;
}

// 25 pictures of 160x120.
std::string Clip() {
  return Media().Clip(TMediaKind::VideoOnly);
}

// 14 pictures, half a second apart.
std::string SlowClip() {
  TMediaOptions options;
  options.DurationSec = 7;
  options.FrameRateNum = 2;
  return Media().Clip("slow.avi", TMediaKind::VideoOnly, options);
}

std::string InvertModule() {
  return IncludeTrailingPathDelimiter(ExecutableFolder()) + "hooks/invert_rect.so";
}

// Raw pictures keep every pixel as the hooks left it.
const char* const RawOutput = "vcodec=rawvideo\npix_fmt=yuv420p";

struct TRect {
  int Left, Top, Width, Height;
  bool Contains(int x, int y) const {
    return x >= Left && x < Left + Width && y >= Top && y < Top + Height;
  }
};
constexpr TRect Box{40, 30, 40, 30};
constexpr TRect Whole{0, 0, 160, 120};

struct TLuma {
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Pixels;
  int At(int x, int y) const { return Pixels[static_cast<size_t>(y) * Width + x]; }
};

std::vector<TLuma> LumaFrames(const std::string& file) {
  std::vector<TLuma> frames;
  Summarise(file, [&](const AVFrame* picture, int) {
    TLuma luma{picture->width, picture->height, {}};
    for (int y = 0; y < picture->height; ++y)
      luma.Pixels.insert(luma.Pixels.end(), picture->data[0] + y * picture->linesize[0],
                         picture->data[0] + y * picture->linesize[0] + picture->width);
    frames.push_back(std::move(luma));
  });
  return frames;
}

// One letter per output picture against the source picture: 'o' as decoded,
// 'i' inverted inside the rectangle and as decoded outside, 'p' painted
// white inside the rectangle, '?' anything else.
char LookOf(const TLuma& out, const TLuma& in, TRect rect) {
  if (out.Width != in.Width || out.Height != in.Height) return '?';
  bool same = true, inverted = true, painted = true;
  for (int y = 0; y < in.Height; ++y)
    for (int x = 0; x < in.Width; ++x) {
      const int o = out.At(x, y), i = in.At(x, y);
      same = same && o == i;
      if (rect.Contains(x, y)) {
        inverted = inverted && o == 255 - i;
        painted = painted && o >= 230 && o <= 240;
      } else {
        inverted = inverted && o == i;
      }
    }
  return same ? 'o' : inverted ? 'i' : painted ? 'p' : '?';
}

std::string Looks(const std::string& output, const std::string& input, TRect rect) {
  const std::vector<TLuma> out = LumaFrames(output);
  const std::vector<TLuma> in = LumaFrames(input);
  std::string looks;
  for (size_t i = 0; i < out.size() && i < in.size(); ++i) looks += LookOf(out[i], in[i], rect);
  if (out.size() != in.size()) looks += " (" + std::to_string(out.size()) + " pictures)";
  return looks;
}

std::string Repeat(char look, int count) {
  return std::string(count, look);
}

double CorrelationOutside(const TLuma& a, const TLuma& b, TRect rect) {
  double n = 0, sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
  for (int y = 0; y < a.Height; ++y)
    for (int x = 0; x < a.Width; ++x) {
      if (rect.Contains(x, y)) continue;
      const double u = a.At(x, y), v = b.At(x, y);
      n += 1, sa += u, sb += v, saa += u * u, sbb += v * v, sab += u * v;
    }
  const double covariance = sab / n - sa / n * sb / n;
  return covariance / std::sqrt((saa / n - sa / n * sa / n) * (sbb / n - sb / n * sb / n));
}

void PaintWhite(TBitmap24& bitmap, TRect rect) {
  for (int y = rect.Top; y < rect.Top + rect.Height; ++y)
    std::memset(bitmap.ScanLine(y) + rect.Left * TBitmap24::BytesPerPixel, 255,
                rect.Width * TBitmap24::BytesPerPixel);
}
}  // namespace

TEST(CustomHook, PaintsTheOutputWithTheCanvasLockedAndSeesEveryPicture) {
  const std::string output = Media().FilePath("paint.avi");
  TTranscodeJob job;
  ASSERT_TRUE(job.Prepare(Clip(), RawOutput, output));
  std::vector<int> numbers;
  std::vector<int64_t> times;
  bool lockedForOthers = true;
  job.OnJobCustomHook = [&](TCustomFFmpeg* sender, TBitmap24* bitmap, int number, int64_t pts,
                            bool& update, bool& stop) {
    EXPECT_EQ(sender, &job);
    EXPECT_TRUE(update);
    EXPECT_FALSE(stop);
    ASSERT_EQ(bitmap->Width(), 160);
    ASSERT_EQ(bitmap->Height(), 120);
    std::thread other([&] {
      if (bitmap->TryLockCanvas()) {
        lockedForOthers = false;
        bitmap->UnlockCanvas();
      }
    });
    other.join();
    numbers.push_back(number);
    times.push_back(pts);
    PaintWhite(*bitmap, Box);
  };
  ASSERT_TRUE(job.RunInline());
  EXPECT_TRUE(lockedForOthers);
  ASSERT_EQ(numbers.size(), 25u);
  for (size_t i = 0; i < numbers.size(); ++i) {
    EXPECT_EQ(numbers[i], static_cast<int>(i) + 1);
    EXPECT_EQ(times[i], static_cast<int64_t>(i) * 40000);
  }
  EXPECT_EQ(Looks(output, Clip(), Box), Repeat('p', 25));
  // Outside the painted box the picture went to the bitmap and back; the
  // clip's colours lie partly outside what 24-bit BGR holds, so the
  // brightness follows the source without matching it.
  EXPECT_GT(CorrelationOutside(LumaFrames(output)[5], LumaFrames(Clip())[5], Box), 0.95);
}

struct TCustomCase {
  const char* Name;
  friend void PrintTo(const TCustomCase& c, std::ostream* out) { *out << c.Name; }
  // Called with the number of the picture (from 1); paints first.
  std::function<void(int number, bool& update, bool& stop)> Decide;
  std::string Looks;
  int Calls;
  const char* LogLine;
};

class CustomHookSwitches : public ::testing::TestWithParam<TCustomCase> {};

TEST_P(CustomHookSwitches, DecideWhatTheOutputShows) {
  const TCustomCase& c = GetParam();
  const std::string output = Media().FilePath(std::string("custom-") + c.Name + ".avi");
  TTranscodeJob job;
  ASSERT_TRUE(job.Prepare(Clip(), RawOutput, output));
  int calls = 0;
  job.OnJobCustomHook = [&](TCustomFFmpeg*, TBitmap24* bitmap, int number, int64_t, bool& update,
                            bool& stop) {
    ++calls;
    PaintWhite(*bitmap, Box);
    c.Decide(number, update, stop);
  };
  ASSERT_TRUE(job.RunInline());
  EXPECT_EQ(calls, c.Calls);
  EXPECT_EQ(Looks(output, Clip(), Box), c.Looks);
  if (c.LogLine) {
    EXPECT_TRUE(job.Logged(c.LogLine));
  }
}

INSTANTIATE_TEST_SUITE_P(
    , CustomHookSwitches,
    ::testing::Values(TCustomCase{"NoUpdate", [](int, bool& update, bool&) { update = false; },
                                  Repeat('o', 25), 25, nullptr},
                      TCustomCase{"StopAtThird", [](int n, bool&, bool& stop) { stop = n == 3; },
                                  Repeat('p', 3) + Repeat('o', 22), 3, nullptr},
                      TCustomCase{"NoUpdateAndStop",
                                  [](int n, bool& update, bool& stop) {
                                    update = false;
                                    stop = n == 2;
                                  },
                                  Repeat('o', 25), 2, nullptr},
                      TCustomCase{"RaisesOnSecond",
                                  [](int n, bool&, bool&) {
                                    if (n == 2) throw std::runtime_error("boom");
                                  },
                                  "po" + Repeat('p', 23), 25, "Error occurs OnCustomHook: boom"}),
    [](const auto& info) { return std::string(info.param.Name); });

struct TBeforeCase {
  const char* Name;
  friend void PrintTo(const TBeforeCase& c, std::ostream* out) { *out << c.Name; }
  // Called with the number of the call (from 0) and the previous verdict.
  std::function<void(int call, THookAction& action)> Decide;
  std::string Looks;
  int Calls;
  const char* LogLine;
};

class BeforeHookVerdicts : public ::testing::TestWithParam<TBeforeCase> {};

TEST_P(BeforeHookVerdicts, DecideWhereTheModulesRun) {
  const TBeforeCase& c = GetParam();
  const std::string output = Media().FilePath(std::string("before-") + c.Name + ".avi");
  TTranscodeJob job;
  ASSERT_TRUE(job.Prepare(Clip(), std::string(RawOutput) + "\nvhook=" + InvertModule(), output));
  int calls = 0;
  job.OnJobBeforeHook = [&](TCustomFFmpeg*, int64_t pts, THookAction& action) {
    EXPECT_EQ(pts, calls * 40000);
    c.Decide(calls++, action);
  };
  ASSERT_TRUE(job.RunInline());
  EXPECT_EQ(calls, c.Calls);
  EXPECT_EQ(Looks(output, Clip(), Whole), c.Looks);
  if (c.LogLine) {
    EXPECT_TRUE(job.Logged(c.LogLine));
  }
}

INSTANTIATE_TEST_SUITE_P(, BeforeHookVerdicts,
                         ::testing::Values(TBeforeCase{"IgnoreSecond",
                                                       [](int call, THookAction& action) {
                                                         action = call == 1 ? haIgnore : haContinue;
                                                       },
                                                       "io" + Repeat('i', 23), 25, nullptr},
                                           // The verdict carries over until the handler changes it.
                                           TBeforeCase{"IgnoreFromThirdOn",
                                                       [](int call, THookAction& action) {
                                                         if (call == 2) action = haIgnore;
                                                       },
                                                       "ii" + Repeat('o', 23), 25, nullptr},
                                           TBeforeCase{"StopAtFourth",
                                                       [](int call, THookAction& action) {
                                                         if (call == 3) action = haStop;
                                                       },
                                                       "iii" + Repeat('o', 22), 4, nullptr},
                                           TBeforeCase{"RaisesAtThird",
                                                       [](int call, THookAction&) {
                                                         if (call == 2)
                                                           throw std::runtime_error("boom");
                                                       },
                                                       "ii" + Repeat('o', 23), 3,
                                                       "Error occurs OnBeforeHook: boom"}),
                         [](const auto& info) { return std::string(info.param.Name); });

// Pictures at 0, 0.5, ... 6.5 s; the modules run from 0 to 2 s and from 5 to
// 6 s, and are off for the job after the last range.
TEST(HookRanges, ModulesRunInsideTheRangesOnly) {
  const std::string output = Media().FilePath("ranges.avi");
  TTranscodeJob job;
  ASSERT_TRUE(
      job.Prepare(SlowClip(), std::string(RawOutput) + "\nvhook=" + InvertModule(), output));
  job.SetHookRanges({{5000000, 6000000}, {0, 2000000}});
  ASSERT_EQ(job.Hooks.HookRanges.front().EndUs, 2000000);
  ASSERT_TRUE(job.RunInline());
  EXPECT_EQ(Looks(output, SlowClip(), Whole), "iiiiioooooiiio");
  EXPECT_FALSE(job.Hooks.VideoHookUsed);
}

// Two instances of one module, each with its own rectangle: where they
// overlap the picture is inverted twice.
TEST(HookModules, RunInTheOrderTheyWereAddedOnEveryPicture) {
  const std::string output = Media().FilePath("modules.avi");
  TTranscodeJob job;
  ASSERT_TRUE(job.Prepare(Clip(),
                          std::string(RawOutput) + "\nvhook=" + InvertModule() + " 40 30 40 30" +
                              "\nvhook=" + InvertModule() + "|60|30|20|30",
                          output));
  ASSERT_TRUE(job.RunInline());
  EXPECT_EQ(Looks(output, Clip(), TRect{40, 30, 20, 30}), Repeat('i', 25));
}

TEST(HookModules, BadRectangleIsRefusedByTheModule) {
  TRecordingJob job;
  const std::string value = InvertModule() + " 1 2 three 4";
  try {
    job.SetOption("vhook", value);
    ADD_FAILURE() << "no exception";
  } catch (const std::exception& error) {
    EXPECT_EQ(std::string(error.what()), "Failed to add video hook function: " + value);
  }
}

// Two MPEG program streams of different picture sizes, one after the other:
// the decoder changes its picture size in the middle.
TEST(CustomHook, BitmapFollowsAPictureSizeChange) {
  TMediaOptions small;
  small.Width = 96;
  small.Height = 72;
  const std::string first = Media().Clip(TMediaKind::ProgramStream);
  const std::string second = Media().Clip("small.mpg", TMediaKind::ProgramStream, small);
  const std::string input = Media().FilePath("sizes.mpg");
  {
    std::ofstream joined(input, std::ios::binary);
    joined << std::ifstream(first, std::ios::binary).rdbuf()
           << std::ifstream(second, std::ios::binary).rdbuf();
  }
  TTranscodeJob job;
  ASSERT_TRUE(
      job.Prepare(input, "vcodec=rawvideo\npix_fmt=yuv420p\nan=", Media().FilePath("sizes.avi")));
  std::vector<std::pair<int, int>> sizes;
  job.OnJobCustomHook = [&](TCustomFFmpeg*, TBitmap24* bitmap, int, int64_t, bool&, bool&) {
    if (sizes.empty() || sizes.back() != std::pair{bitmap->Width(), bitmap->Height()})
      sizes.emplace_back(bitmap->Width(), bitmap->Height());
    PaintWhite(*bitmap, TRect{0, 0, bitmap->Width(), bitmap->Height()});
  };
  ASSERT_TRUE(job.RunInline());
  EXPECT_EQ(sizes, (std::vector<std::pair<int, int>>{{160, 120}, {96, 72}}));
  EXPECT_TRUE(job.Logged("The hook bitmap follows the picture size: 96x72"));
}

TEST(FrameHooks, StreamCopyRefusesHooks) {
  struct TCase {
    bool CustomHook;
    bool Module;
    const char* Message;
  };
  const TCase cases[] = {
      {true, false, "-vcodec copy and CustomHook are incompatible (frames are not decoded)"},
      {true, true, "-vcodec copy and CustomHook are incompatible (frames are not decoded)"},
      {false, true, "-vcodec copy and -vhook are incompatible (frames are not decoded)"},
  };
  int index = 0;
  for (const TCase& c : cases) {
    TTranscodeJob job;
    const std::string options =
        std::string("vcodec=copy") + (c.Module ? "\nvhook=" + InvertModule() : "");
    ASSERT_TRUE(
        job.Prepare(Clip(), options, Media().FilePath("copy" + std::to_string(index++) + ".avi")));
    if (c.CustomHook)
      job.OnJobCustomHook = [](TCustomFFmpeg*, TBitmap24*, int, int64_t, bool&, bool&) {};
    EXPECT_FALSE(job.RunInline());
    EXPECT_EQ(job.ErrorMessage, c.Message);
  }
}

namespace {
// Runs one task of the component to its end.
bool RunTask(TQvAVConverter& component, const std::string& input, const std::string& output,
             TOutputOptions& options) {
  const int index = component.AddInput(input);
  if (index < 0 || !component.AddOutput(index, output, &options)) return false;
  std::atomic<bool> allDone{false};
  component.OnTerminate() = [&](int task, bool, bool, const std::string&) {
    if (task == -1) allDone = true;
  };
  component.Start(1);
  return RunMainThreadQueueUntil([&] { return allDone.load(); }, WatchdogMs);
}
}  // namespace

TEST(ComponentHooks, CustomHookSwitchOfTheOutputRecordReachesOnCustomHook) {
  TQvAVConverter component;
  ASSERT_TRUE(component.LoadAVLib(TestLibFolder(), true)) << component.LastError();
  std::atomic<int> calls{0};
  std::atomic<int> wrongIndex{0};
  component.OnCustomHook() = [&](int index, TBitmap24* bitmap, int, int64_t, bool&, bool&) {
    if (index != 0) ++wrongIndex;
    ++calls;
    PaintWhite(*bitmap, Box);
  };
  TOutputOptions options;
  options.VideoCodec = "rawvideo";
  options.ExtOptions = "pix_fmt=yuv420p";
  options.CustomHook = true;
  const std::string output = Media().FilePath("component-custom.avi");
  ASSERT_TRUE(RunTask(component, Clip(), output, options)) << component.LastError();
  EXPECT_EQ(calls, 25);
  EXPECT_EQ(wrongIndex, 0);
  EXPECT_EQ(Looks(output, Clip(), Box), Repeat('p', 25));
}

// Ranges in milliseconds: the pictures up to 0.2 s and from 0.6 to 0.7 s.
TEST(ComponentHooks, HookRangesOfTheOutputRecordGateTheModules) {
  TQvAVConverter component;
  ASSERT_TRUE(component.LoadAVLib(TestLibFolder(), true)) << component.LastError();
  TOutputOptions options;
  options.VideoCodec = "rawvideo";
  options.ExtOptions = "pix_fmt=yuv420p\nvhook=" + InvertModule();
  options.HookRanges = "600-700, 0-200";
  const std::string output = Media().FilePath("component-ranges.avi");
  ASSERT_TRUE(RunTask(component, Clip(), output, options)) << component.LastError();
  EXPECT_EQ(Looks(output, Clip(), Whole),
            Repeat('i', 6) + Repeat('o', 9) + Repeat('i', 3) + Repeat('o', 7));
}

namespace {
struct TCliRun {
  int Status = -1;
  std::string Output;  // standard output
  std::string Errors;
};

TCliRun ConvertWithCli(const std::string& vhook, const std::string& outFolder) {
  std::filesystem::remove_all(outFolder);
  std::filesystem::create_directories(outFolder);
  const std::string errors = Media().FilePath("cli-errors.txt");
  const std::string command =
      "'" + IncludeTrailingPathDelimiter(ExecutableFolder()) +
      "tavrelle-cli' convert --profile 1 --size 160x120 --option 'vhook=" + vhook + "' --out '" +
      outFolder + "' '" + Clip() + "' 2>'" + errors + "'";
  TCliRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, pipe)) run.Output += buffer;
  const int status = ::pclose(pipe);
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(errors);
  run.Errors.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return run;
}
}  // namespace

TEST(CliHooks, OptionVhookRunsTheModule) {
  const TCliRun run = ConvertWithCli(InvertModule() + " 40 30 40 30", Media().FilePath("cli"));
  ASSERT_EQ(run.Status, 0) << run.Errors;
  const std::string output = run.Output.substr(0, run.Output.find('\n'));
  const std::vector<TLuma> converted = LumaFrames(output);
  const std::vector<TLuma> source = LumaFrames(Clip());
  ASSERT_FALSE(converted.empty()) << run.Output;
  ASSERT_EQ(converted[0].Width, 160);
  // Lossy, so on average: inside the box the picture is the inverse of the
  // source, outside it is the source.
  double toInverse = 0, toSource = 0, outside = 0;
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 160; ++x) {
      const int o = converted[0].At(x, y), i = source[0].At(x, y);
      if (Box.Contains(x, y)) {
        toInverse += std::abs(o - (255 - i));
        toSource += std::abs(o - i);
      } else {
        outside += std::abs(o - i);
      }
    }
  EXPECT_LT(toInverse * 4, toSource);
  EXPECT_LT(outside / (160 * 120 - 40 * 30), 8.0);
}

TEST(CliHooks, ModuleThatDoesNotLoadFailsTheFile) {
  const std::string module = Media().FilePath("absent.so");
  const TCliRun run = ConvertWithCli(module, Media().FilePath("cli-failing"));
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Output, "");
  EXPECT_NE(run.Errors.find("Failed to add video hook function: " + module), std::string::npos)
      << run.Errors;
}
