// Progress events, the text line without a progress handler, the size
// summary and the video statistics file.
#include <fstream>

#include "TranscodeTestSupport.h"

namespace {
TMediaFolder& Media() {
  static TMediaFolder folder("tavrelle-progress");
  return folder;
}
}  // namespace

TEST(ProgressReport, AudioOnlyJobReportsNoPicturesAndItsPosition) {
  TTranscodeJob job;
  job.RecordProgress();
  job.ReportInterval = 0;
  ASSERT_TRUE(job.Prepare(Media().Clip(TMediaKind::Wav), "acodec=libmp3lame",
                          Media().FilePath("audio.mp3")));
  ASSERT_TRUE(job.RunInline());
  ASSERT_FALSE(job.Progress.empty());
  int previous = 0;
  for (const auto& progress : job.Progress) {
    EXPECT_EQ(progress.Frame, -1);
    EXPECT_EQ(progress.Fps, -1);
    EXPECT_FLOAT_EQ(progress.Quality, -1);
    EXPECT_EQ(progress.TotalMs, 1000);
    EXPECT_GE(progress.CurrentMs, previous);
    previous = progress.CurrentMs;
  }
  EXPECT_NEAR(job.Progress.back().CurrentMs, 1000, 60);
  EXPECT_GT(job.Progress.back().Size, 0);
  EXPECT_NEAR(job.Progress.back().BitRate,
              job.Progress.back().Size * 8.0 / (job.Progress.back().CurrentMs / 1000.0) / 1000,
              0.5);
}

TEST(ProgressReport, VideoJobReportsFramesQualityAndTheRequestedDuration) {
  TTranscodeJob job;
  job.RecordProgress();
  job.ReportInterval = 0;
  ASSERT_TRUE(job.Prepare(Media().Clip(TMediaKind::Avi), "an=1\nvcodec=mpeg4\nqscale=4\nt=0.6",
                          Media().FilePath("video.avi")));
  ASSERT_TRUE(job.RunInline());
  ASSERT_FALSE(job.Progress.empty());
  int previousFrame = 0;
  for (const auto& progress : job.Progress) {
    EXPECT_GE(progress.Frame, std::max(1, previousFrame));
    EXPECT_GE(progress.Fps, 0);
    EXPECT_EQ(progress.TotalMs, 600);
    previousFrame = progress.Frame;
  }
  EXPECT_EQ(job.Progress.back().Frame, 15);
  EXPECT_NEAR(job.Progress.back().Quality, 4, 0.01);
}

TEST(ProgressReport, TextLineAndSummaryWithoutProgressHandler) {
  TTranscodeJob job;
  job.Diagnostics.Verbosity = 2;
  ASSERT_TRUE(job.Prepare(Media().Clip(TMediaKind::Avi), "vcodec=mpeg4\nacodec=pcm_s16le",
                          Media().FilePath("text.avi")));
  ASSERT_TRUE(job.RunInline());
  const TLogLine* last = nullptr;
  const TLogLine* summary = nullptr;
  for (const TLogLine& line : job.Lines) {
    if (line.Text.rfind("frame=", 0) == 0) last = &line;
    if (line.Text.rfind("video:", 0) == 0) summary = &line;
  }
  ASSERT_TRUE(last && summary);
  EXPECT_EQ(last->Level, 1);
  EXPECT_NE(last->Text.find("L"), std::string::npos);
  EXPECT_NE(last->Text.find("size="), std::string::npos);
  EXPECT_NE(last->Text.find(" dup=0 drop=0"), std::string::npos) << last->Text;
  EXPECT_NE(summary->Text.find("audio:"), std::string::npos);
  EXPECT_NE(summary->Text.find("muxing overhead "), std::string::npos);
  EXPECT_EQ(summary->Text.substr(summary->Text.size() - 3), "%\r\n");
}

TEST(ProgressReport, VideoStatisticsFileHasALinePerEncodedFrame) {
  const std::string statistics = Media().FilePath("vstats.log");
  TTranscodeJob job;
  ASSERT_TRUE(job.Prepare(Media().Clip(TMediaKind::VideoOnly),
                          "vcodec=mpeg4\nvstats_file=" + statistics,
                          Media().FilePath("vstats.avi")));
  ASSERT_TRUE(job.RunInline());
  const std::vector<std::string> lines = FileLines(statistics);
  ASSERT_EQ(lines.size(), 25u);
  EXPECT_EQ(lines[0].rfind("frame=     1 q= ", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find("type= I"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("type= P"), std::string::npos) << lines[1];
}
