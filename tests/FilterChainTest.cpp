// Video filter chains end to end: the output size the chain and the
// automatic scaler give, pictures changed by a chain (raw video, so every
// pixel can be compared with the decoded source), padding around a chain,
// pictures a filter holds until the end of the input, chain timestamps
// driving the frame-rate synchronisation, and the chains that are refused.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "TranscodeTestSupport.h"
#include "platform/Environment.h"

namespace {
TMediaFolder& Media() {
  static TMediaFolder folder("tavrelle-filterchain");
  return folder;
}

constexpr int SourceWidth = 160;
constexpr int SourceHeight = 120;
constexpr int SourceFrames = 25;  // one second at 25 pictures a second
const char* const RawVideo = "vcodec=rawvideo\npix_fmt=yuv420p\n";

std::string Source() {
  return Media().Clip(TMediaKind::VideoOnly);
}

struct TLuma {
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Rows;  // tightly packed
  int At(int x, int y) const { return Rows[static_cast<size_t>(y) * Width + x]; }
};

TLuma CopyLuma(const AVFrame* picture) {
  TLuma luma{picture->width, picture->height, {}};
  for (int y = 0; y < picture->height; ++y) {
    const uint8_t* row = picture->data[0] + static_cast<ptrdiff_t>(y) * picture->linesize[0];
    luma.Rows.insert(luma.Rows.end(), row, row + picture->width);
  }
  return luma;
}

// The luma planes of every decoded picture of a file's first video stream.
std::vector<TLuma> LumaPictures(const std::string& fileName) {
  std::vector<TLuma> pictures;
  Summarise(fileName, [&](const AVFrame* picture, int) { pictures.push_back(CopyLuma(picture)); });
  return pictures;
}

// An MPEG-2 elementary stream whose pictures change size halfway: a first
// sequence at 160x120 and a second at 128x96, each picture brighter from
// left to right.
bool WriteSizeChangingClip(const std::string& fileName) {
  std::ofstream out(fileName, std::ios::binary);
  const AVCodec* codec = AVCodecApi.avcodec_find_encoder(AV_CODEC_ID_MPEG2VIDEO);
  AVPacket* packet = AVCodecApi.av_packet_alloc();
  AVFrame* frame = AVUtilApi.av_frame_alloc();
  bool written = codec && packet && frame && out;
  int64_t pts = 0;
  for (const auto& [width, height] : {std::pair{160, 120}, std::pair{128, 96}}) {
    AVCodecContext* encoder = written ? AVCodecApi.avcodec_alloc_context3(codec) : nullptr;
    if (!encoder) break;
    encoder->width = width;
    encoder->height = height;
    encoder->pix_fmt = AV_PIX_FMT_YUV420P;
    encoder->time_base = AVRational{1, 25};
    encoder->framerate = AVRational{25, 1};
    encoder->gop_size = 6;
    encoder->max_b_frames = 0;
    written = AVCodecApi.avcodec_open2(encoder, codec, nullptr) >= 0;
    const auto drain = [&] {
      while (AVCodecApi.avcodec_receive_packet(encoder, packet) >= 0) {
        out.write(reinterpret_cast<const char*>(packet->data), packet->size);
        AVCodecApi.av_packet_unref(packet);
      }
    };
    for (int index = 0; written && index < 12; ++index) {
      AVUtilApi.av_frame_unref(frame);
      frame->width = width;
      frame->height = height;
      frame->format = AV_PIX_FMT_YUV420P;
      written = AVUtilApi.av_frame_get_buffer(frame, 0) >= 0;
      for (int plane = 0; written && plane < 3; ++plane)
        for (int y = 0; y < (plane ? height / 2 : height); ++y)
          for (int x = 0; x < (plane ? width / 2 : width); ++x)
            frame->data[plane][y * frame->linesize[plane] + x] =
                plane ? 128 : static_cast<uint8_t>(32 + x * 192 / width);
      frame->pts = pts++;
      written = written && AVCodecApi.avcodec_send_frame(encoder, frame) >= 0;
      drain();
    }
    if (written) AVCodecApi.avcodec_send_frame(encoder, nullptr);
    drain();
    AVCodecApi.avcodec_free_context(&encoder);
  }
  AVUtilApi.av_frame_free(&frame);
  AVCodecApi.av_packet_free(&packet);
  return written && out.good();
}

// Converts the source into a raw-video AVI with the given extra options.
::testing::AssertionResult Convert(const std::string& options, const std::string& output,
                                   TTranscodeJob& job) {
  const ::testing::AssertionResult prepared =
      job.Prepare(Source(), std::string(RawVideo) + options, output);
  if (!prepared) return prepared;
  return job.RunInline();
}
}  // namespace

// The sink's size becomes the encoder's: what the description makes of the
// picture, after the automatic scaler brought it to the requested size.
TEST(FilterChain, OutputSizeFollowsTheChainAndTheRequestedSize) {
  const struct {
    const char* Name;
    const char* Options;
    int Width, Height;
  } cases[] = {
      {"chain-scales", "vfilters=scale=80:60", 80, 60},
      {"size-scales", "s=96x72\nvfilters=hflip", 96, 72},
      {"both-scale", "s=96x72\nvfilters=scale=64:48", 64, 48},
      {"chain-crops", "vfilters=crop=120:90:0:0", 120, 90},
  };
  for (const auto& c : cases) {
    const std::string output = Media().FilePath(std::string(c.Name) + ".avi");
    TTranscodeJob job;
    ASSERT_TRUE(Convert(c.Options, output, job)) << c.Name;
    const TFileSummary summary = Summarise(output);
    const TStreamSummary* video = summary.First(AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(video, nullptr) << c.Name;
    EXPECT_EQ(video->Width, c.Width) << c.Name;
    EXPECT_EQ(video->Height, c.Height) << c.Name;
    EXPECT_EQ(video->Frames, SourceFrames) << c.Name;
  }
}

// Every output picture is the source picture of the same number, changed
// as the chain says; padding still surrounds it in the pad colour.
TEST(FilterChain, ChainChangesEveryPictureAndPaddingSurroundsIt) {
  const struct {
    const char* Name;
    const char* Options;
    int Top, Bottom, Left, Right;
    int (*Expected)(const TLuma& source, int x, int y);
  } cases[] = {
      {"hflip", "vfilters=hflip", 0, 0, 0, 0,
       [](const TLuma& s, int x, int y) { return s.At(s.Width - 1 - x, y); }},
      {"negate", "vfilters=negate", 0, 0, 0, 0,
       [](const TLuma& s, int x, int y) { return 255 - s.At(x, y); }},
      {"vflip-padded", "vfilters=vflip\npadtop=8\npadbottom=16\npadleft=16\npadright=32", 8, 16, 16,
       32, [](const TLuma& s, int x, int y) { return s.At(x, s.Height - 1 - y); }},
  };
  const std::vector<TLuma> source = LumaPictures(Source());
  ASSERT_EQ(source.size(), static_cast<size_t>(SourceFrames));
  for (const auto& c : cases) {
    const std::string output = Media().FilePath(std::string(c.Name) + ".avi");
    TTranscodeJob job;
    ASSERT_TRUE(Convert(c.Options, output, job)) << c.Name;
    const std::vector<TLuma> pictures = LumaPictures(output);
    ASSERT_EQ(pictures.size(), source.size()) << c.Name;
    for (size_t index = 0; index < pictures.size(); index += 6) {
      const TLuma& picture = pictures[index];
      ASSERT_EQ(picture.Width, SourceWidth + c.Left + c.Right) << c.Name;
      ASSERT_EQ(picture.Height, SourceHeight + c.Top + c.Bottom) << c.Name;
      for (int y = 0; y < SourceHeight; y += 5)
        for (int x = 0; x < SourceWidth; x += 7)
          ASSERT_EQ(picture.At(c.Left + x, c.Top + y), c.Expected(source[index], x, y))
              << c.Name << " picture " << index << " at " << x << "," << y;
      if (c.Top > 0) {
        EXPECT_EQ(picture.At(0, 0), 16) << c.Name;
        EXPECT_EQ(picture.At(picture.Width - 1, picture.Height - 1), 16) << c.Name;
        EXPECT_EQ(picture.At(c.Left - 1, c.Top + 10), 16) << c.Name;
      }
    }
  }
}

// Two streams of one source at different sizes: each has its own chain, so
// the full-size stream is the exact flip of the source, not a picture
// scaled down for the other stream and up again.
TEST(FilterChain, EveryStreamOfOneSourceHasItsOwnChain) {
  const std::string output = Media().FilePath("two-streams.avi");
  TTranscodeJob job;
  ASSERT_TRUE(job.Prepare(Source(), std::string(RawVideo) + "vfilters=hflip", output));
  job.ApplyOptionText(std::string(RawVideo) + "s=80x60\nnewvideo=1");
  ASSERT_TRUE(job.RunInline());
  const std::vector<TLuma> source = LumaPictures(Source());
  std::vector<TLuma> pictures;
  const TFileSummary summary = Summarise(
      output, [&](const AVFrame* picture, int) { pictures.push_back(CopyLuma(picture)); });
  ASSERT_EQ(summary.Count(AVMEDIA_TYPE_VIDEO), 2);
  EXPECT_EQ(summary.Streams[1].Width, 80);
  EXPECT_EQ(summary.Streams[1].Height, 60);
  EXPECT_EQ(summary.Streams[1].Frames, SourceFrames);
  ASSERT_EQ(pictures.size(), source.size());
  for (size_t index = 0; index < pictures.size(); index += 4)
    for (int y = 0; y < SourceHeight; y += 3)
      for (int x = 0; x < SourceWidth; x += 3)
        ASSERT_EQ(pictures[index].At(x, y), source[index].At(SourceWidth - 1 - x, y))
            << "picture " << index << " at " << x << "," << y;
}

// "reverse" gives nothing before the input ends: every picture leaves at
// the drain, in the clock of the input.
TEST(FilterChain, PicturesHeldUntilTheEndAllArrive) {
  const std::string output = Media().FilePath("reverse.avi");
  TTranscodeJob job;
  ASSERT_TRUE(Convert("vfilters=reverse", output, job));
  const std::vector<TLuma> source = LumaPictures(Source());
  const std::vector<TLuma> pictures = LumaPictures(output);
  ASSERT_EQ(pictures.size(), source.size());
  EXPECT_EQ(pictures.front().Rows, source.back().Rows);
  EXPECT_EQ(pictures.back().Rows, source.front().Rows);
  EXPECT_EQ(job.Stats.FramesDrop, 0);
  EXPECT_EQ(job.Stats.FramesDup, 0);
}

// The frame-rate synchronisation follows the chain's timestamps: pictures
// stretched to twice their time are each written twice.
TEST(FilterChain, ChainTimestampsDriveTheFrameRate) {
  const std::string output = Media().FilePath("slow.avi");
  TTranscodeJob job;
  ASSERT_TRUE(Convert("vfilters=setpts=2*PTS", output, job));
  const TFileSummary summary = Summarise(output);
  const TStreamSummary* video = summary.First(AVMEDIA_TYPE_VIDEO);
  ASSERT_NE(video, nullptr);
  EXPECT_NEAR(video->Frames, 2 * SourceFrames - 2, 1);
  EXPECT_NEAR(job.Stats.FramesDup, SourceFrames - 2, 1);
}

// A decoder that changes its picture size mid-stream gets a chain made for
// its new pictures: they arrive scaled to the output size and flipped, and
// none is lost.
TEST(FilterChain, PicturesOfANewSizeGetAChainOfTheirOwn) {
  const std::string input = Media().FilePath("size-change.m2v");
  ASSERT_TRUE(WriteSizeChangingClip(input));
  const std::vector<TLuma> source = LumaPictures(input);
  ASSERT_GE(source.size(), 20u);
  ASSERT_EQ(source.back().Width, 128);
  const std::string output = Media().FilePath("size-change.avi");
  TTranscodeJob job;
  ASSERT_TRUE(job.Prepare(input, std::string(RawVideo) + "vfilters=hflip", output));
  ASSERT_TRUE(job.RunInline());
  const std::vector<TLuma> pictures = LumaPictures(output);
  // The new sequence may start with a gap in time, filled by a duplicate.
  ASSERT_GE(pictures.size(), source.size());
  EXPECT_EQ(pictures.size(), source.size() + job.Stats.FramesDup);
  for (size_t index = 0; index < pictures.size(); ++index) {
    const TLuma& picture = pictures[index];
    ASSERT_EQ(picture.Width, 160);
    ASSERT_EQ(picture.Height, 120);
    for (int y = 10; y < 120; y += 50)
      EXPECT_GT(picture.At(10, y), picture.At(150, y) + 100) << "picture " << index << " row " << y;
  }
}

// Refused chains: at output creation when the options already say so, at
// the set-up otherwise. The job fails with the message and ends once.
TEST(FilterChain, RefusedChainsFailTheJobWithTheirMessage) {
  const std::string padMessage =
      "Cannot enable pad options and the filters which resize frame at the same time. (crop, "
      "rotate, scale, transpose, etc.)";
  const std::string cropMessage = "Cannot enable crop options and filters at the same time.";
  const struct {
    const char* Name;
    const char* Options;      // before the output is created
    const char* LateOptions;  // after it, so only the set-up can see them
    std::string CreateError;  // empty: the output is created
    std::string RunError;
  } cases[] = {
      {"unparsable", "vfilters=hflip,nosuchfilter", "", "", "Error opening filters!"},
      {"unknown-option", "vfilters=scale=wrong=1", "", "", "Error opening filters!"},
      {"crop-at-creation", "vfilters=hflip\ncroptop=8", "", cropMessage, ""},
      {"crop-at-setup", "vfilters=hflip", "croptop=8", "", "Error opening filters: " + cropMessage},
      {"pad-scale-at-creation", "padleft=16\nvfilters=scale=80:60", "", padMessage, ""},
      {"pad-resizing-at-setup", "padleft=16\nvfilters=pad=200:150", "", "",
       "Error opening filters: " + padMessage},
  };
  for (const auto& c : cases) {
    const std::string output = Media().FilePath(std::string(c.Name) + ".avi");
    TTranscodeJob job;
    ASSERT_TRUE(job.OpenInputFile(Source())) << job.LastError;
    job.ApplyOptionText(std::string(RawVideo) + c.Options);
    const bool created = job.OpenOutputFile(output);
    if (!c.CreateError.empty()) {
      EXPECT_FALSE(created) << c.Name;
      EXPECT_EQ(job.LastError, c.CreateError) << c.Name;
      continue;
    }
    ASSERT_TRUE(created) << c.Name << ": " << job.LastError;
    job.ApplyOptionText(c.LateOptions);
    job.Start(false, tpNormal);
    EXPECT_TRUE(job.HasError) << c.Name;
    EXPECT_EQ(job.ErrorMessage, c.RunError) << c.Name;
    EXPECT_FALSE(job.Finished) << c.Name;
    EXPECT_EQ(job.TerminateCount, 1) << c.Name;
  }
}

// "--option vfilters=..." reaches the engine from the command line.
TEST(FilterChain, CommandLineOptionBuildsTheChain) {
  const std::string out = Media().FilePath("cli");
  std::filesystem::remove_all(out);
  std::filesystem::create_directories(out);
  const auto run = [&](const std::string& chain, std::string& errors) {
    const std::string errorFile = Media().FilePath("cli-stderr.txt");
    const std::string command = "'" + IncludeTrailingPathDelimiter(ExecutableFolder()) +
                                "tavrelle-cli' convert --profile 7 --option 'vfilters=" + chain +
                                "' --out '" + out + "' '" + Media().Clip(TMediaKind::Avi) +
                                "' 2>'" + errorFile + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string lines;
    char buffer[4096];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe)) lines += buffer;
    const int status = pipe ? ::pclose(pipe) : -1;
    std::stringstream text;
    text << std::ifstream(errorFile).rdbuf();
    errors = text.str();
    if (!lines.empty() && lines.back() == '\n') lines.pop_back();
    return std::make_pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1, lines);
  };
  std::string errors;
  const auto [status, written] = run("scale=96:72,hflip", errors);
  ASSERT_EQ(status, 0) << errors;
  const TFileSummary summary = Summarise(written);
  const TStreamSummary* video = summary.First(AVMEDIA_TYPE_VIDEO);
  ASSERT_NE(video, nullptr) << written;
  EXPECT_EQ(video->Width, 96);
  EXPECT_EQ(video->Height, 72);
  EXPECT_NEAR(video->Frames, SourceFrames, 1);
  const auto failed = run("nosuchfilter", errors);
  EXPECT_EQ(failed.first, 1);
  EXPECT_NE(errors.find("Error opening filters!"), std::string::npos) << errors;
}
