// Target presets: norm detection, and what each target sets.
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "Src/FFMpegException.h"
#include "binding/AVFormatHlpr.h"
#include "platform/Exception.h"

namespace {
std::string MessageOf(TCustomFFmpeg& job, const char* target) {
  try {
    job.SetOption("target", target);
  } catch (const Exception& e) {
    return e.what();
  }
  return "";
}

AVCodecContext* VideoOptions(const TCustomFFmpeg& job) {
  return job.Generic.CodecOptionContexts[AVMEDIA_TYPE_VIDEO];
}

std::string RateOf(const TCustomFFmpeg& job) {
  return std::to_string(job.Video.VideoFrameRate.num) + "/" +
         std::to_string(job.Video.VideoFrameRate.den);
}

std::string SizeOf(const TCustomFFmpeg& job) {
  return std::to_string(job.Video.FrameWidth) + "x" + std::to_string(job.Video.FrameHeight);
}

std::string MuxerOption(const TCustomFFmpeg& job, const char* name) {
  const AVDictionaryEntry* entry =
      AVUtilApi.av_dict_get(job.Generic.MuxerPrivateOptions, name, nullptr, 0);
  return entry ? entry->value : "(none)";
}

// An opened input as far as norm detection looks at it: one audio stream and
// one video stream at the given rate.
void AddInputWithVideoRate(TCustomFFmpeg& job, AVRational rate) {
  AVFormatContext* input = AVFormatApi.avformat_alloc_context();
  AVFormatApi.avformat_new_stream(input, nullptr)->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
  AVStream* video = AVFormatApi.avformat_new_stream(input, nullptr);
  video->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
  video->avg_frame_rate = rate;
  job.Files.InputFiles[job.Files.InputFileCount++] = input;
}
}  // namespace

TEST(TargetPresets, NormsGiveSizesRatesAndGroupSizes) {
  const struct {
    const char* Target;
    const char* Size;
    const char* Rate;
    int GopSize;
  } cases[] = {
      {"pal-vcd", "352x288", "25/1", 15},         {"ntsc-vcd", "352x240", "30000/1001", 18},
      {"film-vcd", "352x240", "24000/1001", 18},  {"pal-svcd", "480x576", "25/1", 15},
      {"ntsc-svcd", "480x480", "30000/1001", 18}, {"film-dvd", "720x480", "24000/1001", 18},
      {"pal-dvd", "720x576", "25/1", 15},         {" ntsc-dv\t", "720x480", "30000/1001", 12},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Target);
    TRecordingJob job;
    job.SetOption("target", c.Target);
    EXPECT_EQ(SizeOf(job), c.Size);
    EXPECT_EQ(RateOf(job), c.Rate);
    EXPECT_EQ(VideoOptions(job)->gop_size, c.GopSize);
    EXPECT_FALSE(job.Logged("Assuming PAL for target."));
    EXPECT_FALSE(job.Logged("Assuming NTSC for target."));
  }
}

TEST(TargetPresets, VcdSettings) {
  TRecordingJob job;
  job.ApplyOptionText("ac=1\nar=22050\nmuxpreload=2");
  job.SetOption("target", "pal-vcd");
  EXPECT_EQ(job.Video.VideoCodecName, "mpeg1video");
  EXPECT_EQ(job.Audio.AudioCodecName, "mp2");
  ASSERT_TRUE(job.Formats.ForcedOutputFormat);
  EXPECT_STREQ(job.Formats.ForcedOutputFormat->name, "vcd");
  EXPECT_EQ(VideoOptions(job)->bit_rate, 1150000);
  EXPECT_EQ(VideoOptions(job)->rc_max_rate, 1150000);
  EXPECT_EQ(VideoOptions(job)->rc_min_rate, 1150000);
  EXPECT_EQ(VideoOptions(job)->rc_buffer_size, 327680);
  EXPECT_EQ(job.Generic.CodecOptionContexts[AVMEDIA_TYPE_AUDIO]->bit_rate, 224000);
  EXPECT_EQ(job.Generic.FormatOptionContext->packet_size, 2324u);
  EXPECT_EQ(MuxerOption(job, "muxrate"), "1411200");
  EXPECT_EQ(job.Audio.AudioSampleRate, 44100);
  EXPECT_EQ(job.Audio.AudioChannels, 2);
  EXPECT_FLOAT_EQ(job.Mux.MuxPreload, 0.44f);
  EXPECT_NEAR(job.Video.FrameAspectRatio, 4.0 / 3, 1e-6);
  EXPECT_EQ(job.Lines, (std::vector<TLogLine>{{1, "Assuming 4:3 for aspect ratio"}}));
}

TEST(TargetPresets, SvcdAndDvdSettings) {
  for (int channels : {1, 6}) {
    SCOPED_TRACE(channels);
    TRecordingJob svcd;
    svcd.SetOption("ac", std::to_string(channels));
    svcd.SetOption("target", "ntsc-svcd");
    EXPECT_STREQ(svcd.Formats.ForcedOutputFormat->name, "svcd");
    EXPECT_EQ(svcd.Video.VideoCodecName, "mpeg2video");
    EXPECT_EQ(VideoOptions(svcd)->rc_max_rate, 2516000);
    const AVDictionaryEntry* scanOffset = AVUtilApi.av_dict_get(
        svcd.Generic.EncoderPrivateOptions[AVMEDIA_TYPE_VIDEO], "scan_offset", nullptr, 0);
    ASSERT_TRUE(scanOffset);
    EXPECT_STREQ(scanOffset->value, "1");
    EXPECT_EQ(svcd.Audio.AudioChannels, channels == 1 ? 2 : 6);
    EXPECT_EQ(MuxerOption(svcd, "muxrate"), "(none)");

    TRecordingJob dvd;
    dvd.SetOption("ac", std::to_string(channels));
    dvd.SetOption("target", "pal-dvd");
    EXPECT_EQ(dvd.Audio.AudioCodecName, "ac3");
    EXPECT_EQ(VideoOptions(dvd)->bit_rate, 6000000);
    EXPECT_EQ(dvd.Generic.CodecOptionContexts[AVMEDIA_TYPE_AUDIO]->bit_rate, 448000);
    EXPECT_EQ(dvd.Generic.FormatOptionContext->packet_size, 2048u);
    EXPECT_EQ(MuxerOption(dvd, "muxrate"), "10080000");
    EXPECT_EQ(dvd.Audio.AudioSampleRate, 48000);
    EXPECT_EQ(dvd.Audio.AudioChannels, channels == 1 ? 2 : 6);
    EXPECT_NEAR(dvd.Video.FrameAspectRatio, 16.0 / 9, 1e-6);
    EXPECT_TRUE(dvd.Logged("Assuming 16:9 for aspect ratio"));
  }
}

TEST(TargetPresets, DvSampling) {
  const struct {
    const char* Target;
    AVPixelFormat PixFmt;
  } cases[] = {{"pal-dv", AV_PIX_FMT_YUV420P},
               {"ntsc-dv", AV_PIX_FMT_YUV411P},
               {"film-dv", AV_PIX_FMT_YUV411P},
               {"pal-dv50", AV_PIX_FMT_YUV422P},
               {"ntsc-dv50", AV_PIX_FMT_YUV422P}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Target);
    TRecordingJob job;
    job.ApplyOptionText("ac=1\nar=8000");
    job.SetOption("target", c.Target);
    EXPECT_EQ(job.Video.FramePixFmt, c.PixFmt);
    EXPECT_STREQ(job.Formats.ForcedOutputFormat->name, "dv");
    EXPECT_EQ(job.Audio.AudioSampleRate, 48000);
    EXPECT_EQ(job.Audio.AudioChannels, 2);
    EXPECT_FALSE(job.Video.VideoCodecName);
    EXPECT_EQ(job.Video.FrameAspectRatio, 0);
  }
}

TEST(TargetPresets, AspectGivenBeforeStays) {
  TRecordingJob job;
  job.ApplyOptionText("aspect=16:9\ntarget=pal-vcd");
  EXPECT_NEAR(job.Video.FrameAspectRatio, 16.0 / 9, 1e-6);
  EXPECT_TRUE(job.Lines.empty());
}

TEST(TargetPresets, NormDetectedFromTheFrameRate) {
  const struct {
    const char* Rate;
    const char* Log;
    const char* Size;
  } cases[] = {
      {"25", "Assuming PAL for target.", "352x288"},
      {"30000/1001", "Assuming NTSC for target.", "352x240"},
      {"24000/1001", "Assuming NTSC for target.", "352x240"},
      {"30", "Assuming NTSC for target.", "352x240"},  // no norm: the option's fallback
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Rate);
    TRecordingJob job;
    job.SetOption("r", c.Rate);
    job.SetOption("target", "vcd");
    EXPECT_EQ(SizeOf(job), c.Size);
    EXPECT_EQ(job.Lines.front(), (TLogLine{1, c.Log}));
  }
  TLogLevelGuard keepLevels;
  TRecordingJob quiet;
  quiet.ApplyOptionText("v=0\nr=25\ntarget=vcd");
  EXPECT_EQ(quiet.Lines, (std::vector<TLogLine>{{1, "Assuming 4:3 for aspect ratio"}}));
}

TEST(TargetPresets, FallbackNorms) {
  const struct {
    const char* Fallback;
    const char* Rate;
  } cases[] = {{"pal", "25/1"}, {"ntsc", "30000/1001"}, {"film", "24000/1001"}, {"x", "25/1"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Fallback);
    TRecordingJob job;
    job.SetOption("r", "30");
    job.ApplyTarget("dvd", "auto", c.Fallback);
    EXPECT_EQ(RateOf(job), c.Rate);
  }
}

TEST(TargetPresets, NormDetectedFromOpenedInputs) {
  TRecordingJob job;
  job.SetOption("r", "30");
  AddInputWithVideoRate(job, {30, 1});
  AddInputWithVideoRate(job, {25, 1});
  AddInputWithVideoRate(job, {30000, 1001});
  job.SetOption("target", "dvd");
  EXPECT_EQ(SizeOf(job), "720x576");
  EXPECT_TRUE(job.Logged("Assuming PAL for target."));

  TRecordingJob ntsc;
  ntsc.SetOption("r", "50");
  AddInputWithVideoRate(ntsc, {0, 0});
  AddInputWithVideoRate(ntsc, {24000, 1001});
  ntsc.ApplyTarget("dvd", "auto", "pal");
  EXPECT_EQ(SizeOf(ntsc), "720x480");
}

TEST(TargetPresets, Failures) {
  TRecordingJob job;
  EXPECT_EQ(MessageOf(job, "vcd"), "frame_rate is invalid.");
  EXPECT_EQ(MessageOf(job, "DVD"), "frame_rate is invalid.");  // the norm is decided first
  EXPECT_EQ(MessageOf(job, "pal-DVD"), "Unknown target type");
  EXPECT_EQ(MessageOf(job, "PAL-dvd"), "frame_rate is invalid.");
  EXPECT_EQ(MessageOf(job, "pal-"), "Unknown target type");
  EXPECT_FALSE(job.Formats.ForcedOutputFormat);
  EXPECT_TRUE(job.Lines.empty());
}
