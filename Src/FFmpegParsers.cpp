// Value handlers for formats, codecs, picture and sound settings.
#include <cmath>

#include "FFMpegException.h"
#include "FFmpeg.h"
#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "binding/LogLevels.h"
#include "platform/Assertion.h"
#include "platform/Convert.h"
#include "platform/Format.h"
#include "platform/Text.h"

namespace {
const char* SideName(TSide side) {
  switch (side) {
    case TSide::Top:
      return "Top";
    case TSide::Bottom:
      return "Bottom";
    case TSide::Left:
      return "Left";
    default:
      return "Right";
  }
}

bool IsVertical(TSide side) {
  return side == TSide::Top || side == TSide::Bottom;
}

int& SideField(TSide side, int& top, int& bottom, int& left, int& right) {
  switch (side) {
    case TSide::Top:
      return top;
    case TSide::Bottom:
      return bottom;
    case TSide::Left:
      return left;
    default:
      return right;
  }
}

// Integer division rounding toward minus infinity.
int FloorDiv(int dividend, int divisor) {
  const int quotient = dividend / divisor;
  return (dividend % divisor != 0 && (dividend < 0) != (divisor < 0)) ? quotient - 1 : quotient;
}

// Encoders the installed libraries know under another name; used only when
// the old name is unknown.
const AVCodec* FindRenamedEncoder(const std::string& name) {
  if (name == "libfaac") return AVCodecApi.avcodec_find_encoder_by_name("aac");
  return nullptr;
}

const AVCodec* LookUpCodec(const std::string& name, bool encoder) {
  if (!encoder) return AVCodecApi.avcodec_find_decoder_by_name(name.c_str());
  const AVCodec* codec = AVCodecApi.avcodec_find_encoder_by_name(name.c_str());
  return codec ? codec : FindRenamedEncoder(name);
}
}  // namespace

// ---- Formats -------------------------------------------------------------

std::string TCustomFFmpeg::FormatNameForLookup(const std::string& name) {
  if (name != "pgmyuv") return name;
  Formats.PgmyuvCompat = 1;
  Log(1, "pgmyuv format is deprecated, use image2");
  return "image2";
}

void TCustomFFmpeg::OptInputFormat(const std::string& name) {
  if (name.empty()) return;
  const std::string lookup = FormatNameForLookup(name);
  Formats.ForcedInputFormat = AVFormatApi.av_find_input_format(lookup.c_str());
  if (!Formats.ForcedInputFormat)
    throw FFMpegException(Format("Unknown input format: %s", {lookup}));
}

void TCustomFFmpeg::OptOutputFormat(const std::string& name) {
  if (name.empty()) return;
  const std::string lookup = FormatNameForLookup(name);
  Formats.ForcedOutputFormat = AVFormatApi.av_guess_format(lookup.c_str(), nullptr, nullptr);
  if (!Formats.ForcedOutputFormat)
    throw FFMpegException(Format("Unknown output format: %s", {lookup}));
}

void TCustomFFmpeg::OptFormat(const std::string& name) {
  if (name.empty()) return;
  const std::string lookup = FormatNameForLookup(name);
  Formats.ForcedInputFormat = AVFormatApi.av_find_input_format(lookup.c_str());
  Formats.ForcedOutputFormat = AVFormatApi.av_guess_format(lookup.c_str(), nullptr, nullptr);
  if (!Formats.ForcedInputFormat && !Formats.ForcedOutputFormat)
    throw FFMpegException(Format("Unknown input or output format: %s", {lookup}));
}

// ---- Codecs --------------------------------------------------------------

void TCustomFFmpeg::OptCodecName(TOptionalText& codecName, int& streamCopy,
                                 const std::string& name) {
  if (name.empty()) return;
  codecName.reset();
  if (name == "copy")
    streamCopy = 1;
  else
    codecName = name;
}

void TCustomFFmpeg::OptCodec(AVMediaType kind, const std::string& name) {
  switch (kind) {
    case AVMEDIA_TYPE_VIDEO:
      return OptCodecName(Video.VideoCodecName, Video.VideoStreamCopy, name);
    case AVMEDIA_TYPE_AUDIO:
      return OptCodecName(Audio.AudioCodecName, Audio.AudioStreamCopy, name);
    case AVMEDIA_TYPE_SUBTITLE:
      return OptCodecName(Subtitle.SubtitleCodecName, Subtitle.SubtitleStreamCopy, name);
    default:
      return;
  }
}

// The four characters as a little-endian number, first character lowest.
void TCustomFFmpeg::OptCodecTag(AVMediaType kind, const std::string& tag) {
  if (tag.empty()) return;
  const bool video = kind == AVMEDIA_TYPE_VIDEO;
  Assert(tag.size() == 4,
         video ? "video tag parameter must be 4 chars" : "audio tag parameter must be 4 chars");
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(tag[i]);
  (video ? Video.VideoCodecTag : Audio.AudioCodecTag) = value;
}

bool TCustomFFmpeg::FindCodec(const TOptionalText& name, AVMediaType kind, bool encoder,
                              AVCodecID& codecId, const AVCodec** found) {
  if (found) *found = nullptr;
  if (!name) {
    codecId = AV_CODEC_ID_NONE;
    return true;
  }
  const char* word = encoder ? "encoder" : "decoder";
  const AVCodec* codec = LookUpCodec(*name, encoder);
  if (!codec) {
    LastError = Format("Unknown %s '%s'", {word, *name});
    return false;
  }
  if (codec->type != kind) {
    LastError = Format("Invalid %s type '%s'", {word, *name});
    return false;
  }
  codecId = codec->id;
  if (found) *found = codec;
  return true;
}

void TCustomFFmpeg::OptBitRate(const std::string& name, const std::string& value) {
  if (name.empty() || value.empty()) return;
  if (!SetGenericOption(name, value) || !OnJobLog) return;
  AVCodecContext* context =
      Generic.CodecOptionContexts[name[0] == 'a' ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO];
  int64_t bitRate = 0;
  if (context && AVUtilApi.av_opt_get_int(context, "b", 0, &bitRate) >= 0 && bitRate < 1000)
    Log(1,
        "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
}

// ---- Picture -------------------------------------------------------------

void TCustomFFmpeg::OptFrameRate(const std::string& value) {
  if (value.empty()) return;
  AVRational rate{0, 0};
  if (AVUtilApi.av_parse_video_rate(&rate, value.c_str()) < 0)
    throw FFMpegException("Incorrect frame rate");
  Video.VideoFrameRate = rate;
}

void TCustomFFmpeg::OptFrameSize(const std::string& value) {
  if (value.empty()) return;
  if (AVUtilApi.av_parse_video_size(&Video.FrameWidth, &Video.FrameHeight, value.c_str()) < 0)
    throw FFMpegException("Incorrect frame size");
  if (Video.FrameWidth % 2 != 0 || Video.FrameHeight % 2 != 0)
    throw FFMpegException("Frame size must be a multiple of 2");
}

// "16:9" or a real number in the user's notation. A ratio that is zero, or
// too large for the field, is rejected.
void TCustomFFmpeg::OptAspect(const std::string& value) {
  if (value.empty()) return;
  double ratio = 0;
  const size_t colon = value.find(':');
  if (colon == std::string::npos) {
    ratio = StrToFloatDef(value, 0);
  } else {
    const int width = StrToIntDef(value.substr(0, colon), 0);
    const int height = StrToIntDef(value.substr(colon + 1), 0);
    ratio = height > 0 ? static_cast<double>(width) / height : 0;
  }
  const float stored = static_cast<float>(ratio);
  if (stored == 0 || !std::isfinite(stored))
    throw FFMpegException("Incorrect aspect ratio specification.");
  Video.FrameAspectRatio = stored;
}

void TCustomFFmpeg::OptCrop(TSide side, int size) {
  if (size < 0) return;
  if (size % 2 != 0)
    throw FFMpegException(Format("%s crop size must be a multiple of 2", {SideName(side)}));
  const bool vertical = IsVertical(side);
  int& extent = vertical ? Video.FrameHeight : Video.FrameWidth;
  if (size >= extent)
    throw FFMpegException(
        Format("%s crop dimensions are outside the range of the original image.\nRemember to "
               "crop first and scale second.",
               {vertical ? "Vertical" : "Horizontal"}));
  SideField(side, Video.CropTop, Video.CropBottom, Video.CropLeft, Video.CropRight) = size;
  extent -= size;
}

void TCustomFFmpeg::OptPad(TSide side, int size) {
  if (size < 0) return;
  if (size % 2 != 0)
    throw FFMpegException(Format("%s pad size must be a multiple of 2", {SideName(side)}));
  SideField(side, Video.PadTop, Video.PadBottom, Video.PadLeft, Video.PadRight) = size;
}

// 0x00BBGGRR to Y, Cb, Cr with the factors of ITU-R BT.601 in 1/1024 steps.
void TCustomFFmpeg::OptPadColor(int color) {
  const int r = color & 255;
  const int g = (color >> 8) & 255;
  const int b = (color >> 16) & 255;
  const int y = (307 * r + 602 * g + 117 * b + 512) >> 10;
  const int cb = FloorDiv(-173 * r - 340 * g + 512 * b + 511, 1024) + 128;
  const int cr = FloorDiv(512 * r - 429 * g - 84 * b + 511, 1024) + 128;
  Video.PadColor = {y, cb, cr};
}

void TCustomFFmpeg::OptQScale(double qscale) {
  if (qscale <= 0 || qscale > 255) throw FFMpegException("qscale must be > 0.0 and <= 255");
  Video.VideoQScale = static_cast<float>(qscale);
}

// "list" logs the description of every pixel format, the header line first.
void TCustomFFmpeg::OptPixFmt(const std::string& value) {
  if (value != "list") {
    Video.FramePixFmt = AVUtilApi.av_get_pix_fmt(value.c_str());
    return;
  }
  if (!OnJobLog) return;
  char line[128];
  for (int format = -1; format < AV_PIX_FMT_NB; ++format) {
    if (format >= 0 && !AVUtilApi.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format))) continue;
    AVUtilApi.av_get_pix_fmt_string(line, sizeof line, static_cast<AVPixelFormat>(format));
    Log(1, Trim(line));
  }
}

// ---- Sound ---------------------------------------------------------------

void TCustomFFmpeg::OptSampleFmt(const std::string& value) {
  if (value != "list") {
    Audio.AudioSampleFmt = AVUtilApi.av_get_sample_fmt(value.c_str());
    return;
  }
  if (!OnJobLog) return;
  char line[128];
  for (int format = -1; format < AV_SAMPLE_FMT_NB; ++format) {
    if (format >= 0 && !AVUtilApi.av_get_sample_fmt_name(static_cast<AVSampleFormat>(format)))
      continue;
    AVUtilApi.av_get_sample_fmt_string(line, sizeof line, static_cast<AVSampleFormat>(format));
    Log(1, Trim(line));
  }
}

void TCustomFFmpeg::OptAudioRate(int rate) {
  if (rate > 0) Audio.AudioSampleRate = rate;
}

void TCustomFFmpeg::OptAudioChannels(int channels) {
  if (channels > 0) Audio.AudioChannels = channels;
}

// ---- Plain texts and levels ----------------------------------------------

void TCustomFFmpeg::OptVideoFilters(const std::string& chain) {
  if (!chain.empty()) Video.VideoFilters = chain;
}

void TCustomFFmpeg::OptRcOverride(const std::string& value) {
  Video.VideoRcOverride = value;
}

void TCustomFFmpeg::OptVideoStandard(const std::string& value) {
  Input.VideoStandard = value;
}

// The level is shared by every job of the process: the library's log level
// and the relay's filter level follow it.
void TCustomFFmpeg::OptVerbosity(int level) {
  Diagnostics.Verbosity = level;
  AVUtilApi.av_log_set_level(LibraryLogLevel(level));
  LogFilterLevel = level;
}
