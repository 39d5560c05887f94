#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Src/LibraryLoader.h"
#include "binding/AVCodecHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "platform/Environment.h"
#include "tests/media/MediaGen.h"

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
namespace fs = std::filesystem;

namespace {
std::string BinFolder() {
  return IncludeTrailingPathDelimiter(ExecutableFolder());
}

std::string Quoted(const std::string& text) {
  return "'" + text + "'";
}

struct TRun {
  int Status = -1;
  std::vector<std::string> Lines;  // standard output
  std::string Errors;              // standard error
};

std::string ReadWhole(const std::string& fileName) {
  std::ifstream in(fileName);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs the program with the arguments given (already quoted) and collects
// its exit status and both outputs.
TRun RunProgram(const std::string& program, const std::string& arguments,
                const std::string& scratch) {
  const std::string errors = scratch + "/stderr.txt";
  const std::string command = Quoted(program) + " " + arguments + " 2>" + Quoted(errors);
  TRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  std::string output;
  while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
  const int status = ::pclose(pipe);
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) run.Lines.push_back(line);
  run.Errors = ReadWhole(errors);
  return run;
}

// The text of one member of a one-line JSON object, nested members named
// with dots ("Video.Width"). Strings keep their quotes; "" when absent.
std::string JsonMember(const std::string& json, const std::string& path) {
  std::string scope = json;
  std::string rest = path;
  for (size_t dot; (dot = rest.find('.')) != std::string::npos; rest = rest.substr(dot + 1)) {
    const std::string key = "\"" + rest.substr(0, dot) + "\":{";
    const size_t start = scope.find(key);
    if (start == std::string::npos) return "";
    const size_t open = start + key.size() - 1;
    scope = scope.substr(open, scope.find('}', open) - open + 1);
  }
  const std::string key = "\"" + rest + "\":";
  const size_t start = scope.find(key);
  if (start == std::string::npos) return "";
  const size_t valueStart = start + key.size();
  if (scope[valueStart] == '"') {
    size_t end = valueStart + 1;
    while (end < scope.size() && scope[end] != '"') end += scope[end] == '\\' ? 2 : 1;
    return scope.substr(valueStart, end - valueStart + 1);
  }
  return scope.substr(valueStart, scope.find_first_of(",}", valueStart) - valueStart);
}

class CliProbe : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    media_ = new TMediaFolder("tavrelle-cli-probe");
    ASSERT_TRUE(LoadAllLibraries(BinFolder() + "lib", true)) << LoadAllError();
    AVUtilApi.av_log_set_level(AV_LOG_QUIET);
  }
  static void TearDownTestSuite() {
    delete media_;
    media_ = nullptr;
  }
  static TMediaFolder& Media() { return *media_; }

  static TRun Probe(const std::string& arguments) {
    return RunProgram(BinFolder() + "tavrelle-cli", "probe " + arguments, Media().Path());
  }

 private:
  static inline TMediaFolder* media_ = nullptr;
};

TEST_F(CliProbe, DescribesEveryFileOnItsOwnLine) {
  const std::string mp4 = Media().Clip(TMediaKind::Mp4);
  const std::string videoOnly = Media().Clip(TMediaKind::VideoOnly);
  // Quotes and backslashes in a name must come out escaped.
  const std::string oddName =
      Media().Clip("odd \"name\" \\ tone.wav", TMediaKind::Wav, TMediaOptions{});
  const TRun run = Probe(Quoted(mp4) + " " + Quoted(videoOnly) + " " + Quoted(oddName));
  EXPECT_EQ(run.Status, 0) << run.Errors;
  ASSERT_EQ(run.Lines.size(), 3u);

  const std::string& both = run.Lines[0];
  EXPECT_EQ(JsonMember(both, "File"), "\"" + mp4 + "\"");
  const std::vector<std::pair<std::string, std::string>> expected{
      {"StreamCount", "2"},
      {"ProgramCount", "0"},
      {"AudioStreamCount", "1"},
      {"VideoStreamCount", "1"},
      {"SubtitleStreamCount", "0"},
      {"FirstAudioStream", "1"},
      {"FirstVideoStream", "0"},
      {"FirstSubtitleStream", "-1"},
      {"DurationUs", "1000000"},
      {"Video.CodecName", "\"h264\""},
      {"Video.Width", "160"},
      {"Video.Height", "120"},
      {"Video.FrameRateNum", "25"},
      {"Video.FrameRateDen", "1"},
      {"Video.AspectRatio", "0"},
      {"Video.PixelFormat", "0"},
      {"Audio.CodecName", "\"aac\""},
      {"Audio.SampleRate", "44100"},
      {"Audio.Channels", "2"},
      {"Audio.StartTimeUs", "0"},
      {"Audio.DurationUs", "1000000"},
  };
  for (const auto& [member, value] : expected) EXPECT_EQ(JsonMember(both, member), value) << member;
  EXPECT_EQ(JsonMember(both, "Error"), "");

  EXPECT_EQ(JsonMember(run.Lines[1], "Audio"), "null");
  EXPECT_EQ(JsonMember(run.Lines[1], "Video.CodecName"), "\"mpeg4\"");
  EXPECT_EQ(JsonMember(run.Lines[1], "Video.AspectRatio"), "1.333333");

  EXPECT_THAT(run.Lines[2], StartsWith("{\"File\":\""));
  EXPECT_THAT(run.Lines[2], HasSubstr("odd \\\"name\\\" \\\\ tone.wav\""));
  EXPECT_EQ(JsonMember(run.Lines[2], "Video"), "null");
  EXPECT_EQ(JsonMember(run.Lines[2], "Audio.CodecName"), "\"pcm_s16le\"");
  EXPECT_EQ(JsonMember(run.Lines[2], "Audio.StartTime"), "-9223372036854775808");
  EXPECT_EQ(JsonMember(run.Lines[2], "Audio.StartTimeUs"), "-1");
}

TEST_F(CliProbe, AFileThatDoesNotOpenGivesItsReasonAndStatusOne) {
  const std::string good = Media().Clip(TMediaKind::Mp3);
  const std::string bad = Media().Empty("empty.bin");
  const TRun run = Probe(Quoted(bad) + " " + Quoted(good));
  EXPECT_EQ(run.Status, 1);
  ASSERT_EQ(run.Lines.size(), 2u);
  EXPECT_EQ(run.Lines[0], "{\"File\":\"" + bad + "\",\"Error\":\"" + bad + ": Unknown format\"}");
  EXPECT_EQ(JsonMember(run.Lines[1], "Audio.CodecName"), "\"mp3\"");
}

TEST_F(CliProbe, UsageMistakesGiveStatusTwo) {
  const struct {
    const char* Arguments;
    int Status;
    bool UsageOnStandardOutput;
  } cases[] = {
      {"", 2, false}, {"probe", 2, false}, {"transmogrify x", 2, false}, {"--help", 0, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Arguments);
    const TRun run = RunProgram(BinFolder() + "tavrelle-cli", c.Arguments, Media().Path());
    EXPECT_EQ(run.Status, c.Status);
    const std::string usage =
        c.UsageOnStandardOutput ? (run.Lines.empty() ? "" : run.Lines.front()) : run.Errors;
    EXPECT_THAT(usage, HasSubstr("usage: tavrelle-cli probe FILE..."));
  }
}

TEST_F(CliProbe, MissingLibraryFolderIsReportedWithStatusThree) {
  const std::string alone = Media().FilePath("alone");
  fs::create_directories(alone);
  const std::string program = alone + "/tavrelle-cli";
  fs::copy_file(BinFolder() + "tavrelle-cli", program, fs::copy_options::overwrite_existing);
  const TRun run =
      RunProgram(program, "probe " + Quoted(Media().Clip(TMediaKind::Mp3)), Media().Path());
  EXPECT_EQ(run.Status, 3);
  EXPECT_TRUE(run.Lines.empty());
  const std::string codecLibrary = "libavcodec.so." + std::to_string(LIBAVCODEC_VERSION_MAJOR);
  EXPECT_THAT(run.Errors, StartsWith("tavrelle-cli: Load libraray " + codecLibrary + " error: "));
  EXPECT_THAT(run.Errors, Not(HasSubstr("usage")));
}
}  // namespace
