#pragma once
// The output profiles of the converter and the rules around them: names
// and extensions, the audio-only rule, output file names, and the output
// record of one task built from the profile, the user's overrides and the
// source's own stream values. No user interface here: the command line and
// the desktop application share it.
#include <set>
#include <string>
#include <vector>

#include "Src/TaskRecords.h"
#include "probe/AVProbe.h"

struct TOutputProfile {
  const char* Caption;  // as the profile list shows it
  const char* VideoCodec;
  const char* AudioCodec;
  const char* FrameSize;
  const char* VideoAspect;
  int AudioChannels;
  int AudioSampleRate;
  int VideoBitrate;  // bits per second
  int AudioBitrate;
};

// The nine profiles; profile number n (1 to 9) is element n - 1.
const std::vector<TOutputProfile>& OutputProfiles();

// The text between "(*" and the closing ")" of a caption: ".mp4".
std::string ProfileExtension(const std::string& caption);
// The caption up to the blank before "(", every "*" replaced by "x".
std::string ProfileName(const std::string& caption);

// Case-sensitive: ".MP3" is not audio-only. An empty extension is not
// either (a file without one keeps its video).
bool IsAudioOnlyExtension(const std::string& extension);

// The default output folder: the user's home folder + "/ZenthVideo".
std::string DefaultOutputFolder();

// Output names that no file on disk and no earlier name of the same batch
// has: "<source without extension> (<profile name>)<extension>", then with
// " [1]", " [2]", ... inside the round brackets.
class TOutputNamer {
 public:
  std::string Next(const std::string& source, const std::string& extension,
                   const std::string& profileName);

 private:
  std::set<std::string> taken_;
};

// One name with the same rule, against the disk only.
std::string MakeOutputFileName(const std::string& source, const std::string& extension,
                               const std::string& profileName);

// The source path the output name is built from: the input itself, or the
// output folder with the input's file name.
std::string OutputSourcePath(const std::string& input, bool sameFolder,
                             const std::string& outputFolder);

// The user's overrides of the profile values; -1 and empty keep the profile's.
struct TConversionOverrides {
  int AudioChannels = -1;     // 1 mono, 2 stereo
  int AudioSampleRate = -1;   // Hz
  std::string VideoAspect;    // "4:3", ...
  std::string FrameRate;      // "25", ...
  int VideoBitrateKbps = -1;  // -1: the profile's (or 1500 kbit/s when it has none)
  int AudioBitrateKbps = -1;  // -1: the profile's (or the source's)
  int FrameWidth = -1;        // with FrameHeight: the frame size
  int FrameHeight = -1;
};

// The choices the options dialog offers.
const std::vector<int>& SampleRateChoices();
const std::vector<std::string>& AspectRatioChoices();
const std::vector<std::string>& FrameRateChoices();

// What the task's probe says about the source.
struct TSourceDescription {
  std::string FileName;
  TAudioStreamInfo Audio;  // fields -1 without an audio stream
  TVideoStreamInfo Video;  // fields -1 without a video stream
  // A video stream that is more than an attached picture (cover art): an
  // Ogg or FLAC name alone does not make a file with real video audio-only.
  bool HasMovingPicture = false;
};
TSourceDescription DescribeSource(const TAVProbe& probe);

// The output record of one task: profile values, then the overrides, then
// the source's values where a field is still open. Video fields stay unset
// for audio-only outputs.
TOutputOptions BuildOutputRecord(const TOutputProfile& profile,
                                 const TConversionOverrides& overrides,
                                 const TSourceDescription& source);
