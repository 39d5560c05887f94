// Engine features end to end on generated clips: two-pass encoding, the
// statistics (vstats, qphist, psnr), subtitle copy and encoding, several
// streams of one kind, metadata maps, audio drift compensation and the
// session description of an RTP output.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "TranscodeTestSupport.h"
#include "platform/Files.h"

using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

namespace {
TMediaFolder& Media() {
  static TMediaFolder folder("tavrelle-features");
  return folder;
}

std::string ThreeSecondClip(TMediaKind kind, const char* name) {
  TMediaOptions options;
  options.DurationSec = 3;
  return Media().Clip(name, kind, options);
}

bool EncoderAvailable(const char* name) {
  return AVCodecApi.avcodec_find_encoder_by_name(name) != nullptr;
}

const TLogLine* LastLineStartingWith(const TRecordingJob& job, const std::string& prefix) {
  const TLogLine* found = nullptr;
  for (const TLogLine& line : job.Lines)
    if (line.Text.rfind(prefix, 0) == 0) found = &line;
  return found;
}

// One subtitle packet of a file, with what its decoder makes of it.
struct TSubtitlePacket {
  double PtsSec = 0;
  double DurationSec = 0;
  bool Decoded = false;  // the decoder gave a subtitle
  unsigned Rects = 0;    // and this many rectangles in it
};

std::vector<TSubtitlePacket> SubtitlePackets(const std::string& fileName) {
  std::vector<TSubtitlePacket> result;
  AVFormatContext* input = nullptr;
  if (AVFormatApi.avformat_open_input(&input, fileName.c_str(), nullptr, nullptr) < 0)
    return result;
  AVFormatApi.avformat_find_stream_info(input, nullptr);
  int index = -1;
  for (unsigned stream = 0; stream < input->nb_streams && index < 0; ++stream)
    if (input->streams[stream]->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE)
      index = static_cast<int>(stream);
  AVCodecContext* decoder = nullptr;
  if (index >= 0) {
    const AVCodecParameters* parameters = input->streams[index]->codecpar;
    const AVCodec* codec = AVCodecApi.avcodec_find_decoder(parameters->codec_id);
    decoder = codec ? AVCodecApi.avcodec_alloc_context3(codec) : nullptr;
    if (decoder) {
      AVCodecApi.avcodec_parameters_to_context(decoder, parameters);
      decoder->pkt_timebase = input->streams[index]->time_base;
      if (AVCodecApi.avcodec_open2(decoder, codec, nullptr) < 0)
        AVCodecApi.avcodec_free_context(&decoder);
    }
  }
  AVPacket* packet = AVCodecApi.av_packet_alloc();
  while (index >= 0 && AVFormatApi.av_read_frame(input, packet) >= 0) {
    if (packet->stream_index == index) {
      TSubtitlePacket entry;
      const AVRational timeBase = input->streams[index]->time_base;
      entry.PtsSec = static_cast<double>(packet->pts) * av_q2d(timeBase);
      entry.DurationSec = static_cast<double>(packet->duration) * av_q2d(timeBase);
      AVSubtitle subtitle{};
      int got = 0;
      if (decoder && AVCodecApi.avcodec_decode_subtitle2(decoder, &subtitle, &got, packet) >= 0 &&
          got) {
        entry.Decoded = true;
        entry.Rects = subtitle.num_rects;
        AVCodecApi.avsubtitle_free(&subtitle);
      }
      result.push_back(entry);
    }
    AVCodecApi.av_packet_unref(packet);
  }
  AVCodecApi.av_packet_free(&packet);
  AVCodecApi.avcodec_free_context(&decoder);
  AVFormatApi.avformat_close_input(&input);
  return result;
}
}  // namespace

// ---- Generated clips ------------------------------------------------------------

// The clips the features are checked on hold every picture they were made
// with, also behind an encoder that holds pictures back.
TEST(GeneratedClips, DecodeEveryPicture) {
  for (const TMediaKind kind : {TMediaKind::Mp4, TMediaKind::UnknownAspect, TMediaKind::Avi,
                                TMediaKind::Matroska, TMediaKind::DvdSubtitles}) {
    const TFileSummary summary = Summarise(Media().Clip(kind));
    ASSERT_TRUE(summary.First(AVMEDIA_TYPE_VIDEO)) << MediaKindInfo(kind).Name;
    EXPECT_EQ(summary.First(AVMEDIA_TYPE_VIDEO)->Frames, 25) << MediaKindInfo(kind).Name;
  }
}

// ---- Two-pass encoding ------------------------------------------------------

struct TTwoPassCase {
  const char* Name;
  const char* Encoder;
  const char* Extension;
  double TargetBitRate;
};

class TwoPassTest : public ::testing::TestWithParam<TTwoPassCase> {};

// The first pass learns the clip, the second spends the bit rate where it
// is needed: the result lands near the target. libx264 keeps a statistics
// file of its own, which goes under the log file's name all the same.
TEST_P(TwoPassTest, SecondPassLandsNearTheTargetBitRate) {
  const TTwoPassCase& param = GetParam();
  if (!EncoderAvailable(param.Encoder)) {
    GTEST_SKIP() << param.Encoder << " is not installed";
  }
  const std::string clip = ThreeSecondClip(TMediaKind::VideoOnly, "three-seconds.avi");
  const std::string log = Media().FilePath(std::string("stats-") + param.Name);
  const double target = param.TargetBitRate;
  int64_t videoBytes = 0;
  for (int pass = 1; pass <= 2; ++pass) {
    TTranscodeJob job;
    ASSERT_TRUE(job.Prepare(clip,
                            std::string("vcodec=") + param.Encoder +
                                "\nb=" + std::to_string(static_cast<int>(target)) +
                                "\npass=" + std::to_string(pass) + "\npasslogfile=" + log,
                            Media().FilePath(std::string("pass") + std::to_string(pass) + "-" +
                                             param.Name + param.Extension)));
    ASSERT_TRUE(job.RunInline()) << "pass " << pass;
    if (pass == 1) {
      EXPECT_GT(FileSizeOf(log + "-0.log"), 0) << "the statistics of pass 1";
    }
    videoBytes = job.Stats.VideoSize;
  }
  const TFileSummary summary =
      Summarise(Media().FilePath(std::string("pass2-") + param.Name + param.Extension));
  ASSERT_TRUE(summary.First(AVMEDIA_TYPE_VIDEO));
  EXPECT_NEAR(summary.First(AVMEDIA_TYPE_VIDEO)->Frames, 75, 1);
  EXPECT_NEAR(static_cast<double>(videoBytes) * 8 / 3, target, target * 0.2);
}

INSTANTIATE_TEST_SUITE_P(Encoders, TwoPassTest,
                         ::testing::Values(TTwoPassCase{"mpeg4", "mpeg4", ".avi", 60000},
                                           TTwoPassCase{"x264", "libx264", ".mp4", 150000}),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- Statistics ---------------------------------------------------------------

TEST(Statistics, VideoStatisticsLinesCarryPsnrAndTheRunningTotals) {
  const std::string statistics = Media().FilePath("psnr-vstats.log");
  TTranscodeJob job;
  ASSERT_TRUE(job.Prepare(Media().Clip(TMediaKind::VideoOnly),
                          "vcodec=mpeg4\nqscale=8\npsnr\nvstats_file=" + statistics,
                          Media().FilePath("psnr-vstats.avi")));
  ASSERT_TRUE(job.RunInline());
  const std::vector<std::string> lines = FileLines(statistics);
  ASSERT_EQ(lines.size(), 25u);
  const std::string number = " *[0-9]+\\.[0-9]+";
  for (size_t index = 0; index < lines.size(); ++index)
    EXPECT_THAT(lines[index],
                MatchesRegex("frame= +" + std::to_string(index + 1) + " q=" + number + " PSNR=" +
                             number + " f_size= +[0-9]+ s_size= +[0-9]+kB time=" + number +
                             " br=" + number + "kbits/s avg_br=" + number + "kbits/s type= [IP]"));
  EXPECT_THAT(lines.back(), HasSubstr("time= 1.000 "));
}

TEST(Statistics, AStatisticsFileThatCannotBeCreatedFailsTheJob) {
  const std::string statistics = Media().FilePath("no-such-folder/vstats.log");
  TTranscodeJob job;
  ASSERT_TRUE(job.Prepare(Media().Clip(TMediaKind::VideoOnly),
                          "vcodec=mpeg4\nvstats_file=" + statistics,
                          Media().FilePath("vstats-fail.avi")));
  job.Start(false, tpNormal);
  EXPECT_TRUE(job.HasError);
  EXPECT_EQ(job.ErrorMessage, "fopen fail: " + statistics);
  EXPECT_TRUE(job.Logged("fopen fail: " + statistics));
  EXPECT_EQ(job.TerminateCount, 1);
  EXPECT_TRUE(job.OpenEncoders.empty() && job.OpenDecoders.empty());
}

// The final text line names the quantiser histogram and the PSNR of every
// plane over the whole clip.
TEST(Statistics, ReportLineShowsQuantiserHistogramAndPsnr) {
  TTranscodeJob job;
  ASSERT_TRUE(job.Prepare(Media().Clip(TMediaKind::VideoOnly),
                          "vcodec=mpeg4\nqscale=5\nqphist\npsnr", Media().FilePath("qphist.avi")));
  ASSERT_TRUE(job.RunInline());
  const TLogLine* last = LastLineStartingWith(job, "frame=");
  ASSERT_TRUE(last);
  const std::string number = "[0-9]+\\.[0-9][0-9]";
  EXPECT_THAT(last->Text,
              MatchesRegex("frame= +25 fps= *[0-9]+ q=5\\.0 L[0-9A-F]{32}PSNR=Y:" + number +
                           " U:" + number + " V:" + number + " \\*:" + number + " size=.*"));
  // Each report counts the quantiser of the latest picture: always 5 here.
  const std::string histogram = last->Text.substr(last->Text.find('L') + 1, 32);
  EXPECT_GE(std::stoi(histogram.substr(5, 1), nullptr, 16), 1) << histogram;
}

// ---- Subtitles -----------------------------------------------------------------

TEST(Subtitles, CopiedBitmapSubtitlesKeepEveryPacket) {
  const std::string input = Media().Clip(TMediaKind::DvdSubtitles);
  const std::string output = Media().FilePath("subtitle-copy.mkv");
  TTranscodeJob job;
  ASSERT_TRUE(job.Prepare(input, "vcodec=mpeg4\nacodec=mp2\nscodec=copy", output));
  ASSERT_TRUE(job.RunInline());
  const std::vector<TSubtitlePacket> source = SubtitlePackets(input);
  const std::vector<TSubtitlePacket> copied = SubtitlePackets(output);
  ASSERT_EQ(source.size(), 2u);
  ASSERT_EQ(copied.size(), source.size());
  for (size_t index = 0; index < copied.size(); ++index) {
    // The audio encoder's priming delays the whole copy by a few milliseconds.
    EXPECT_NEAR(copied[index].PtsSec, source[index].PtsSec, 0.03) << index;
    EXPECT_TRUE(copied[index].Decoded && copied[index].Rects == 1) << index;
  }
}

// A DVB subtitle goes out as two packets: one that shows it at its start and
// one that clears the display at its end.
TEST(Subtitles, DvbSubtitlesAreShownAndCleared) {
  const std::string input = Media().Clip(TMediaKind::DvdSubtitles);
  const std::string output = Media().FilePath("subtitle-dvb.ts");
  TTranscodeJob job;
  ASSERT_TRUE(job.Prepare(input, "vcodec=mpeg2video\nacodec=mp2\nscodec=dvbsub", output));
  ASSERT_TRUE(job.RunInline());
  const std::vector<TSubtitlePacket> packets = SubtitlePackets(output);
  ASSERT_EQ(packets.size(), 4u);
  for (size_t caption = 0; caption < 2; ++caption) {
    const TSubtitlePacket& show = packets[2 * caption];
    const TSubtitlePacket& clear = packets[2 * caption + 1];
    EXPECT_TRUE(show.Decoded && show.Rects == 1) << caption;
    EXPECT_EQ(clear.Rects, 0u) << caption;
    EXPECT_NEAR(clear.PtsSec - show.PtsSec, 0.4, 0.01) << caption;
  }
  EXPECT_NEAR(packets[2].PtsSec - packets[0].PtsSec, 0.5, 0.01);
}

TEST(Subtitles, TextCaptionsAreEncodedAgain) {
  const std::string input = Media().Clip(TMediaKind::Matroska);
  const std::string output = Media().FilePath("subtitle-ass.mkv");
  TTranscodeJob job;
  ASSERT_TRUE(job.Prepare(input, "vcodec=mpeg4\nacodec=mp2\nscodec=ass", output));
  ASSERT_TRUE(job.RunInline());
  const std::vector<TSubtitlePacket> packets = SubtitlePackets(output);
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_NEAR(packets[1].PtsSec - packets[0].PtsSec, 0.5, 0.01);
  for (const TSubtitlePacket& packet : packets) {
    EXPECT_TRUE(packet.Decoded && packet.Rects == 1);
    EXPECT_NEAR(packet.DurationSec, 0.4, 0.002) << "each caption keeps its end";
  }
}

// ---- Several streams of one kind ------------------------------------------------

// Streams added after the output was created start from fresh settings: each
// takes its own encoder and size, and finds its source like the first ones.
TEST(NewStreams, OutputGetsASecondStreamOfEveryKind) {
  const std::string input = Media().Clip(TMediaKind::Matroska);
  const std::string output = Media().FilePath("new-streams.mkv");
  TTranscodeJob job;
  ASSERT_TRUE(job.Prepare(input, "vcodec=mpeg4\nacodec=mp2\nscodec=copy", output));
  job.ApplyOptionText("acodec=pcm_s16le\nnewaudio\nvcodec=mpeg4\ns=80x60\nnewvideo");
  job.ApplyOptionText("scodec=ass\nnewsubtitle");
  ASSERT_TRUE(job.RunInline());
  EXPECT_TRUE(job.Logged("  Stream #0.1 -> #0.3"));
  EXPECT_TRUE(job.Logged("  Stream #0.0 -> #0.4"));
  EXPECT_TRUE(job.Logged("  Stream #0.2 -> #0.5"));
  const TFileSummary summary = Summarise(output);
  ASSERT_EQ(summary.Streams.size(), 6u);
  const std::vector<AVCodecID> codecs{AV_CODEC_ID_MPEG4,     AV_CODEC_ID_MP2,   AV_CODEC_ID_SUBRIP,
                                      AV_CODEC_ID_PCM_S16LE, AV_CODEC_ID_MPEG4, AV_CODEC_ID_ASS};
  for (size_t index = 0; index < codecs.size(); ++index)
    EXPECT_EQ(summary.Streams[index].CodecId, codecs[index]) << index;
  const int64_t sourceSamples = Summarise(input).First(AVMEDIA_TYPE_AUDIO)->Samples;
  for (size_t index : {1u, 3u})
    EXPECT_NEAR(summary.Streams[index].Samples, sourceSamples, 1152) << index;
  EXPECT_EQ(summary.Streams[0].Frames, 25);
  EXPECT_EQ(summary.Streams[4].Width, 80);
  EXPECT_EQ(summary.Streams[4].Height, 60);
  EXPECT_EQ(SubtitlePackets(output).size(), 2u) << "the first subtitle stream";
}

// ---- Metadata maps ----------------------------------------------------------------

TEST(MetaDataMaps, OutputTakesTheTextsOfTheMappedInput) {
  const std::string tagged = Media().FilePath("tagged.mkv");
  {
    TTranscodeJob job;
    ASSERT_TRUE(job.Prepare(Media().Clip(TMediaKind::VideoOnly),
                            "vcodec=mpeg4\ntitle=Source title\ncomment=Source comment", tagged));
    ASSERT_TRUE(job.RunInline());
  }
  const auto textsOf = [](const std::string& fileName) {
    std::pair<std::string, std::string> texts;
    AVFormatContext* input = nullptr;
    if (AVFormatApi.avformat_open_input(&input, fileName.c_str(), nullptr, nullptr) < 0)
      return texts;
    const auto text = [input](const char* key) {
      const AVDictionaryEntry* entry = AVUtilApi.av_dict_get(input->metadata, key, nullptr, 0);
      return std::string(entry ? entry->value : "");
    };
    texts = {text("title"), text("comment")};
    AVFormatApi.avformat_close_input(&input);
    return texts;
  };
  ASSERT_EQ(textsOf(tagged),
            std::make_pair(std::string("Source title"), std::string("Source comment")));
  for (const bool mapped : {true, false}) {
    const std::string output = Media().FilePath(mapped ? "mapped-meta.mkv" : "unmapped-meta.mkv");
    TTranscodeJob job;
    ASSERT_TRUE(job.Prepare(
        tagged, std::string("vcodec=mpeg4") + (mapped ? "\nmap_meta_data=0:0" : ""), output));
    ASSERT_TRUE(job.RunInline());
    const auto texts = textsOf(output);
    EXPECT_EQ(texts.first, mapped ? "Source title" : "") << mapped;
    EXPECT_EQ(texts.second, mapped ? "Source comment" : "") << mapped;
  }
}

// ---- Audio drift compensation -----------------------------------------------------

// Audio timestamps that run 2% fast against the samples (882 samples a
// second): with -async 1000 the resampler stretches the sound by up to 1000
// samples a second in proportion to the drift: the drift levels off below a
// second's worth of it (1764 samples by the end without compensation) and
// the output is stretched towards the timestamps.
TEST(AudioSync, SteadyDriftIsCompensatedByTheResampler) {
  TMediaOptions options;
  options.DurationSec = 2;
  const std::string input = Media().Clip("drift.wav", TMediaKind::Wav, options);
  const std::string output = Media().FilePath("drift-out.wav");
  TTranscodeJob job;
  job.SetOption("itsscale", "0:1.02");
  ASSERT_TRUE(job.Prepare(input, "acodec=pcm_s16le\nasync=1000", output));
  job.Diagnostics.Verbosity = 3;
  ASSERT_TRUE(job.RunInline());
  int compensations = 0;
  double largestDrift = 0;
  for (const TLogLine& line : job.Lines) {
    double drift = 0;
    int compensation = 0;
    int rate = 0;
    if (std::sscanf(line.Text.c_str(),
                    "compensating audio timestamp drift:%lf compensation:%d in:%d", &drift,
                    &compensation, &rate) != 3)
      continue;
    ++compensations;
    largestDrift = std::max(largestDrift, std::fabs(drift));
    EXPECT_NEAR(compensation, drift, 1) << line.Text;
    EXPECT_EQ(rate, 44100);
  }
  EXPECT_GT(compensations, 10);
  EXPECT_LT(largestDrift, 882);
  const TFileSummary summary = Summarise(output);
  ASSERT_TRUE(summary.First(AVMEDIA_TYPE_AUDIO));
  EXPECT_GT(summary.First(AVMEDIA_TYPE_AUDIO)->Samples, 2 * 44100 + 600);
}

// ---- Bitstream filters ------------------------------------------------------------

// A filter that cannot take the stream it is attached to: logged and passed
// by, so the packets arrive unchanged, or with -xerror the end of the job.
TEST(BitstreamFilters, AFilterForAnotherCodecIsPassedByOrEndsTheJob) {
  const std::string input = Media().Clip(TMediaKind::VideoOnly);
  for (const bool exitOnError : {false, true}) {
    const std::string output = Media().FilePath(exitOnError ? "bsf-xerror.avi" : "bsf-wrong.avi");
    TTranscodeJob job;
    ASSERT_TRUE(job.Prepare(input,
                            std::string("vcodec=copy\nvbsf=h264_mp4toannexb\nvbsf=null") +
                                (exitOnError ? "\nxerror" : ""),
                            output));
    job.Start(false, tpNormal);
    const std::string prefix = "h264_mp4toannexb failed for stream 0, codec copy";
    const TLogLine* failure = LastLineStartingWith(job, prefix);
    ASSERT_TRUE(failure) << exitOnError;
    EXPECT_EQ(failure->Level, exitOnError ? -1 : 0);
    EXPECT_EQ(job.HasError, exitOnError);
    if (exitOnError) {
      EXPECT_EQ(job.ErrorMessage, failure->Text);
      continue;
    }
    const TFileSummary copied = Summarise(output);
    ASSERT_TRUE(copied.First(AVMEDIA_TYPE_VIDEO));
    EXPECT_EQ(copied.First(AVMEDIA_TYPE_VIDEO)->CodecId, AV_CODEC_ID_MPEG4);
    EXPECT_EQ(copied.First(AVMEDIA_TYPE_VIDEO)->Frames, 25);
  }
}

// ---- Decoding errors ---------------------------------------------------------------

// Sound read with a decoder of the wrong kind fails packet after packet:
// logged and skipped, or, with -xerror, the end of the job.
TEST(DecodingErrors, AreLoggedOrEndTheJobWithXerror) {
  for (const bool exitOnError : {false, true}) {
    TTranscodeJob job;
    job.SetOption("acodec", "mp3");
    ASSERT_TRUE(job.Prepare(Media().Clip(TMediaKind::Wav),
                            std::string("acodec=pcm_s16le") + (exitOnError ? "\nxerror" : ""),
                            Media().FilePath(exitOnError ? "xerror.wav" : "no-xerror.wav")));
    job.Start(false, tpNormal);
    const std::string message = "Error while decoding stream #0.0";
    EXPECT_EQ(job.HasError, exitOnError);
    EXPECT_EQ(job.TerminateCount, 1);
    if (exitOnError) {
      EXPECT_EQ(job.ErrorMessage, message);
      EXPECT_EQ(std::count(job.Lines.begin(), job.Lines.end(), TLogLine{-1, message}), 1);
    } else {
      EXPECT_GT(std::count(job.Lines.begin(), job.Lines.end(), TLogLine{1, message}), 1);
    }
    EXPECT_TRUE(job.OpenEncoders.empty() && job.OpenDecoders.empty());
  }
}

// ---- RTP output -------------------------------------------------------------------

// A UDP socket on the loopback address that the RTP output sends to.
class TLoopbackReceiver {
 public:
  TLoopbackReceiver() {
    socket_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (socket_ < 0 || ::bind(socket_, reinterpret_cast<sockaddr*>(&address), length) < 0 ||
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) < 0)
      return;
    port_ = ntohs(address.sin_port);
  }
  ~TLoopbackReceiver() {
    if (socket_ >= 0) ::close(socket_);
  }
  int Port() const { return port_; }
  int PendingDatagrams() const {
    int count = 0;
    char buffer[65536];
    while (::recv(socket_, buffer, sizeof buffer, MSG_DONTWAIT) > 0) ++count;
    return count;
  }

 private:
  int socket_ = -1;
  int port_ = 0;
};

TEST(RtpOutput, AllRtpOutputsLogTheirSessionDescription) {
  TLoopbackReceiver receiver;
  ASSERT_GT(receiver.Port(), 0);
  const std::string url = "rtp://127.0.0.1:" + std::to_string(receiver.Port());
  TTranscodeJob job;
  ASSERT_TRUE(job.Prepare(Media().Clip(TMediaKind::VideoOnly), "vcodec=mpeg4\nf=rtp", url));
  ASSERT_TRUE(job.RunInline());
  const TLogLine* sdp = LastLineStartingWith(job, "SDP: ");
  ASSERT_TRUE(sdp);
  EXPECT_EQ(sdp->Level, 1);
  EXPECT_THAT(sdp->Text, StartsWith("SDP: v=0"));
  EXPECT_THAT(sdp->Text, HasSubstr("c=IN IP4 127.0.0.1"));
  EXPECT_THAT(sdp->Text, HasSubstr("m=video " + std::to_string(receiver.Port()) + " RTP/AVP"));
  EXPECT_THAT(sdp->Text, HasSubstr("a=rtpmap:96 MP4V-ES/90000"));
  EXPECT_NE(sdp->Text.back(), '\n');
  EXPECT_GE(receiver.PendingDatagrams(), 25) << "every picture was sent";
}

TEST(RtpOutput, AnOutputOfAnotherFormatSuppressesTheDescription) {
  TLoopbackReceiver receiver;
  ASSERT_GT(receiver.Port(), 0);
  TTranscodeJob job;
  ASSERT_TRUE(job.OpenInputFile(Media().Clip(TMediaKind::VideoOnly)));
  job.ApplyOptionText("vcodec=mpeg4\nf=rtp");
  ASSERT_TRUE(job.OpenOutputFile("rtp://127.0.0.1:" + std::to_string(receiver.Port())));
  job.ApplyOptionText("vcodec=mpeg4");
  ASSERT_TRUE(job.OpenOutputFile(Media().FilePath("beside-rtp.avi")));
  ASSERT_TRUE(job.RunInline());
  EXPECT_FALSE(LastLineStartingWith(job, "SDP: "));
}

// ---- The command line ---------------------------------------------------------------

// Options given with --option reach the engine: two passes with their log
// file and the video statistics file.
TEST(CommandLine, TwoPassAndStatisticsOptionsReachTheEngine) {
  const std::string cli = IncludeTrailingPathDelimiter(ExecutableFolder()) + "tavrelle-cli";
  const std::string clip = ThreeSecondClip(TMediaKind::VideoOnly, "three-seconds.avi");
  const std::string log = Media().FilePath("cli-pass");
  const std::string statistics = Media().FilePath("cli-vstats.log");
  for (int pass = 1; pass <= 2; ++pass) {
    const std::string out = Media().FilePath("cli-pass" + std::to_string(pass));
    std::filesystem::create_directories(out);
    const std::string command =
        "'" + cli + "' convert --profile 4 --out '" + out +
        "' --option pass=" + std::to_string(pass) + " --option 'passlogfile=" + log +
        "' --option 'vstats_file=" + statistics + "' '" + clip + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_GT(FileSizeOf(log + "-0.log"), 0) << "pass " << pass;
    EXPECT_EQ(FileLines(statistics).size(), 75u) << "pass " << pass;
  }
}
