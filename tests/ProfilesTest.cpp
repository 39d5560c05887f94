// The application logic: profile names and extensions, the audio-only
// rule, output names unique on disk and within a batch, and the output
// record built from profile, overrides and source.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

#include <cstring>

#include "app/logic/Profiles.h"

namespace fs = std::filesystem;

namespace {
class TScratchFolder {
 public:
  TScratchFolder() {
    path_ = fs::temp_directory_path() / ("tavrelle-profiles-" + std::to_string(getpid()));
    fs::create_directories(path_);
  }
  ~TScratchFolder() { fs::remove_all(path_); }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  void Touch(const std::string& name) const { std::ofstream(File(name)) << "x"; }

 private:
  fs::path path_;
};

TSourceDescription Source(const std::string& fileName, bool withAudio = true,
                          bool withVideo = true) {
  TSourceDescription source;
  source.FileName = fileName;
  std::memset(&source.Audio, 0, sizeof source.Audio);
  std::memset(&source.Video, 0, sizeof source.Video);
  source.Audio.Channels = withAudio ? 1 : -1;
  source.Audio.SampleRate = withAudio ? 32000 : -1;
  source.Audio.BitRate = withAudio ? 96000 : -1;
  source.Video.Width = withVideo ? 176 : -1;
  source.Video.Height = withVideo ? 144 : -1;
  return source;
}

const TOutputProfile& Profile(int number) {
  return OutputProfiles()[number - 1];
}
}  // namespace

TEST(Profiles, NamesAndExtensionsComeFromTheCaptions) {
  const std::pair<const char*, const char*> expected[] = {
      {"Xbox360 H.264 640x480", ".mp4"},   {"Xbox360 H.264 1280x720", ".mp4"},
      {"Xbox360 H.264 1920x1080", ".mp4"}, {"Xbox360 MCE 640x480", ".avi"},
      {"Xbox360 MCE 1280x720", ".avi"},    {"Xbox360 MCE 1920x1080", ".avi"},
      {"Windows Media Video", ".wmv"},     {"Windows Media Audio", ".wma"},
      {"MP3 MPEG Layer-3", ".mp3"}};
  ASSERT_EQ(OutputProfiles().size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(ProfileName(OutputProfiles()[i].Caption), expected[i].first);
    EXPECT_EQ(ProfileExtension(OutputProfiles()[i].Caption), expected[i].second);
  }
}

TEST(Profiles, AudioOnlyExtensionsAreMatchedCaseSensitively) {
  const std::pair<const char*, bool> cases[] = {{".mp3", true}, {".MP3", false}, {".flac", true},
                                                {".ra", true},  {".mp4", false}, {".avi", false},
                                                {"", false}};
  for (const auto& [extension, audioOnly] : cases)
    EXPECT_EQ(IsAudioOnlyExtension(extension), audioOnly) << "'" << extension << "'";
}

TEST(Profiles, OutputNamesNeverMeetAnExistingFile) {
  TScratchFolder folder;
  const std::string source = folder.File("party.avi");
  const std::string name = "Xbox360 H.264 640x480";
  EXPECT_EQ(MakeOutputFileName(source, ".mp4", name), folder.File("party (" + name + ").mp4"));
  folder.Touch("party (" + name + ").mp4");
  folder.Touch("party (" + name + " [1]).mp4");
  folder.Touch("party (" + name + " [2]).mp4");
  std::filesystem::create_directory(folder.File("party (" + name + " [3]).mp4"));
  std::filesystem::create_symlink(folder.File("gone"), folder.File("party (" + name + " [4]).mp4"));
  EXPECT_EQ(MakeOutputFileName(source, ".mp4", name), folder.File("party (" + name + " [5]).mp4"));
  // Only the file name's extension goes; dots in folder names stay.
  EXPECT_EQ(MakeOutputFileName("/media/v1.2/clip", ".mp3", "MP3 MPEG Layer-3"),
            "/media/v1.2/clip (MP3 MPEG Layer-3).mp3");
}

TEST(Profiles, SameStemsInOneBatchGetDistinctNames) {
  TScratchFolder out;
  TOutputNamer namer;
  const std::string name = "MP3 MPEG Layer-3";
  const std::string first =
      namer.Next(OutputSourcePath("/a/song.wav", false, out.File("")), ".mp3", name);
  const std::string second =
      namer.Next(OutputSourcePath("/b/song.wav", false, out.File("")), ".mp3", name);
  EXPECT_EQ(first, out.File("song (" + name + ").mp3"));
  EXPECT_EQ(second, out.File("song (" + name + " [1]).mp3"));
  EXPECT_EQ(OutputSourcePath("/a/song.wav", true, out.File("")), "/a/song.wav");
}

TEST(Profiles, AudioOnlyOutputsAndSourcesAskForNoVideo) {
  const TOutputOptions mp3 = BuildOutputRecord(Profile(9), {}, Source("/in/clip.mp4"));
  EXPECT_TRUE(mp3.DisableVideo);
  EXPECT_EQ(mp3.AudioCodec, "libmp3lame");
  EXPECT_EQ(mp3.AudioChannels, 1);  // the source's values
  EXPECT_EQ(mp3.AudioSampleRate, 32000);
  EXPECT_EQ(mp3.AudioBitrate, 96000);
  EXPECT_EQ(mp3.FrameSize, "");
  EXPECT_EQ(mp3.VideoBitrate, -1);
  EXPECT_TRUE(BuildOutputRecord(Profile(1), {}, Source("/in/song.mp3")).DisableVideo);
  EXPECT_FALSE(BuildOutputRecord(Profile(1), {}, Source("/in/SONG.MP3")).DisableVideo);
  EXPECT_FALSE(BuildOutputRecord(Profile(1), {}, Source("/in/noextension")).DisableVideo);
  TSourceDescription oggVideo = Source("/in/clip.ogg");
  EXPECT_TRUE(BuildOutputRecord(Profile(1), {}, oggVideo).DisableVideo) << "cover art only";
  oggVideo.HasMovingPicture = true;
  EXPECT_FALSE(BuildOutputRecord(Profile(1), {}, oggVideo).DisableVideo) << "real video is kept";
  EXPECT_TRUE(BuildOutputRecord(Profile(9), {}, oggVideo).DisableVideo);
}

TEST(Profiles, OpenProfileValuesComeFromTheSource) {
  const TOutputOptions wmv = BuildOutputRecord(Profile(7), {}, Source("/in/clip.avi"));
  EXPECT_EQ(wmv.VideoCodec, "wmv2");
  EXPECT_EQ(wmv.FrameSize, "176x144");
  EXPECT_EQ(wmv.VideoBitrate, 1500000);
  EXPECT_EQ(wmv.AudioChannels, 1);
  EXPECT_EQ(wmv.AudioSampleRate, 32000);
  EXPECT_EQ(wmv.AudioBitrate, 96000);
  const TOutputOptions silent = BuildOutputRecord(Profile(7), {}, Source("/in/clip.avi", false));
  EXPECT_EQ(silent.AudioChannels, -1);
  EXPECT_EQ(silent.AudioSampleRate, -1);
  EXPECT_EQ(silent.AudioBitrate, -1);
  // No video stream to take a size from: the size stays open instead of
  // becoming "-1x-1", which no encoder accepts.
  EXPECT_EQ(BuildOutputRecord(Profile(7), {}, Source("/in/clip.avi", true, false)).FrameSize, "");
  const TOutputOptions h264 = BuildOutputRecord(Profile(1), {}, Source("/in/clip.avi"));
  EXPECT_EQ(h264.FrameSize, "640x480");
  EXPECT_EQ(h264.VideoAspect, "");
  EXPECT_EQ(h264.AudioChannels, 2);
  EXPECT_EQ(BuildOutputRecord(Profile(2), {}, Source("/in/clip.avi")).VideoAspect, "16:9");
}

TEST(Profiles, OverridesWinForEveryProfile) {
  TConversionOverrides overrides;
  overrides.AudioChannels = 1;
  overrides.AudioSampleRate = 22050;
  overrides.VideoBitrateKbps = 800;
  overrides.AudioBitrateKbps = 64;
  overrides.FrameWidth = 320;
  overrides.FrameHeight = 240;
  overrides.VideoAspect = "4:3";
  overrides.FrameRate = "15";
  for (int number = 1; number <= 9; ++number) {
    const TOutputOptions record =
        BuildOutputRecord(Profile(number), overrides, Source("/in/c.avi"));
    EXPECT_EQ(record.AudioChannels, 1) << number;
    EXPECT_EQ(record.AudioSampleRate, 22050) << number;
    EXPECT_EQ(record.AudioBitrate, 64000) << number;
    if (record.DisableVideo) {
      EXPECT_EQ(record.FrameSize, "") << number;
      EXPECT_EQ(record.VideoBitrate, -1) << number;
      EXPECT_EQ(record.FrameRate, "") << number;
    } else {
      EXPECT_EQ(record.FrameSize, "320x240") << number;
      EXPECT_EQ(record.VideoBitrate, 800000) << number;
      EXPECT_EQ(record.VideoAspect, "4:3") << number;
      EXPECT_EQ(record.FrameRate, "15") << number;
    }
  }
}
