// Creating outputs: the streams an output gets, the encoder settings that
// the options give, the muxer settings, the target file, the release at
// cleanup, and every failure with its message.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "binding/AVFormatHlpr.h"
#include "platform/Files.h"
#include "tests/media/MediaGen.h"

namespace fs = std::filesystem;

namespace {
TMediaFolder& Media() {
  static TMediaFolder folder("tavrelle-output");
  return folder;
}

// A job with the clip of that kind opened.
class TOpenedJob : public TRecordingJob {
 public:
  explicit TOpenedJob(TMediaKind kind) {
    const bool opened = OpenInputFile(Media().Clip(kind));
    EXPECT_TRUE(opened) << LastError;
  }
};

// Each test writes its own targets.
std::string Target(const std::string& name) {
  const std::string fileName = Media().FilePath(name);
  fs::remove(fileName);
  return fileName;
}

const AVCodecContext* Encoder(const TCustomFFmpeg& job, int stream) {
  return job.OutputEncoderContext(0, stream);
}

std::vector<AVMediaType> StreamKinds(const TCustomFFmpeg& job) {
  std::vector<AVMediaType> kinds;
  for (const TOutputStreamState& stream : job.FileStreams.Outputs[0].Streams)
    kinds.push_back(stream.Encoder->codec_type);
  return kinds;
}

std::string MetadataText(AVDictionary* metadata, const char* key) {
  const AVDictionaryEntry* entry = AVUtilApi.av_dict_get(metadata, key, nullptr, 0);
  return entry ? entry->value : "";
}

// 64 equal coefficients.
std::string MatrixText(int coefficient) {
  std::string text = std::to_string(coefficient);
  for (int i = 1; i < 64; ++i) text += "," + std::to_string(coefficient);
  return text;
}

int64_t PrivateNumber(void* object, const char* name) {
  int64_t value = -12345;
  AVUtilApi.av_opt_get_int(object, name, 0, &value);
  return value;
}
}  // namespace

TEST(OutputCreation, AviGetsTheFormatsDefaultStreamsFromTheInput) {
  TOpenedJob job(TMediaKind::Avi);
  const std::string target = Target("default.avi");
  ASSERT_TRUE(job.OpenOutputFile(target)) << job.LastError;
  EXPECT_EQ(job.Files.OutputFileCount, 1);
  const AVFormatContext* output = job.Files.OutputFiles[0];
  ASSERT_EQ(output->nb_streams, 2u);
  const AVCodecContext* video = Encoder(job, 0);
  const AVCodecContext* audio = Encoder(job, 1);
  EXPECT_EQ(video->codec_type, AVMEDIA_TYPE_VIDEO);
  EXPECT_EQ(video->codec_id, AV_CODEC_ID_MPEG4);
  EXPECT_EQ(video->width, 160);
  EXPECT_EQ(video->height, 120);
  EXPECT_EQ(video->time_base.num, 1);
  EXPECT_EQ(video->time_base.den, 25);
  EXPECT_EQ(video->pix_fmt, AV_PIX_FMT_YUV420P);
  EXPECT_EQ(audio->codec_id, AV_CODEC_ID_MP3);
  EXPECT_EQ(audio->sample_rate, 44100);
  EXPECT_EQ(audio->ch_layout.nb_channels, 2);
  EXPECT_EQ(audio->time_base.den, 44100);
  EXPECT_EQ(audio->sample_fmt, AV_SAMPLE_FMT_FLTP) << "the input's format, which the encoder takes";
  EXPECT_FALSE(job.OutputIsStreamCopy(0, 0) || job.OutputIsStreamCopy(0, 1));
  EXPECT_EQ(job.Formats.ForcedOutputFormat, nullptr);
  EXPECT_TRUE(output->pb) << "the target file is open";
  EXPECT_EQ(FileSizeOf(target), 0);
}

TEST(OutputCreation, KindsFollowTheInputsAndTheDisableOptions) {
  struct TCase {
    TMediaKind Input;
    const char* Options;
    std::vector<AVMediaType> Kinds;
  };
  const TCase cases[] = {
      {TMediaKind::Wav, "", {AVMEDIA_TYPE_AUDIO}},
      {TMediaKind::VideoOnly, "", {AVMEDIA_TYPE_VIDEO}},
      {TMediaKind::Avi, "vn", {AVMEDIA_TYPE_AUDIO}},
      {TMediaKind::Avi, "an", {AVMEDIA_TYPE_VIDEO}},
      {TMediaKind::Matroska,
       "scodec=copy",
       {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE}},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Options);
    TOpenedJob job(test.Input);
    if (*test.Options) job.ApplyOptionText(test.Options);
    ASSERT_TRUE(job.OpenOutputFile(Target("kinds.avi"))) << job.LastError;
    EXPECT_EQ(StreamKinds(job), test.Kinds);
  }
  TOpenedJob disabled(TMediaKind::Avi);
  disabled.SetOption("vn", "");
  ASSERT_TRUE(disabled.OpenOutputFile(Target("disabled.avi")));
  EXPECT_EQ(disabled.Video.VideoDisable, 1) << "only a created video stream clears it";
  EXPECT_EQ(disabled.Audio.AudioDisable, 0);
}

TEST(OutputCreation, PictureOptionsThatConflictWithTheFilterChain) {
  const std::string crop = "Cannot enable crop options and filters at the same time.";
  const std::string pad =
      "Cannot enable pad options and the filters which resize frame at the same time. (crop, "
      "rotate, scale, transpose, etc.)";
  struct TCase {
    const char* Options;
    std::string Expected;  // empty: accepted
  };
  const TCase cases[] = {
      {"vfilters=hflip\ncroptop=8", crop},
      {"vfilters=scale=320:240\npadtop=8", pad},
      {"vfilters=hflip,Transpose=1\npadleft=8", pad},
      {"vfilters=hflip,cropdetect\npadtop=8", ""},
      {"croptop=8\npadtop=8", ""},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Options);
    TOpenedJob job(TMediaKind::Avi);
    job.ApplyOptionText(test.Options);
    EXPECT_EQ(job.OpenOutputFile(Target("filters.avi")), test.Expected.empty());
    EXPECT_EQ(job.Files.OutputFileCount, test.Expected.empty() ? 1 : 0);
    if (!test.Expected.empty()) {
      EXPECT_EQ(job.LastError, test.Expected);
    }
    EXPECT_EQ(job.Video.UseFilters, test.Expected.empty() && job.Video.VideoFilters.size() > 0);
  }
  EXPECT_TRUE(TCustomFFmpeg::ResizingFilterCheck(""));
  EXPECT_FALSE(TCustomFFmpeg::ResizingFilterCheck("hflip,ROTATE=PI/2"));
}

TEST(OutputCreation, FrameRateIsTheClosestTheEncoderSupports) {
  const AVRational only24And25[] = {{24, 1}, {25, 1}, {0, 0}};
  const AVRational only25And24[] = {{25, 1}, {24, 1}, {0, 0}};
  struct TCase {
    AVRational Rate;
    const AVRational* Supported;
    AVRational Expected;
  };
  const TCase cases[] = {
      {{24000, 1001}, only24And25, {24, 1}},
      {{49, 2}, only24And25, {24, 1}},
      {{49, 2}, only25And24, {25, 1}},
      {{30, 1}, only24And25, {25, 1}},
  };
  for (const TCase& test : cases) {
    const AVRational chosen = TCustomFFmpeg::ClosestSupportedFrameRate(test.Rate, test.Supported);
    EXPECT_EQ(chosen.num, test.Expected.num) << test.Rate.num << "/" << test.Rate.den;
    EXPECT_EQ(chosen.den, test.Expected.den);
  }
  // The MPEG-1 encoder lists 24000/1001, 24, 25, ...: 24.5 lies halfway.
  TRecordingJob job;
  job.ApplyOptionText("s=320x240\nr=24.5\nvcodec=mpeg1video\nan");
  ASSERT_TRUE(job.OpenOutputFile(Target("rate.mpg"))) << job.LastError;
  EXPECT_EQ(Encoder(job, 0)->time_base.num, 1);
  EXPECT_EQ(Encoder(job, 0)->time_base.den, 24);
}

TEST(OutputCreation, EncoderSettingsFollowTheOptions) {
  TRecordingJob job;
  job.ApplyOptionText(
      "s=640x480\naspect=1.7778\nvcodec=mpeg4\nqscale=3\nintra\npsnr\npass=1\ndc=9\nvtag=XVID\n"
      "intra_matrix=" +
      MatrixText(16) +
      "\nb=300000\nab=64000\nalang=german\n"
      "acodec=mp2\nsample_fmt=dbl\nar=22050\nac=1\npreset=ultrafast");
  ASSERT_TRUE(job.OpenOutputFile(Target("settings.avi"))) << job.LastError;
  const AVCodecContext* video = Encoder(job, 0);
  const AVStream* videoStream = job.Files.OutputFiles[0]->streams[0];
  EXPECT_EQ(video->sample_aspect_ratio.num, 4);
  EXPECT_EQ(video->sample_aspect_ratio.den, 3);
  EXPECT_EQ(videoStream->sample_aspect_ratio.num, 4);
  EXPECT_EQ(videoStream->sample_aspect_ratio.den, 3);
  EXPECT_TRUE(video->flags & AV_CODEC_FLAG_QSCALE);
  EXPECT_EQ(video->global_quality, 3 * FF_QP2LAMBDA);
  EXPECT_FLOAT_EQ(job.FileStreams.Outputs[0].Streams[0].Quality, 3 * FF_QP2LAMBDA);
  EXPECT_EQ(video->gop_size, 0);
  EXPECT_TRUE(video->flags & AV_CODEC_FLAG_PSNR);
  EXPECT_TRUE(video->flags & AV_CODEC_FLAG_PASS1);
  EXPECT_EQ(video->intra_dc_precision, 1);
  EXPECT_EQ(video->codec_tag, 0x44495658u);
  EXPECT_EQ(video->bit_rate, 300000);
  ASSERT_TRUE(video->intra_matrix);
  EXPECT_EQ(video->inter_matrix, nullptr);

  const AVCodecContext* audio = Encoder(job, 1);
  EXPECT_EQ(audio->codec_id, AV_CODEC_ID_MP2);
  EXPECT_EQ(audio->bit_rate, 64000);
  EXPECT_EQ(audio->sample_rate, 22050);
  EXPECT_EQ(audio->time_base.den, 22050);
  EXPECT_EQ(audio->ch_layout.nb_channels, 1);
  EXPECT_EQ(audio->sample_fmt, AV_SAMPLE_FMT_S16) << "the encoder's first, as it lacks dbl";
  EXPECT_EQ(MetadataText(job.Files.OutputFiles[0]->streams[1]->metadata, "language"), "ger");
  EXPECT_TRUE(job.Audio.AudioLanguage.empty());
  EXPECT_EQ(job.FileStreams.Outputs[0].Streams[0].EncoderOptions, nullptr)
      << "mpeg4 has no preset; the option is kept for the encoders that do";
}

TEST(OutputCreation, RateControlOverrides) {
  TRecordingJob job;
  job.ApplyOptionText("s=320x240\nvcodec=mpeg4\nrc_override=0,100,-30/200,300,5\nbufsize=400000");
  ASSERT_TRUE(job.OpenOutputFile(Target("overrides.avi"))) << job.LastError;
  const AVCodecContext* video = Encoder(job, 0);
  ASSERT_EQ(video->rc_override_count, 2);
  EXPECT_EQ(video->rc_override[0].start_frame, 0);
  EXPECT_EQ(video->rc_override[0].end_frame, 100);
  EXPECT_EQ(video->rc_override[0].qscale, 0);
  EXPECT_FLOAT_EQ(video->rc_override[0].quality_factor, 0.3f);
  EXPECT_EQ(video->rc_override[1].start_frame, 200);
  EXPECT_EQ(video->rc_override[1].end_frame, 300);
  EXPECT_EQ(video->rc_override[1].qscale, 5);
  EXPECT_FLOAT_EQ(video->rc_override[1].quality_factor, 1.0f);
  EXPECT_EQ(video->rc_initial_buffer_occupancy, 300000);
}

TEST(OutputCreation, StreamCopyAndBitstreamFilters) {
  TOpenedJob job(TMediaKind::Avi);
  job.ApplyOptionText("vcodec=copy\nacodec=copy\naspect=16:9\nvbsf=null\nabsf=null=ignored");
  ASSERT_TRUE(job.OpenOutputFile(Target("copy.avi"))) << job.LastError;
  EXPECT_TRUE(job.OutputIsStreamCopy(0, 0));
  EXPECT_TRUE(job.OutputIsStreamCopy(0, 1));
  EXPECT_EQ(job.Video.VideoStreamCopy + job.Audio.AudioStreamCopy, 0);
  const AVStream* video = job.Files.OutputFiles[0]->streams[0];
  EXPECT_EQ(video->sample_aspect_ratio.num, 4);
  EXPECT_EQ(video->sample_aspect_ratio.den, 3) << "16:9 on 160x120";
  EXPECT_EQ(Encoder(job, 1)->ch_layout.nb_channels, 2);
  ASSERT_EQ(job.Bsf.StreamBsfLists[0][0].size(), 1u);
  EXPECT_STREQ(job.Bsf.StreamBsfLists[0][0][0]->name, "null");
  EXPECT_EQ(job.Bsf.StreamBsfLists[0][1].size(), 1u);
  EXPECT_TRUE(job.Bsf.VideoBsfList.empty() && job.Bsf.AudioBsfList.empty());
}

TEST(OutputCreation, MetadataHeadersAndMuxerSettings) {
  TRecordingJob job;
  job.ApplyOptionText(
      "s=320x240\ntitle=Take 2\nauthor=Me\ngenre=Rock\ntimestamp=2009-03-01T12:00:00Z\n"
      "muxpreload=0.44\nmuxdelay=0.5\nmuxrate=1411200\nvcodec=libx264\npreset=veryfast\nan");
  job.SetYear(2009);
  ASSERT_TRUE(job.OpenOutputFile(Target("settings.mpg"))) << job.LastError;
  AVFormatContext* output = job.Files.OutputFiles[0];
  EXPECT_EQ(MetadataText(output->metadata, "title"), "Take 2");
  EXPECT_EQ(MetadataText(output->metadata, "author"), "Me");
  EXPECT_EQ(MetadataText(output->metadata, "genre"), "Rock");
  EXPECT_EQ(MetadataText(output->metadata, "year"), "2009");
  EXPECT_EQ(MetadataText(output->metadata, "track"), "");
  EXPECT_EQ(MetadataText(output->metadata, "creation_time").substr(0, 10), "2009-03-01");
  EXPECT_EQ(output->max_delay, 500000);
  EXPECT_EQ(PrivateNumber(output->priv_data, "preload"), 440000);
  EXPECT_EQ(PrivateNumber(output->priv_data, "muxrate"), 1411200);
  EXPECT_EQ(MetadataText(job.FileStreams.Outputs[0].MuxerOptions, "preload"), "440000");
  uint8_t* preset = nullptr;
  ASSERT_GE(AVUtilApi.av_opt_get(Encoder(job, 0)->priv_data, "preset", 0, &preset), 0);
  EXPECT_STREQ(reinterpret_cast<char*>(preset), "veryfast");
  AVUtilApi.av_free(preset);
  EXPECT_EQ(MetadataText(job.FileStreams.Outputs[0].Streams[0].EncoderOptions, "preset"),
            "veryfast");

  TRecordingJob looping;
  looping.ApplyOptionText("s=32x32\nloop_output=3\nmuxrate=1411200");
  ASSERT_TRUE(looping.OpenOutputFile(Target("loop.gif"))) << looping.LastError;
  EXPECT_EQ(PrivateNumber(looping.Files.OutputFiles[0]->priv_data, "loop"), 3);
  EXPECT_EQ(MetadataText(looping.FileStreams.Outputs[0].MuxerOptions, "muxrate"), "")
      << "a muxer without the option passes it over";

  TRecordingJob global;
  global.ApplyOptionText("s=320x240\nvcodec=mpeg4\nan");
  ASSERT_TRUE(global.OpenOutputFile(Target("global.mp4"))) << global.LastError;
  EXPECT_TRUE(Encoder(global, 0)->flags & AV_CODEC_FLAG_GLOBAL_HEADER);
  EXPECT_EQ(global.Files.OutputFiles[0]->max_delay, 700000) << "0.7 s by default";
  TRecordingJob local;
  local.ApplyOptionText("s=320x240\nvcodec=mpeg4\nvglobal=2\nan");
  ASSERT_TRUE(local.OpenOutputFile(Target("local.mp4"))) << local.LastError;
  EXPECT_FALSE(Encoder(local, 0)->flags & AV_CODEC_FLAG_GLOBAL_HEADER);
  EXPECT_TRUE(Encoder(local, 0)->flags2 & AV_CODEC_FLAG2_LOCAL_HEADER);
}

TEST(OutputCreation, FailuresLeaveNothingAndTheJobUsable) {
  const std::string input = Media().Clip(TMediaKind::Matroska);
  const std::string noFolder = Media().FilePath("no-such-folder/out.avi");
  const std::string noPattern = Target("still.jpg");
  const std::string unknown = Target("out.unknownextension");
  struct TCase {
    std::string FileName;
    const char* Options;
    std::string Expected;
  };
  const TCase cases[] = {
      {unknown, "", "Unable to find a suitable output format for '" + unknown + "'"},
      {noFolder, "", "Could not open '" + noFolder + "'"},
      {input, "", "Could not open '" + input + "'"},
      {noPattern, "",
       noPattern + ": Incorrect image filename syntax.\r\nUse '%d' to specify the image number:"
                   "\r\n  for img1.jpg, img2.jpg, ..., use 'img%d.jpg';\r\n  for img001.jpg, "
                   "img002.jpg, ..., use 'img%03d.jpg'."},
      {Target("kind.avi"), "vcodec=mp2", "new_video_stream fail: Invalid encoder type 'mp2'"},
      {Target("unknown.avi"), "acodec=nosuch", "new_audio_stream fail: Unknown encoder 'nosuch'"},
      {Target("overrides.avi"), "rc_override=0,100",
       "new_video_stream fail: error parsing rc_override"},
      {Target("subtitle.mkv"), "scodec=mpeg4",
       "new_subtitle_stream fail: Invalid encoder type 'mpeg4'"},
  };
  const int64_t inputSize = FileSizeOf(input);
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Expected);
    TOpenedJob job(TMediaKind::Matroska);
    job.ApplyOptionText("vbsf=null");
    job.OptInputFormat("avi");
    if (*test.Options) job.ApplyOptionText(test.Options);
    EXPECT_FALSE(job.OpenOutputFile(test.FileName));
    EXPECT_EQ(job.LastError, test.Expected);
    EXPECT_EQ(job.Files.OutputFileCount, 0);
    EXPECT_EQ(job.Files.OutputFiles[0], nullptr);
    EXPECT_TRUE(job.FileStreams.Outputs[0].Streams.empty());
    EXPECT_TRUE(job.Bsf.StreamBsfLists[0][0].empty());
    EXPECT_EQ(job.Formats.ForcedOutputFormat, nullptr);
    EXPECT_EQ(job.Formats.ForcedInputFormat, nullptr);
    EXPECT_FALSE(job.Video.VideoCodecName || job.Audio.AudioCodecName ||
                 job.Subtitle.SubtitleCodecName);
    EXPECT_FALSE(FileExists(test.FileName) && test.FileName != input);
    EXPECT_EQ(FileSizeOf(input), inputSize);
    job.Video.VideoRcOverride.reset();
    EXPECT_TRUE(job.OpenOutputFile(Target("retry.avi"))) << job.LastError;
  }
}

TEST(OutputCreation, TargetIsReplacedAndDeletedAtCleanupWhenEmpty) {
  const std::string replaced = Target("replaced.avi");
  const std::string written = Target("written.avi");
  std::ofstream(replaced) << "an older file";
  TOpenedJob job(TMediaKind::Avi);
  ASSERT_TRUE(job.OpenOutputFile(replaced)) << job.LastError;
  EXPECT_EQ(FileSizeOf(replaced), 0);
  ASSERT_TRUE(job.OpenOutputFile(written)) << job.LastError;
  std::ofstream(written, std::ios::app) << "content";
  const std::string input = job.Files.InputFiles[0]->url;
  job.Cleanup();
  EXPECT_FALSE(FileExists(replaced));
  EXPECT_TRUE(FileExists(written));
  EXPECT_GT(FileSizeOf(input), 0);
  EXPECT_EQ(job.Files.OutputFileCount, 0);
  EXPECT_TRUE(job.FileStreams.Outputs[0].Streams.empty());
  EXPECT_TRUE(job.FileStreams.Outputs[1].Streams.empty());
}

TEST(OutputCreation, ImageSequenceWithAPatternIsAccepted) {
  TOpenedJob job(TMediaKind::VideoOnly);
  ASSERT_TRUE(job.OpenOutputFile(Target("picture%03d.png"))) << job.LastError;
  EXPECT_EQ(Encoder(job, 0)->codec_id, AV_CODEC_ID_PNG);
  EXPECT_EQ(job.Files.OutputFiles[0]->pb, nullptr) << "the muxer writes its own files";
}

TEST(OutputCreation, NewStreamOptionsAddToTheLastOutputWithFreshSettings) {
  TOpenedJob job(TMediaKind::Avi);
  job.SetOption("vbsf", "null");
  ASSERT_TRUE(job.OpenOutputFile(Target("more.mkv"))) << job.LastError;
  const AVFormatContext* output = job.Files.OutputFiles[0];
  const unsigned before = output->nb_streams;
  job.SetOption("vcodec", "mpeg2video");
  job.SetOption("newvideo", "");
  job.SetOption("acodec", "mp2");
  job.SetOption("alang", "ger");
  job.SetOption("newaudio", "");
  ASSERT_EQ(output->nb_streams, before + 2);
  EXPECT_EQ(Encoder(job, before)->codec_id, AV_CODEC_ID_MPEG2VIDEO);
  EXPECT_EQ(Encoder(job, before + 1)->codec_id, AV_CODEC_ID_MP2);
  EXPECT_FALSE(job.Video.VideoCodecName.has_value()) << "the new stream consumed the codec name";
  EXPECT_EQ(job.Audio.AudioLanguage, "");
  EXPECT_TRUE(job.Bsf.StreamBsfLists[0][before].empty()) << "the first stream took the chain";
  EXPECT_FALSE(job.Bsf.StreamBsfLists[0][0].empty());
  EXPECT_TRUE(job.Bsf.StreamBsfLists[1][before].empty()) << "nothing goes to an output not made";
  EXPECT_EQ(job.FileStreams.Outputs[0].Streams.size(), before + 2);
}
