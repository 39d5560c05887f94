// Opening inputs: the parameters a job takes from the streams, the options
// an input consumes, seek and timestamp offsets, programs and discard
// levels, the decoder contexts, and every failure with its message.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "binding/AVFormatHlpr.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "tests/media/MediaGen.h"

namespace {
TMediaFolder& Media() {
  static TMediaFolder folder("tavrelle-input");
  return folder;
}

// A video stream of unknown size, aspect and pixel format: a forced
// picture format over bytes that hold no picture.
std::string NoPictureFile(const std::string& name) {
  return Media().Random(name, 20000, 7);
}

void ApplyOptions(TCustomFFmpeg& job, const std::string& options) {
  if (!options.empty()) job.ApplyOptionText(options);
}

void ExpectInputOptionsConsumed(const TCustomFFmpeg& job) {
  EXPECT_EQ(job.Formats.ForcedInputFormat, nullptr);
  EXPECT_EQ(job.Formats.ForcedOutputFormat, nullptr);
  EXPECT_FALSE(job.Video.VideoCodecName || job.Audio.AudioCodecName ||
               job.Subtitle.SubtitleCodecName);
  EXPECT_EQ(job.Input.RateEmulation, 0);
  EXPECT_EQ(job.Input.VideoChannel, 0);
}

const AVStream* StreamOf(const TCustomFFmpeg& job, int index) {
  return job.Files.InputFiles[0]->streams[index];
}

// Library log lines while it lives; the level lets information through.
class TLibraryLogCapture {
 public:
  TLibraryLogCapture() {
    Lines().clear();
    AVUtilApi.av_log_set_level(AV_LOG_INFO);
    AVUtilApi.av_log_set_callback(Keep);
  }
  ~TLibraryLogCapture() { AVUtilApi.av_log_set_callback(AVUtilApi.av_log_default_callback); }
  static std::vector<std::string>& Lines() {
    static std::vector<std::string> lines;
    return lines;
  }
  bool Contains(const std::string& text) const {
    for (const std::string& line : Lines())
      if (line.find(text) != std::string::npos) return true;
    return false;
  }

 private:
  static void Keep(void*, int level, const char* format, va_list arguments) {
    if (level > AV_LOG_INFO) return;
    char line[1024];
    vsnprintf(line, sizeof line, format, arguments);
    Lines().push_back(line);
  }
  TLogLevelGuard levels_;
};
}  // namespace

TEST(InputOpening, TakesTheStreamsParametersAndConsumesTheInputOptions) {
  TRecordingJob job;
  ApplyOptions(job, "f=avi\nvcodec=mpeg4\nacodec=mp3float\nre\nvc=3");
  const std::string clip = Media().Clip(TMediaKind::Avi);
  ASSERT_TRUE(job.OpenInputFile(clip)) << job.LastError;
  EXPECT_EQ(job.Files.InputFileCount, 1);
  EXPECT_EQ(job.Video.FrameWidth, 160);
  EXPECT_EQ(job.Video.FrameHeight, 120);
  EXPECT_EQ(job.Video.VideoFrameRate.num, 25);
  EXPECT_EQ(job.Video.VideoFrameRate.den, 1);
  EXPECT_EQ(job.Video.FramePixFmt, AV_PIX_FMT_YUV420P);
  EXPECT_FLOAT_EQ(job.Video.FrameAspectRatio, 160.0f / 120);
  EXPECT_EQ(job.Audio.AudioChannels, 2);
  EXPECT_EQ(job.Audio.AudioSampleRate, 44100);
  EXPECT_EQ(job.Audio.AudioSampleFmt, AV_SAMPLE_FMT_FLTP);
  ExpectInputOptionsConsumed(job);

  // One decoder context per stream, of the forced decoders, not opened.
  const AVCodecContext* video = job.InputDecoderContext(0, 0);
  const AVCodecContext* audio = job.InputDecoderContext(0, 1);
  ASSERT_TRUE(video && audio);
  EXPECT_STREQ(video->codec->name, "mpeg4");
  EXPECT_STREQ(audio->codec->name, "mp3float");
  EXPECT_EQ(video->width, 160);
  EXPECT_EQ(job.InputDecoderContext(0, 2), nullptr);
  EXPECT_TRUE(job.InputRateEmulation(0, 0)) << "video streams follow the input's pace";
  EXPECT_FALSE(job.InputRateEmulation(0, 1));
  EXPECT_EQ(job.OutputDurationMs, job.Files.InputFiles[0]->duration / 1000);
}

TEST(InputOpening, AppliesRecordedOptionsToTheInputAndItsDecoders) {
  TRecordingJob job;
  job.ApplyOptionText(
      "skip_frame=nokey\nb=50000\nidct=simple\nfflags=+genpts\nignore_editlist=1\n"
      "dual_mono_mode=1");
  ASSERT_TRUE(job.OpenInputFile(Media().Clip(TMediaKind::Mp4))) << job.LastError;
  const AVFormatContext* input = job.Files.InputFiles[0];
  EXPECT_TRUE(input->flags & AVFMT_FLAG_GENPTS);
  int64_t value = -1;
  AVUtilApi.av_opt_get_int(input->priv_data, "ignore_editlist", 0, &value);
  EXPECT_EQ(value, 1) << "the demuxer's own option";
  const AVCodecContext* video = job.InputDecoderContext(0, 0);
  EXPECT_EQ(video->skip_frame, AVDISCARD_NONKEY);
  EXPECT_EQ(video->idct_algo, FF_IDCT_SIMPLE);
  EXPECT_NE(video->bit_rate, 50000) << "an encoding option stays with the encoders";
  const AVCodecContext* audio = job.InputDecoderContext(0, 1);
  AVUtilApi.av_opt_get_int(audio->priv_data, "dual_mono_mode", 0, &value);
  EXPECT_EQ(value, 1) << "the decoder's own option";
  EXPECT_TRUE(AVUtilApi.av_dict_get(job.FileStreams.Inputs[0][1].DecoderOptions, "dual_mono_mode",
                                    nullptr, 0));
  EXPECT_EQ(job.FileStreams.Inputs[0][0].DecoderOptions, nullptr) << "not an option of h264";
}

// Raw inputs describe themselves only through the capture parameters.
TEST(InputOpening, CaptureParametersDescribeRawInputs) {
  struct TCase {
    const char* Options;
    int64_t Bytes;
    const char* Expected;
  };
  const TCase cases[] = {
      {"f=rawvideo\ns=160x120\npix_fmt=gray\nr=10", 160 * 120 * 5, "160x120 gray 10/1"},
      {"f=s16le\nar=8000\nac=1", 8000, "8000 Hz 1 channel"},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Options);
    TRecordingJob job;
    ApplyOptions(job, test.Options);
    ASSERT_TRUE(
        job.OpenInputFile(Media().Random(std::to_string(test.Bytes) + ".raw", test.Bytes, 3)))
        << job.LastError;
    const std::string described =
        job.Files.InputFiles[0]->streams[0]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO
            ? Format(
                  "%dx%d %s %d/%d",
                  {job.Video.FrameWidth, job.Video.FrameHeight,
                   AVUtilApi.av_get_pix_fmt_name(static_cast<AVPixelFormat>(job.Video.FramePixFmt)),
                   job.Video.VideoFrameRate.num, job.Video.VideoFrameRate.den})
            : Format("%d Hz %d channel", {job.Audio.AudioSampleRate, job.Audio.AudioChannels});
    EXPECT_EQ(described, test.Expected);
    EXPECT_EQ(job.OutputDurationMs, 500);
  }
}

TEST(InputOpening, FailuresLeaveNothingAndTheJobUsable) {
  const std::string clip = Media().Clip(TMediaKind::Avi);
  const std::string missing = Media().FilePath("missing.avi");
  const std::string noise = Media().Random("noise.bin", 20000, 11);
  const std::string empty = Media().Empty("empty.mp4");
  const std::string noPicture = NoPictureFile("no-picture.bin");
  const std::string truncated =
      Media().Truncated("truncated.mp4", Media().Clip(TMediaKind::Mp4), 3000);
  struct TCase {
    std::string FileName;
    const char* Options;
    std::string Expected;
  };
  const TCase cases[] = {
      {missing, "", missing + ": no such file or directory"},
      {noise, "", noise + ": Unknown format"},
      {empty, "", empty + ": Unknown format"},
      {truncated, "", truncated + ": Unknown format"},
      {clip, "acodec=nosuch", "Unknown decoder 'nosuch'"},
      {clip, "vcodec=mp2", "Invalid decoder type 'mp2'"},
      {clip, "scodec=mpeg4", "Invalid decoder type 'mpeg4'"},
      {noPicture, "f=h264\nv=0", noPicture + ": could not find codec parameters"},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Expected);
    TRecordingJob job;
    TLogLevelGuard levels;
    job.ApplyOptionText("re\nvc=2");
    ApplyOptions(job, test.Options);
    EXPECT_FALSE(job.OpenInputFile(test.FileName));
    EXPECT_EQ(job.LastError, test.Expected);
    EXPECT_EQ(job.Files.InputFileCount, 0);
    EXPECT_EQ(job.Files.InputFiles[0], nullptr);
    EXPECT_TRUE(job.FileStreams.Inputs[0].empty());
    ExpectInputOptionsConsumed(job);
    EXPECT_TRUE(job.OpenInputFile(clip)) << job.LastError;
    EXPECT_EQ(job.Files.InputFileCount, 1);
  }
}

// A quiet job accepts an input whose analysis failed and dumps nothing.
TEST(InputOpening, QuietJobAcceptsFailedAnalysisWithoutDump) {
  TLibraryLogCapture log;
  TRecordingJob quiet;
  quiet.Diagnostics.Verbosity = -1;
  quiet.OptInputFormat("h264");
  EXPECT_TRUE(quiet.OpenInputFile(NoPictureFile("quiet.bin"))) << quiet.LastError;
  EXPECT_FALSE(log.Contains("Input #0"));
  TRecordingJob talking;
  ASSERT_TRUE(talking.OpenInputFile(Media().Clip(TMediaKind::Avi)));
  EXPECT_TRUE(log.Contains("Input #0"));
}

TEST(InputOpening, SeekAndTimestampOffsets) {
  TMediaOptions lateStart;
  lateStart.StartOffsetSec = 0.5;
  lateStart.FrameRateNum = 50;  // the first picture exactly at 0.5 s
  const std::string clip = Media().Clip("late.mkv", TMediaKind::UnknownAspect, lateStart);
  struct TCase {
    const char* Options;
    int64_t Offset;
  };
  const TCase cases[] = {
      {"ss=10\nitsoffset=0", -10500000},
      {"itsoffset=2", 2000000 - 500000},
      {"ss=10\nitsoffset=2\ncopyts", 2000000},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Options);
    TRecordingJob job;
    ApplyOptions(job, test.Options);
    ASSERT_TRUE(job.OpenInputFile(clip)) << job.LastError;
    ASSERT_EQ(job.Files.InputFiles[0]->start_time, 500000);
    EXPECT_EQ(job.Files.InputTsOffsets[0], test.Offset);
    EXPECT_EQ(job.Timing.SeekTimeUs, 0);
  }
}

TEST(InputOpening, LastVideoStreamGivesThePicture) {
  TRecordingJob job;
  ASSERT_TRUE(job.OpenInputFile(Media().Clip(TMediaKind::TwoVideo))) << job.LastError;
  EXPECT_EQ(job.Video.FrameWidth, 80);
  EXPECT_EQ(job.Video.FrameHeight, 60);
  EXPECT_EQ(job.FileStreams.Inputs[0].size(), 3u);
}

TEST(InputOpening, AspectRatioAndPixelFormatRules) {
  TMediaOptions wide;
  wide.Width = 320;
  wide.Height = 180;
  TMediaOptions stretched;
  stretched.SampleAspectNum = 2;
  struct TCase {
    std::string FileName;
    const char* Format;
    float Aspect;
    int PixelFormat;
  };
  const TCase cases[] = {
      {Media().Clip("wide.mkv", TMediaKind::UnknownAspect, wide), "", 320.0f / 180,
       AV_PIX_FMT_YUV420P},
      {Media().Clip("stretched.mkv", TMediaKind::Matroska, stretched), "", 160.0f * 2 / 120,
       AV_PIX_FMT_YUV420P},
      {NoPictureFile("unknown.bin"), "mjpeg", 4.0f / 3, AV_PIX_FMT_NONE},
      {NoPictureFile("clip.RMVB"), "mjpeg", 4.0f / 3, AV_PIX_FMT_YUV420P},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.FileName);
    TRecordingJob job;
    job.OptInputFormat(test.Format);
    ASSERT_TRUE(job.OpenInputFile(test.FileName)) << job.LastError;
    EXPECT_FLOAT_EQ(job.Video.FrameAspectRatio, test.Aspect);
    EXPECT_EQ(job.Video.FramePixFmt, test.PixelFormat);
  }
}

TEST(InputOpening, DurationGrowsTheExpectedOutputDuration) {
  const std::string clip = Media().Clip(TMediaKind::Avi);
  TRecordingJob fresh;
  ASSERT_TRUE(fresh.OpenInputFile(clip));
  EXPECT_GT(fresh.OutputDurationMs, 900);
  EXPECT_EQ(fresh.OutputDurationMs, fresh.Files.InputFiles[0]->duration / 1000);
  fresh.SetOption("t", "0.5");
  EXPECT_EQ(fresh.OutputDurationMs, 500) << "a later duration option wins";

  TRecordingJob longer;
  longer.SetOption("t", "90");
  ASSERT_TRUE(longer.OpenInputFile(clip));
  EXPECT_EQ(longer.OutputDurationMs, 90000);
}

TEST(InputOpening, ProgramsAndDiscardLevels) {
  TRecordingJob job;
  job.SetOption("programid", "3");
  ASSERT_TRUE(job.OpenInputFile(Media().Clip(TMediaKind::TransportStream))) << job.LastError;
  const AVFormatContext* input = job.Files.InputFiles[0];
  ASSERT_EQ(input->nb_programs, 3u);
  for (unsigned i = 0; i < input->nb_programs; ++i) {
    SCOPED_TRACE(input->programs[i]->id);
    EXPECT_EQ(input->programs[i]->discard == AVDISCARD_ALL, input->programs[i]->id != 3);
  }

  struct TCase {
    const char* Options;
    std::vector<int> Discards;  // video, audio, subtitle stream
  };
  const TCase cases[] = {
      {"", {AVDISCARD_DEFAULT, AVDISCARD_DEFAULT, AVDISCARD_DEFAULT}},
      {"vn\nan\nsn", {AVDISCARD_ALL, AVDISCARD_ALL, AVDISCARD_ALL}},
      {"vdt=32", {AVDISCARD_NONKEY, AVDISCARD_DEFAULT, AVDISCARD_DEFAULT}},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Options);
    TRecordingJob discarding;
    ApplyOptions(discarding, test.Options);
    ASSERT_TRUE(discarding.OpenInputFile(Media().Clip(TMediaKind::Matroska)));
    std::vector<int> discards;
    for (int i = 0; i < 3; ++i) discards.push_back(StreamOf(discarding, i)->discard);
    EXPECT_EQ(discards, test.Discards);
  }
}

TEST(InputOpening, CleanupClosesInputsAndNeverDeletesThem) {
  const std::string clip = Media().Clip("kept.avi", TMediaKind::Avi, TMediaOptions{});
  TRecordingJob job;
  ASSERT_TRUE(job.OpenInputFile(clip));
  job.Cleanup();
  EXPECT_EQ(job.Files.InputFileCount, 0);
  EXPECT_EQ(job.Files.InputFiles[0], nullptr);
  EXPECT_TRUE(job.FileStreams.Inputs[0].empty());
  EXPECT_GT(FileSizeOf(clip), 0);
}
