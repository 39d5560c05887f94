#include "AVProbe.h"

#include <cstring>
#include <limits>

#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "binding/MediaUrl.h"
#include "binding/OpenErrorText.h"
#include "binding/SwScaleHlpr.h"
#include "platform/Exception.h"
#include "platform/Format.h"

namespace {
constexpr AVRational MicrosecondBase{1, 1000000};

struct TProbeLibrary {
  TLibBinding& (*Unit)();
  bool Register;
  const char* NotLoaded;
};

const TProbeLibrary ProbeLibraries[] = {
    {AVCodecHlpr::Unit, true, "LibAVCodec not loaded."},
    {AVFormatHlpr::Unit, true, "LibAVFormat not loaded."},
    {AVUtilHlpr::Unit, false, "LibAVUtil not loaded."},
    {SwScaleHlpr::Unit, false, "LibSwScale not loaded."},
};

int32_t ClampToInt32(int64_t value) {
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

template <typename TInfo>
void ResetInfo(TInfo& info) {
  std::memset(info.Language, 0, sizeof info.Language);
  std::memset(info.CodecName, 0, sizeof info.CodecName);
  info.StartTime = info.StartTimeUs = info.Duration = info.DurationUs = -1;
  info.BitRate = -1;
}

void CopyLanguage(const AVStream& stream, char (&language)[4]) {
  const AVDictionaryEntry* entry = AVUtilApi.av_dict_get(stream.metadata, "language", nullptr, 0);
  if (entry && entry->value) std::strncpy(language, entry->value, sizeof language - 1);
}

void CopyCodecName(const AVStream& stream, char (&name)[32]) {
  const AVCodecDescriptor* descriptor =
      AVCodecApi.avcodec_descriptor_get(stream.codecpar->codec_id);
  if (descriptor && descriptor->name) std::strncpy(name, descriptor->name, sizeof name - 1);
}

// The parts every stream record shares: names, times and bit rate.
template <typename TInfo>
void FillCommon(const AVStream& stream, TInfo& info) {
  CopyLanguage(stream, info.Language);
  CopyCodecName(stream, info.CodecName);
  info.StartTime = stream.start_time;
  info.Duration = stream.duration;
  if (stream.start_time != AV_NOPTS_VALUE)
    info.StartTimeUs = AVUtilApi.av_rescale_q(stream.start_time, stream.time_base, MicrosecondBase);
  if (stream.duration != AV_NOPTS_VALUE)
    info.DurationUs = AVUtilApi.av_rescale_q(stream.duration, stream.time_base, MicrosecondBase);
  info.BitRate = ClampToInt32(stream.codecpar->bit_rate);
}

float DisplayAspect(int width, int height, AVRational sampleAspect) {
  if (height == 0 || sampleAspect.den == 0) return 0.0f;
  const double sample = static_cast<double>(sampleAspect.num) / sampleAspect.den;
  return static_cast<float>(width * sample / height);
}
}  // namespace

TAVProbe::TAVProbe() {
  Recount();
}

TAVProbe::~TAVProbe() {
  if (FormatContext && OwnsContext && AVFormatHlpr::Unit().LibBound())
    AVFormatApi.avformat_close_input(&FormatContext);
}

bool TAVProbe::LoadLibraries(const std::string& folder, bool versioned) {
  bool allBound = true;
  for (const TProbeLibrary& library : ProbeLibraries)
    allBound = allBound && library.Unit().LibBound();
  if (allBound) return true;
  for (const TProbeLibrary& library : ProbeLibraries) {
    if (!library.Unit().BindLib(LastError, folder, versioned, library.Register)) {
      UnloadLibraries();
      return false;
    }
  }
  return true;
}

void TAVProbe::UnloadLibraries() {
  for (const TProbeLibrary& library : ProbeLibraries) library.Unit().UnloadLib();
}

void TAVProbe::CheckLibraries() const {
  for (const TProbeLibrary& library : ProbeLibraries)
    if (!library.Unit().LibBound()) throw Exception(library.NotLoaded);
}

bool TAVProbe::Open(const std::string& fileName, const std::string& formatName) {
  CheckLibraries();
  Close();
  const AVInputFormat* format = nullptr;
  if (!formatName.empty()) {
    format = AVFormatApi.av_find_input_format(formatName.c_str());
    if (!format) {
      LastError = Format("Unknown input format: %s", {formatName});
      return false;
    }
  }
  FormatContext = AVFormatApi.avformat_alloc_context();
  if (!FormatContext) {
    LastError = OpenErrorText(fileName, AVERROR(ENOMEM));
    return false;
  }
  OwnsContext = true;
  // The open call frees the context itself when it fails.
  const int result =
      AVFormatApi.avformat_open_input(&FormatContext, MediaUrl(fileName).c_str(), format, nullptr);
  if (result < 0) {
    LastError = OpenErrorText(fileName, result);
    FormatContext = nullptr;
    Close();
    return false;
  }
  if (AVFormatApi.avformat_find_stream_info(FormatContext, nullptr) < 0) {
    LastError = Format("%s: could not find codec parameters", {fileName});
    Close();
    return false;
  }
  Recount();
  InputFormat = formatName;
  return true;
}

void TAVProbe::Attach(AVFormatContext* context) {
  CheckLibraries();
  Close();
  OwnsContext = false;
  FormatContext = context;
  Recount();
}

void TAVProbe::Close() {
  InputFormat.clear();
  if (FormatContext && OwnsContext) AVFormatApi.avformat_close_input(&FormatContext);
  FormatContext = nullptr;
  Recount();
}

void TAVProbe::Recount() {
  StreamCount = ProgramCount = -1;
  AudioStreamCount = VideoStreamCount = SubtitleStreamCount = -1;
  FirstAudioStream = FirstVideoStream = FirstSubtitleStream = -1;
  if (!FormatContext) return;
  StreamCount = static_cast<int32_t>(FormatContext->nb_streams);
  ProgramCount = static_cast<int32_t>(FormatContext->nb_programs);
  AudioStreamCount = VideoStreamCount = SubtitleStreamCount = 0;
  for (int32_t i = 0; i < StreamCount; ++i) {
    auto count = [i](int32_t& counter, int32_t& first) {
      ++counter;
      if (first == -1) first = i;
    };
    switch (FormatContext->streams[i]->codecpar->codec_type) {
      case AVMEDIA_TYPE_VIDEO:
        count(VideoStreamCount, FirstVideoStream);
        break;
      case AVMEDIA_TYPE_AUDIO:
        count(AudioStreamCount, FirstAudioStream);
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        count(SubtitleStreamCount, FirstSubtitleStream);
        break;
      default:
        break;
    }
  }
}

const AVStream* TAVProbe::SelectStream(int streamIndex, int mediaType, const char* kindName) const {
  if (!FormatContext) {
    AVUtilApi.av_log(nullptr, AV_LOG_INFO, "file not loaded.\n");
    return nullptr;
  }
  if (streamIndex < 0) {
    streamIndex = mediaType == AVMEDIA_TYPE_AUDIO ? FirstAudioStream : FirstVideoStream;
    if (streamIndex == -1) {
      AVUtilApi.av_log(nullptr, AV_LOG_ERROR, "no %s stream.\n", kindName);
      return nullptr;
    }
  }
  if (streamIndex >= StreamCount) {
    AVUtilApi.av_log(nullptr, AV_LOG_ERROR, "stream index #%d is invalid.\n", streamIndex);
    return nullptr;
  }
  const AVStream* stream = FormatContext->streams[streamIndex];
  if (stream->codecpar->codec_type != mediaType) {
    AVUtilApi.av_log(nullptr, AV_LOG_ERROR, "stream #%d is not %s stream.\n", streamIndex,
                     kindName);
    return nullptr;
  }
  return stream;
}

void TAVProbe::GetAudioInfo(int streamIndex, TAudioStreamInfo& info) const {
  ResetInfo(info);
  info.Channels = info.SampleRate = info.SampleFormat = -1;
  const AVStream* stream = SelectStream(streamIndex, AVMEDIA_TYPE_AUDIO, "audio");
  if (!stream) return;
  FillCommon(*stream, info);
  const AVCodecParameters& codec = *stream->codecpar;
  info.Channels = codec.ch_layout.nb_channels;
  info.SampleRate = codec.sample_rate;
  info.SampleFormat = codec.format;
}

void TAVProbe::GetVideoInfo(int streamIndex, TVideoStreamInfo& info) const {
  ResetInfo(info);
  info.Height = info.Width = -1;
  info.AspectRatio = -1.0f;
  info.PixelFormat = info.FrameRateNum = info.FrameRateDen = -1;
  const AVStream* stream = SelectStream(streamIndex, AVMEDIA_TYPE_VIDEO, "video");
  if (!stream) return;
  FillCommon(*stream, info);
  const AVCodecParameters& codec = *stream->codecpar;
  info.Height = codec.height;
  info.Width = codec.width;
  // The container's sample aspect wins over the one the codec reports.
  const AVRational sampleAspect = AVFormatApi.av_guess_sample_aspect_ratio(
      FormatContext, const_cast<AVStream*>(stream), nullptr);
  info.AspectRatio = DisplayAspect(codec.width, codec.height, sampleAspect);
  info.PixelFormat = codec.format;
  info.FrameRateNum = stream->r_frame_rate.num;
  info.FrameRateDen = stream->r_frame_rate.den;
}

std::string TAVProbe::GetFileName() const {
  if (!FormatContext) {
    AVUtilApi.av_log(nullptr, AV_LOG_INFO, "file not loaded.\n");
    return "";
  }
  return FormatContext->url ? FormatContext->url : "";
}

int64_t TAVProbe::FileDurationUs() const {
  if (!FormatContext || FormatContext->duration == AV_NOPTS_VALUE) return -1;
  return FormatContext->duration;
}

std::string TAVProbe::OpenErrorText(const std::string& fileName, int code) {
  return FormatOpenError(fileName, code);
}
