#include "MediaGen.h"

#include "MediaWriter.h"
#include "platform/Format.h"

namespace {
constexpr int VideoBitRate = 400000;
constexpr int AudioBitRate = 128000;
constexpr int MaxChannels = 8;
constexpr int MaxPictureSize = 4096;

TStreamPlan Video(const char* encoder, int program = 0, int sizeDivisor = 1) {
  return {AVMEDIA_TYPE_VIDEO, encoder, VideoBitRate, program, sizeDivisor};
}

TStreamPlan Audio(const char* encoder, int program = 0) {
  return {AVMEDIA_TYPE_AUDIO, encoder, AudioBitRate, program, 1};
}

TStreamPlan Captions(const char* encoder = nullptr) {
  return {AVMEDIA_TYPE_SUBTITLE, encoder, 0, 0, 1};
}

TContainerPlan PlanOf(TMediaKind kind) {
  switch (kind) {
    case TMediaKind::Avi:
      return {"avi", {Video("mpeg4"), Audio("libmp3lame")}};
    case TMediaKind::Mp4:
      return {"mp4", {Video("libx264"), Audio("aac")}};
    case TMediaKind::Matroska:
      return {"matroska", {Video("mpeg4"), Audio("aac"), Captions()}};
    case TMediaKind::TransportStream:
      return {"mpegts",
              {Video("mpeg2video", 1), Audio("mp2", 1), Video("mpeg2video", 2), Audio("mp2", 2),
               Video("mpeg2video", 3), Audio("mp2", 3)}};
    case TMediaKind::TwoVideo:
      return {"matroska", {Video("mpeg4"), Audio("mp2"), Video("mpeg2video", 0, 2)}};
    case TMediaKind::Wav:
      return {"wav", {{AVMEDIA_TYPE_AUDIO, "pcm_s16le"}}};
    case TMediaKind::Mp3:
      return {"mp3", {Audio("libmp3lame")}};
    case TMediaKind::ProgramStream:
      return {"mpeg", {Video("mpeg2video"), Audio("mp2")}};
    case TMediaKind::VideoOnly:
      return {"avi", {Video("mpeg4")}};
    case TMediaKind::UnknownAspect:
      return {"matroska", {Video("libx264")}, true};
    case TMediaKind::Flac:
      return {"flac", {Audio("flac")}};
    case TMediaKind::Ogg:
      return {"ogg", {Video("libtheora"), Audio("libvorbis")}};
    case TMediaKind::DvdSubtitles:
      return {"matroska", {Video("mpeg4"), Audio("mp2"), Captions("dvdsub")}};
  }
  return {};
}

bool Reject(std::string& error, const char* text) {
  error = text;
  return false;
}

bool CheckOptions(const TMediaOptions& options, std::string& error) {
  if (!(options.DurationSec > 0) || options.DurationSec > 3600)
    return Reject(error, "the duration must be above 0 and at most 3600 seconds");
  // Every picture is 4:2:0, whose chroma planes need even sizes.
  if (options.Width < 2 || options.Height < 2 || options.Width > MaxPictureSize ||
      options.Height > MaxPictureSize || options.Width % 2 || options.Height % 2)
    return Reject(error, "the picture size must be even, 2x2 to 4096x4096");
  if (options.FrameRateNum <= 0 || options.FrameRateDen <= 0)
    return Reject(error, "the frame rate must be positive");
  if (options.SampleRate <= 0) return Reject(error, "the sample rate must be positive");
  if (options.Channels < 1 || options.Channels > MaxChannels)
    return Reject(error, "the channel count must be 1 to 8");
  if (options.SampleAspectNum < 0 || options.SampleAspectDen <= 0)
    return Reject(error, "the sample aspect ratio must be N:D with N >= 0 and D > 0");
  if (!(options.StartOffsetSec >= 0) || options.StartOffsetSec > 3600)
    return Reject(error, "the start offset must be 0 to 3600 seconds");
  return true;
}
}  // namespace

const std::vector<TMediaKindInfo>& MediaKinds() {
  static const std::vector<TMediaKindInfo> kinds{
      {TMediaKind::Avi, "avi", ".avi"},
      {TMediaKind::Mp4, "mp4", ".mp4"},
      {TMediaKind::Matroska, "mkv", ".mkv"},
      {TMediaKind::TransportStream, "ts", ".ts"},
      {TMediaKind::TwoVideo, "two-video", ".mkv"},
      {TMediaKind::Wav, "wav", ".wav"},
      {TMediaKind::Mp3, "mp3", ".mp3"},
      {TMediaKind::ProgramStream, "mpeg-ps", ".mpg"},
      {TMediaKind::VideoOnly, "video-only", ".avi"},
      {TMediaKind::UnknownAspect, "unknown-aspect", ".mkv"},
      {TMediaKind::Flac, "flac", ".flac"},
      {TMediaKind::Ogg, "ogg", ".ogg"},
      {TMediaKind::DvdSubtitles, "dvd-subtitles", ".mkv"},
  };
  return kinds;
}

const TMediaKindInfo& MediaKindInfo(TMediaKind kind) {
  for (const TMediaKindInfo& info : MediaKinds())
    if (info.Kind == kind) return info;
  return MediaKinds().front();
}

bool FindMediaKind(const std::string& name, TMediaKind& kind) {
  for (const TMediaKindInfo& info : MediaKinds()) {
    if (name == info.Name) {
      kind = info.Kind;
      return true;
    }
  }
  return false;
}

bool MakeMedia(TMediaKind kind, const std::string& fileName, const TMediaOptions& options,
               std::string& error) {
  if (!CheckOptions(options, error)) return false;
  if (WriteMedia(PlanOf(kind), fileName, options, error)) return true;
  error = Format("%s: %s", {fileName, error});
  return false;
}
