// The set-up of a transcode: its failures with their messages, the choice of
// source streams, the mapping report and two-pass log files.
#include "TranscodeTestSupport.h"
#include "platform/Files.h"

namespace {
TMediaFolder& Media() {
  static TMediaFolder folder("tavrelle-setup");
  return folder;
}
}  // namespace

struct TSetupFailureCase {
  const char* Name;
  TMediaKind Input;
  std::string Options;
  const char* Output;
  std::string Message;
};

class SetupFailureTest : public ::testing::TestWithParam<TSetupFailureCase> {};

TEST_P(SetupFailureTest, FailsWithItsMessageAndReleasesEverything) {
  const TSetupFailureCase& param = GetParam();
  TTranscodeJob job;
  const std::string output = Media().FilePath(std::string("fail-") + param.Name + param.Output);
  ASSERT_TRUE(job.Prepare(Media().Clip(param.Input), param.Options, output));
  job.Start(false, tpNormal);
  EXPECT_TRUE(job.HasError);
  EXPECT_EQ(job.ErrorMessage, param.Message);
  EXPECT_EQ(job.TerminateCount, 1);
  EXPECT_TRUE(job.OpenEncoders.empty() && job.OpenDecoders.empty());
  EXPECT_EQ(job.Files.OutputFileCount + job.Files.InputFileCount, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, SetupFailureTest,
    ::testing::Values(
        TSetupFailureCase{"MapCount", TMediaKind::Mp4, "map=0:0\nmap=0:1\nmap=0:1", ".mp4",
                          "Number of stream maps must match number of output streams"},
        TSetupFailureCase{"MapStream", TMediaKind::Mp4, "map=0:0\nmap=0:2", ".mp4",
                          "Could not find input stream #0.2"},
        TSetupFailureCase{"SyncStream", TMediaKind::Mp4, "map=0:0\nmap=0:1:0:5", ".mp4",
                          "Could not find sync stream #0.5"},
        TSetupFailureCase{"KindMismatch", TMediaKind::Mp4, "map=0:1\nmap=0:0", ".mp4",
                          "Codec type mismatch for mapping #0.1 -> #0.0"},
        TSetupFailureCase{"CopyWithVolume", TMediaKind::Mp4, "acodec=copy\nvol=512", ".mp4",
                          "-acodec copy and -vol are incompatible (frames are not decoded)"},
        TSetupFailureCase{"MetaDataOutput", TMediaKind::Mp4, "map_meta_data=3:0", ".mp4",
                          "Invalid output file index 3 map_meta_data(3,0)"},
        TSetupFailureCase{"MetaDataInput", TMediaKind::Mp4, "map_meta_data=0:4", ".mp4",
                          "Invalid input file index 4 map_meta_data(0,4)"},
        TSetupFailureCase{"NoSuchProgram", TMediaKind::TransportStream, "programid=9", ".ts",
                          "Could not find input stream matching output stream #0.0"},
        TSetupFailureCase{"PassTwoWithoutLog", TMediaKind::Avi,
                          "vcodec=mpeg4\npass=2\npasslogfile=" + Media().FilePath("missing-log"),
                          ".avi",
                          "creat open fail: " + Media().FilePath("missing-log") + "-0.log"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(TranscodeSetup, ReportsTheMappingWithSyncStreams) {
  TTranscodeJob job;
  ASSERT_TRUE(job.Prepare(Media().Clip(TMediaKind::Mp4), "map=0:0:0:1\nmap=0:1",
                          Media().FilePath("mapping.mp4")));
  ASSERT_TRUE(job.RunInline());
  const std::vector<TLogLine> expected{{1, "Stream mapping:"},
                                       {1, "  Stream #0.0 -> #0.0"},
                                       {1, " [sync #0.1]"},
                                       {1, "  Stream #0.1 -> #0.1"}};
  auto first = std::find(job.Lines.begin(), job.Lines.end(), expected[0]);
  ASSERT_NE(first, job.Lines.end());
  ASSERT_GE(job.Lines.end() - first, 4);
  EXPECT_EQ(std::vector<TLogLine>(first, first + 4), expected);
}

TEST(TranscodeSetup, TwoOutputsOfOneKindShareTheOnlyInputStream) {
  TTranscodeJob job;
  ASSERT_TRUE(job.OpenInputFile(Media().Clip(TMediaKind::Wav)));
  job.ApplyOptionText("acodec=pcm_s16le");
  ASSERT_TRUE(job.OpenOutputFile(Media().FilePath("first.wav")));
  job.ApplyOptionText("acodec=pcm_s16le");
  ASSERT_TRUE(job.OpenOutputFile(Media().FilePath("second.wav")));
  ASSERT_TRUE(job.RunInline());
  EXPECT_TRUE(job.Logged("  Stream #0.0 -> #0.0"));
  EXPECT_TRUE(job.Logged("  Stream #0.0 -> #1.0"));
  for (const char* name : {"first.wav", "second.wav"}) {
    const TFileSummary summary = Summarise(Media().FilePath(name));
    ASSERT_TRUE(summary.First(AVMEDIA_TYPE_AUDIO)) << name;
    EXPECT_NEAR(summary.First(AVMEDIA_TYPE_AUDIO)->Samples, 44100, 100) << name;
  }
}

TEST(TranscodeSetup, TwoPassesShareTheirLogFile) {
  const std::string log = Media().FilePath("two-pass");
  for (int pass = 1; pass <= 2; ++pass) {
    TTranscodeJob job;
    ASSERT_TRUE(
        job.Prepare(Media().Clip(TMediaKind::VideoOnly),
                    "vcodec=mpeg4\nb=200k\npass=" + std::to_string(pass) + "\npasslogfile=" + log,
                    Media().FilePath("pass-" + std::to_string(pass) + ".avi")));
    ASSERT_TRUE(job.RunInline()) << "pass " << pass;
    if (pass == 1) {
      EXPECT_GT(FileSizeOf(log + "-0.log"), 0);
    }
  }
  const TFileSummary summary = Summarise(Media().FilePath("pass-2.avi"));
  ASSERT_TRUE(summary.First(AVMEDIA_TYPE_VIDEO));
  EXPECT_NEAR(summary.First(AVMEDIA_TYPE_VIDEO)->Frames, 25, 1);
}
