// The audio path: resampling, channel change, sample-format conversion,
// frame-based and sample-based encoders, and synchronisation.
#include <cmath>

#include "TranscodeTestSupport.h"

namespace {
TMediaFolder& Media() {
  static TMediaFolder folder("tavrelle-audio");
  return folder;
}

std::string Tone(int rate, int channels, double seconds = 1.0) {
  TMediaOptions options;
  options.SampleRate = rate;
  options.Channels = channels;
  options.DurationSec = seconds;
  return Media().Clip("tone-" + std::to_string(rate) + "-" + std::to_string(channels) + ".wav",
                      TMediaKind::Wav, options);
}
}  // namespace

struct TAudioCase {
  const char* Name;
  int InputRate;
  int InputChannels;
  const char* Options;
  const char* Extension;
  AVCodecID Codec;
  int Rate;
  int Channels;
};

class AudioConversionTest : public ::testing::TestWithParam<TAudioCase> {};

TEST_P(AudioConversionTest, DeliversEverySecondOfSound) {
  const TAudioCase& param = GetParam();
  const std::string output = Media().FilePath(std::string("out-") + param.Name + param.Extension);
  TTranscodeJob job;
  ASSERT_TRUE(job.Prepare(Tone(param.InputRate, param.InputChannels), param.Options, output));
  ASSERT_TRUE(job.RunInline());
  const TFileSummary summary = Summarise(output);
  const TStreamSummary* audio = summary.First(AVMEDIA_TYPE_AUDIO);
  ASSERT_TRUE(audio);
  EXPECT_EQ(audio->CodecId, param.Codec);
  EXPECT_EQ(audio->SampleRate, param.Rate);
  EXPECT_EQ(audio->Channels, param.Channels);
  // Encoder delay and the padded last frame account for up to two frames.
  EXPECT_NEAR(static_cast<double>(audio->Samples) / param.Rate, 1.0, 0.1);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, AudioConversionTest,
    ::testing::Values(TAudioCase{"Resample48To44", 48000, 2, "acodec=pcm_s16le\nar=44100", ".wav",
                                 AV_CODEC_ID_PCM_S16LE, 44100, 2},
                      TAudioCase{"MonoToStereo", 44100, 1, "acodec=pcm_s16le\nac=2", ".wav",
                                 AV_CODEC_ID_PCM_S16LE, 44100, 2},
                      TAudioCase{"StereoToMono", 44100, 2, "acodec=libmp3lame\nac=1", ".mp3",
                                 AV_CODEC_ID_MP3, 44100, 1},
                      TAudioCase{"PlanarFloatEncoder", 22050, 1, "acodec=aac\nar=44100\nac=2",
                                 ".m4a", AV_CODEC_ID_AAC, 44100, 2},
                      TAudioCase{"FixedFrames", 44100, 2, "acodec=mp2\nar=48000", ".mp2",
                                 AV_CODEC_ID_MP2, 48000, 2},
                      TAudioCase{"PlanarIntoPcm", 44100, 2, "acodec=wmav2\nab=64k", ".wma",
                                 AV_CODEC_ID_WMAV2, 44100, 2}),
    [](const auto& info) { return std::string(info.param.Name); });

// The sound of the second input starts half a second after the pictures;
// with -async 1 the gap becomes silence at the start of the output.
TEST(AudioOut, SynchronisationFillsALateStartWithSilence) {
  TMediaOptions pictures;
  pictures.DurationSec = 1.5;
  const std::string video = Media().Clip("pictures.avi", TMediaKind::VideoOnly, pictures);
  const std::string output = Media().FilePath("late-sound.avi");
  TLogLevelGuard levels;
  TTranscodeJob job;
  ASSERT_TRUE(job.OpenInputFile(video));
  job.ApplyOptionText("itsoffset=0.5");
  ASSERT_TRUE(job.OpenInputFile(Tone(44100, 2)));
  job.ApplyOptionText("vcodec=mpeg4\nacodec=pcm_s16le\nasync=1\nv=3");
  ASSERT_TRUE(job.OpenOutputFile(output));
  ASSERT_TRUE(job.RunInline());
  bool silenceLogged = false;
  for (const TLogLine& line : job.Lines) silenceLogged |= line.Text.rfind("adding ", 0) == 0;
  EXPECT_TRUE(silenceLogged);
  const TFileSummary summary = Summarise(output);
  const TStreamSummary* audio = summary.First(AVMEDIA_TYPE_AUDIO);
  ASSERT_TRUE(audio);
  EXPECT_NEAR(static_cast<double>(audio->Samples) / 44100, 1.5, 0.05);
  EXPECT_NEAR(summary.First(AVMEDIA_TYPE_VIDEO)->Frames, 1.5 * 25, 1);
}

namespace {
// The largest magnitude of the first channel, as a fraction of full scale.
double Peak(const std::string& fileName) {
  double peak = 0;
  Summarise(fileName, {}, [&peak](const AVFrame* frame) {
    const auto format = static_cast<AVSampleFormat>(frame->format);
    for (int sample = 0; sample < frame->nb_samples; ++sample) {
      double value = 0;
      if (format == AV_SAMPLE_FMT_S16)
        value = reinterpret_cast<const int16_t*>(frame->data[0])[sample * 2] / 32768.0;
      else if (format == AV_SAMPLE_FMT_FLTP)
        value = reinterpret_cast<const float*>(frame->data[0])[sample];
      peak = std::max(peak, std::fabs(value));
    }
  });
  return peak;
}
}  // namespace

struct TVolumeCase {
  const char* Name;
  TMediaKind Input;  // s16 or planar float from the decoder
  int Volume;
};

class VolumeTest : public ::testing::TestWithParam<TVolumeCase> {};

TEST_P(VolumeTest, ScalesTheSoundInTheDecodersFormat) {
  const TVolumeCase& param = GetParam();
  const std::string input = Media().Clip(param.Input);
  const std::string output = Media().FilePath(std::string("volume-") + param.Name + ".wav");
  TTranscodeJob job;
  ASSERT_TRUE(
      job.Prepare(input, "vn=1\nacodec=pcm_s16le\nvol=" + std::to_string(param.Volume), output));
  ASSERT_TRUE(job.RunInline());
  const double before = Peak(input);
  ASSERT_GT(before, 0.05);
  EXPECT_NEAR(Peak(output), std::min(1.0, before * param.Volume / 256), 0.02);
}

INSTANTIATE_TEST_SUITE_P(Volumes, VolumeTest,
                         ::testing::Values(TVolumeCase{"HalfFromPcm", TMediaKind::Wav, 128},
                                           TVolumeCase{"DoubleFromPcm", TMediaKind::Wav, 512},
                                           TVolumeCase{"HalfFromFloat", TMediaKind::Mp4, 128}),
                         [](const auto& info) { return std::string(info.param.Name); });
