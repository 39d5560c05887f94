// Opening an input: forced formats and decoders, capture parameters, stream
// analysis, the seek to the start position, a decoder context of the job's
// own per stream, and the streams' parameters copied into the option state
// so that the output created next inherits them.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <mutex>

#include "FFMpegException.h"
#include "FFmpeg.h"
#include "FFmpegFiles.h"
#include "LibraryLock.h"
#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "binding/MediaUrl.h"
#include "binding/OpenErrorText.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/Text.h"

namespace {
// The aspect ratio of a picture that reports neither size nor aspect.
constexpr float UnknownPictureAspect = 4.0f / 3.0f;

double RatioValue(AVRational ratio) {
  return ratio.den == 0 ? 0 : static_cast<double>(ratio.num) / ratio.den;
}

bool IsValidRate(AVRational rate) {
  return rate.num > 0 && rate.den > 0;
}

std::string LowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

void SetEntry(AVDictionary** options, const char* key, const std::string& value) {
  AVUtilApi.av_dict_set(options, key, value.c_str(), 0);
}

// The decoder forced for streams of that kind, if any.
const AVCodec* ForcedDecoder(const AVFormatContext* input, AVMediaType kind) {
  switch (kind) {
    case AVMEDIA_TYPE_VIDEO:
      return input->video_codec;
    case AVMEDIA_TYPE_AUDIO:
      return input->audio_codec;
    case AVMEDIA_TYPE_SUBTITLE:
      return input->subtitle_codec;
    default:
      return nullptr;
  }
}

// A decoder context from the stream's parameters; its codec is the forced
// decoder or the one of the stream's codec, when there is one.
AVCodecContext* NewDecoderContext(const AVFormatContext* input, const AVStream* stream) {
  const AVCodecParameters* parameters = stream->codecpar;
  const AVCodec* decoder = ForcedDecoder(input, parameters->codec_type);
  if (!decoder) decoder = AVCodecApi.avcodec_find_decoder(parameters->codec_id);
  AVCodecContext* context = AVCodecApi.avcodec_alloc_context3(decoder);
  if (context && AVCodecApi.avcodec_parameters_to_context(context, parameters) < 0)
    AVCodecApi.avcodec_free_context(&context);
  return context;
}

// Pictures named as the old "pgmyuv" format are read by the image sequence
// demuxer as PGM pictures holding YUV planes.
bool ReadsPgmyuv(const TFormatChoice& formats) {
  return formats.PgmyuvCompat && formats.ForcedInputFormat &&
         std::strcmp(formats.ForcedInputFormat->name, "image2") == 0;
}

// The installed decoders keep no frame rate of the codec before they are
// opened; the stream's average rate, else its base rate, stands for it.
AVRational CodecTimeBase(const AVStream* stream) {
  if (IsValidRate(stream->avg_frame_rate))
    return AVRational{stream->avg_frame_rate.den, stream->avg_frame_rate.num};
  if (IsValidRate(stream->r_frame_rate))
    return AVRational{stream->r_frame_rate.den, stream->r_frame_rate.num};
  return AVRational{0, 1};
}
}  // namespace

bool TCustomFFmpeg::OpenInputFile(const std::string& fileName) {
  const int file = Files.InputFileCount;
  AVFormatContext* input = nullptr;
  bool opened = false;
  try {
    opened = OpenAndAnalyse(fileName, input) && TakeInput(fileName, input);
  } catch (...) {
    DiscardInput(file, input);
    ConsumeInputOptions();
    throw;
  }
  if (!opened) DiscardInput(file, input);
  ConsumeInputOptions();
  return opened;
}

// Forced decoders, the open with the capture parameters and the stream
// analysis. On failure LastError says why; input holds what must be closed.
bool TCustomFFmpeg::OpenAndAnalyse(const std::string& fileName, AVFormatContext*& input) {
  if (Files.InputFileCount >= MaxFiles) {
    LastError = Format("Too many input files (at most %d)", {MaxFiles});
    return false;
  }
  AVCodecID videoId, audioId, subtitleId;
  const AVCodec *video, *audio, *subtitle;
  if (!FindCodec(Video.VideoCodecName, AVMEDIA_TYPE_VIDEO, false, videoId, &video) ||
      !FindCodec(Audio.AudioCodecName, AVMEDIA_TYPE_AUDIO, false, audioId, &audio) ||
      !FindCodec(Subtitle.SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, false, subtitleId, &subtitle))
    return false;
  input = AVFormatApi.avformat_alloc_context();
  if (!input) {
    LastError = FormatOpenError(fileName, AVERROR(ENOMEM));
    return false;
  }
  ApplyGenericOptions(input, Generic.FormatOptionContext, AV_OPT_FLAG_DECODING_PARAM);
  input->video_codec_id = ReadsPgmyuv(Formats) ? AV_CODEC_ID_PGMYUV : videoId;
  input->audio_codec_id = audioId;
  input->subtitle_codec_id = subtitleId;
  input->video_codec = video;
  input->audio_codec = audio;
  input->subtitle_codec = subtitle;
  AVDictionary* options = InputOpenOptions();
  // The open call frees the context itself when it fails.
  int result = AVFormatApi.avformat_open_input(&input, MediaUrl(fileName).c_str(),
                                               Formats.ForcedInputFormat, &options);
  AVUtilApi.av_dict_free(&options);
  if (result < 0) {
    LastError = FormatOpenError(fileName, result);
    return false;
  }
  ApplyInputFileSettings(input);
  {
    // The analysis opens decoders inside the library.
    std::lock_guard lock(LibraryLock());
    result = AVFormatApi.avformat_find_stream_info(input, nullptr);
  }
  if (result < 0 && Diagnostics.Verbosity >= 0) {
    LastError = Format("%s: could not find codec parameters", {fileName});
    return false;
  }
  return true;
}

// Capture parameters for the demuxers that know them (devices and raw
// formats; the others leave them unused), then the recorded private options
// of demuxers, which win.
AVDictionary* TCustomFFmpeg::InputOpenOptions() const {
  AVDictionary* options = nullptr;
  if (IsValidRate(Video.VideoFrameRate))
    SetEntry(&options, "framerate",
             Format("%d/%d", {Video.VideoFrameRate.num, Video.VideoFrameRate.den}));
  SetEntry(&options, "sample_rate", std::to_string(Audio.AudioSampleRate));
  SetEntry(&options, "channels", std::to_string(Audio.AudioChannels));
  if (Video.FrameWidth > 0 && Video.FrameHeight > 0)
    SetEntry(&options, "video_size",
             Format("%dx%d", {Video.FrameWidth + Video.PadLeft + Video.PadRight,
                              Video.FrameHeight + Video.PadTop + Video.PadBottom}));
  if (const char* pixelFormat =
          AVUtilApi.av_get_pix_fmt_name(static_cast<AVPixelFormat>(Video.FramePixFmt)))
    SetEntry(&options, "pixel_format", pixelFormat);
  if (Input.VideoChannel != 0) SetEntry(&options, "channel", std::to_string(Input.VideoChannel));
  if (Input.VideoStandard) SetEntry(&options, "standard", *Input.VideoStandard);
  AVUtilApi.av_dict_copy(&options, Generic.DemuxerPrivateOptions, 0);
  return options;
}

// Programs other than the chosen one are not read; image sequences loop
// when the input is to loop.
void TCustomFFmpeg::ApplyInputFileSettings(AVFormatContext* input) {
  if (Input.ProgramId != 0) {
    for (unsigned i = 0; i < input->nb_programs; ++i)
      if (input->programs[i]->id != Input.ProgramId) input->programs[i]->discard = AVDISCARD_ALL;
  }
  if (Input.LoopInput) AVUtilApi.av_opt_set(input, "loop", "1", AV_OPT_SEARCH_CHILDREN);
}

// Seek, streams, duration, timestamp offset and the entry in the input
// table. False with LastError when a decoder context cannot be made.
bool TCustomFFmpeg::TakeInput(const std::string& fileName, AVFormatContext* input) {
  const int file = Files.InputFileCount;
  int64_t startTime = Timing.SeekTimeUs;
  if (input->start_time != AV_NOPTS_VALUE) startTime += input->start_time;
  if (Timing.SeekTimeUs != 0) {
    // A failed seek leaves the input at its beginning.
    AVFormatApi.av_seek_frame(input, -1, startTime, AVSEEK_FLAG_BACKWARD);
    Timing.SeekTimeUs = 0;
  }
  FileStreams.Inputs[file].assign(input->nb_streams, TInputStreamState{});
  for (unsigned index = 0; index < input->nb_streams; ++index) {
    if (!SetUpInputStream(input, static_cast<int>(index), fileName)) {
      LastError = FormatOpenError(fileName, AVERROR(ENOMEM));
      return false;
    }
  }
  TakeDuration(input);
  Files.InputFiles[file] = input;
  Files.InputTsOffsets[file] =
      Timing.CopyTimestamps ? Timing.InputTsOffset : Timing.InputTsOffset - startTime;
  if (Diagnostics.Verbosity >= 0) AVFormatApi.av_dump_format(input, file, fileName.c_str(), 0);
  ++Files.InputFileCount;
  return true;
}

// The stream's decoder context with the job's settings; its parameters go
// into the option state. False when the context cannot be made.
bool TCustomFFmpeg::SetUpInputStream(AVFormatContext* input, int index,
                                     const std::string& fileName) {
  AVStream* stream = input->streams[index];
  TInputStreamState& state = FileStreams.Inputs[Files.InputFileCount][index];
  state.Decoder = NewDecoderContext(input, stream);
  AVCodecContext* decoder = state.Decoder;
  if (!decoder) return false;
  decoder->thread_count = Runtime.ThreadCount;
  const AVMediaType kind = stream->codecpar->codec_type;
  if (kind >= 0 && kind < MediaKindCount && decoder->codec && decoder->codec->priv_class)
    ApplyPrivateOptions(decoder->priv_data, decoder->codec->priv_class,
                        Generic.DecoderPrivateOptions[kind], &state.DecoderOptions);
  switch (kind) {
    case AVMEDIA_TYPE_AUDIO:
      TakeAudioParameters(decoder);
      if (Audio.AudioDisable) stream->discard = AVDISCARD_ALL;
      return true;
    case AVMEDIA_TYPE_VIDEO:
      TakeVideoParameters(index, stream, decoder, fileName);
      state.RateEmulation = Input.RateEmulation != 0;
      if (Video.VideoDisable)
        stream->discard = AVDISCARD_ALL;
      else if (Video.VideoDiscard != 0)
        stream->discard = static_cast<AVDiscard>(Video.VideoDiscard);
      return true;
    case AVMEDIA_TYPE_SUBTITLE:
      if (Subtitle.SubtitleDisable) stream->discard = AVDISCARD_ALL;
      return true;
    case AVMEDIA_TYPE_DATA:
    case AVMEDIA_TYPE_ATTACHMENT:
    case AVMEDIA_TYPE_UNKNOWN:
      return true;
    default:
      throw FFMpegException("invalid codec_type");
  }
}

void TCustomFFmpeg::TakeAudioParameters(AVCodecContext* decoder) {
  ApplyGenericOptions(decoder, Generic.CodecOptionContexts[AVMEDIA_TYPE_AUDIO],
                      AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
  Audio.AudioChannels = decoder->ch_layout.nb_channels;
  Audio.AudioSampleRate = decoder->sample_rate;
  Audio.AudioSampleFmt = decoder->sample_fmt;
}

void TCustomFFmpeg::TakeVideoParameters(int index, const AVStream* stream, AVCodecContext* decoder,
                                        const std::string& fileName) {
  ApplyGenericOptions(decoder, Generic.CodecOptionContexts[AVMEDIA_TYPE_VIDEO],
                      AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
  Video.FrameHeight = decoder->height;
  Video.FrameWidth = decoder->width;
  TakeAspectRatio(stream, decoder);
  // RealMedia streams often state no pixel format before decoding.
  if (decoder->pix_fmt == AV_PIX_FMT_NONE &&
      StartsWith(LowerCase(ExtractFileExt(fileName)), ".rmvb"))
    decoder->pix_fmt = AV_PIX_FMT_YUV420P;
  Video.FramePixFmt = decoder->pix_fmt;
  // Reusing the input's motion vectors needs the decoder to export them.
  // (Edge emulation for low-resolution decoding is always on now.)
  if (Video.MeThreshold != 0) decoder->export_side_data |= AV_CODEC_EXPORT_DATA_MVS;
  const AVRational rate = stream->r_frame_rate;
  decoder->time_base = CodecTimeBase(stream);
  ReportFrameRateMismatch(index, decoder, rate);
  Video.VideoFrameRate = rate;
}

// The display aspect from the container's sample aspect, else the codec's.
void TCustomFFmpeg::TakeAspectRatio(const AVStream* stream, const AVCodecContext* decoder) {
  const AVRational sample = stream->sample_aspect_ratio.num != 0 ? stream->sample_aspect_ratio
                                                                 : decoder->sample_aspect_ratio;
  const double value = RatioValue(sample);
  const int width = decoder->width;
  const int height = decoder->height;
  if (width != 0 && height != 0)
    Video.FrameAspectRatio = static_cast<float>(value != 0 ? width * value / height
                                                           : static_cast<double>(width) / height);
  else
    Video.FrameAspectRatio = value != 0 ? static_cast<float>(value) : UnknownPictureAspect;
}

void TCustomFFmpeg::ReportFrameRateMismatch(int index, const AVCodecContext* decoder,
                                            AVRational rate) {
  const AVRational codecBase = decoder->time_base;
  if ((codecBase.num == rate.den && codecBase.den == rate.num) || Diagnostics.Verbosity <= 0 ||
      !OnJobLog)
    return;
  Log(1, Format("Seems stream %d codec frame rate differs from container frame rate: %2.2f "
                "(%d/%d) -> %2.2f (%d/%d)",
                {index, RatioValue(AVRational{codecBase.den, codecBase.num}), codecBase.den,
                 codecBase.num, RatioValue(rate), rate.num, rate.den}));
}

// The expected output duration grows to the input's.
void TCustomFFmpeg::TakeDuration(const AVFormatContext* input) {
  if (input->duration == AV_NOPTS_VALUE) return;
  const int64_t milliseconds = std::min<int64_t>(input->duration / 1000, INT_MAX);
  if (OutputDurationMs < milliseconds) OutputDurationMs = static_cast<int>(milliseconds);
}

// The options that apply to one input only.
void TCustomFFmpeg::ConsumeInputOptions() {
  Formats.ForcedInputFormat = nullptr;
  Formats.ForcedOutputFormat = nullptr;
  Input.VideoChannel = 0;
  Input.RateEmulation = 0;
  Video.VideoCodecName.reset();
  Audio.AudioCodecName.reset();
  Subtitle.SubtitleCodecName.reset();
}

void TCustomFFmpeg::DiscardInput(int file, AVFormatContext*& input) {
  ReleaseInputStreams(file);
  if (input) AVFormatApi.avformat_close_input(&input);
}

void TCustomFFmpeg::ReleaseInputStreams(int file) {
  for (TInputStreamState& state : FileStreams.Inputs[file]) {
    FreeJobCodecContext(state.Decoder);
    AVUtilApi.av_dict_free(&state.DecoderOptions);
  }
  FileStreams.Inputs[file].clear();
}

AVCodecContext* TCustomFFmpeg::InputDecoderContext(int file, int stream) const {
  if (file < 0 || file >= MaxFiles) return nullptr;
  const auto& streams = FileStreams.Inputs[file];
  return stream >= 0 && stream < static_cast<int>(streams.size()) ? streams[stream].Decoder
                                                                  : nullptr;
}

bool TCustomFFmpeg::InputRateEmulation(int file, int stream) const {
  if (file < 0 || file >= MaxFiles) return false;
  const auto& streams = FileStreams.Inputs[file];
  return stream >= 0 && stream < static_cast<int>(streams.size()) && streams[stream].RateEmulation;
}
