// End-to-end conversions of generated clips, checked by decoding the output.
#include <filesystem>
#include "TranscodeTestSupport.h"

#include "platform/Files.h"

namespace {
TMediaFolder& Media() {
  static TMediaFolder folder("tavrelle-transcode");
  return folder;
}

struct TCodecSet {
  const char* Name;
  const char* Extension;
  const char* Options;
  AVCodecID Video;  // AV_CODEC_ID_NONE: no video stream expected
  AVCodecID Audio;
};

const TCodecSet CodecSets[] = {
    {"H264Aac", ".mp4", "vcodec=libx264\nacodec=aac\nab=96k", AV_CODEC_ID_H264, AV_CODEC_ID_AAC},
    {"MsMpeg4Pcm", ".avi", "vcodec=msmpeg4v2\nacodec=pcm_s16le", AV_CODEC_ID_MSMPEG4V2,
     AV_CODEC_ID_PCM_S16LE},
    {"Wmv2Wma2", ".wmv", "vcodec=wmv2\nacodec=wmav2\nab=64k", AV_CODEC_ID_WMV2, AV_CODEC_ID_WMAV2},
    {"Wma2Only", ".wma", "vn=1\nacodec=wmav2\nab=64k", AV_CODEC_ID_NONE, AV_CODEC_ID_WMAV2},
    {"Mp3Only", ".mp3", "vn=1\nacodec=libmp3lame\nab=128k", AV_CODEC_ID_NONE, AV_CODEC_ID_MP3},
};

struct TConversionCase {
  TMediaKind Input;
  TCodecSet Set;
};

std::vector<TConversionCase> ConversionCases() {
  std::vector<TConversionCase> cases;
  for (TMediaKind input : {TMediaKind::Mp4, TMediaKind::Avi, TMediaKind::Matroska})
    for (const TCodecSet& set : CodecSets) cases.push_back({input, set});
  return cases;
}

class ConversionTest : public ::testing::TestWithParam<TConversionCase> {};

constexpr double ClipSeconds = 1.0;
constexpr double FrameSeconds = 1.0 / 25;
}  // namespace

TEST_P(ConversionTest, ConvertsWithStreamsDurationAndSync) {
  const TConversionCase& param = GetParam();
  const std::string input = Media().Clip(param.Input);
  const std::string output =
      Media().FilePath(std::string("out-") + MediaKindInfo(param.Input).Name + "-" +
                       param.Set.Name + param.Set.Extension);
  TTranscodeJob job;
  ASSERT_TRUE(job.Prepare(input, param.Set.Options, output));
  ASSERT_TRUE(job.RunInline());
  EXPECT_TRUE(job.Finished);
  EXPECT_EQ(job.TerminateCount, 1);

  const TFileSummary summary = Summarise(output);
  ASSERT_TRUE(summary.Opened);
  const TStreamSummary* audio = summary.First(AVMEDIA_TYPE_AUDIO);
  ASSERT_TRUE(audio);
  EXPECT_EQ(audio->CodecId, param.Set.Audio);
  EXPECT_EQ(audio->SampleRate, 44100);
  EXPECT_EQ(audio->Channels, 2);
  EXPECT_NEAR(static_cast<double>(audio->Samples) / audio->SampleRate, ClipSeconds, 0.1);
  if (param.Set.Video == AV_CODEC_ID_NONE) {
    EXPECT_EQ(summary.Count(AVMEDIA_TYPE_VIDEO), 0);
    return;
  }
  const TStreamSummary* video = summary.First(AVMEDIA_TYPE_VIDEO);
  ASSERT_TRUE(video);
  EXPECT_EQ(video->CodecId, param.Set.Video);
  EXPECT_EQ(video->Width, 160);
  EXPECT_EQ(video->Height, 120);
  const TFileSummary source = Summarise(input);
  EXPECT_NEAR(video->Frames, source.First(AVMEDIA_TYPE_VIDEO)->Frames, 1);
  EXPECT_NEAR(video->Duration(), source.First(AVMEDIA_TYPE_VIDEO)->Duration(), FrameSeconds + 1e-3);
  EXPECT_NEAR(audio->EndSec, video->EndSec, 0.1) << "audio and video end together";
}

INSTANTIATE_TEST_SUITE_P(CodecSets, ConversionTest, ::testing::ValuesIn(ConversionCases()),
                         [](const auto& info) {
                           return std::string(MediaKindInfo(info.param.Input).Name) + "To" +
                                  info.param.Set.Name;
                         });

TEST(Transcode, StreamCopyStartsAtKeyFrameAndKeepsEveryPacket) {
  const std::string input = Media().Clip(TMediaKind::Mp4);
  const std::string output = Media().FilePath("copy.mkv");
  TTranscodeJob job;
  ASSERT_TRUE(job.Prepare(input, "vcodec=copy\nacodec=copy", output));
  ASSERT_TRUE(job.RunInline());
  const TFileSummary source = Summarise(input);
  const TFileSummary copied = Summarise(output);
  ASSERT_TRUE(copied.First(AVMEDIA_TYPE_VIDEO) && copied.First(AVMEDIA_TYPE_AUDIO));
  EXPECT_TRUE(copied.First(AVMEDIA_TYPE_VIDEO)->FirstPacketKey);
  // The source's edit list hides its priming samples and last picture; the
  // copy carries every packet.
  EXPECT_NEAR(copied.First(AVMEDIA_TYPE_VIDEO)->Frames, source.First(AVMEDIA_TYPE_VIDEO)->Frames,
              1);
  EXPECT_NEAR(copied.First(AVMEDIA_TYPE_AUDIO)->Samples, source.First(AVMEDIA_TYPE_AUDIO)->Samples,
              1024);
  EXPECT_EQ(job.Stats.FramesDup + job.Stats.FramesDrop, 0);
}

TEST(Transcode, BitstreamFilterChainPassesEveryPacketOn) {
  const std::string input = Media().Clip(TMediaKind::Mp4);
  const std::string output = Media().FilePath("filtered.ts");
  TTranscodeJob job;
  ASSERT_TRUE(
      job.Prepare(input, "vcodec=copy\nvbsf=h264_mp4toannexb\nvbsf=null\nacodec=copy", output));
  ASSERT_TRUE(job.RunInline());
  const TFileSummary source = Summarise(input);
  const TFileSummary filtered = Summarise(output);
  ASSERT_TRUE(filtered.First(AVMEDIA_TYPE_VIDEO));
  EXPECT_TRUE(filtered.First(AVMEDIA_TYPE_VIDEO)->FirstPacketKey);
  EXPECT_NEAR(filtered.First(AVMEDIA_TYPE_VIDEO)->Frames, source.First(AVMEDIA_TYPE_VIDEO)->Frames,
              1);
}

struct TLimitCase {
  const char* Name;
  const char* Options;
  double VideoSeconds;  // expected length of the video output
  double Tolerance;
};

class LimitTest : public ::testing::TestWithParam<TLimitCase> {};

TEST_P(LimitTest, EndsTheConversionWhereTheLimitSays) {
  TMediaOptions options;
  options.DurationSec = 2;
  const std::string input = Media().Clip("two-seconds.avi", TMediaKind::Avi, options);
  const std::string output = Media().FilePath(std::string("limit-") + GetParam().Name + ".avi");
  TTranscodeJob job;
  ASSERT_TRUE(job.Prepare(
      input, std::string("vcodec=mpeg4\nacodec=pcm_s16le\n") + GetParam().Options, output));
  ASSERT_TRUE(job.RunInline());
  const TFileSummary summary = Summarise(output);
  const TStreamSummary* video = summary.First(AVMEDIA_TYPE_VIDEO);
  ASSERT_TRUE(video);
  EXPECT_NEAR(video->Frames * 0.04, GetParam().VideoSeconds, GetParam().Tolerance);
}

INSTANTIATE_TEST_SUITE_P(Limits, LimitTest,
                         ::testing::Values(TLimitCase{"Duration", "t=0.8", 0.8, 0.08},
                                           TLimitCase{"VideoFrames", "vframes=10", 0.4, 0.001},
                                           TLimitCase{"Seek", "ss=1.2", 0.8, 0.08}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(Transcode, FileSizeLimitStopsSoonAfterTheLimit) {
  TMediaOptions options;
  options.DurationSec = 2;
  const std::string input = Media().Clip("two-seconds.avi", TMediaKind::Avi, options);
  const std::string output = Media().FilePath("size-limit.avi");
  TTranscodeJob job;
  ASSERT_TRUE(job.Prepare(input, "vcodec=mpeg4\nacodec=pcm_s16le\nfs=60000", output));
  ASSERT_TRUE(job.RunInline());
  const TFileSummary summary = Summarise(output);
  EXPECT_GT(summary.Size, 60000);
  EXPECT_LT(summary.First(AVMEDIA_TYPE_VIDEO)->Frames, 45);
}

struct TRateCase {
  const char* Name;
  int InputRate;
  int OutputRate;
  int SyncMethod;  // -1: automatic
  int Frames;      // of one second
  int Duplicates;
  int Drops;
};

class FrameRateTest : public ::testing::TestWithParam<TRateCase> {};

TEST_P(FrameRateTest, DuplicatesOrDropsToTheOutputRate) {
  const TRateCase& rates = GetParam();
  TMediaOptions options;
  options.FrameRateNum = rates.InputRate;
  const std::string input = Media().Clip("rate-" + std::to_string(rates.InputRate) + ".avi",
                                         TMediaKind::VideoOnly, options);
  const std::string output = Media().FilePath(std::string("rate-") + rates.Name + ".avi");
  TTranscodeJob job;
  ASSERT_TRUE(job.Prepare(input,
                          "vcodec=mpeg4\nr=" + std::to_string(rates.OutputRate) +
                              "\nvsync=" + std::to_string(rates.SyncMethod),
                          output));
  ASSERT_TRUE(job.RunInline());
  const TFileSummary summary = Summarise(output);
  const TStreamSummary* video = summary.First(AVMEDIA_TYPE_VIDEO);
  ASSERT_TRUE(video);
  EXPECT_NEAR(video->Frames, rates.Frames, 2);
  EXPECT_NEAR(job.Stats.FramesDup, rates.Duplicates, 2);
  EXPECT_NEAR(job.Stats.FramesDrop, rates.Drops, 2);
}

INSTANTIATE_TEST_SUITE_P(Rates, FrameRateTest,
                         ::testing::Values(TRateCase{"25To50", 25, 50, -1, 50, 25, 0},
                                           TRateCase{"50To25", 50, 25, -1, 25, 0, 25},
                                           TRateCase{"25To50Passthrough", 25, 50, 0, 25, 0, 0},
                                           TRateCase{"25To50NoDuplicates", 25, 50, 2, 25, 0, 0},
                                           TRateCase{"50To25DropsOnly", 50, 25, 2, 25, 0, 25}),
                         [](const auto& info) { return std::string(info.param.Name); });

// Raw pictures make the geometry exact: the inside is the cropped input, the
// borders carry the pad colour.
TEST(Transcode, CropAndPadPlaceThePictureInsideThePadColour) {
  const std::string input = Media().Clip(TMediaKind::VideoOnly);
  const std::string output = Media().FilePath("crop-pad.avi");
  TTranscodeJob job;
  ASSERT_TRUE(job.Prepare(input,
                          "vcodec=rawvideo\npix_fmt=yuv420p\ncroptop=8\ncropleft=16\n"
                          "padtop=16\npadbottom=16\npadleft=32\npadright=32",
                          output));
  ASSERT_TRUE(job.RunInline());
  std::vector<uint8_t> sourceLuma;
  int sourceStride = 0;
  Summarise(input, [&](const AVFrame* picture, int index) {
    if (index != 3) return;
    sourceStride = picture->linesize[0];
    sourceLuma.assign(picture->data[0], picture->data[0] + sourceStride * picture->height);
  });
  int checked = 0;
  const TFileSummary summary = Summarise(output, [&](const AVFrame* picture, int index) {
    if (index != 3) return;
    ASSERT_EQ(picture->width, 160 - 16 + 64);
    ASSERT_EQ(picture->height, 120 - 8 + 32);
    EXPECT_EQ(picture->data[0][0], 16);
    EXPECT_EQ(picture->data[1][0], 128);
    EXPECT_EQ(picture->data[2][0], 128);
    EXPECT_EQ(picture->data[0][picture->linesize[0] * (picture->height - 1) + picture->width - 1],
              16);
    for (int y = 0; y < 112; y += 7)
      for (int x = 0; x < 144; x += 9) {
        ASSERT_EQ(picture->data[0][(16 + y) * picture->linesize[0] + 32 + x],
                  sourceLuma[(8 + y) * sourceStride + 16 + x])
            << "at " << x << "," << y;
        ++checked;
      }
  });
  ASSERT_FALSE(sourceLuma.empty());
  EXPECT_GT(checked, 0);
}

TEST(Transcode, TruncatedInputConvertsWhatCanBeDecoded) {
  const std::string source = Media().Clip(TMediaKind::Avi);
  const int64_t size = FileSizeOf(source);
  const std::string input = Media().Truncated("truncated.avi", source, size * 2 / 3);
  const std::string output = Media().FilePath("from-truncated.mp4");
  TTranscodeJob job;
  ASSERT_TRUE(job.Prepare(input, "vcodec=libx264\nacodec=aac", output));
  job.Start(false, tpNormal);
  EXPECT_EQ(job.TerminateCount, 1);
  const TFileSummary summary = Summarise(output);
  ASSERT_TRUE(summary.First(AVMEDIA_TYPE_VIDEO));
  EXPECT_GT(summary.First(AVMEDIA_TYPE_VIDEO)->Frames, 5);
}

TEST(Transcode, OneStreamFeedsACopiedAndAnEncodedOutput) {
  const std::string input = Media().Clip(TMediaKind::Mp4);
  TTranscodeJob job;
  ASSERT_TRUE(job.OpenInputFile(input));
  job.ApplyOptionText("vcodec=copy\nacodec=copy");
  ASSERT_TRUE(job.OpenOutputFile(Media().FilePath("both-copied.mkv")));
  job.ApplyOptionText("vcodec=mpeg4\nacodec=mp2");
  ASSERT_TRUE(job.OpenOutputFile(Media().FilePath("both-encoded.avi")));
  ASSERT_TRUE(job.RunInline());
  const int sourceFrames = Summarise(input).First(AVMEDIA_TYPE_VIDEO)->Frames;
  const TFileSummary copied = Summarise(Media().FilePath("both-copied.mkv"));
  const TFileSummary encoded = Summarise(Media().FilePath("both-encoded.avi"));
  ASSERT_TRUE(copied.First(AVMEDIA_TYPE_VIDEO) && encoded.First(AVMEDIA_TYPE_VIDEO));
  EXPECT_NEAR(copied.First(AVMEDIA_TYPE_VIDEO)->Frames, sourceFrames, 1);
  EXPECT_NEAR(encoded.First(AVMEDIA_TYPE_VIDEO)->Frames, sourceFrames, 1);
  EXPECT_NEAR(copied.First(AVMEDIA_TYPE_AUDIO)->Samples, encoded.First(AVMEDIA_TYPE_AUDIO)->Samples,
              2048);
}

TEST(Transcode, DeinterlacingKeepsThePictureSizeAndCount) {
  const std::string output = Media().FilePath("deinterlaced.avi");
  TTranscodeJob job;
  ASSERT_TRUE(
      job.Prepare(Media().Clip(TMediaKind::VideoOnly), "vcodec=mpeg4\ndeinterlace=1", output));
  ASSERT_TRUE(job.RunInline());
  EXPECT_FALSE(job.Logged("Deinterlacing failed."));
  const TFileSummary summary = Summarise(output);
  ASSERT_TRUE(summary.First(AVMEDIA_TYPE_VIDEO));
  EXPECT_EQ(summary.First(AVMEDIA_TYPE_VIDEO)->Width, 160);
  EXPECT_NEAR(summary.First(AVMEDIA_TYPE_VIDEO)->Frames, 25, 1);
}

TEST(Transcode, WriteFailureEndsTheJobWithTheMuxerMessage) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TTranscodeJob job;
  ASSERT_TRUE(job.OpenInputFile(Media().Clip(TMediaKind::Avi)));
  job.ApplyOptionText("f=avi\nvcodec=mpeg4\nacodec=pcm_s16le");
  ASSERT_TRUE(job.OpenOutputFile("/dev/full"));
  job.Start(false, tpNormal);
  EXPECT_TRUE(job.HasError);
  EXPECT_EQ(job.ErrorMessage.rfind("av_interleaved_write_frame(): ", 0), 0u) << job.ErrorMessage;
  EXPECT_EQ(job.TerminateCount, 1);
  EXPECT_TRUE(job.OpenEncoders.empty() && job.OpenDecoders.empty());
}

// Thread count 0 lets the libraries choose; frame threads delay the pictures.
TEST(Transcode, LibraryChosenCodecThreadsKeepEveryPicture) {
  const std::string input = Media().Clip(TMediaKind::Mp4);
  const std::string output = Media().FilePath("auto-threads.mp4");
  TTranscodeJob job;
  job.Runtime.ThreadCount = 0;
  ASSERT_TRUE(job.Prepare(input, "vcodec=libx264\nacodec=aac", output));
  ASSERT_TRUE(job.RunInline());
  EXPECT_EQ(job.Stats.FramesDup + job.Stats.FramesDrop, 0);
  const TFileSummary summary = Summarise(output);
  ASSERT_TRUE(summary.First(AVMEDIA_TYPE_VIDEO));
  EXPECT_NEAR(summary.First(AVMEDIA_TYPE_VIDEO)->Frames,
              Summarise(input).First(AVMEDIA_TYPE_VIDEO)->Frames, 1);
}
