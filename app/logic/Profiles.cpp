#include "Profiles.h"

#include <cstdlib>
#include <filesystem>

extern "C" {
#include <libavformat/avformat.h>
}

#include "platform/Environment.h"
#include "platform/Files.h"

namespace {
constexpr int DefaultVideoBitrate = 1500000;
const char* const AudioOnlyExtensions = ".aac .ac3 .mp2 .mp3 .wav .wma .amr .ogg .flac .ra";

std::string WithoutExtension(const std::string& path) {
  const std::string extension = ExtractFileExt(path);
  return path.substr(0, path.size() - extension.size());
}

std::string CandidateName(const std::string& base, const std::string& extension,
                          const std::string& profileName, int counter) {
  if (counter == 0) return base + " (" + profileName + ")" + extension;
  return base + " (" + profileName + " [" + std::to_string(counter) + "])" + extension;
}

void ApplyAudio(TOutputOptions& record, const TConversionOverrides& overrides,
                const TAudioStreamInfo& audio) {
  if (overrides.AudioChannels > 0)
    record.AudioChannels = overrides.AudioChannels;
  else if (record.AudioChannels == -1)
    record.AudioChannels = audio.Channels;
  if (overrides.AudioSampleRate > 0)
    record.AudioSampleRate = overrides.AudioSampleRate;
  else if (record.AudioSampleRate == -1)
    record.AudioSampleRate = audio.SampleRate;
  if (overrides.AudioBitrateKbps >= 0)
    record.AudioBitrate = overrides.AudioBitrateKbps * 1000;
  else if (record.AudioBitrate == -1)
    record.AudioBitrate = audio.BitRate;
}

void ApplyVideo(TOutputOptions& record, const TConversionOverrides& overrides,
                const TVideoStreamInfo& video) {
  if (!overrides.VideoAspect.empty()) record.VideoAspect = overrides.VideoAspect;
  if (!overrides.FrameRate.empty()) record.FrameRate = overrides.FrameRate;
  if (overrides.FrameWidth >= 0 && overrides.FrameHeight >= 0)
    record.FrameSize =
        std::to_string(overrides.FrameWidth) + "x" + std::to_string(overrides.FrameHeight);
  else if (record.FrameSize.empty() && video.Width > 0 && video.Height > 0)
    record.FrameSize = std::to_string(video.Width) + "x" + std::to_string(video.Height);
  if (overrides.VideoBitrateKbps >= 0)
    record.VideoBitrate = overrides.VideoBitrateKbps * 1000;
  else if (record.VideoBitrate == -1)
    record.VideoBitrate = DefaultVideoBitrate;
}
}  // namespace

const std::vector<TOutputProfile>& OutputProfiles() {
  static const std::vector<TOutputProfile> profiles = {
      {"Xbox360 H.264 640*480 (*.mp4)", "libx264", "libfaac", "640x480", "", 2, 48000, 1500000,
       80000},
      {"Xbox360 H.264 1280*720 (*.mp4)", "libx264", "libfaac", "1280x720", "16:9", 2, 48000,
       1500000, 80000},
      {"Xbox360 H.264 1920*1080 (*.mp4)", "libx264", "libfaac", "1920x1080", "16:9", 2, 48000,
       1500000, 80000},
      {"Xbox360 MCE 640*480 (*.avi)", "msmpeg4v2", "pcm_s16le", "640x480", "16:9", 2, 48000,
       3000000, 128000},
      {"Xbox360 MCE 1280*720 (*.avi)", "msmpeg4v2", "pcm_s16le", "1280x720", "16:9", 2, 48000,
       3000000, 128000},
      {"Xbox360 MCE 1920*1080 (*.avi)", "msmpeg4v2", "pcm_s16le", "1920x1080", "16:9", 2, 48000,
       3000000, 128000},
      {"Windows Media Video (*.wmv)", "wmv2", "wmav2", "", "", -1, -1, -1, -1},
      {"Windows Media Audio (*.wma)", "", "wmav2", "", "", -1, -1, -1, -1},
      {"MP3 MPEG Layer-3 (*.mp3)", "", "libmp3lame", "", "", -1, -1, -1, -1},
  };
  return profiles;
}

std::string ProfileExtension(const std::string& caption) {
  const size_t open = caption.find("(*");
  if (open == std::string::npos) return "";
  const size_t close = caption.find(')', open);
  if (close == std::string::npos) return "";
  return caption.substr(open + 2, close - open - 2);
}

std::string ProfileName(const std::string& caption) {
  const size_t open = caption.find(" (");
  std::string name = caption.substr(0, open);
  for (char& c : name)
    if (c == '*') c = 'x';
  return name;
}

bool IsAudioOnlyExtension(const std::string& extension) {
  return !extension.empty() &&
         std::string(AudioOnlyExtensions).find(extension) != std::string::npos;
}

std::string DefaultOutputFolder() {
  return GetEnvironmentVariable("HOME") + "/ZenthVideo";
}

std::string TOutputNamer::Next(const std::string& source, const std::string& extension,
                               const std::string& profileName) {
  const std::string base = WithoutExtension(source);
  for (int counter = 0;; ++counter) {
    std::string candidate = CandidateName(base, extension, profileName, counter);
    // A folder or a link under the name counts as taken too.
    if (PathExists(candidate) || taken_.count(candidate)) continue;
    taken_.insert(candidate);
    return candidate;
  }
}

std::string MakeOutputFileName(const std::string& source, const std::string& extension,
                               const std::string& profileName) {
  return TOutputNamer().Next(source, extension, profileName);
}

std::string OutputSourcePath(const std::string& input, bool sameFolder,
                             const std::string& outputFolder) {
  if (sameFolder) return input;
  return IncludeTrailingPathDelimiter(outputFolder) +
         std::filesystem::path(input).filename().string();
}

const std::vector<int>& SampleRateChoices() {
  static const std::vector<int> choices = {8000, 11025, 22050, 44100};
  return choices;
}

const std::vector<std::string>& AspectRatioChoices() {
  static const std::vector<std::string> choices = {"4:3", "16:9", "37:20", "47:20"};
  return choices;
}

const std::vector<std::string>& FrameRateChoices() {
  static const std::vector<std::string> choices = {"10", "15", "25", "30"};
  return choices;
}

namespace {
bool HasMovingPicture(const TAVProbe& probe) {
  if (!probe.FormatContext) return false;
  for (unsigned i = 0; i < probe.FormatContext->nb_streams; ++i) {
    const AVStream* stream = probe.FormatContext->streams[i];
    if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
        !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
      return true;
  }
  return false;
}
}  // namespace

TSourceDescription DescribeSource(const TAVProbe& probe) {
  TSourceDescription source;
  source.FileName = probe.GetFileName();
  probe.GetAudioInfo(source.Audio);
  probe.GetVideoInfo(source.Video);
  source.HasMovingPicture = HasMovingPicture(probe);
  return source;
}

TOutputOptions BuildOutputRecord(const TOutputProfile& profile,
                                 const TConversionOverrides& overrides,
                                 const TSourceDescription& source) {
  TOutputOptions record;
  ResetOutputOptions(record);
  const std::string extension = ProfileExtension(profile.Caption);
  // The source's name decides only when the file holds no real video: an
  // Ogg file with Theora video keeps its picture.
  record.DisableVideo =
      IsAudioOnlyExtension(extension) ||
      (IsAudioOnlyExtension(ExtractFileExt(source.FileName)) && !source.HasMovingPicture);
  record.VideoCodec = profile.VideoCodec;
  record.AudioCodec = profile.AudioCodec;
  record.FrameSize = profile.FrameSize;
  record.VideoAspect = profile.VideoAspect;
  record.AudioChannels = profile.AudioChannels;
  record.AudioSampleRate = profile.AudioSampleRate;
  record.VideoBitrate = profile.VideoBitrate;
  record.AudioBitrate = profile.AudioBitrate;
  ApplyAudio(record, overrides, source.Audio);
  if (!record.DisableVideo) ApplyVideo(record, overrides, source.Video);
  return record;
}
