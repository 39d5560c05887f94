// "tavrelle-cli convert" and "profiles" end to end on generated media: the
// nine profiles, the overrides, unique names, failures, usage errors, JSON
// events and Ctrl-C.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "TranscodeTestSupport.h"

namespace fs = std::filesystem;

namespace {
TMediaFolder& Media() {
  static TMediaFolder folder("tavrelle-cliconvert");
  return folder;
}

std::string Cli() {
  return IncludeTrailingPathDelimiter(ExecutableFolder()) + "tavrelle-cli";
}

std::string Quoted(const std::string& text) {
  return "'" + text + "'";
}

struct TRun {
  int Status = -1;
  std::vector<std::string> Lines;  // standard output
  std::string Errors;
};

TRun Convert(const std::string& arguments) {
  const std::string errors = Media().FilePath("stderr.txt");
  const std::string command = Quoted(Cli()) + " " + arguments + " 2>" + Quoted(errors);
  TRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return run;
  std::string output;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
  const int status = ::pclose(pipe);
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) run.Lines.push_back(line);
  std::ifstream in(errors);
  std::stringstream text;
  text << in.rdbuf();
  run.Errors = text.str();
  return run;
}

// A fresh, empty output folder.
std::string OutFolder(const std::string& name) {
  const std::string folder = Media().FilePath(name);
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

size_t FileCount(const std::string& folder) {
  return std::distance(fs::directory_iterator(folder), fs::directory_iterator());
}
}  // namespace

TEST(CliConvert, EveryProfileGivesItsCodecsSizesAndRates) {
  const std::string source = Media().Clip(TMediaKind::Mp4);  // 160x120, 44100 Hz stereo
  const struct {
    int Profile;
    AVCodecID Video;  // AV_CODEC_ID_NONE: no video stream
    int Width, Height;
    AVCodecID Audio;
    int SampleRate;
  } cases[] = {
      {1, AV_CODEC_ID_H264, 640, 480, AV_CODEC_ID_AAC, 48000},
      {2, AV_CODEC_ID_H264, 1280, 720, AV_CODEC_ID_AAC, 48000},
      {3, AV_CODEC_ID_H264, 1920, 1080, AV_CODEC_ID_AAC, 48000},
      {4, AV_CODEC_ID_MSMPEG4V2, 640, 480, AV_CODEC_ID_PCM_S16LE, 48000},
      {5, AV_CODEC_ID_MSMPEG4V2, 1280, 720, AV_CODEC_ID_PCM_S16LE, 48000},
      {6, AV_CODEC_ID_MSMPEG4V2, 1920, 1080, AV_CODEC_ID_PCM_S16LE, 48000},
      {7, AV_CODEC_ID_WMV2, 160, 120, AV_CODEC_ID_WMAV2, 44100},
      {8, AV_CODEC_ID_NONE, 0, 0, AV_CODEC_ID_WMAV2, 44100},
      {9, AV_CODEC_ID_NONE, 0, 0, AV_CODEC_ID_MP3, 44100},
  };
  const std::string out = OutFolder("profiles");
  for (const auto& c : cases) {
    const TRun run = Convert("convert --profile " + std::to_string(c.Profile) + " --out " +
                             Quoted(out) + " " + Quoted(source));
    ASSERT_EQ(run.Status, 0) << c.Profile << ": " << run.Errors;
    ASSERT_EQ(run.Lines.size(), 1u) << c.Profile;
    const TFileSummary summary = Summarise(run.Lines[0]);
    ASSERT_TRUE(summary.Opened) << run.Lines[0];
    const TStreamSummary* video = summary.First(AVMEDIA_TYPE_VIDEO);
    if (c.Video == AV_CODEC_ID_NONE) {
      EXPECT_EQ(video, nullptr) << c.Profile;
    } else {
      ASSERT_NE(video, nullptr) << c.Profile;
      EXPECT_EQ(video->CodecId, c.Video) << c.Profile;
      EXPECT_EQ(video->Width, c.Width) << c.Profile;
      EXPECT_EQ(video->Height, c.Height) << c.Profile;
      EXPECT_GT(video->Frames, 20) << c.Profile;
    }
    const TStreamSummary* audio = summary.First(AVMEDIA_TYPE_AUDIO);
    ASSERT_NE(audio, nullptr) << c.Profile;
    EXPECT_EQ(audio->CodecId, c.Audio) << c.Profile;
    EXPECT_EQ(audio->SampleRate, c.SampleRate) << c.Profile;
    EXPECT_EQ(audio->Channels, 2) << c.Profile;
    EXPECT_NEAR(audio->Duration(), 1.0, 0.15) << c.Profile;
  }
}

TEST(CliConvert, OverridesReachTheOutput) {
  const std::string out = OutFolder("overrides");
  const TRun run = Convert(
      "convert --profile 1 --channels 1 --sample-rate 22050 --size 320x240 "
      "--fps 15 --video-bitrate 800 --audio-bitrate 48 --out " +
      Quoted(out) + " " + Quoted(Media().Clip(TMediaKind::Avi)));
  ASSERT_EQ(run.Status, 0) << run.Errors;
  ASSERT_EQ(run.Lines.size(), 1u);
  const TFileSummary summary = Summarise(run.Lines[0]);
  const TStreamSummary* video = summary.First(AVMEDIA_TYPE_VIDEO);
  const TStreamSummary* audio = summary.First(AVMEDIA_TYPE_AUDIO);
  ASSERT_TRUE(video && audio);
  EXPECT_EQ(video->Width, 320);
  EXPECT_EQ(video->Height, 240);
  EXPECT_NEAR(video->Frames, 15, 2);
  EXPECT_EQ(audio->Channels, 1);
  EXPECT_EQ(audio->SampleRate, 22050);
}

TEST(CliConvert, NamesAreUniqueOnDiskAndWithinTheBatch) {
  const std::string out = OutFolder("names");
  fs::create_directories(Media().FilePath("one"));
  fs::create_directories(Media().FilePath("two"));
  const std::string first = Media().FilePath("one/song.wav");
  const std::string second = Media().FilePath("two/song.wav");
  fs::copy_file(Media().Clip(TMediaKind::Wav), first, fs::copy_options::overwrite_existing);
  fs::copy_file(Media().Clip(TMediaKind::Wav), second, fs::copy_options::overwrite_existing);
  const std::string taken = out + "/song (MP3 MPEG Layer-3).mp3";
  std::ofstream(taken) << "an earlier output";
  const TRun run = Convert("convert --profile 9 --jobs 2 --out " + Quoted(out) + " " +
                           Quoted(first) + " " + Quoted(second));
  ASSERT_EQ(run.Status, 0) << run.Errors;
  std::vector<std::string> lines = run.Lines;
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{out + "/song (MP3 MPEG Layer-3 [1]).mp3",
                                             out + "/song (MP3 MPEG Layer-3 [2]).mp3"}));
  std::ifstream kept(taken);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "an earlier output");
  // Beside the source with --same-folder.
  const TRun beside = Convert("convert --profile 8 --same-folder " + Quoted(first));
  ASSERT_EQ(beside.Status, 0) << beside.Errors;
  EXPECT_EQ(beside.Lines,
            (std::vector<std::string>{Media().FilePath("one/song (Windows Media Audio).wma")}));
}

TEST(CliConvert, FailuresAreReportedAndTheOthersConverted) {
  const std::string out = OutFolder("failures");
  const std::string good = Media().Clip(TMediaKind::Avi);
  const std::string noise = Media().Random("noise.mp4", 4096, 3);
  const TRun run =
      Convert("convert --profile 4 --out " + Quoted(out) + " " +
              Quoted(Media().FilePath("missing.avi")) + " " + Quoted(noise) + " " + Quoted(good));
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Lines.size(), 1u);
  EXPECT_NE(run.Errors.find("missing.avi"), std::string::npos) << run.Errors;
  EXPECT_NE(run.Errors.find("noise.mp4: Unknown format"), std::string::npos) << run.Errors;
  // A task whose transcode fails is reported as failed, never as done.
  const TRun failing = Convert(
      "convert --profile 4 --option pass=2 --option "
      "passlogfile=/nonexistent/stats --out " +
      Quoted(out) + " " + Quoted(good));
  EXPECT_EQ(failing.Status, 1);
  EXPECT_TRUE(failing.Lines.empty());
  EXPECT_NE(failing.Errors.find("failed: " + good), std::string::npos) << failing.Errors;
  EXPECT_EQ(failing.Errors.find("done:"), std::string::npos) << failing.Errors;
}

TEST(CliConvert, UsageErrorsStartNothing) {
  const std::string out = OutFolder("usage");
  fs::create_directories(out + "/sub");
  std::ofstream(out + "/file") << "x";
  const std::string clip = Quoted(Media().Clip(TMediaKind::Avi));
  const std::string cases[] = {
      "--profile 0 ",
      "--profile 10 ",
      "--profile one ",
      "--profile 1 --channels 3 ",
      "--profile 1 --sample-rate 48000 ",
      "--profile 1 --aspect 2:1 ",
      "--profile 1 --fps 24 ",
      "--profile 1 --size 320 ",
      "--profile 1 --size 320x0 ",
      "--profile 1 --video-bitrate fast ",
      "--profile 1 --audio-bitrate -5 ",
      "--profile 1 --jobs -1 ",
      "--profile 1 --option novalue ",
      "--profile 1 --log-level loud ",
      "--profile 1 --colour red ",
      "--profile 1 --out " + Quoted(out + "/file/inside") + " ",
      "--profile 1 --same-folder ",
      "",
  };
  for (const std::string& arguments : cases) {
    const TRun run = Convert("convert --out " + Quoted(out + "/sub") + " " + arguments + clip);
    EXPECT_EQ(run.Status, 2) << arguments << run.Errors;
    EXPECT_NE(run.Errors.find("tavrelle-cli convert: "), std::string::npos) << arguments;
  }
  EXPECT_EQ(Convert("convert --profile 1 --out " + Quoted(out)).Status, 2);  // no files
  EXPECT_EQ(FileCount(out + "/sub"), 0u);
}

TEST(CliConvert, JsonGivesEveryEventWithItsFields) {
  const std::string out = OutFolder("json");
  const TRun run = Convert("convert --profile 9 --json --log-level info --out " + Quoted(out) +
                           " " + Quoted(Media().Clip(TMediaKind::Wav)));
  ASSERT_EQ(run.Status, 0) << run.Errors;
  ASSERT_GE(run.Lines.size(), 2u);
  bool sawLog = false;
  for (const std::string& line : run.Lines) {
    EXPECT_EQ(line.front(), '{') << line;
    EXPECT_EQ(line.back(), '}') << line;
    if (line.find("\"Event\":\"log\"") != std::string::npos) sawLog = true;
    if (line.find("\"Event\":\"progress\"") != std::string::npos) {
      EXPECT_NE(line.find("\"TotalOutputDuration\":"), std::string::npos) << line;
    }
  }
  EXPECT_TRUE(sawLog);
  const std::string& task = run.Lines[run.Lines.size() - 2];
  EXPECT_NE(task.find("\"Event\":\"terminate\",\"Index\":0,\"Finished\":true,\"Exception\":false"),
            std::string::npos)
      << task;
  EXPECT_NE(task.find("\"Output\":"), std::string::npos) << task;
  EXPECT_EQ(run.Lines.back(),
            "{\"Event\":\"terminate\",\"Index\":-1,\"Finished\":true,\"Exception\":false,"
            "\"Message\":\"\"}");
}

TEST(CliConvert, ProfilesListsTheNine) {
  const TRun run = Convert("profiles");
  ASSERT_EQ(run.Status, 0);
  ASSERT_EQ(run.Lines.size(), 9u);
  EXPECT_EQ(run.Lines[0], "1  Xbox360 H.264 640*480 (*.mp4)");
  EXPECT_EQ(run.Lines[8], "9  MP3 MPEG Layer-3 (*.mp3)");
}

TEST(CliConvert, CtrlCStopsTheBatchAndExits130) {
  TMediaOptions longClip;
  longClip.DurationSec = 60;
  const std::string source = Media().Clip("long.avi", TMediaKind::Avi, longClip);
  const std::string out = OutFolder("interrupt");
  int fromChild[2];
  ASSERT_EQ(pipe(fromChild), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(fromChild[1], STDOUT_FILENO);
    close(fromChild[0]);
    execl(Cli().c_str(), "tavrelle-cli", "convert", "--profile", "4", "--json", "--out",
          out.c_str(), source.c_str(), source.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fromChild[1]);
  FILE* events = fdopen(fromChild[0], "r");
  std::string output;
  char line[4096];
  bool interrupted = false;
  while (std::fgets(line, sizeof line, events)) {
    output += line;
    if (!interrupted && std::string(line).find("\"Event\":\"progress\"") != std::string::npos) {
      kill(child, SIGINT);
      interrupted = true;
    }
  }
  fclose(events);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(interrupted);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_NE(output.find("\"Index\":0,\"Finished\":false"), std::string::npos) << output;
  EXPECT_NE(output.find("\"Index\":1,\"Finished\":false"), std::string::npos) << output;
  EXPECT_NE(output.find("\"Index\":-1"), std::string::npos) << output;
}
