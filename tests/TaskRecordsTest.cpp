// Translation of the input and output records into job options: which
// fields apply when, their order against the option text and the target
// preset, timestamps, colours and hook ranges.
#include <cstdlib>
#include <ctime>

#include "Src/TFFmpeg.h"
#include "TranscodeTestSupport.h"

namespace {
TMediaFolder& Media() {
  static TMediaFolder folder("tavrelle-records");
  return folder;
}

// A reset job with the default clip opened, as AddInput leaves it.
class TOpenedJob : public TFFmpeg {
 public:
  explicit TOpenedJob(const std::string& clip = Media().Clip(TMediaKind::Avi)) {
    Reset();
    EXPECT_TRUE(OpenInputFile(clip)) << LastError;
  }
};

std::array<int, 3> PadColorOf(const TCustomFFmpeg& job) {
  return job.Video.PadColor;
}

int64_t CodecOption(const TCustomFFmpeg& job, AVMediaType kind, const char* name) {
  int64_t value = 0;
  AVUtilApi.av_opt_get_int(job.Generic.CodecOptionContexts[kind], name, 0, &value);
  return value;
}

// Sets TZ for one test and puts the old value back.
class TTimeZone {
 public:
  explicit TTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~TTimeZone() {
    if (old_.empty())
      unsetenv("TZ");
    else
      setenv("TZ", old_.c_str(), 1);
    tzset();
  }

 private:
  std::string old_;
};
}  // namespace

TEST(TaskRecords, ProfileRecordChangesOnlyItsOwnFields) {
  TOpenedJob job;
  TOpenedJob untouched;
  TOutputOptions record;
  record.VideoCodec = "libx264";
  record.AudioCodec = "libfaac";
  record.FrameSize = "640x480";
  record.AudioChannels = 2;
  record.AudioSampleRate = 48000;
  record.AudioBitrate = 80000;
  record.VideoBitrate = 1500000;
  OptionsFromOutputRecord(job, record, "out.mp4");
  EXPECT_EQ(job.Video.FrameWidth, 640);
  EXPECT_EQ(job.Video.FrameHeight, 480);
  EXPECT_EQ(job.Audio.AudioChannels, 2);
  EXPECT_EQ(job.Audio.AudioSampleRate, 48000);
  EXPECT_TRUE(job.Video.VideoCodecName.has_value());
  EXPECT_TRUE(job.Audio.AudioCodecName.has_value());
  EXPECT_EQ(CodecOption(job, AVMEDIA_TYPE_VIDEO, "b"), 1500000);
  EXPECT_EQ(CodecOption(job, AVMEDIA_TYPE_AUDIO, "b"), 80000);
  EXPECT_EQ(PadColorOf(job), (std::array<int, 3>{0, 128, 128}));  // from the record's black
  // Everything else keeps the default or the input's value.
  EXPECT_EQ(job.Video.VideoFrameRate.num, untouched.Video.VideoFrameRate.num);
  EXPECT_EQ(job.Video.FrameAspectRatio, untouched.Video.FrameAspectRatio);
  EXPECT_EQ(job.Video.CropTop + job.Video.CropLeft + job.Video.PadTop + job.Video.PadRight, 0);
  EXPECT_EQ(job.Audio.AudioVolume, 256);
  EXPECT_EQ(job.Audio.AudioSyncMethod, 0);
  EXPECT_EQ(job.Video.VideoSyncMethod, -1);
  EXPECT_EQ(job.Audio.AudioDisable + job.Video.VideoDisable + job.Subtitle.SubtitleDisable, 0);
  EXPECT_EQ(job.Timing.RecordingTimeUs, untouched.Timing.RecordingTimeUs);
  EXPECT_EQ(job.Timing.RecTimestamp, 0);
  EXPECT_FALSE(job.Timing.CopyTimestamps);
  EXPECT_EQ(job.Mux.MuxPreload, untouched.Mux.MuxPreload);
  EXPECT_EQ(job.Mux.MuxMaxDelay, untouched.Mux.MuxMaxDelay);
  EXPECT_EQ(job.Formats.ForcedOutputFormat, nullptr);
  EXPECT_EQ(job.Hooks.HookRangeCount, 0);
  EXPECT_EQ(record.FileName, "out.mp4");
  EXPECT_EQ(job.OutputOptions.FileName, "out.mp4");
}

TEST(TaskRecords, AlwaysAppliedFieldsWinOverTheOptionText) {
  const struct {
    const char* Line;
    std::function<bool(const TCustomFFmpeg&)> KeepsRecordValue;
  } cases[] = {
      {"copyts", [](const TCustomFFmpeg& job) { return !job.Timing.CopyTimestamps; }},
      {"async=1", [](const TCustomFFmpeg& job) { return job.Audio.AudioSyncMethod == 0; }},
      {"vsync=0", [](const TCustomFFmpeg& job) { return job.Video.VideoSyncMethod == -1; }},
      {"alang=eng", [](const TCustomFFmpeg& job) { return job.Audio.AudioLanguage.empty(); }},
      {"slang=fre", [](const TCustomFFmpeg& job) { return job.Subtitle.SubtitleLanguage.empty(); }},
      {"padcolor=255",
       [](const TCustomFFmpeg& job) {
         return job.Video.PadColor == std::array<int, 3>{0, 128, 128};
       }},
  };
  for (const auto& c : cases) {
    TOpenedJob job;
    TOutputOptions record;
    record.ExtOptions = c.Line;
    OptionsFromOutputRecord(job, record, "out.avi");
    EXPECT_TRUE(c.KeepsRecordValue(job)) << c.Line;
  }
  // A typed field that is set wins too; one left open keeps the text's value.
  TOpenedJob job;
  TOutputOptions record;
  record.ExtOptions = "s=320x240\nar=22050";
  record.FrameSize = "640x480";
  OptionsFromOutputRecord(job, record, "out.avi");
  EXPECT_EQ(job.Video.FrameWidth, 640);
  EXPECT_EQ(job.Audio.AudioSampleRate, 22050);
}

TEST(TaskRecords, TimestampsBecomeUnixTimes) {
  {
    TOpenedJob job;
    TOutputOptions record;
    record.Timestamp = 0;  // now
    const int64_t before = std::time(nullptr);
    OptionsFromOutputRecord(job, record, "out.avi");
    EXPECT_GE(job.Timing.RecTimestamp, before);
    EXPECT_LE(job.Timing.RecTimestamp, static_cast<int64_t>(std::time(nullptr)));
  }
  {
    TOpenedJob job;
    TOutputOptions record;  // -1: not set
    OptionsFromOutputRecord(job, record, "out.avi");
    EXPECT_EQ(job.Timing.RecTimestamp, 0);
  }
  TTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
  // Local wall-clock times, with and without daylight saving time.
  EXPECT_EQ(UnixTimeOfDateTime(25569.5), 43200 - 3600);                // 1970-01-01 12:00
  EXPECT_EQ(UnixTimeOfDateTime(45488.5), int64_t{1721044800} - 7200);  // 2024-07-15 12:00
  // Now is an hour or two ahead of UTC there, by the season.
  EXPECT_NEAR(NowAsDateTime(), 25569.0 + (std::time(nullptr) + 5400.0) / 86400, 1.0 / 48 + 1e-3);
}

TEST(TaskRecords, HookRangesAreSortedByTheirEnd) {
  const struct {
    const char* Text;
    std::vector<std::pair<int64_t, int64_t>> Ranges;  // microseconds
  } cases[] = {
      {"1000-2000, 500-800, 7", {{500000, 800000}, {1000000, 2000000}}},
      {" \t0-0 ,", {{0, 0}}},
      {"5-3, a-b, -1--1, 10-", {}},
      {"9223372036854775807-9223372036854775807", {}},  // would not fit in microseconds
      {"", {}},
  };
  for (const auto& c : cases) {
    TOpenedJob job;
    ParseHookRanges(job, c.Text);
    std::vector<std::pair<int64_t, int64_t>> ranges;
    for (const auto& range : job.Hooks.HookRanges) ranges.emplace_back(range.StartUs, range.EndUs);
    EXPECT_EQ(ranges, c.Ranges) << c.Text;
    EXPECT_EQ(job.Hooks.HookRangeCount, static_cast<int>(c.Ranges.size()));
    EXPECT_EQ(job.Hooks.HookRangeIndex, 0);
  }
}

TEST(TaskRecords, InputRecordSeeksSelectsAndForces) {
  const std::pair<int, int64_t> seeks[] = {{90000, 90000000}, {0, 0}, {-1, 0}};
  for (const auto& [milliseconds, microseconds] : seeks) {
    TFFmpeg job;
    job.Reset();
    TInputOptions record;
    record.StartTimeMs = milliseconds;
    record.ProgramID = 2;
    record.FileFormat = "avi";
    OptionsFromInputRecord(job, record, "in.avi");
    EXPECT_EQ(job.Timing.SeekTimeUs, microseconds) << milliseconds;
    EXPECT_EQ(job.Input.ProgramId, 2);
    ASSERT_NE(job.Formats.ForcedInputFormat, nullptr);
    EXPECT_STREQ(job.Formats.ForcedInputFormat->name, "avi");
    EXPECT_EQ(record.FileName, "in.avi");
  }
}

TEST(TaskRecords, TargetPresetRunsLastWithItsNormFallback) {
  TMediaOptions oddRate;
  oddRate.FrameRateNum = 15;
  const std::string odd = Media().Clip("rate15.avi", TMediaKind::Avi, oddRate);
  const struct {
    std::string Clip;
    int Norm;
    int Fallback;
    int Width, Height;
  } cases[] = {
      {Media().Clip(TMediaKind::Avi), 0, 1, 352, 288},  // 25 fps: PAL
      {odd, 0, 1, 352, 288},                            // no norm: fallback PAL
      {odd, 0, 2, 352, 240},                            // fallback NTSC
      {odd, 2, 1, 352, 240},                            // NTSC asked for
  };
  for (const auto& c : cases) {
    TOpenedJob job(c.Clip);
    TOutputOptions record;
    record.TargetType = 1;
    record.TargetNorm = c.Norm;
    record.TargetNormFallback = c.Fallback;
    record.FrameSize = "640x480";  // the preset overrides it
    OptionsFromOutputRecord(job, record, "out.mpg");
    EXPECT_EQ(job.Video.FrameWidth, c.Width) << c.Clip << " " << c.Norm << " " << c.Fallback;
    EXPECT_EQ(job.Video.FrameHeight, c.Height);
  }
}

TEST(TaskRecords, FailingFieldLeavesTheRestUnapplied) {
  TOpenedJob job;
  const int width = job.Video.FrameWidth;
  TOutputOptions record;
  record.FrameRate = "fast";  // applied just before the frame size
  record.FrameSize = "640x480";
  EXPECT_ANY_THROW(OptionsFromOutputRecord(job, record, "out.avi"));
  EXPECT_EQ(job.Video.FrameWidth, width);
}

TEST(TaskRecords, ColoursResolveSystemColours) {
  EXPECT_EQ(ColorToRgb(0x00336699), 0x336699);
  EXPECT_EQ(ColorToRgb(clWindow), 0xFFFFFF);
  EXPECT_EQ(ColorToRgb(clWindowText), 0x000000);
  TOpenedJob job;
  TOutputOptions record;
  record.PadColor = clWindow;
  OptionsFromOutputRecord(job, record, "out.avi");
  EXPECT_EQ(PadColorOf(job), (std::array<int, 3>{255, 128, 128}));
}
