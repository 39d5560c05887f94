// Translation of the task records into engine options. The order of the
// fields matters: extra option lines first, so that a typed field that is
// set overrides them, and the target preset last, so that it overrides the
// typed fields.
#include "TaskRecords.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <vector>

#include "TFFmpeg.h"
#include "platform/Text.h"

namespace {
constexpr double UnixEpochAsDateTime = 25569.0;  // 1970-01-01 in days since 1899-12-30
constexpr double SecondsPerDay = 86400.0;

// The text of a fixed character array, up to its first zero character.
template <size_t N>
std::string FixedText(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

void SetGenericIfPositive(TCustomFFmpeg& job, const char* name, int value) {
  if (value > 0) job.SetGenericOptionInt(name, value);
}

void SetOptionIfGiven(TCustomFFmpeg& job, const char* name, const std::string& value) {
  if (!value.empty()) job.SetOption(name, value);
}

void ApplyContainerFields(TCustomFFmpeg& job, const TOutputOptions& options) {
  if (!options.FileFormat.empty()) job.OptOutputFormat(options.FileFormat);
  SetGenericIfPositive(job, "packetsize", options.PacketSize);
  SetGenericIfPositive(job, "muxrate", options.MuxRate);
  if (options.MuxMaxDelay > 0) job.SetMuxMaxDelay(options.MuxMaxDelay);
  if (options.MuxPreload > 0) job.SetMuxPreload(options.MuxPreload);
}

void ApplyAudioFields(TCustomFFmpeg& job, const TOutputOptions& options) {
  SetOptionIfGiven(job, "acodec", options.AudioCodec);
  if (options.DisableAudio) job.Audio.AudioDisable = 1;
  job.SetAudioVolume(options.AudioVolume);
  if (options.AudioChannels > 0) job.OptAudioChannels(options.AudioChannels);
  if (options.AudioSampleRate > 0) job.OptAudioRate(options.AudioSampleRate);
  SetGenericIfPositive(job, "ab", options.AudioBitrate);
  SetGenericIfPositive(job, "abt", options.AudioBitrateTolerance);
  job.Audio.AudioLanguage = options.AudioLanguage;
  job.SetAudioSyncMethod(options.AudioSync);
  SetOptionIfGiven(job, "atag", options.AudioTag);
}

void ApplyPictureFields(TCustomFFmpeg& job, const TOutputOptions& options) {
  SetOptionIfGiven(job, "vcodec", options.VideoCodec);
  if (options.DisableVideo) job.Video.VideoDisable = 1;
  SetOptionIfGiven(job, "r", options.FrameRate);
  SetOptionIfGiven(job, "s", options.FrameSize);
  SetOptionIfGiven(job, "aspect", options.VideoAspect);
  const std::pair<TSide, int> crops[] = {{TSide::Top, options.CropTop},
                                         {TSide::Bottom, options.CropBottom},
                                         {TSide::Left, options.CropLeft},
                                         {TSide::Right, options.CropRight}};
  for (const auto& [side, size] : crops)
    if (size >= 0) job.OptCrop(side, size);
  const std::pair<TSide, int> pads[] = {{TSide::Top, options.PadTop},
                                        {TSide::Bottom, options.PadBottom},
                                        {TSide::Left, options.PadLeft},
                                        {TSide::Right, options.PadRight}};
  for (const auto& [side, size] : pads)
    if (size >= 0) job.OptPad(side, size);
  job.OptPadColor(ColorToRgb(options.PadColor));
}

void ApplyVideoRateFields(TCustomFFmpeg& job, const TOutputOptions& options) {
  SetGenericIfPositive(job, "gop", options.GopSize);
  SetGenericIfPositive(job, "vb", options.VideoBitrate);
  SetGenericIfPositive(job, "maxrate", options.VideoMaxRate);
  SetGenericIfPositive(job, "minrate", options.VideoMinRate);
  SetGenericIfPositive(job, "bt", options.VideoBitrateTolerance);
  SetGenericIfPositive(job, "bufsize", options.VideoBufSize);
  job.SetVideoSyncMethod(options.VideoSync);
  SetOptionIfGiven(job, "vtag", options.VideoTag);
  SetOptionIfGiven(job, "vfilters", options.VideoFilters);
}

void ApplySubtitleAndTiming(TCustomFFmpeg& job, const TOutputOptions& options) {
  if (options.DisableSubtitle) job.Subtitle.SubtitleDisable = 1;
  job.Subtitle.SubtitleLanguage = options.SubtitleLanguage;
  job.Timing.CopyTimestamps = options.CopyTimestamp;
  job.SetDurationMs(options.DurationMs);
  if (options.Timestamp == 0)
    job.Timing.RecTimestamp = static_cast<int64_t>(std::time(nullptr));
  else if (options.Timestamp > 0)
    job.Timing.RecTimestamp = UnixTimeOfDateTime(options.Timestamp);
}

void ApplyMetadata(TCustomFFmpeg& job, const TOutputOptions& options) {
  job.SetYear(options.Year);
  job.SetTrack(options.Track);
  const std::pair<void (TCustomFFmpeg::*)(const std::string&), std::string> texts[] = {
      {&TCustomFFmpeg::SetTitle, FixedText(options.Title)},
      {&TCustomFFmpeg::SetAuthor, FixedText(options.Author)},
      {&TCustomFFmpeg::SetCopyright, FixedText(options.Copyright)},
      {&TCustomFFmpeg::SetComment, FixedText(options.Comment)},
      {&TCustomFFmpeg::SetAlbum, FixedText(options.Album)},
      {&TCustomFFmpeg::SetGenre, FixedText(options.Genre)}};
  for (const auto& [setter, text] : texts)
    if (!text.empty()) (job.*setter)(text);
}

// A whole text as a 64-bit integer; -1 when it is not one.
int64_t MillisecondsOrInvalid(const std::string& text) {
  if (text.empty()) return -1;
  size_t position = text[0] == '-' || text[0] == '+' ? 1 : 0;
  if (position == text.size()) return -1;
  for (size_t i = position; i < text.size(); ++i)
    if (text[i] < '0' || text[i] > '9') return -1;
  try {
    return std::stoll(text);
  } catch (const std::exception&) {
    return -1;
  }
}

// Milliseconds as microseconds, keeping -1 as the "invalid" mark and
// refusing values whose product would not fit.
int64_t ToMicroseconds(int64_t milliseconds) {
  if (milliseconds == -1) return -1;
  if (milliseconds > INT64_MAX / 1000 || milliseconds < INT64_MIN / 1000) return -1;
  return milliseconds * 1000;
}

int64_t RoundHalfEven(double value) {
  return static_cast<int64_t>(std::nearbyint(value));  // default rounding: to nearest, ties even
}
}  // namespace

void ResetInputOptions(TInputOptions& options) {
  options = TInputOptions{};
}

void ResetOutputOptions(TOutputOptions& options) {
  options = TOutputOptions{};
}

void OptionsFromInputRecord(TFFmpeg& job, TInputOptions& options, const std::string& fileName) {
  if (options.FileName.empty()) options.FileName = fileName;
  job.InputOptions = options;
  job.ApplyOptionText(options.ExtOptions);
  if (!options.FileFormat.empty()) job.OptInputFormat(options.FileFormat);
  job.SetSeekTimeUs(static_cast<int64_t>(options.StartTimeMs) * 1000);
  job.SetProgramId(options.ProgramID);
}

void OptionsFromOutputRecord(TFFmpeg& job, TOutputOptions& options, const std::string& fileName) {
  if (options.FileName.empty()) options.FileName = fileName;
  job.OutputOptions = options;
  job.ApplyOptionText(options.ExtOptions);
  ApplyContainerFields(job, options);
  ApplyAudioFields(job, options);
  ApplyPictureFields(job, options);
  ApplyVideoRateFields(job, options);
  ApplySubtitleAndTiming(job, options);
  ApplyMetadata(job, options);
  ApplyTargetFromRecord(job, options);
}

void ApplyTargetFromRecord(TCustomFFmpeg& job, const TOutputOptions& options) {
  static const char* const TargetTypes[] = {"vcd", "svcd", "dvd"};
  if (options.TargetType < 1 || options.TargetType > 3) return;
  const char* norm = options.TargetNorm == 1 ? "pal" : options.TargetNorm == 2 ? "ntsc" : "auto";
  const char* fallback = options.TargetNormFallback == 1 ? "pal" : "ntsc";
  job.ApplyTarget(TargetTypes[options.TargetType - 1], norm, fallback);
}

void ParseHookRanges(TCustomFFmpeg& job, const std::string& text) {
  std::string rest = Trim(text);
  std::vector<THookRange> ranges;
  ranges.reserve(std::count(rest.begin(), rest.end(), ',') + 1);
  while (!rest.empty()) {
    const size_t comma = rest.find(',');
    const std::string item = Trim(rest.substr(0, comma));
    rest = comma == std::string::npos ? std::string() : rest.substr(comma + 1);
    const size_t dash = item.find('-');
    const std::string startText = Trim(item.substr(0, dash));
    const std::string endText =
        dash == std::string::npos ? std::string() : Trim(item.substr(dash + 1));
    const int64_t start = ToMicroseconds(MillisecondsOrInvalid(startText));
    const int64_t end = ToMicroseconds(MillisecondsOrInvalid(endText));
    if (start <= end && end >= 0) ranges.push_back({start, end});
  }
  job.SetHookRanges(std::move(ranges));
}

int ColorToRgb(TColor color) {
  const uint32_t value = static_cast<uint32_t>(color);
  if ((value & SystemColorFlag) != SystemColorFlag) return static_cast<int>(value & 0x00FFFFFFu);
  // The desktop has no system palette to ask; these are the stock values.
  switch (value & 0xFFu) {
    case 5:  // window background
      return 0xFFFFFF;
    case 8:  // window text
      return 0x000000;
    case 15:  // button face
      return 0xF0F0F0;
    default:
      return 0x000000;
  }
}

int64_t UnixTimeOfDateTime(TDateTime dateTime) {
  // The local wall-clock time is taken apart and handed to the system's
  // time-zone rules, daylight saving time included.
  const double localSeconds = (dateTime - UnixEpochAsDateTime) * SecondsPerDay;
  const int64_t wholeSeconds = RoundHalfEven(localSeconds);
  const time_t asIfUtc = static_cast<time_t>(wholeSeconds);
  std::tm fields{};
  gmtime_r(&asIfUtc, &fields);
  fields.tm_isdst = -1;
  return static_cast<int64_t>(mktime(&fields));
}

TDateTime NowAsDateTime() {
  const time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return UnixEpochAsDateTime + (static_cast<double>(now) + local.tm_gmtoff) / SecondsPerDay;
}
