// tavrelle-mkmedia: writes the project's test clips.
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "MediaGen.h"
#include "Src/LibraryLoader.h"
#include "binding/AVUtilHlpr.h"
#include "platform/Environment.h"
#include "platform/Files.h"

namespace {
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;
constexpr int ExitLibraries = 3;
constexpr int64_t DefaultRandomBytes = 4096;
// Bytes no demuxer takes for its own (seed 1 looks like damaged MPEG audio).
constexpr uint32_t DefaultSeed = 2;

const char* const Usage =
    "usage: tavrelle-mkmedia KIND OUTPUT [options]\n"
    "       tavrelle-mkmedia all FOLDER [options]\n"
    "kinds: avi mp4 mkv ts two-video wav mp3 mpeg-ps video-only unknown-aspect\n"
    "       truncated (--source FILE [--bytes N], default half the file)\n"
    "       random ([--bytes N] [--seed N]), empty\n"
    "options: --duration S  --size WxH  --rate N[/D]  --sample-rate N  --channels N\n"
    "         --lang L1,L2,... (by stream index)  --sar N:D  --start S\n";

struct TCommand {
  std::string Kind;
  std::string Output;
  TMediaOptions Media;
  std::string Source;
  int64_t Bytes = -1;
  uint32_t Seed = DefaultSeed;
};

template <typename TNumber>
bool ParseNumber(const std::string& text, TNumber& value) {
  const char* end = text.data() + text.size();
  const auto [stop, failure] = std::from_chars(text.data(), end, value);
  return failure == std::errc() && stop == end;
}

bool ParseSeconds(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* stop = nullptr;
  value = std::strtod(text.c_str(), &stop);
  return *stop == '\0';
}

// "AxB" style pairs: "320x240", "30000/1001", "4:3". A missing second part
// is 1 when optional.
bool ParsePair(const std::string& text, char separator, bool secondOptional, int& first,
               int& second) {
  const size_t split = text.find(separator);
  if (split == std::string::npos) {
    second = 1;
    return secondOptional && ParseNumber(text, first);
  }
  return ParseNumber(text.substr(0, split), first) && ParseNumber(text.substr(split + 1), second);
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    items.push_back(text.substr(start, comma - start));
    if (comma == std::string::npos) return items;
    start = comma + 1;
  }
}

bool ApplyOption(const std::string& name, const std::string& value, TCommand& command) {
  TMediaOptions& media = command.Media;
  if (name == "--duration") return ParseSeconds(value, media.DurationSec);
  if (name == "--start") return ParseSeconds(value, media.StartOffsetSec);
  if (name == "--size") return ParsePair(value, 'x', false, media.Width, media.Height);
  if (name == "--rate") return ParsePair(value, '/', true, media.FrameRateNum, media.FrameRateDen);
  if (name == "--sar")
    return ParsePair(value, ':', false, media.SampleAspectNum, media.SampleAspectDen);
  if (name == "--sample-rate") return ParseNumber(value, media.SampleRate);
  if (name == "--channels") return ParseNumber(value, media.Channels);
  if (name == "--lang") {
    media.Languages = SplitList(value);
    return true;
  }
  if (name == "--bytes") return ParseNumber(value, command.Bytes);
  if (name == "--seed") return ParseNumber(value, command.Seed);
  if (name == "--source") {
    command.Source = value;
    return true;
  }
  return false;
}

bool ParseCommand(const std::vector<std::string>& args, TCommand& command) {
  if (args.size() < 2) {
    std::fputs(Usage, stderr);
    return false;
  }
  command.Kind = args[0];
  command.Output = args[1];
  for (size_t i = 2; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) {
      std::fprintf(stderr, "tavrelle-mkmedia: %s needs a value\n", args[i].c_str());
      return false;
    }
    if (!ApplyOption(args[i], args[i + 1], command)) {
      std::fprintf(stderr, "tavrelle-mkmedia: bad option %s %s\n%s", args[i].c_str(),
                   args[i + 1].c_str(), Usage);
      return false;
    }
  }
  return true;
}

bool Report(bool made, const std::string& error) {
  if (!made) std::fprintf(stderr, "tavrelle-mkmedia: %s\n", error.c_str());
  return made;
}

bool MakeTruncated(const TCommand& command) {
  if (command.Source.empty()) return Report(false, "truncated needs --source FILE");
  const int64_t bytes = command.Bytes >= 0 ? command.Bytes : FileSizeOf(command.Source) / 2;
  std::string error;
  return Report(MakeTruncatedCopy(command.Source, command.Output, bytes, error), error);
}

bool IsKnownKind(const std::string& name) {
  TMediaKind kind;
  return FindMediaKind(name, kind) || name == "truncated" || name == "random" || name == "empty" ||
         name == "all";
}

bool MakeOne(const TCommand& command) {
  std::string error;
  TMediaKind kind;
  if (FindMediaKind(command.Kind, kind))
    return Report(MakeMedia(kind, command.Output, command.Media, error), error);
  if (command.Kind == "truncated") return MakeTruncated(command);
  if (command.Kind == "random") {
    const int64_t bytes = command.Bytes >= 0 ? command.Bytes : DefaultRandomBytes;
    return Report(MakeRandomFile(command.Output, bytes, command.Seed, error), error);
  }
  return Report(MakeEmptyFile(command.Output, error), error);
}

// One file of each kind, and the damaged ones. The damaged files end in
// ".bin": some demuxers claim a file by extension alone, even an empty one.
bool MakeAll(const TCommand& command) {
  std::error_code failure;
  std::filesystem::create_directories(command.Output, failure);
  if (failure)
    return Report(false, command.Output + ": cannot create the folder: " + failure.message());
  const std::string folder = IncludeTrailingPathDelimiter(command.Output);
  bool allMade = true;
  for (const TMediaKindInfo& info : MediaKinds()) {
    TCommand one = command;
    one.Kind = info.Name;
    one.Output = folder + info.Name + info.Extension;
    allMade = MakeOne(one) && allMade;
  }
  TCommand truncated = command;
  truncated.Kind = "truncated";
  truncated.Source = folder + "mp4.mp4";
  truncated.Output = folder + "truncated.mp4";
  TCommand random = command;
  random.Kind = "random";
  random.Output = folder + "random.bin";
  TCommand empty = command;
  empty.Kind = "empty";
  empty.Output = folder + "empty.bin";
  for (const TCommand* damaged : {&truncated, &random, &empty})
    allMade = MakeOne(*damaged) && allMade;
  return allMade;
}

bool LoadLibrariesBesideExecutable() {
  const std::string folder = LibraryFolderBesideExecutable();
  if (!LoadAllLibraries(folder, true)) {
    std::fprintf(stderr, "tavrelle-mkmedia: %s\n", LoadAllError().c_str());
    return false;
  }
  AVUtilApi.av_log_set_level(AV_LOG_ERROR);
  return true;
}
}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(Usage, stdout);
    return 0;
  }
  TCommand command;
  if (!ParseCommand(args, command)) return ExitUsage;
  if (!IsKnownKind(command.Kind)) {
    std::fprintf(stderr, "tavrelle-mkmedia: unknown kind '%s'\n%s", command.Kind.c_str(), Usage);
    return ExitUsage;
  }
  if (!LoadLibrariesBesideExecutable()) return ExitLibraries;
  const bool made = command.Kind == "all" ? MakeAll(command) : MakeOne(command);
  return made ? 0 : ExitFailed;
}
