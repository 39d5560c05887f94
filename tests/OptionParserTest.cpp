// The value handlers: what each accepts, stores and rejects.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <numeric>

#include "EngineTestSupport.h"
#include "Src/FFMpegException.h"
#include "platform/Assertion.h"
#include "platform/Exception.h"

using ::testing::MatchesRegex;

namespace {
using TCheck = std::function<void(const TCustomFFmpeg&)>;

// Option lines applied to a fresh job, and the message they raise (empty
// when they raise nothing) or what they leave.
struct TOptionCase {
  const char* Text;
  const char* Message;
  TCheck Check = nullptr;
};

void RunCases(const std::vector<TOptionCase>& cases) {
  for (const TOptionCase& c : cases) {
    SCOPED_TRACE(c.Text);
    TRecordingJob job;
    std::string message;
    try {
      job.ApplyOptionText(c.Text);
    } catch (const Exception& e) {
      message = e.what();
    }
    EXPECT_EQ(message, c.Message);
    if (c.Check) c.Check(job);
  }
}

const char* VerticalCrop =
    "Vertical crop dimensions are outside the range of the original image.\n"
    "Remember to crop first and scale second.";
const char* HorizontalCrop =
    "Horizontal crop dimensions are outside the range of the original image.\n"
    "Remember to crop first and scale second.";

TCheck FrameIs(int width, int height) {
  return [=](const TCustomFFmpeg& job) {
    EXPECT_EQ(job.Video.FrameWidth, width);
    EXPECT_EQ(job.Video.FrameHeight, height);
  };
}

std::string NumberList(int count, int first = 1) {
  std::string text;
  for (int i = 0; i < count; ++i) text += (i ? "," : "") + std::to_string(first + i);
  return text;
}
}  // namespace

TEST(PictureOptions, SizeAndCrop) {
  RunCases({
      {"s=320x240\ncroptop=8", "",
       [](const TCustomFFmpeg& job) {
         EXPECT_EQ(job.Video.CropTop, 8);
         FrameIs(320, 232)(job);
       }},
      {"s=320x240\ncropleft=16\ncropright=16\ncropbottom=40", "",
       [](const TCustomFFmpeg& job) {
         EXPECT_EQ(job.Video.CropLeft + job.Video.CropRight, 32);
         FrameIs(288, 200)(job);
       }},
      {"s=320x240\ncroptop=240", VerticalCrop, FrameIs(320, 240)},
      {"s=320x240\ncropright=320", HorizontalCrop, FrameIs(320, 240)},
      {"croptop=0", VerticalCrop},  // no frame size known yet
      {"s=320x240\ncroptop=7", "Top crop size must be a multiple of 2"},
      {"s=320x240\ncropbottom=3", "Bottom crop size must be a multiple of 2"},
      {"s=320x240\ncroptop=-1\npadtop=-1", "",
       [](const TCustomFFmpeg& job) {
         EXPECT_EQ(job.Video.CropTop, 0);
         EXPECT_EQ(job.Video.PadTop, 0);
         FrameIs(320, 240)(job);
       }},
      {"s=321x240", "Frame size must be a multiple of 2", FrameIs(321, 240)},
      {"s=abc", "Incorrect frame size", FrameIs(0, 0)},
      {"s=hd720", "", FrameIs(1280, 720)},
      {"padleft=3", "Left pad size must be a multiple of 2"},
      {"padright=5", "Right pad size must be a multiple of 2"},
      {"padbottom=1000", "",
       [](const TCustomFFmpeg& job) { EXPECT_EQ(job.Video.PadBottom, 1000); }},
  });
}

TEST(PictureOptions, PadColour) {
  const struct {
    int Colour;
    std::array<int, 3> YCbCr;
  } cases[] = {{255, {76, 85, 255}},       {65280, {150, 43, 21}},
               {16711680, {29, 255, 107}}, {16777215, {255, 128, 128}},
               {0, {0, 128, 128}},         {-1, {255, 128, 128}}};  // only the low 24 bits count
  for (const auto& c : cases) {
    TRecordingJob job;
    job.OptPadColor(c.Colour);
    EXPECT_EQ(job.Video.PadColor, c.YCbCr) << c.Colour;
  }
  EXPECT_EQ(TCustomFFmpeg().Video.PadColor, (std::array{16, 128, 128}));
}

TEST(PictureOptions, AspectRateAndQuantiser) {
  auto aspectIs = [](float ratio) {
    return [=](const TCustomFFmpeg& job) { EXPECT_NEAR(job.Video.FrameAspectRatio, ratio, 1e-4); };
  };
  auto rateIs = [](int num, int den) {
    return [=](const TCustomFFmpeg& job) {
      EXPECT_EQ(job.Video.VideoFrameRate.num, num);
      EXPECT_EQ(job.Video.VideoFrameRate.den, den);
    };
  };
  const char* badAspect = "Incorrect aspect ratio specification.";
  RunCases({
      {"aspect=16:9", "", aspectIs(1.7778f)},
      {"aspect=-4:3", "", aspectIs(-1.3333f)},
      {"aspect=1.85", "", aspectIs(1.85f)},
      {"aspect=4:0", badAspect, aspectIs(0)},
      {"aspect=abc", badAspect},
      {"aspect=x:3", badAspect},
      {"aspect=1e39", badAspect, aspectIs(0)},  // beyond the field's range
      {"aspect=", "", aspectIs(0)},
      {"r=30000/1001", "", rateIs(30000, 1001)},
      {"r=25", "", rateIs(25, 1)},
      {"r=25\nr=abc", "Incorrect frame rate", rateIs(25, 1)},
      {"r=-5", "Incorrect frame rate", rateIs(0, 0)},
      {"qscale=0", "qscale must be > 0.0 and <= 255"},
      {"qscale=256", "qscale must be > 0.0 and <= 255"},
      {"qscale=255", "",
       [](const TCustomFFmpeg& job) { EXPECT_FLOAT_EQ(job.Video.VideoQScale, 255); }},
  });
}

TEST(PictureOptions, PixelAndSampleFormats) {
  TRecordingJob job;
  job.ApplyOptionText("pix_fmt=yuv422p\nsample_fmt=s16");
  EXPECT_EQ(job.Video.FramePixFmt, AV_PIX_FMT_YUV422P);
  EXPECT_EQ(job.Audio.AudioSampleFmt, AV_SAMPLE_FMT_S16);

  job.ApplyOptionText("pix_fmt=list\nsample_fmt=list");
  EXPECT_EQ(job.Video.FramePixFmt, AV_PIX_FMT_YUV422P);
  EXPECT_EQ(job.Audio.AudioSampleFmt, AV_SAMPLE_FMT_S16);
  ASSERT_EQ(job.Lines.size(), size_t{AV_PIX_FMT_NB + 1 + AV_SAMPLE_FMT_NB + 1});
  EXPECT_THAT(job.Lines[0].Text, MatchesRegex("name +nb_components +nb_bits"));
  EXPECT_THAT(job.Lines[1].Text, MatchesRegex("yuv420p +3 +12"));
  EXPECT_THAT(job.Lines[AV_PIX_FMT_NB + 1].Text, MatchesRegex("name +depth"));
  EXPECT_THAT(job.Lines[AV_PIX_FMT_NB + 2].Text, MatchesRegex("u8 +8"));

  job.ApplyOptionText("pix_fmt=nosuch\nsample_fmt=nosuch");
  EXPECT_EQ(job.Video.FramePixFmt, -1);
  EXPECT_EQ(job.Audio.AudioSampleFmt, -1);
}

TEST(SoundOptions, RatesChannelsAndBitRates) {
  TRecordingJob job;
  job.ApplyOptionText("ar=0\nac=-2");
  EXPECT_EQ(job.Audio.AudioSampleRate, 44100);
  EXPECT_EQ(job.Audio.AudioChannels, 2);
  job.ApplyOptionText("ar=48000\nac=6");
  EXPECT_EQ(job.Audio.AudioSampleRate, 48000);
  EXPECT_EQ(job.Audio.AudioChannels, 6);

  const std::string warning =
      "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s";
  job.ApplyOptionText("b=64000\nab=128000");
  EXPECT_FALSE(job.Logged(warning));
  job.ApplyOptionText("b=64");
  EXPECT_EQ(job.Generic.CodecOptionContexts[AVMEDIA_TYPE_VIDEO]->bit_rate, 64);
  EXPECT_EQ(job.Lines, (std::vector<TLogLine>{{1, warning}}));
  job.ApplyOptionText("ab=96");
  EXPECT_EQ(job.Lines.size(), 2u);
  job.ApplyOptionText("vb=abc");  // refused by the library: no warning either
  EXPECT_EQ(job.Lines.size(), 2u);
}

TEST(CodecOptions, NamesCopyAndTags) {
  RunCases({
      {"vcodec=copy\nvcodec=mpeg4", "",
       [](const TCustomFFmpeg& job) {
         EXPECT_EQ(job.Video.VideoStreamCopy, 1);  // a later name does not clear it
         EXPECT_EQ(job.Video.VideoCodecName, "mpeg4");
       }},
      {"acodec=mp2\nacodec=copy", "",
       [](const TCustomFFmpeg& job) {
         EXPECT_EQ(job.Audio.AudioStreamCopy, 1);
         EXPECT_FALSE(job.Audio.AudioCodecName);
       }},
      {"scodec=mov_text\nscodec=", "",
       [](const TCustomFFmpeg& job) { EXPECT_EQ(job.Subtitle.SubtitleCodecName, "mov_text"); }},
      {"atag=DX50", "",
       [](const TCustomFFmpeg& job) { EXPECT_EQ(job.Audio.AudioCodecTag, 808802372u); }},
      {"vtag=XVID", "",
       [](const TCustomFFmpeg& job) {
         EXPECT_EQ(job.Video.VideoCodecTag, MKTAG('X', 'V', 'I', 'D'));
       }},
      {"atag=DX5", "audio tag parameter must be 4 chars"},
      {"vtag=XVIDX", "video tag parameter must be 4 chars"},
  });
  TRecordingJob job;
  EXPECT_THROW(job.SetOption("atag", "DX5"), EAssertionFailed);
}

TEST(CodecOptions, FindCodec) {
  const struct {
    std::optional<std::string> Name;
    AVMediaType Kind;
    bool Encoder;
    bool Found;
    AVCodecID Id;
    const char* Error;
  } cases[] = {
      {std::nullopt, AVMEDIA_TYPE_VIDEO, true, true, AV_CODEC_ID_NONE, ""},
      {"mpeg4", AVMEDIA_TYPE_VIDEO, true, true, AV_CODEC_ID_MPEG4, ""},
      {"mp3", AVMEDIA_TYPE_AUDIO, false, true, AV_CODEC_ID_MP3, ""},
      {"nosuch", AVMEDIA_TYPE_VIDEO, true, false, AV_CODEC_ID_NONE, "Unknown encoder 'nosuch'"},
      {"mp3", AVMEDIA_TYPE_VIDEO, false, false, AV_CODEC_ID_NONE, "Invalid decoder type 'mp3'"},
      {"libfaac", AVMEDIA_TYPE_AUDIO, true, true, AV_CODEC_ID_AAC, ""},
      {"libfaac", AVMEDIA_TYPE_AUDIO, false, false, AV_CODEC_ID_NONE, "Unknown decoder 'libfaac'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name.value_or("(none)"));
    TRecordingJob job;
    AVCodecID id = AV_CODEC_ID_NONE;
    const AVCodec* codec = nullptr;
    EXPECT_EQ(job.FindCodec(c.Name, c.Kind, c.Encoder, id, &codec), c.Found);
    EXPECT_EQ(id, c.Id);
    EXPECT_EQ(job.LastError, c.Error);
    if (c.Found && c.Name) {
      EXPECT_EQ(codec->id, c.Id);
    }
  }
}

TEST(FormatOptions, ForcedFormats) {
  auto formatsAre = [](const char* input, const char* output) {
    return [=](const TCustomFFmpeg& job) {
      ASSERT_EQ(job.Formats.ForcedInputFormat != nullptr, input != nullptr);
      ASSERT_EQ(job.Formats.ForcedOutputFormat != nullptr, output != nullptr);
      if (input) {
        EXPECT_STREQ(job.Formats.ForcedInputFormat->name, input);
      }
      if (output) {
        EXPECT_STREQ(job.Formats.ForcedOutputFormat->name, output);
      }
    };
  };
  RunCases({
      {"f=avi", "", formatsAre("avi", "avi")},
      {"f=vcd", "", formatsAre(nullptr, "vcd")},
      {"f=nosuch", "Unknown input or output format: nosuch", formatsAre(nullptr, nullptr)},
      {"f=", "", formatsAre(nullptr, nullptr)},
  });
  TRecordingJob job;
  EXPECT_THROW(job.OptInputFormat("vcd"), FFMpegException);
  try {
    job.OptOutputFormat("nosuch");
  } catch (const FFMpegException& e) {
    EXPECT_STREQ(e.what(), "Unknown output format: nosuch");
  }
  job.SetOption("f", "pgmyuv");
  EXPECT_EQ(job.Formats.PgmyuvCompat, 1);
  formatsAre("image2", "image2")(job);
  EXPECT_EQ(job.Lines, (std::vector<TLogLine>{{1, "pgmyuv format is deprecated, use image2"}}));
}

TEST(TimeOptions, DurationsAndDates) {
  RunCases({
      {"t=0.0005", "",
       [](const TCustomFFmpeg& job) {
         EXPECT_EQ(job.Timing.RecordingTimeUs, INT64_MAX);
         EXPECT_EQ(job.OutputDurationMs, -1);
       }},
      {"t=3600", "",
       [](const TCustomFFmpeg& job) {
         EXPECT_EQ(job.Timing.RecordingTimeUs, 3600000000);
         EXPECT_EQ(job.OutputDurationMs, 3600000);
       }},
      {"t=01:00:00.0019", "",
       [](const TCustomFFmpeg& job) { EXPECT_EQ(job.Timing.RecordingTimeUs, 3600001000); }},
      {"t=9999999999", "",  // beyond the millisecond counter
       [](const TCustomFFmpeg& job) { EXPECT_EQ(job.OutputDurationMs, INT_MAX); }},
      {"t=abc", "Invalid duration specification for t: abc"},
      {"ss=10.5", "", [](const TCustomFFmpeg& job) { EXPECT_EQ(job.Timing.SeekTimeUs, 10500000); }},
      {"itsoffset=-2", "",
       [](const TCustomFFmpeg& job) { EXPECT_EQ(job.Timing.InputTsOffset, -2000000); }},
      {"ss=", "Invalid duration specification for ss: "},
      {"timestamp=1970-01-01 00:00:02.5Z", "",
       [](const TCustomFFmpeg& job) { EXPECT_EQ(job.Timing.RecTimestamp, 2); }},
      {"timestamp=1970-01-01 00:00:03.5Z", "",
       [](const TCustomFFmpeg& job) { EXPECT_EQ(job.Timing.RecTimestamp, 4); }},
      {"timestamp=2009-01-01T00:00:00Z", "",
       [](const TCustomFFmpeg& job) { EXPECT_EQ(job.Timing.RecTimestamp, 1230768000); }},
      {"timestamp=soon", "Invalid date specification for timestamp: soon"},
  });
}

TEST(TimeOptions, InputTimestampScales) {
  RunCases({
      {"itsscale=0:2\nitsscale=3,0.5", "",
       [](const TCustomFFmpeg& job) {
         EXPECT_EQ(job.Timing.InputTsScales[0][0], 2.0);
         EXPECT_EQ(job.Timing.InputTsScales[0][3], 0.5);
         EXPECT_EQ(job.Timing.InputTsScales[0][1], 0.0);
       }},
      {"itsscale=19:1.5", "",
       [](const TCustomFFmpeg& job) { EXPECT_EQ(job.Timing.InputTsScales[0][19], 1.5); }},
      {"itsscale=20:2", "stream index over MAX_STREAMS(20)"},
      {"itsscale=-1:2", "stream index over MAX_STREAMS(20)"},
  });
  // With every input slot taken there is no row for another input.
  TRecordingJob job;
  job.Files.InputFileCount = MaxFiles;
  EXPECT_THROW(job.SetOption("itsscale", "0:2"), FFMpegException);
}

TEST(MapOptions, StreamAndMetadataMaps) {
  TRecordingJob job;
  job.ApplyOptionText("map=0:1\nmap=0.1:2.3\nmap=0\nmap=0x10:010\nmap=1:2:3");
  const TStreamMap expected[] = {
      {0, 1, 0, 1}, {0, 1, 2, 3}, {0, 0, 0, 0}, {16, 8, 16, 8}, {1, 2, 3, 0}};
  ASSERT_EQ(job.Maps.StreamMapCount, 5);
  for (int i = 0; i < 5; ++i) {
    const TStreamMap& map = job.Maps.StreamMaps[i];
    EXPECT_EQ(std::tie(map.FileIndex, map.StreamIndex, map.SyncFileIndex, map.SyncStreamIndex),
              std::tie(expected[i].FileIndex, expected[i].StreamIndex, expected[i].SyncFileIndex,
                       expected[i].SyncStreamIndex))
        << "map " << i;
  }
  job.ApplyOptionText("map_meta_data=1:0\nmap_meta_data=2");
  ASSERT_EQ(job.Maps.MetaDataMapCount, 2);
  EXPECT_EQ(job.Maps.MetaDataMaps[0].OutFile, 1);
  EXPECT_EQ(job.Maps.MetaDataMaps[0].InFile, 0);
  EXPECT_EQ(job.Maps.MetaDataMaps[1].OutFile, 2);
}

TEST(MapOptions, TablesRejectEntriesBeyondTheirCapacity) {
  TRecordingJob job;
  while (job.Maps.StreamMapCount < MaxStreamMaps) job.SetOption("map", "0:0");
  EXPECT_THROW(job.SetOption("map", "0:1"), FFMpegException);
  EXPECT_EQ(job.Maps.StreamMapCount, MaxStreamMaps);
  EXPECT_EQ(job.Maps.StreamMaps[MaxStreamMaps - 1].StreamIndex, 0);
  for (int i = 0; i < MaxMetaDataMaps; ++i) job.SetOption("map_meta_data", "0:0");
  EXPECT_THROW(job.SetOption("map_meta_data", "0:0"), FFMpegException);
  EXPECT_EQ(job.Maps.MetaDataMapCount, MaxMetaDataMaps);
}

TEST(EncodingOptions, QuantiserMatrices) {
  TRecordingJob job;
  job.SetOption("intra_matrix", " " + NumberList(64) + ",99");
  ASSERT_TRUE(job.Video.IntraMatrix);
  TQuantMatrix ascending;
  std::iota(ascending.begin(), ascending.end(), uint16_t{1});
  EXPECT_EQ(*job.Video.IntraMatrix, ascending);

  job.SetOption("inter_matrix", "70000," + NumberList(63, 2));
  EXPECT_EQ((*job.Video.InterMatrix)[0], 70000 & 0xFFFF);

  const std::string short63 = NumberList(63);
  try {
    job.SetOption("intra_matrix", short63);
    ADD_FAILURE() << "nothing raised";
  } catch (const FFMpegException& e) {
    EXPECT_EQ(std::string(e.what()), "Syntax error in matrix \"" + short63 + "\" at coeff 62");
  }
  ASSERT_TRUE(job.Video.IntraMatrix);
  EXPECT_EQ((*job.Video.IntraMatrix)[62], 63);
  EXPECT_EQ((*job.Video.IntraMatrix)[63], 0);
}

TEST(EncodingOptions, PassAndStatisticsFiles) {
  RunCases({
      {"pass=3", "pass number can be only 1 or 2"},
      {"pass=2", "", [](const TCustomFFmpeg& job) { EXPECT_EQ(job.Stats.PassNumber, 2); }},
      {"vstats_file=", "",
       [](const TCustomFFmpeg& job) { EXPECT_EQ(job.Stats.VstatsFileName, ""); }},
      {"vstats", "",
       [](const TCustomFFmpeg& job) {
         ASSERT_TRUE(job.Stats.VstatsFileName);
         EXPECT_EQ(job.Stats.VstatsFileName->rfind(ExecutableFolder() + "/vstats_", 0), 0u);
         EXPECT_THAT(*job.Stats.VstatsFileName, MatchesRegex(".*/vstats_[0-9]{6}\\.log"));
       }},
  });
}

TEST(EncodingOptions, BitstreamFilters) {
  auto names = [](const TBsfChain& chain) {
    std::vector<std::string> out;
    for (const AVBitStreamFilter* filter : chain) out.push_back(filter->name);
    return out;
  };
  TRecordingJob job;
  job.ApplyOptionText(
      "vbsf=h264_mp4toannexb\nvbsf=dump_extra=freq=k\nabsf=aac_adtstoasc\nsbsf=null\nvbsf==x");
  EXPECT_EQ(names(job.Bsf.VideoBsfList),
            (std::vector<std::string>{"h264_mp4toannexb", "dump_extra"}));
  EXPECT_EQ(names(job.Bsf.AudioBsfList), (std::vector<std::string>{"aac_adtstoasc"}));
  EXPECT_EQ(names(job.Bsf.SubtitleBsfList), (std::vector<std::string>{"null"}));
  try {
    job.SetOption("vbsf", " nosuch=1 ");
    ADD_FAILURE() << "nothing raised";
  } catch (const FFMpegException& e) {
    EXPECT_STREQ(e.what(), "Unknown bitstream filter nosuch=1");
  }
  EXPECT_EQ(job.Bsf.VideoBsfList.size(), 2u);
}

TEST(OutputOptions, NewStreamsNeedAnOutput) {
  for (const char* name : {"newvideo", "newaudio", "newsubtitle"}) {
    TRecordingJob job;
    try {
      job.SetOption(name, "");
      ADD_FAILURE() << name;
    } catch (const FFMpegException& e) {
      EXPECT_STREQ(e.what(), "At least one output file must be specified");
    }
  }
}

TEST(OutputOptions, PlainSettersIgnoreUnsetValues) {
  TRecordingJob job;
  job.SetDurationMs(0);
  job.SetSeekTimeUs(0);
  job.SetProgramId(-1);
  job.SetAudioVolume(-1);
  job.SetMuxMaxDelay(-1);
  job.SetMuxPreload(0);
  job.SetYear(0);
  job.SetTrack(-1);
  job.ApplyOptionText("title=\nauthor=");
  const TCustomFFmpeg defaults;
  EXPECT_EQ(job.Timing.RecordingTimeUs, defaults.Timing.RecordingTimeUs);
  EXPECT_EQ(job.Timing.SeekTimeUs, 0);
  EXPECT_EQ(job.Input.ProgramId, 0);
  EXPECT_EQ(job.Audio.AudioVolume, 256);
  EXPECT_FLOAT_EQ(job.Mux.MuxMaxDelay, 0.7f);
  EXPECT_FLOAT_EQ(job.Mux.MuxPreload, 0.5f);
  EXPECT_EQ(job.Mux.Year + job.Mux.Track, 0);

  job.SetAudioSyncMethod(-5);
  job.SetVideoSyncMethod(2);
  job.SetDurationMs(1500);
  job.ApplyOptionText("title=T\ngenre=G\nprogramid=-3");
  EXPECT_EQ(job.Audio.AudioSyncMethod, -5);
  EXPECT_EQ(job.Video.VideoSyncMethod, 2);
  EXPECT_EQ(job.Timing.RecordingTimeUs, 1500000);
  EXPECT_EQ(job.Mux.Title + job.Mux.Genre, "TG");
  EXPECT_EQ(job.Input.ProgramId, -3);  // the option itself sets any value
}
