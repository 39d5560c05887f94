#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Src/LibraryLoader.h"
#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "binding/SwScaleHlpr.h"
#include "platform/Environment.h"
#include "platform/Exception.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "probe/AVProbe.h"
#include "tests/media/MediaGen.h"

using ::testing::ElementsAre;
using ::testing::Pair;
using ::testing::StartsWith;

namespace {
constexpr int64_t NoValue = AV_NOPTS_VALUE;
constexpr int64_t OneSecondUs = 1000000;
constexpr int64_t DurationToleranceUs = 100000;

std::string LibFolder() {
  return IncludeTrailingPathDelimiter(ExecutableFolder()) + "lib";
}

template <size_t Size>
std::string FieldText(const char (&field)[Size]) {
  return std::string(field, strnlen(field, Size));
}

template <size_t Size>
bool AllZero(const char (&field)[Size]) {
  for (char c : field)
    if (c != 0) return false;
  return true;
}

// StreamCount, ProgramCount, audio, video and subtitle counts, then the
// first audio, video and subtitle indices.
using TCounts = std::array<int32_t, 8>;
constexpr TCounts NothingDescribed{-1, -1, -1, -1, -1, -1, -1, -1};

TCounts CountsOf(const TAVProbe& probe) {
  return {probe.StreamCount,      probe.ProgramCount,        probe.AudioStreamCount,
          probe.VideoStreamCount, probe.SubtitleStreamCount, probe.FirstAudioStream,
          probe.FirstVideoStream, probe.FirstSubtitleStream};
}

void ExpectEmpty(const TAVProbe& probe) {
  EXPECT_EQ(probe.FormatContext, nullptr);
  EXPECT_EQ(CountsOf(probe), NothingDescribed);
  EXPECT_EQ(probe.InputFormat, "");
}

void ExpectReset(const TAudioStreamInfo& info) {
  EXPECT_TRUE(AllZero(info.Language));
  EXPECT_TRUE(AllZero(info.CodecName));
  const std::vector<int64_t> numbers{info.StartTime,  info.StartTimeUs, info.Duration,
                                     info.DurationUs, info.BitRate,     info.Channels,
                                     info.SampleRate, info.SampleFormat};
  EXPECT_THAT(numbers, ::testing::Each(-1));
}

void ExpectReset(const TVideoStreamInfo& info) {
  EXPECT_TRUE(AllZero(info.Language));
  EXPECT_TRUE(AllZero(info.CodecName));
  const std::vector<int64_t> numbers{
      info.StartTime, info.StartTimeUs, info.Duration,    info.DurationUs,   info.BitRate,
      info.Height,    info.Width,       info.PixelFormat, info.FrameRateNum, info.FrameRateDen};
  EXPECT_THAT(numbers, ::testing::Each(-1));
  EXPECT_EQ(info.AspectRatio, -1.0f);
}

// StartTime, StartTimeUs, Duration and DurationUs, copied out of the packed
// record: its 64-bit fields are not aligned, so nothing may bind to them.
using TTimes = std::array<int64_t, 4>;

template <typename TInfo>
TTimes TimesOf(const TInfo& info) {
  return {info.StartTime, info.StartTimeUs, info.Duration, info.DurationUs};
}

// A record full of bytes no reset leaves behind.
template <typename TInfo>
TInfo Garbage() {
  TInfo info;
  std::memset(&info, 0x5A, sizeof info);
  return info;
}

// A duration the probe reports, either unknown on both scales or close to
// the clip's length.
void ExpectClipDuration(int64_t duration, int64_t durationUs, const char* what) {
  if (duration == NoValue)
    EXPECT_EQ(durationUs, -1) << what;
  else
    EXPECT_NEAR(durationUs, OneSecondUs, DurationToleranceUs) << what;
}

// What the libraries log while it lives, level and text per line.
class TLogCapture {
 public:
  TLogCapture() {
    active_ = this;
    AVUtilApi.av_log_set_callback(&Collect);
  }
  ~TLogCapture() {
    AVUtilApi.av_log_set_callback(AVUtilApi.av_log_default_callback);
    active_ = nullptr;
  }
  std::vector<std::pair<int, std::string>> Lines;

 private:
  static void Collect(void*, int level, const char* format, va_list args) {
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    if (active_) active_->Lines.emplace_back(level, text);
  }
  static inline TLogCapture* active_ = nullptr;
};

std::string RaisedMessage(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.what();
  }
  return "(nothing raised)";
}

class ProbeMedia : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    media_ = new TMediaFolder("tavrelle-probe");
    ASSERT_TRUE(LoadAllLibraries(LibFolder(), true)) << LoadAllError();
    // The demuxers' own complaints about damaged files are not under test.
    AVUtilApi.av_log_set_level(AV_LOG_QUIET);
  }
  static void TearDownTestSuite() {
    delete media_;
    media_ = nullptr;
  }
  static TMediaFolder& Media() { return *media_; }

  void OpenOrFail(TMediaKind kind) {
    const std::string file = Media().Clip(kind);
    ASSERT_TRUE(probe.Open(file)) << probe.LastError;
  }

  TAVProbe probe;

 private:
  static inline TMediaFolder* media_ = nullptr;
};

using Probe = ProbeMedia;

TEST_F(Probe, FreshProbeDescribesNothingAndSaysSo) {
  ExpectEmpty(probe);
  EXPECT_FALSE(probe.OwnsContext);
  EXPECT_EQ(probe.FileDurationUs(), -1);
  TLogCapture log;
  auto audio = Garbage<TAudioStreamInfo>();
  probe.GetAudioInfo(audio);
  ExpectReset(audio);
  auto video = Garbage<TVideoStreamInfo>();
  probe.GetVideoInfo(0, video);
  ExpectReset(video);
  EXPECT_EQ(probe.GetFileName(), "");
  EXPECT_THAT(log.Lines, ElementsAre(Pair(AV_LOG_INFO, "file not loaded.\n"),
                                     Pair(AV_LOG_INFO, "file not loaded.\n"),
                                     Pair(AV_LOG_INFO, "file not loaded.\n")));
}

// What every generated kind holds with the default clip options: one
// second, 160x120 at 25 pictures per second, 44100 Hz stereo.
struct TKindCase {
  TMediaKind Kind;
  TCounts Counts;
  const char* VideoCodec;  // nullptr: no video stream
  float Aspect;
  const char* AudioCodec;  // nullptr: no audio stream
  int32_t AudioBitRate;    // 0: whatever the encoder chose
};

const TKindCase KindCases[] = {
    {TMediaKind::Avi, {2, 0, 1, 1, 0, 1, 0, -1}, "mpeg4", 4.0f / 3, "mp3", 128000},
    {TMediaKind::Mp4, {2, 0, 1, 1, 0, 1, 0, -1}, "h264", 0, "aac", 0},
    {TMediaKind::Matroska, {3, 0, 1, 1, 1, 1, 0, 2}, "mpeg4", 4.0f / 3, "aac", 0},
    {TMediaKind::TransportStream, {6, 3, 3, 3, 0, 1, 0, -1}, "mpeg2video", 4.0f / 3, "mp2", 128000},
    {TMediaKind::TwoVideo, {3, 0, 1, 2, 0, 1, 0, -1}, "mpeg4", 4.0f / 3, "mp2", 128000},
    {TMediaKind::Wav, {1, 0, 1, 0, 0, 0, -1, -1}, nullptr, 0, "pcm_s16le", 1411200},
    {TMediaKind::Mp3, {1, 0, 1, 0, 0, 0, -1, -1}, nullptr, 0, "mp3", 128000},
    {TMediaKind::ProgramStream, {2, 0, 1, 1, 0, 1, 0, -1}, "mpeg2video", 4.0f / 3, "mp2", 128000},
    {TMediaKind::VideoOnly, {1, 0, 0, 1, 0, -1, 0, -1}, "mpeg4", 4.0f / 3, nullptr, 0},
    {TMediaKind::UnknownAspect, {1, 0, 0, 1, 0, -1, 0, -1}, "h264", 0, nullptr, 0},
};

class ProbeKinds : public ProbeMedia, public ::testing::WithParamInterface<TKindCase> {};

TEST_P(ProbeKinds, CountsAndRecordsMatchTheClip) {
  const TKindCase& c = GetParam();
  const std::string file = Media().Clip(c.Kind);
  ASSERT_TRUE(probe.Open(file)) << probe.LastError;
  EXPECT_EQ(CountsOf(probe), c.Counts);
  EXPECT_TRUE(probe.OwnsContext);
  EXPECT_EQ(probe.GetFileName(), file);
  EXPECT_NEAR(probe.FileDurationUs(), OneSecondUs, DurationToleranceUs);

  if (c.VideoCodec) {
    TVideoStreamInfo video;
    probe.GetVideoInfo(video);
    EXPECT_EQ(FieldText(video.CodecName), c.VideoCodec);
    EXPECT_EQ(video.Width, 160);
    EXPECT_EQ(video.Height, 120);
    EXPECT_FLOAT_EQ(video.AspectRatio, c.Aspect);
    EXPECT_EQ(video.PixelFormat, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(video.FrameRateNum, 25);
    EXPECT_EQ(video.FrameRateDen, 1);
    ExpectClipDuration(video.Duration, video.DurationUs, "video");
  }
  if (c.AudioCodec) {
    TAudioStreamInfo audio;
    probe.GetAudioInfo(audio);
    EXPECT_EQ(FieldText(audio.CodecName), c.AudioCodec);
    EXPECT_EQ(audio.SampleRate, 44100);
    EXPECT_EQ(audio.Channels, 2);
    if (c.AudioBitRate) {
      EXPECT_EQ(audio.BitRate, c.AudioBitRate);
    }
    ExpectClipDuration(audio.Duration, audio.DurationUs, "audio");
  }
}

std::string KindCaseName(const ::testing::TestParamInfo<TKindCase>& info) {
  std::string name = MediaKindInfo(info.param.Kind).Name;
  for (char& c : name)
    if (c == '-') c = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Generated, ProbeKinds, ::testing::ValuesIn(KindCases), KindCaseName);

// A clip made with every parameter away from its default: the records
// must carry them, in containers that keep timestamps and languages.
class ProbeParameters : public ProbeMedia, public ::testing::WithParamInterface<TMediaKind> {};

TEST_P(ProbeParameters, RecordsCarryTheClipsParameters) {
  TMediaOptions options;
  options.Width = 176;
  options.Height = 144;
  options.SampleRate = 48000;
  options.Channels = 1;
  options.Languages = {"eng", "fre"};
  options.SampleAspectNum = 12;
  options.SampleAspectDen = 11;
  options.StartOffsetSec = 2;
  const TMediaKindInfo& kind = MediaKindInfo(GetParam());
  const std::string file =
      Media().Clip(std::string("parameters") + kind.Extension, GetParam(), options);
  ASSERT_TRUE(probe.Open(file)) << probe.LastError;

  TVideoStreamInfo video;
  probe.GetVideoInfo(video);
  EXPECT_EQ(FieldText(video.Language), "eng");
  EXPECT_EQ(video.Width, 176);
  EXPECT_EQ(video.Height, 144);
  EXPECT_FLOAT_EQ(video.AspectRatio, 176.0f * 12 / 11 / 144);
  EXPECT_EQ(int64_t{video.StartTimeUs}, 2 * OneSecondUs) << "the first picture is at two seconds";

  TAudioStreamInfo audio;
  probe.GetAudioInfo(audio);
  EXPECT_EQ(FieldText(audio.Language), "fre");
  EXPECT_EQ(audio.SampleRate, 48000);
  EXPECT_EQ(audio.Channels, 1);
  // The encoder's priming samples start slightly before the first sample.
  EXPECT_NEAR(audio.StartTimeUs, 2 * OneSecondUs, 50000);
}

INSTANTIATE_TEST_SUITE_P(Generated, ProbeParameters,
                         ::testing::Values(TMediaKind::Matroska, TMediaKind::Mp4),
                         [](const auto& info) {
                           return std::string(MediaKindInfo(info.param).Name);
                         });

TEST_F(Probe, StreamIndexPicksTheStreamAndAnyNegativeIndexTheFirstOfItsKind) {
  OpenOrFail(TMediaKind::TwoVideo);  // video, audio, smaller video
  TVideoStreamInfo second;
  probe.GetVideoInfo(2, second);
  EXPECT_EQ(FieldText(second.CodecName), "mpeg2video");
  EXPECT_EQ(second.Width, 80);
  EXPECT_EQ(second.Height, 60);
  TVideoStreamInfo first;
  probe.GetVideoInfo(-7, first);
  EXPECT_EQ(FieldText(first.CodecName), "mpeg4");
  EXPECT_EQ(first.Width, 160);
  TAudioStreamInfo audio;
  probe.GetAudioInfo(1, audio);
  EXPECT_EQ(FieldText(audio.CodecName), "mp2");
}

// Requests that cannot be met leave the record reset and log one line.
struct TBadRequest {
  TMediaKind Kind;
  bool Audio;
  int Index;
  const char* Logged;
};

const TBadRequest BadRequests[] = {
    {TMediaKind::VideoOnly, true, -1, "no audio stream.\n"},
    {TMediaKind::Mp3, false, -1, "no video stream.\n"},
    {TMediaKind::TwoVideo, false, 1, "stream #1 is not video stream.\n"},
    {TMediaKind::TwoVideo, true, 0, "stream #0 is not audio stream.\n"},
    {TMediaKind::TwoVideo, false, 3, "stream index #3 is invalid.\n"},
    {TMediaKind::TwoVideo, true, 3, "stream index #3 is invalid.\n"},
    {TMediaKind::TwoVideo, true, 1000, "stream index #1000 is invalid.\n"},
};

TEST_F(Probe, BadRequestsLeaveTheRecordResetAndLogWhy) {
  for (const TBadRequest& request : BadRequests) {
    SCOPED_TRACE(request.Logged);
    OpenOrFail(request.Kind);
    TLogCapture log;
    if (request.Audio) {
      auto info = Garbage<TAudioStreamInfo>();
      probe.GetAudioInfo(request.Index, info);
      ExpectReset(info);
    } else {
      auto info = Garbage<TVideoStreamInfo>();
      probe.GetVideoInfo(request.Index, info);
      ExpectReset(info);
    }
    EXPECT_THAT(log.Lines, ElementsAre(Pair(AV_LOG_ERROR, request.Logged)));
  }
}

// An input put together by hand, as a job would hold one, to reach exact
// time bases and the no-value marker.
class THandMadeInput {
 public:
  THandMadeInput() : context_(AVFormatApi.avformat_alloc_context()) {}
  ~THandMadeInput() { AVFormatApi.avformat_free_context(context_); }
  AVStream& AddStream(AVMediaType type, AVCodecID codec, AVRational timeBase, int64_t start,
                      int64_t duration) {
    AVStream* stream = AVFormatApi.avformat_new_stream(context_, nullptr);
    stream->codecpar->codec_type = type;
    stream->codecpar->codec_id = codec;
    stream->time_base = timeBase;
    stream->start_time = start;
    stream->duration = duration;
    return *stream;
  }
  AVFormatContext* Context() const { return context_; }

 private:
  AVFormatContext* context_;
};

TEST_F(Probe, TimesAreRescaledToMicrosecondsAndTheNoValueMarkerPassesThrough) {
  THandMadeInput input;
  AVStream& video = input.AddStream(AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_MPEG4, {1, 25}, 50, 75);
  video.codecpar->width = 320;
  video.codecpar->height = 240;
  video.r_frame_rate = {25, 1};
  input.AddStream(AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_MP2, {1, 44100}, NoValue, NoValue);
  probe.Attach(input.Context());
  EXPECT_EQ(CountsOf(probe), (TCounts{2, 0, 1, 1, 0, 1, 0, -1}));

  TVideoStreamInfo videoInfo;
  probe.GetVideoInfo(videoInfo);
  EXPECT_EQ(TimesOf(videoInfo), (TTimes{50, 2000000, 75, 3000000}));
  EXPECT_EQ(FieldText(videoInfo.CodecName), "mpeg4");

  TAudioStreamInfo audioInfo;
  probe.GetAudioInfo(audioInfo);
  EXPECT_EQ(TimesOf(audioInfo), (TTimes{NoValue, -1, NoValue, -1}));
}

TEST_F(Probe, WaveFilesHaveNoStartTime) {
  OpenOrFail(TMediaKind::Wav);
  TAudioStreamInfo audio;
  probe.GetAudioInfo(audio);
  const TTimes times = TimesOf(audio);
  EXPECT_EQ(times[0], NoValue);
  EXPECT_EQ(times[1], -1);
}

TEST_F(Probe, AspectRatioComesFromTheSampleAspect) {
  const struct {
    AVRational SampleAspect;
    float Aspect;
  } cases[] = {{{0, 1}, 0.0f}, {{1, 1}, 320.0f / 240}, {{4, 3}, 320.0f * 4 / 3 / 240}};
  for (const auto& c : cases) {
    THandMadeInput input;
    AVStream& video = input.AddStream(AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_MPEG4, {1, 25}, 0, 25);
    video.codecpar->width = 320;
    video.codecpar->height = 240;
    video.sample_aspect_ratio = c.SampleAspect;
    video.codecpar->sample_aspect_ratio = c.SampleAspect;
    probe.Attach(input.Context());
    TVideoStreamInfo info;
    probe.GetVideoInfo(info);
    EXPECT_FLOAT_EQ(info.AspectRatio, c.Aspect) << c.SampleAspect.num << ":" << c.SampleAspect.den;
    probe.Close();
  }
}

// The job that opened an input stays its owner: neither Close nor the
// probe's end may close it.
TEST_F(Probe, AttachedInputOutlivesCloseAndTheProbe) {
  AVFormatContext* input = nullptr;
  ASSERT_EQ(AVFormatApi.avformat_open_input(&input, Media().Clip(TMediaKind::Avi).c_str(), nullptr,
                                            nullptr),
            0);
  ASSERT_GE(AVFormatApi.avformat_find_stream_info(input, nullptr), 0);
  AVPacket* packet = AVCodecApi.av_packet_alloc();
  {
    TAVProbe attached;
    attached.Attach(input);
    EXPECT_FALSE(attached.OwnsContext);
    EXPECT_EQ(attached.StreamCount, 2);
    attached.Close();
    ExpectEmpty(attached);
    EXPECT_EQ(AVFormatApi.av_read_frame(input, packet), 0) << "Close closed the owner's input";
    AVCodecApi.av_packet_unref(packet);
    attached.Attach(input);
  }
  EXPECT_EQ(AVFormatApi.av_read_frame(input, packet), 0) << "the probe's end closed the input";
  AVCodecApi.av_packet_free(&packet);
  AVFormatApi.avformat_close_input(&input);
}

TEST_F(Probe, OpeningAnotherFileDescribesOnlyThatFile) {
  OpenOrFail(TMediaKind::TransportStream);
  OpenOrFail(TMediaKind::Mp3);
  EXPECT_EQ(CountsOf(probe), (TCounts{1, 0, 1, 0, 0, 0, -1, -1}));
  EXPECT_EQ(probe.GetFileName(), Media().Clip(TMediaKind::Mp3));
}

TEST_F(Probe, ForcedFormatIsRecordedUntilClose) {
  ASSERT_TRUE(probe.Open(Media().Clip(TMediaKind::Avi), "avi")) << probe.LastError;
  EXPECT_EQ(probe.InputFormat, "avi");
  probe.Close();
  ExpectEmpty(probe);
}

// Each failure follows a successful Open, which must not survive it.
struct TFailedOpen {
  const char* Label;
  std::function<std::string(TMediaFolder&)> File;
  const char* FormatName;
  const char* Message;  // "%s" stands for the file name
};

TEST_F(Probe, FailedOpenLeavesTheProbeEmptyWithTheReason) {
  const auto missing = [](TMediaFolder& m) { return m.FilePath("missing.mp4"); };
  const TFailedOpen failures[] = {
      {"missing file", missing, "", "%s: no such file or directory"},
      // No demuxer takes these bytes for its own.
      {"random bytes", [](TMediaFolder& m) { return m.Random("random.bin", 4096, 2); }, "",
       "%s: Unknown format"},
      // The MPEG audio demuxer takes these for a damaged frame header.
      {"random bytes like audio frames",
       [](TMediaFolder& m) { return m.Random("frames.bin", 4096, 1); }, "",
       "%s: Error while parsing header"},
      {"no bytes", [](TMediaFolder& m) { return m.Empty("empty.bin"); }, "", "%s: Unknown format"},
      {"index cut off",
       [](TMediaFolder& m) {
         const std::string clip = m.Clip(TMediaKind::Mp4);
         return m.Truncated("half.mp4", clip, FileSizeOf(clip) / 2);
       },
       "", "%s: Unknown format"},
      // Resolving the format comes first: the missing file is never tried.
      {"unknown forced format", missing, "no-such-format", "Unknown input format: no-such-format"},
  };
  for (const TFailedOpen& failure : failures) {
    SCOPED_TRACE(failure.Label);
    const std::string file = failure.File(Media());
    OpenOrFail(TMediaKind::Matroska);
    EXPECT_FALSE(probe.Open(file, failure.FormatName));
    EXPECT_EQ(probe.LastError, Format(failure.Message, {file}));
    ExpectEmpty(probe);
  }
}

TEST_F(Probe, SuccessKeepsTheLastFailuresText) {
  EXPECT_FALSE(probe.Open(Media().FilePath("missing.avi")));
  const std::string failure = probe.LastError;
  OpenOrFail(TMediaKind::Avi);
  EXPECT_EQ(probe.LastError, failure);
}

// Cut files either open and describe themselves consistently or fail with
// a reason naming the file; the probe never reads past what it was given.
TEST_F(Probe, TruncatedFilesNeverBreakTheProbe) {
  const TMediaKind kinds[] = {
      TMediaKind::Avi,           TMediaKind::Mp4, TMediaKind::Matroska, TMediaKind::TransportStream,
      TMediaKind::ProgramStream, TMediaKind::Mp3, TMediaKind::Wav};
  for (TMediaKind kind : kinds) {
    const std::string clip = Media().Clip(kind);
    const int64_t size = FileSizeOf(clip);
    for (int64_t cut : {int64_t{1}, int64_t{100}, size / 3, size / 2, size - 10}) {
      SCOPED_TRACE(MediaKindInfo(kind).Name + (" cut at " + std::to_string(cut)));
      const std::string file = Media().Truncated(
          "cut-" + std::to_string(cut) + MediaKindInfo(kind).Extension, clip, cut);
      if (!probe.Open(file)) {
        EXPECT_THAT(probe.LastError, StartsWith(file + ": "));
        ExpectEmpty(probe);
        continue;
      }
      EXPECT_GE(probe.StreamCount,
                probe.AudioStreamCount + probe.VideoStreamCount + probe.SubtitleStreamCount);
      EXPECT_LT(probe.FirstAudioStream, probe.StreamCount);
      EXPECT_LT(probe.FirstVideoStream, probe.StreamCount);
      TAudioStreamInfo audio;
      probe.GetAudioInfo(audio);
      TVideoStreamInfo video;
      probe.GetVideoInfo(video);
      EXPECT_EQ(FieldText(audio.CodecName).empty(), probe.FirstAudioStream < 0);
      EXPECT_EQ(FieldText(video.CodecName).empty(), probe.FirstVideoStream < 0);
    }
  }
}

// Starts with no library bound and ends with all of them bound. The end
// binds what is missing instead of unloading first: a library released
// while its dependencies hold memory shows up as a leak under the address
// sanitizer.
class ProbeLibraries : public ::testing::Test {
 protected:
  void SetUp() override { UnloadAllLibraries(); }
  void TearDown() override { ASSERT_TRUE(LoadAllLibraries(LibFolder(), true)) << LoadAllError(); }
  static void Bind(TLibBinding& (*unit)()) {
    std::string error;
    ASSERT_TRUE(unit().BindLib(error, LibFolder(), true, false)) << error;
  }
};

TEST_F(ProbeLibraries, TheFirstUnboundLibraryIsNamedBeforeAnythingIsTouched) {
  const struct {
    TLibBinding& (*Unit)();
    const char* Missing;
  } order[] = {{AVCodecHlpr::Unit, "LibAVCodec not loaded."},
               {AVFormatHlpr::Unit, "LibAVFormat not loaded."},
               {AVUtilHlpr::Unit, "LibAVUtil not loaded."},
               {SwScaleHlpr::Unit, "LibSwScale not loaded."}};
  TAVProbe probe;
  for (const auto& step : order) {
    SCOPED_TRACE(step.Missing);
    EXPECT_EQ(RaisedMessage([&] { probe.CheckLibraries(); }), step.Missing);
    EXPECT_EQ(RaisedMessage([&] { probe.Open("/nonexistent.avi"); }), step.Missing);
    AVFormatContext blank{};
    EXPECT_EQ(RaisedMessage([&] { probe.Attach(&blank); }), step.Missing);
    ExpectEmpty(probe);
    EXPECT_EQ(probe.LastError, "");
    Bind(step.Unit);
  }
  EXPECT_EQ(RaisedMessage([&] { probe.CheckLibraries(); }), "(nothing raised)");
}

TEST_F(ProbeLibraries, TheCodecLibraryIsCheckedFirst) {
  for (auto unit : {SwScaleHlpr::Unit, AVUtilHlpr::Unit, AVFormatHlpr::Unit}) Bind(unit);
  TAVProbe probe;
  EXPECT_EQ(RaisedMessage([&] { probe.CheckLibraries(); }), "LibAVCodec not loaded.");
}
}  // namespace

TEST_F(Probe, RelativeNamesWithAColonAreFilesNotProtocols) {
  const std::string clip = Media().Clip(TMediaKind::Wav);
  const std::string before = GetCurrentDir();
  ASSERT_TRUE(SetCurrentDir(Media().Path()));
  for (const char* name : {"take2:final.wav", "pipe:0.wav"}) {
    std::filesystem::copy_file(clip, name, std::filesystem::copy_options::overwrite_existing);
    EXPECT_TRUE(probe.Open(name)) << name << ": " << probe.LastError;
    EXPECT_EQ(probe.AudioStreamCount, 1) << name;
    probe.Close();
  }
  SetCurrentDir(before);
}
