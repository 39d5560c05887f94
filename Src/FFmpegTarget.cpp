// Target presets: the settings that VCD, SVCD, DVD and DV call for, in a
// PAL, NTSC or film (NTSC at 24 frames) variant.
#include <cmath>
#include <cstring>

#include "FFMpegException.h"
#include "FFmpeg.h"
#include "platform/Format.h"
#include "platform/Text.h"

namespace {
// Frame rate times 1000, rounded: 25000, 29970 or 23976 for the norms.
int64_t MilliFrameRate(AVRational rate) {
  return static_cast<int64_t>(std::nearbyint(rate.num * 1000.0 / rate.den));
}

// The frame rate of an input's video stream as its decoder reports it.
AVRational StreamFrameRate(const AVStream* stream) {
  return stream->avg_frame_rate.den != 0 && stream->avg_frame_rate.num != 0 ? stream->avg_frame_rate
                                                                            : stream->r_frame_rate;
}

std::optional<TTargetNorm> NormOfFrameRate(AVRational rate) {
  if (rate.den == 0) return std::nullopt;
  switch (MilliFrameRate(rate)) {
    case 25000:
      return TTargetNorm::Pal;
    case 29970:
    case 23976:
      return TTargetNorm::Ntsc;
    default:
      return std::nullopt;
  }
}

const char* NormFrameRate(TTargetNorm norm) {
  switch (norm) {
    case TTargetNorm::Pal:
      return "25";
    case TTargetNorm::Ntsc:
      return "30000/1001";
    default:
      return "24000/1001";
  }
}
}  // namespace

// Keeps the letter case of the prefixes: "PAL-vcd" is an unknown type.
void TCustomFFmpeg::OptTarget(const std::string& value) {
  const std::string text = Trim(value);
  std::string norm = "auto";
  std::string type = text;
  for (const char* prefix : {"pal-", "ntsc-", "film-"}) {
    if (StartsWith(text, prefix)) {
      norm = std::string(prefix, std::strlen(prefix) - 1);
      type = text.substr(std::strlen(prefix));
      break;
    }
  }
  ApplyTarget(type, norm, "ntsc");
}

std::optional<TTargetNorm> TCustomFFmpeg::NormOfOpenedInputs() const {
  for (int file = 0; file < Files.InputFileCount; ++file) {
    const AVFormatContext* input = Files.InputFiles[file];
    if (!input) continue;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
      const AVStream* stream = input->streams[i];
      if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
      if (auto norm = NormOfFrameRate(StreamFrameRate(stream))) return norm;
    }
  }
  return std::nullopt;
}

TTargetNorm TCustomFFmpeg::DecideTargetNorm(const std::string& norm, const std::string& fallback) {
  if (norm == "pal") return TTargetNorm::Pal;
  if (norm == "ntsc") return TTargetNorm::Ntsc;
  if (norm == "film") return TTargetNorm::Film;
  if (Video.VideoFrameRate.den == 0) throw FFMpegException("frame_rate is invalid.");
  std::optional<TTargetNorm> detected = NormOfFrameRate(Video.VideoFrameRate);
  if (!detected) detected = NormOfOpenedInputs();
  const TTargetNorm chosen = detected             ? *detected
                             : fallback == "film" ? TTargetNorm::Film
                             : fallback == "ntsc" ? TTargetNorm::Ntsc
                                                  : TTargetNorm::Pal;
  if (Diagnostics.Verbosity > 0)
    Log(1, Format("Assuming %s for target.", {chosen == TTargetNorm::Pal ? "PAL" : "NTSC"}));
  return chosen;
}

void TCustomFFmpeg::ApplyTargetCommon(const char* videoCodec, const char* audioCodec,
                                      const char* format, const char* frameSize, TTargetNorm norm) {
  OptCodec(AVMEDIA_TYPE_VIDEO, videoCodec);
  OptCodec(AVMEDIA_TYPE_AUDIO, audioCodec);
  OptOutputFormat(format);
  OptFrameSize(frameSize);
  OptFrameRate(NormFrameRate(norm));
}

// Presets that leave the aspect open assume the disc's usual one.
void TCustomFFmpeg::SetAspectFromPreset(const char* aspect) {
  if (Video.FrameAspectRatio != 0) return;
  Log(1, Format("Assuming %s for aspect ratio", {aspect}));
  OptAspect(aspect);
}

void TCustomFFmpeg::ApplyVcdTarget(TTargetNorm norm) {
  const bool pal = norm == TTargetNorm::Pal;
  ApplyTargetCommon("mpeg1video", "mp2", "vcd", pal ? "352x288" : "352x240", norm);
  SetGenericOption("gop", pal ? "15" : "18");
  SetGenericOption("b", "1150000");
  SetGenericOption("maxrate", "1150000");
  SetGenericOption("minrate", "1150000");
  SetGenericOption("bufsize", "327680");
  SetGenericOption("ab", "224000");
  Audio.AudioSampleRate = 44100;
  Audio.AudioChannels = 2;
  SetGenericOption("packetsize", "2324");
  SetGenericOption("muxrate", "1411200");
  Mux.MuxPreload = 0.44f;
  SetAspectFromPreset("4:3");
}

void TCustomFFmpeg::ApplySvcdTarget(TTargetNorm norm) {
  const bool pal = norm == TTargetNorm::Pal;
  ApplyTargetCommon("mpeg2video", "mp2", "svcd", pal ? "480x576" : "480x480", norm);
  SetGenericOption("gop", pal ? "15" : "18");
  SetGenericOption("b", "2040000");
  SetGenericOption("maxrate", "2516000");
  SetGenericOption("minrate", "0");
  SetGenericOption("bufsize", "1835008");
  SetGenericOption("flags", "+scan_offset");
  SetGenericOption("ab", "224000");
  Audio.AudioSampleRate = 44100;
  SetGenericOption("packetsize", "2324");
  if (Audio.AudioChannels == 1) Audio.AudioChannels = 2;
  SetAspectFromPreset("4:3");
}

void TCustomFFmpeg::ApplyDvdTarget(TTargetNorm norm) {
  const bool pal = norm == TTargetNorm::Pal;
  ApplyTargetCommon("mpeg2video", "ac3", "dvd", pal ? "720x576" : "720x480", norm);
  SetGenericOption("gop", pal ? "15" : "18");
  SetGenericOption("b", "6000000");
  SetGenericOption("maxrate", "9000000");
  SetGenericOption("minrate", "0");
  SetGenericOption("bufsize", "1835008");
  SetGenericOption("packetsize", "2048");
  SetGenericOption("muxrate", "10080000");
  SetGenericOption("ab", "448000");
  Audio.AudioSampleRate = 48000;
  if (Audio.AudioChannels == 1) Audio.AudioChannels = 2;
  SetAspectFromPreset("16:9");
}

// "dv50" samples colour 4:2:2; "dv" 4:2:0 for PAL and 4:1:1 otherwise.
void TCustomFFmpeg::ApplyDvTarget(TTargetNorm norm, bool dv50) {
  const bool pal = norm == TTargetNorm::Pal;
  OptOutputFormat("dv");
  OptFrameSize(pal ? "720x576" : "720x480");
  OptPixFmt(dv50 ? "yuv422p" : pal ? "yuv420p" : "yuv411p");
  OptFrameRate(NormFrameRate(norm));
  Audio.AudioSampleRate = 48000;
  Audio.AudioChannels = 2;
}

// The norm is decided first, so an undecidable norm fails even for an
// unknown type.
void TCustomFFmpeg::ApplyTarget(const std::string& targetType, const std::string& norm,
                                const std::string& fallback) {
  const TTargetNorm chosen = DecideTargetNorm(norm, fallback);
  if (targetType == "vcd")
    ApplyVcdTarget(chosen);
  else if (targetType == "svcd")
    ApplySvcdTarget(chosen);
  else if (targetType == "dvd")
    ApplyDvdTarget(chosen);
  else if (targetType == "dv" || targetType == "dv50")
    ApplyDvTarget(chosen, targetType == "dv50");
  else
    throw FFMpegException("Unknown target type");
}
