// Option text, the dispatcher's vocabulary and value conversion, and the
// routing of library options by name.
#include <gtest/gtest.h>

#include <functional>

#include "EngineTestSupport.h"
#include "Src/FFMpegException.h"
#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "platform/Exception.h"

namespace {
using TCheck = std::function<void(const TCustomFFmpeg&)>;

struct TTextCase {
  const char* Name;
  const char* Text;
  TCheck Check;
};

AVCodecContext* CodecOptions(const TCustomFFmpeg& job, AVMediaType kind) {
  return job.Generic.CodecOptionContexts[kind];
}

std::string DictValue(const AVDictionary* options, const char* name) {
  const AVDictionaryEntry* entry = AVUtilApi.av_dict_get(options, name, nullptr, 0);
  return entry ? entry->value : "(none)";
}

std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.what();
  }
  return "(nothing raised)";
}
}  // namespace

TEST(OptionText, LinesNamesAndValues) {
  auto audioOffVideoMpeg4 = [](const TCustomFFmpeg& job) {
    EXPECT_EQ(job.Audio.AudioDisable, 1);
    EXPECT_EQ(job.Video.VideoCodecName, "mpeg4");
  };
  const TTextCase cases[] = {
      {"line without '=' has an empty value", "an\nvcodec=mpeg4", audioOffVideoMpeg4},
      {"CR LF and outer blanks", " \t\r\nan\r\nvcodec=mpeg4\r\n  ", audioOffVideoMpeg4},
      {"lone CR", "an\rvcodec=mpeg4", audioOffVideoMpeg4},
      {"blank before '=' makes an unknown name", "vcodec =mpeg4",
       [](const TCustomFFmpeg& job) {
         EXPECT_FALSE(job.Video.VideoCodecName);
         EXPECT_TRUE(job.Generic.RecordedOptionNames.empty());
       }},
      {"blank after '=' belongs to the value", "vcodec= mpeg4",
       [](const TCustomFFmpeg& job) { EXPECT_EQ(job.Video.VideoCodecName, " mpeg4"); }},
      {"split at the first '='", "title=a=b",
       [](const TCustomFFmpeg& job) { EXPECT_EQ(job.Mux.Title, "a=b"); }},
      {"names keep their letter case", "AN",
       [](const TCustomFFmpeg& job) { EXPECT_EQ(job.Audio.AudioDisable, 0); }},
      {"hexadecimal with $", "padcolor=$FF",
       [](const TCustomFFmpeg& job) {
         EXPECT_EQ(job.Video.PadColor, (std::array{76, 85, 255}));
       }},
      {"hexadecimal with 0x and X", "vol=0x1F\nvdt=X1f",
       [](const TCustomFFmpeg& job) {
         EXPECT_EQ(job.Audio.AudioVolume, 31);
         EXPECT_EQ(job.Video.VideoDiscard, 31);
       }},
      {"leading blanks and sign", "vol=  +300\ntop= -1",
       [](const TCustomFFmpeg& job) {
         EXPECT_EQ(job.Audio.AudioVolume, 300);
         EXPECT_EQ(job.Video.TopFieldFirst, -1);
       }},
      {"64-bit integer", "fs=9000000000",
       [](const TCustomFFmpeg& job) { EXPECT_EQ(job.Timing.FileSizeLimit, 9000000000); }},
      {"empty lines are skipped", "an\n\nsn",
       [](const TCustomFFmpeg& job) { EXPECT_EQ(job.Subtitle.SubtitleDisable, 1); }},
      {"dash options ignore their value", "copyts=no\nshortest=0",
       [](const TCustomFFmpeg& job) {
         EXPECT_TRUE(job.Timing.CopyTimestamps);
         EXPECT_EQ(job.Timing.Shortest, 1);
       }},
  };
  for (const TTextCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TRecordingJob job;
    job.ApplyOptionText(c.Text);
    c.Check(job);
    EXPECT_TRUE(job.Lines.empty());
  }
}

TEST(OptionText, ConversionErrorsStopTheText) {
  const struct {
    const char* Line;
    const char* Message;
  } cases[] = {
      {"croptop=abc", "'abc' is not a valid integer value"},
      {"croptop=12 ", "'12 ' is not a valid integer value"},
      {"vol=", "'' is not a valid integer value"},
      {"vol=2147483648", "'2147483648' is not a valid integer value"},
      {"vol=$100000000", "'$100000000' is not a valid integer value"},
      {"fs=9223372036854775808", "'9223372036854775808' is not a valid integer value"},
      {"vol=0x", "'0x' is not a valid integer value"},
      {"qscale=abc", "'abc' is not a valid floating point value"},
      {"muxdelay=1e", "'1e' is not a valid floating point value"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Line);
    TRecordingJob job;
    try {
      job.ApplyOptionText(std::string("an\n") + c.Line + "\nsn");
      ADD_FAILURE() << "nothing raised";
    } catch (const EConvertError& e) {
      EXPECT_STREQ(e.what(), c.Message);
    }
    EXPECT_EQ(job.Audio.AudioDisable, 1) << "earlier lines stay applied";
    EXPECT_EQ(job.Subtitle.SubtitleDisable, 0) << "later lines are not applied";
  }
}

TEST(OptionText, HexadecimalUsesAllBits) {
  TRecordingJob job;
  job.ApplyOptionText("vol=$FFFFFFFF\nfs=-2147483648");
  EXPECT_EQ(job.Audio.AudioVolume, -1);
  EXPECT_EQ(job.Timing.FileSizeLimit, -2147483648LL);
}

TEST(OptionText, IgnoredNamesOnlyLog) {
  for (const char* name :
       {"L", "h", "version", "formats", "i", "y", "benchmark", "apre", "vpre", "spre"}) {
    TRecordingJob job;
    job.SetOption(name, "input.avi");
    EXPECT_EQ(job.Lines, (std::vector<TLogLine>{{1, std::string("Do nothing: option - ") + name}}));
    EXPECT_EQ(job.Files.InputFileCount, 0);
    EXPECT_TRUE(job.Generic.RecordedOptionNames.empty());
  }
  TCustomFFmpeg silent;
  silent.Reset();
  EXPECT_NO_THROW(silent.SetOption("i", "input.avi"));
}

TEST(OptionText, UnsupportedNamesAreRefused) {
  TRecordingJob job;
  EXPECT_EQ(MessageOf([&] { job.ApplyOptionText("threads=4\nan"); }), "TODO: option - threads");
  EXPECT_EQ(job.Runtime.ThreadCount, 1);
  EXPECT_EQ(job.Audio.AudioDisable, 0);
  EXPECT_THROW(job.SetOption("threads", "4"), FFMpegException);
}

TEST(OptionText, RealsUseTheLocaleSeparator) {
  {
    TRecordingJob job;
    job.ApplyOptionText("qscale=2.5\nadrift_threshold=1e-1");
    EXPECT_FLOAT_EQ(job.Video.VideoQScale, 2.5f);
    EXPECT_FLOAT_EQ(job.Audio.AudioDriftThreshold, 0.1f);
  }
  TCommaLocale comma;
  if (!comma.Available()) GTEST_SKIP() << "cannot compile a locale with a comma separator";
  TRecordingJob job;
  job.ApplyOptionText("qscale=2,5\naspect=1,5");
  EXPECT_FLOAT_EQ(job.Video.VideoQScale, 2.5f);
  EXPECT_FLOAT_EQ(job.Video.FrameAspectRatio, 1.5f);
  EXPECT_EQ(MessageOf([&] { job.SetOption("qscale", "3.5"); }),
            "'3.5' is not a valid floating point value");
  EXPECT_FLOAT_EQ(job.Video.VideoQScale, 2.5f);
}

TEST(GenericOptions, RoutingOverTheCommonContexts) {
  TRecordingJob job;
  const int64_t defaultVideoRate = CodecOptions(job, AVMEDIA_TYPE_VIDEO)->bit_rate;
  EXPECT_TRUE(job.SetGenericOption("ab", "128000"));
  EXPECT_EQ(CodecOptions(job, AVMEDIA_TYPE_AUDIO)->bit_rate, 128000);
  EXPECT_EQ(CodecOptions(job, AVMEDIA_TYPE_VIDEO)->bit_rate, defaultVideoRate);

  // Video options reach the video context and, as options of any kind,
  // the data and attachment contexts; never the audio one.
  EXPECT_TRUE(job.SetGenericOption("g", "30"));
  EXPECT_EQ(CodecOptions(job, AVMEDIA_TYPE_VIDEO)->gop_size, 30);
  EXPECT_EQ(CodecOptions(job, AVMEDIA_TYPE_DATA)->gop_size, 30);
  EXPECT_EQ(CodecOptions(job, AVMEDIA_TYPE_ATTACHMENT)->gop_size, 30);
  EXPECT_NE(CodecOptions(job, AVMEDIA_TYPE_AUDIO)->gop_size, 30);

  EXPECT_TRUE(job.SetGenericOption("packetsize", "2324"));
  EXPECT_EQ(job.Generic.FormatOptionContext->packet_size, 2324u);
  EXPECT_TRUE(job.SetGenericOption("sws_flags", "bilinear"));

  // The first-letter rule: names no context knows as they stand.
  EXPECT_TRUE(job.SetGenericOption("vb", "900000"));
  EXPECT_EQ(CodecOptions(job, AVMEDIA_TYPE_VIDEO)->bit_rate, 900000);
  EXPECT_TRUE(job.SetGenericOption("abt", "4000"));
  EXPECT_EQ(CodecOptions(job, AVMEDIA_TYPE_AUDIO)->bit_rate_tolerance, 4000);
  EXPECT_TRUE(job.SetGenericOption("vb", "950000"));

  EXPECT_EQ(job.Generic.RecordedOptionNames,
            (std::vector<std::string>{"ab", "g", "packetsize", "sws_flags", "b", "bt", "b"}));
}

TEST(GenericOptions, RefusedNamesAndValuesChangeNothing) {
  TRecordingJob job;
  const int64_t videoRate = CodecOptions(job, AVMEDIA_TYPE_VIDEO)->bit_rate;
  EXPECT_FALSE(job.SetGenericOption("b", "abc"));
  EXPECT_FALSE(job.SetGenericOption("b ", "1000"));
  EXPECT_FALSE(job.SetGenericOption("nosuchoption", "1"));
  EXPECT_FALSE(job.SetGenericOption("b", " \t"));
  EXPECT_FALSE(job.SetGenericOption("", "1000"));
  EXPECT_FALSE(job.SetGenericOption("scan_offset", "maybe"));
  EXPECT_EQ(CodecOptions(job, AVMEDIA_TYPE_VIDEO)->bit_rate, videoRate);
  EXPECT_TRUE(job.Generic.RecordedOptionNames.empty());
  EXPECT_EQ(job.Generic.EncoderPrivateOptions[AVMEDIA_TYPE_VIDEO], nullptr);
  job.ApplyOptionText("nosuchoption=1\nb=\n=5");
  EXPECT_TRUE(job.Generic.RecordedOptionNames.empty());
  EXPECT_TRUE(job.Lines.empty());
}

TEST(GenericOptions, PrivateClassOptionsAreRecordedPerRole) {
  TRecordingJob job;
  job.ApplyOptionText("preset=slow\nmuxrate=1411200\nloop=0");
  EXPECT_EQ(DictValue(job.Generic.EncoderPrivateOptions[AVMEDIA_TYPE_VIDEO], "preset"), "slow");
  EXPECT_EQ(DictValue(job.Generic.MuxerPrivateOptions, "muxrate"), "1411200");
  EXPECT_EQ(DictValue(job.Generic.MuxerPrivateOptions, "loop"), "0");    // GIF muxer
  EXPECT_EQ(DictValue(job.Generic.DemuxerPrivateOptions, "loop"), "0");  // image sequences
  EXPECT_EQ(DictValue(job.Generic.DemuxerPrivateOptions, "muxrate"), "(none)");
  EXPECT_EQ(job.Generic.RecordedOptionNames,
            (std::vector<std::string>{"preset", "muxrate", "loop"}));

  // A value the classes refuse keeps what was recorded before.
  EXPECT_TRUE(job.SetGenericOption("scan_offset", "1"));
  EXPECT_FALSE(job.SetGenericOption("scan_offset", "maybe"));
  EXPECT_EQ(DictValue(job.Generic.EncoderPrivateOptions[AVMEDIA_TYPE_VIDEO], "scan_offset"), "1");
}

TEST(GenericOptions, RenamedNamesOfTheOlderGeneration) {
  TRecordingJob job;
  EXPECT_TRUE(job.SetGenericOption("gop", "18"));
  EXPECT_EQ(CodecOptions(job, AVMEDIA_TYPE_VIDEO)->gop_size, 18);
  EXPECT_TRUE(job.SetGenericOption("flags", "+scan_offset"));
  EXPECT_EQ(DictValue(job.Generic.EncoderPrivateOptions[AVMEDIA_TYPE_VIDEO], "scan_offset"), "1");
  EXPECT_EQ(job.Generic.RecordedOptionNames, (std::vector<std::string>{"g", "scan_offset"}));
  // Flags the installed generation still knows are set as they stand.
  EXPECT_TRUE(job.SetGenericOption("flags", "+qscale"));
  EXPECT_TRUE(CodecOptions(job, AVMEDIA_TYPE_VIDEO)->flags & AV_CODEC_FLAG_QSCALE);
}

TEST(GenericOptions, DebugRaisesTheVerbosityForTheProcess) {
  TLogLevelGuard keepLevels;
  for (const char* option : {"debug=1", "fdebug=ts"}) {
    SCOPED_TRACE(option);
    TRecordingJob job;
    job.ApplyOptionText("v=0");
    job.ApplyOptionText(option);
    EXPECT_EQ(job.Diagnostics.Verbosity, 2);
    EXPECT_EQ(AVUtilApi.av_log_get_level(), AV_LOG_DEBUG);
    EXPECT_EQ(LogFilterLevel, 2);
  }
}

TEST(GenericOptions, VerbositySetsTheLibraryLevel) {
  TLogLevelGuard keepLevels;
  TRecordingJob job;
  const struct {
    int Level;
    int LibraryLevel;
  } cases[] = {{-1, AV_LOG_QUIET}, {0, AV_LOG_ERROR}, {1, AV_LOG_INFO}, {3, AV_LOG_TRACE}};
  for (const auto& c : cases) {
    job.SetOption("v", std::to_string(c.Level));
    EXPECT_EQ(job.Diagnostics.Verbosity, c.Level);
    EXPECT_EQ(AVUtilApi.av_log_get_level(), c.LibraryLevel);
    EXPECT_EQ(LogFilterLevel, c.Level);
  }
}

TEST(GenericOptions, ApplyCopiesRecordedOptionsByFlags) {
  TRecordingJob job;
  job.ApplyOptionText("g=30\nab=64000\npacketsize=2324");
  auto copyInto = [&](AVMediaType kind, int flags) {
    AVCodecContext* target = AVCodecApi.avcodec_alloc_context3(nullptr);
    job.ApplyGenericOptions(target, CodecOptions(job, kind), flags);
    return target;
  };
  AVCodecContext* audio = copyInto(AVMEDIA_TYPE_AUDIO, AV_OPT_FLAG_AUDIO_PARAM | 1);
  AVCodecContext* video = copyInto(AVMEDIA_TYPE_VIDEO, AV_OPT_FLAG_VIDEO_PARAM | 1);
  EXPECT_EQ(audio->bit_rate, 64000);
  EXPECT_NE(audio->gop_size, 30);
  EXPECT_EQ(video->gop_size, 30);
  EXPECT_NE(video->bit_rate, 64000);
  AVCodecApi.avcodec_free_context(&audio);
  AVCodecApi.avcodec_free_context(&video);

  for (const auto& [flags, expected] : {std::pair{1, 2324u}, std::pair{2, 0u}}) {
    AVFormatContext* format = AVFormatApi.avformat_alloc_context();
    job.ApplyGenericOptions(format, job.Generic.FormatOptionContext, flags);
    EXPECT_EQ(format->packet_size, expected) << "flags " << flags;
    AVFormatApi.avformat_free_context(format);
  }
}
