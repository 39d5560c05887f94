// Construction, Reset and Cleanup of a job: defaults, option contexts and
// the library objects a job owns.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "EngineTestSupport.h"
#include "binding/AVFormatHlpr.h"

namespace fs = std::filesystem;

namespace {
fs::path TempFile(const std::string& name) {
  return fs::temp_directory_path() / ("tavrelle-" + std::to_string(getpid()) + "-" + name);
}

// An output as output creation leaves it: the format context, and the
// target file opened for writing when open is set.
AVFormatContext* NewOutput(const fs::path& file, bool open) {
  AVFormatContext* output = nullptr;
  AVFormatApi.avformat_alloc_output_context2(&output, nullptr, "avi", file.c_str());
  if (output && open) AVFormatApi.avio_open(&output->pb, file.c_str(), AVIO_FLAG_WRITE);
  return output;
}
}  // namespace

TEST(JobLifecycle, ConstructionGivesDefaultsWithoutContexts) {
  TCustomFFmpeg job;
  EXPECT_EQ(job.ReportInterval, 500000);
  EXPECT_EQ(job.OutputDurationMs, -1);
  EXPECT_FALSE(job.Running || job.StopFlag || job.Finished || job.Terminated || job.HasError);
  EXPECT_EQ(job.Audio.AudioSampleRate, 44100);
  EXPECT_EQ(job.Timing.RecordingTimeUs, INT64_MAX);
  EXPECT_EQ(job.Timing.MaxFrames[0], INT_MAX);
  EXPECT_EQ(job.Video.IntraDcPrecision, 8);
  EXPECT_FLOAT_EQ(job.Audio.AudioQScale, -99999);
  EXPECT_EQ(job.Generic.FormatOptionContext, nullptr);
  for (AVCodecContext* context : job.Generic.CodecOptionContexts) EXPECT_EQ(context, nullptr);
}

TEST(JobLifecycle, ResetAllocatesFreshContextsAndDefaults) {
  TRecordingJob job;
  for (int kind = 0; kind < MediaKindCount; ++kind) {
    ASSERT_TRUE(job.Generic.CodecOptionContexts[kind]);
    EXPECT_EQ(job.Generic.CodecOptionContexts[kind]->codec_type, kind);
  }
  ASSERT_TRUE(job.Generic.FormatOptionContext);
  ASSERT_TRUE(job.Generic.ScalerOptionContext);
  int64_t scalerFlags = 0;
  AVUtilApi.av_opt_get_int(job.Generic.ScalerOptionContext, "sws_flags", 0, &scalerFlags);
  EXPECT_EQ(scalerFlags, job.Runtime.ScalerFlags);

  job.ApplyOptionText("g=30\npreset=slow\nloop=0\nvcodec=mpeg4\ns=640x480\nvstats_file=x\nt=5");
  job.Video.IntraMatrix.emplace();
  job.HasError = true;
  job.Terminated = true;
  job.Reset();
  EXPECT_NE(job.Generic.CodecOptionContexts[AVMEDIA_TYPE_VIDEO]->gop_size, 30);
  EXPECT_TRUE(job.Generic.RecordedOptionNames.empty());
  EXPECT_EQ(job.Generic.EncoderPrivateOptions[AVMEDIA_TYPE_VIDEO], nullptr);
  EXPECT_EQ(job.Generic.MuxerPrivateOptions, nullptr);
  EXPECT_FALSE(job.Video.VideoCodecName);
  EXPECT_FALSE(job.Video.IntraMatrix);
  EXPECT_FALSE(job.Stats.VstatsFileName);
  EXPECT_EQ(job.Video.FrameWidth, 0);
  EXPECT_EQ(job.OutputDurationMs, -1);
  EXPECT_FALSE(job.HasError || job.Terminated);
  EXPECT_TRUE(job.OnJobLog) << "events stay assigned";
}

TEST(JobLifecycle, CleanupReleasesFilesAndDeletesEmptyOutputs) {
  const fs::path empty = TempFile("empty.avi");
  const fs::path written = TempFile("written.avi");
  std::ofstream(written) << "not empty";
  TRecordingJob job;
  job.Files.OutputFiles[0] = NewOutput(empty, true);
  job.Files.OutputFiles[1] = NewOutput(written, false);
  job.Files.OutputFileCount = 2;
  job.Files.InputFiles[0] = AVFormatApi.avformat_alloc_context();
  job.Files.InputFileCount = 1;
  ASSERT_TRUE(fs::exists(empty));

  job.LastError = "kept";
  job.Cleanup();
  EXPECT_FALSE(fs::exists(empty));
  EXPECT_TRUE(fs::exists(written));
  EXPECT_EQ(job.Files.OutputFileCount + job.Files.InputFileCount, 0);
  EXPECT_EQ(job.Files.OutputFiles[0], nullptr);
  EXPECT_EQ(job.Files.InputFiles[0], nullptr);
  EXPECT_EQ(job.Generic.FormatOptionContext, nullptr);
  EXPECT_EQ(job.LastError, "kept");
  fs::remove(written);
}
