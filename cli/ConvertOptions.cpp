#include "ConvertOptions.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <type_traits>

#include "platform/Convert.h"
#include "platform/Text.h"

const char* const ConvertUsage =
    "usage: tavrelle-cli convert --profile N [options] FILE...\n"
    "  --profile N            output profile 1 to 9 (see: tavrelle-cli profiles)\n"
    "  --out DIR              output folder (default: ~/ZenthVideo)\n"
    "  --same-folder          write each output beside its source\n"
    "  --channels 1|2         audio channels\n"
    "  --sample-rate HZ       8000, 11025, 22050 or 44100\n"
    "  --aspect RATIO         4:3, 16:9, 37:20 or 47:20\n"
    "  --fps RATE             10, 15, 25 or 30\n"
    "  --video-bitrate KBPS   video bit rate in kbit/s\n"
    "  --audio-bitrate KBPS   audio bit rate in kbit/s\n"
    "  --size WxH             frame size\n"
    "  --jobs N               tasks converted at once (default 1; 0 runs them on the main thread)\n"
    "  --option NAME=VALUE    an engine option for every output (repeatable)\n"
    "  --log-level LEVEL      quiet, error, info, debug or all (default quiet)\n"
    "  --json                 one JSON object per line for every event\n";

namespace {
class TUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

int PositiveInteger(const std::string& flag, const std::string& value) {
  const int number = StrToIntDef(value, -1);
  if (number <= 0) throw TUsageError(flag + " needs a positive whole number, not '" + value + "'");
  return number;
}

template <class T>
T OneOf(const std::string& flag, const std::string& value, const std::vector<T>& choices,
        const std::function<T(const std::string&)>& convert) {
  const T given = convert(value);
  if (std::find(choices.begin(), choices.end(), given) != choices.end()) return given;
  std::string list;
  for (const T& choice : choices) {
    if (!list.empty()) list += ", ";
    if constexpr (std::is_same_v<T, std::string>)
      list += choice;
    else
      list += std::to_string(choice);
  }
  throw TUsageError(flag + " takes one of " + list + ", not '" + value + "'");
}

void ParseFrameSize(const std::string& value, TConversionOverrides& overrides) {
  const size_t x = value.find('x');
  if (x == std::string::npos) throw TUsageError("--size needs WIDTHxHEIGHT, not '" + value + "'");
  overrides.FrameWidth = PositiveInteger("--size", value.substr(0, x));
  overrides.FrameHeight = PositiveInteger("--size", value.substr(x + 1));
}

TLogLevel ParseLogLevel(const std::string& value) {
  static const std::map<std::string, TLogLevel> levels = {
      {"quiet", llQuiet}, {"error", llError}, {"info", llInfo}, {"debug", llDebug}, {"all", llAll}};
  const auto found = levels.find(value);
  if (found == levels.end())
    throw TUsageError("--log-level takes quiet, error, info, debug or all, not '" + value + "'");
  return found->second;
}

using TValueFlag = std::function<void(TConvertSettings&, const std::string&)>;

const std::map<std::string, TValueFlag>& ValueFlags() {
  static const std::map<std::string, TValueFlag> flags = {
      {"--profile",
       [](TConvertSettings& s, const std::string& v) {
         s.Profile = StrToIntDef(v, 0);
         if (s.Profile < 1 || s.Profile > static_cast<int>(OutputProfiles().size()))
           throw TUsageError("unknown profile '" + v + "' (1 to 9, see: tavrelle-cli profiles)");
       }},
      {"--out", [](TConvertSettings& s, const std::string& v) { s.OutputFolder = v; }},
      {"--channels",
       [](TConvertSettings& s, const std::string& v) {
         s.Overrides.AudioChannels =
             OneOf<int>("--channels", v, {1, 2}, [](auto& t) { return StrToIntDef(t, -1); });
       }},
      {"--sample-rate",
       [](TConvertSettings& s, const std::string& v) {
         s.Overrides.AudioSampleRate = OneOf<int>("--sample-rate", v, SampleRateChoices(),
                                                  [](auto& t) { return StrToIntDef(t, -1); });
       }},
      {"--aspect",
       [](TConvertSettings& s, const std::string& v) {
         s.Overrides.VideoAspect =
             OneOf<std::string>("--aspect", v, AspectRatioChoices(), [](auto& t) { return t; });
       }},
      {"--fps",
       [](TConvertSettings& s, const std::string& v) {
         s.Overrides.FrameRate =
             OneOf<std::string>("--fps", v, FrameRateChoices(), [](auto& t) { return t; });
       }},
      {"--video-bitrate",
       [](TConvertSettings& s, const std::string& v) {
         s.Overrides.VideoBitrateKbps = PositiveInteger("--video-bitrate", v);
       }},
      {"--audio-bitrate",
       [](TConvertSettings& s, const std::string& v) {
         s.Overrides.AudioBitrateKbps = PositiveInteger("--audio-bitrate", v);
       }},
      {"--size", [](TConvertSettings& s, const std::string& v) { ParseFrameSize(v, s.Overrides); }},
      {"--jobs",
       [](TConvertSettings& s, const std::string& v) {
         s.Jobs = StrToIntDef(v, -1);
         if (s.Jobs < 0)
           throw TUsageError("--jobs needs a whole number of 0 or more, not '" + v + "'");
       }},
      {"--option",
       [](TConvertSettings& s, const std::string& v) {
         if (v.find('=') == std::string::npos || v.front() == '=')
           throw TUsageError("--option needs NAME=VALUE, not '" + v + "'");
         s.Options.push_back(v);
       }},
      {"--log-level",
       [](TConvertSettings& s, const std::string& v) { s.LogLevel = ParseLogLevel(v); }},
  };
  return flags;
}

void ReadArguments(const std::vector<std::string>& args, TConvertSettings& settings) {
  for (size_t i = 0; i < args.size(); ++i) {
    std::string flag = args[i];
    if (flag == "--same-folder") {
      settings.SameFolder = true;
    } else if (flag == "--json") {
      settings.Json = true;
    } else if (flag == "--") {
      settings.Files.insert(settings.Files.end(), args.begin() + i + 1, args.end());
      return;
    } else if (StartsWith(flag, "--")) {
      std::string value;
      const size_t equals = flag.find('=');
      if (equals != std::string::npos) {
        value = flag.substr(equals + 1);
        flag.erase(equals);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        throw TUsageError(flag + " needs a value");
      }
      const auto handler = ValueFlags().find(flag);
      if (handler == ValueFlags().end()) throw TUsageError("unknown option '" + flag + "'");
      handler->second(settings, value);
    } else {
      settings.Files.push_back(flag);
    }
  }
}

// Makes the folder with its parents and checks that files can be made there.
void PrepareOutputFolder(const std::string& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (!std::filesystem::is_directory(folder) || access(folder.c_str(), W_OK | X_OK) != 0)
    throw TUsageError("cannot write into the output folder '" + folder + "'");
}
}  // namespace

bool ParseConvertArguments(const std::vector<std::string>& args, TConvertSettings& settings,
                           std::string& error) {
  try {
    ReadArguments(args, settings);
    if (settings.Profile == 0) throw TUsageError("choose an output profile with --profile N");
    if (settings.Files.empty()) throw TUsageError("no files to convert");
    if (settings.SameFolder && !settings.OutputFolder.empty())
      throw TUsageError("--out and --same-folder exclude each other");
    if (!settings.SameFolder) {
      if (settings.OutputFolder.empty()) settings.OutputFolder = DefaultOutputFolder();
      PrepareOutputFolder(settings.OutputFolder);
    }
    return true;
  } catch (const TUsageError& usage) {
    error = usage.what();
    return false;
  }
}
