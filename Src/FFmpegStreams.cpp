// The streams of an output being created: one encoder context of the job's
// own per stream with every setting of the per-stream options, which each
// creation consumes so that a further stream of the kind starts afresh.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FFMpegException.h"
#include "FFmpeg.h"
#include "FFmpegFiles.h"
#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "platform/Format.h"

namespace {
constexpr AVRational FallbackFrameRate{25, 1};
// Numerator and denominator limit of a sample aspect ratio.
constexpr int MaxAspectTerm = 255;
constexpr float NoAudioQuality = -99999;
constexpr size_t LanguageLength = 3;

[[noreturn]] void CouldNotAllocStream() {
  throw FFMpegException("Could not alloc stream");
}

// The sample aspect that gives the display aspect on a picture of that
// size; a picture of unknown size counts as 4:3.
AVRational SampleAspect(float displayAspect, int width, int height) {
  const double value = width != 0 && height != 0
                           ? static_cast<double>(displayAspect) * height / width
                           : static_cast<double>(displayAspect) * 3 / 4;
  return AVUtilApi.av_d2q(value, MaxAspectTerm);
}

// |rate - candidate| as a fraction: numerator and denominator, unreduced.
struct TRateError {
  unsigned __int128 Numerator;
  unsigned __int128 Denominator;
};

TRateError RateError(AVRational rate, AVRational candidate) {
  const __int128 difference = static_cast<__int128>(candidate.den) * rate.num -
                              static_cast<__int128>(candidate.num) * rate.den;
  const __int128 denominator = static_cast<__int128>(candidate.den) * rate.den;
  return {static_cast<unsigned __int128>(difference < 0 ? -difference : difference),
          static_cast<unsigned __int128>(denominator < 0 ? -denominator : denominator)};
}

// Exact comparison; the products stay within 128 bits.
bool Smaller(const TRateError& first, const TRateError& second) {
  return first.Numerator * second.Denominator < second.Numerator * first.Denominator;
}

template <typename T>
bool Listed(const T* list, T value, T end) {
  for (; list && *list != end; ++list)
    if (*list == value) return true;
  return false;
}

// One number in C notation, base 10, after optional blanks; false when no
// digit follows.
bool ReadInteger(const char*& text, int& value) {
  char* end = nullptr;
  const long number = std::strtol(text, &end, 10);
  if (end == text) return false;
  value = static_cast<int>(std::max<long>(INT_MIN, std::min<long>(INT_MAX, number)));
  text = end;
  return true;
}

bool ReadField(const char*& text, int& value, bool separatorFollows) {
  if (!ReadInteger(text, value)) return false;
  if (!separatorFollows) return true;
  if (*text != ',') return false;
  ++text;
  return true;
}

// "start,end,quality" entries separated by "/"; a positive quality is a
// fixed quantiser, any other a quality factor of -quality/100.
std::vector<RcOverride> ParseRateControlOverrides(const std::string& value) {
  std::vector<RcOverride> entries;
  for (const char* entry = value.c_str(); entry;) {
    const char* text = entry;
    int start = 0, end = 0, quality = 0;
    if (!ReadField(text, start, true) || !ReadField(text, end, true) ||
        !ReadField(text, quality, false))
      throw FFMpegException("error parsing rc_override");
    RcOverride override{};
    override.start_frame = start;
    override.end_frame = end;
    override.qscale = quality > 0 ? quality : 0;
    override.quality_factor = quality > 0 ? 1.0f : -quality / 100.0f;
    entries.push_back(override);
    entry = std::strchr(entry, '/');
    if (entry) ++entry;
  }
  return entries;
}

void SetChannelCount(AVCodecContext* context, int channels) {
  AVUtilApi.av_channel_layout_uninit(&context->ch_layout);
  AVUtilApi.av_channel_layout_default(&context->ch_layout, channels);
}

// At most three characters of the language, which is then used up.
void TakeLanguage(AVStream* stream, std::string& language) {
  if (language.empty()) return;
  AVUtilApi.av_dict_set(&stream->metadata, "language", language.substr(0, LanguageLength).c_str(),
                        0);
  language.clear();
}

uint16_t* CopyMatrix(const TQuantMatrix& matrix) {
  auto* copy = static_cast<uint16_t*>(AVUtilApi.av_mallocz(sizeof matrix));
  if (copy) std::memcpy(copy, matrix.data(), sizeof matrix);
  return copy;
}
}  // namespace

AVRational TCustomFFmpeg::ClosestSupportedFrameRate(AVRational rate, const AVRational* supported) {
  if (!supported || supported->num == 0) return rate;
  AVRational best = supported[0];
  TRateError bestError = RateError(rate, best);
  for (const AVRational* candidate = supported + 1; candidate->num != 0 || candidate->den != 0;
       ++candidate) {
    const TRateError error = RateError(rate, *candidate);
    if (Smaller(error, bestError)) {
      best = *candidate;
      bestError = error;
    }
  }
  return best;
}

// A new stream of the output being created, with the kind's pending
// bitstream filters; none when the output or the job's tables are full.
// The output's number: one already in the table ("newvideo" and the like
// add streams to the last output), else the one being created.
int TCustomFFmpeg::OutputIndexOf(const AVFormatContext* output) const {
  for (int i = 0; i < Files.OutputFileCount; ++i)
    if (Files.OutputFiles[i] == output) return i;
  return Files.OutputFileCount;
}

AVStream* TCustomFFmpeg::AddOutputStream(AVFormatContext* output, TBsfChain& pendingFilters) {
  const int file = OutputIndexOf(output);
  NewStreamFile = file;
  if (file >= MaxFiles || output->nb_streams >= static_cast<unsigned>(MaxStreams)) return nullptr;
  AVStream* stream = AVFormatApi.avformat_new_stream(output, nullptr);
  if (!stream) return nullptr;
  stream->id = stream->index;
  FileStreams.Outputs[file].Streams.resize(output->nb_streams);
  Bsf.StreamBsfLists[file][stream->index] = std::move(pendingFilters);
  pendingFilters.clear();
  return stream;
}

TOutputStreamState& TCustomFFmpeg::OutputStreamState(const AVStream* stream) {
  return FileStreams.Outputs[NewStreamFile].Streams[stream->index];
}

// The encoder's own defaults when there is an encoder, else the general
// ones; kept in the stream's state at once so that a failure releases it.
AVCodecContext* TCustomFFmpeg::NewEncoderContext(const AVStream* stream, AVMediaType kind,
                                                 const AVCodec* encoder, AVCodecID codecId) {
  AVCodecContext* context = AVCodecApi.avcodec_alloc_context3(encoder);
  if (!context) CouldNotAllocStream();
  OutputStreamState(stream).Encoder = context;
  context->codec_type = kind;
  context->codec_id = codecId;
  return context;
}

// The named encoder, or the format's choice for the file name. Raises with
// the lookup's message.
const AVCodec* TCustomFFmpeg::ChooseEncoder(const AVFormatContext* output, AVMediaType kind,
                                            const TOptionalText& name, AVCodecID& codecId) {
  const AVCodec* named = nullptr;
  if (name) {
    if (!FindCodec(name, kind, true, codecId, &named)) throw FFMpegException(LastError);
    return named;
  }
  codecId = AVFormatApi.av_guess_codec(output->oformat, nullptr, output->url, nullptr, kind);
  return AVCodecApi.avcodec_find_encoder(codecId);
}

// A video or audio stream with its encoder context: the encoder, the codec
// threads and the forced codec tag.
AVStream* TCustomFFmpeg::BeginCodedStream(AVFormatContext* output, AVMediaType kind,
                                          TBsfChain& pendingFilters, bool streamCopy,
                                          const TOptionalText& codecName, uint32_t codecTag) {
  AVStream* stream = AddOutputStream(output, pendingFilters);
  if (!stream) CouldNotAllocStream();
  AVCodecID codecId = AV_CODEC_ID_NONE;
  const AVCodec* codec = streamCopy ? nullptr : ChooseEncoder(output, kind, codecName, codecId);
  AVCodecContext* encoder = NewEncoderContext(stream, kind, codec, codecId);
  encoder->thread_count = Runtime.ThreadCount;
  if (codecTag != 0) encoder->codec_tag = codecTag;
  return stream;
}

// The recorded generic options of the kind, then the private ones this
// encoder takes.
void TCustomFFmpeg::ApplyEncoderOptions(AVCodecContext* encoder, TOutputStreamState& state,
                                        int kindFlag) {
  const AVMediaType kind = encoder->codec_type;
  ApplyGenericOptions(encoder, Generic.CodecOptionContexts[kind],
                      kindFlag | AV_OPT_FLAG_ENCODING_PARAM);
  if (encoder->codec)
    ApplyPrivateOptions(encoder->priv_data, encoder->codec->priv_class,
                        Generic.EncoderPrivateOptions[kind], &state.EncoderOptions);
}

// ---- Video -----------------------------------------------------------------

void TCustomFFmpeg::NewVideoStream(AVFormatContext* output) {
  try {
    AVStream* stream =
        BeginCodedStream(output, AVMEDIA_TYPE_VIDEO, Bsf.VideoBsfList, Video.VideoStreamCopy,
                         Video.VideoCodecName, Video.VideoCodecTag);
    TOutputStreamState& state = OutputStreamState(stream);
    AVCodecContext* encoder = state.Encoder;
    SetVideoHeaders(encoder, output);
    if (Video.VideoStreamCopy) {
      state.StreamCopy = true;
      stream->sample_aspect_ratio =
          SampleAspect(Video.FrameAspectRatio, Video.FrameWidth, Video.FrameHeight);
    } else {
      SetVideoEncoding(stream, encoder, state);
    }
  } catch (...) {
    Video.VideoCodecName.reset();
    throw;
  }
  Video.VideoDisable = 0;
  Video.VideoCodecName.reset();
  Video.VideoStreamCopy = 0;
}

// Global headers when asked for, or when the format wants them and the
// option leaves it to the format; local headers when asked for. The video
// option context gets them too, so that copying a recorded "flags" or
// "flags2" keeps them.
void TCustomFFmpeg::SetVideoHeaders(AVCodecContext* encoder, const AVFormatContext* output) {
  const int headers = Video.VideoGlobalHeader;
  AVCodecContext* options = Generic.CodecOptionContexts[AVMEDIA_TYPE_VIDEO];
  if ((headers & 1) || (headers == 0 && (output->oformat->flags & AVFMT_GLOBALHEADER))) {
    encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (options) options->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  }
  if (headers & 2) {
    encoder->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    if (options) options->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
  }
}

void TCustomFFmpeg::SetVideoEncoding(AVStream* stream, AVCodecContext* encoder,
                                     TOutputStreamState& state) {
  const AVCodec* codec = encoder->codec;
  ApplyEncoderOptions(encoder, state, AV_OPT_FLAG_VIDEO_PARAM);
  AVRational rate = Video.VideoFrameRate.num != 0 ? Video.VideoFrameRate : FallbackFrameRate;
  if (codec && codec->supported_framerates)
    rate = ClosestSupportedFrameRate(rate, codec->supported_framerates);
  encoder->time_base = AVRational{rate.den, rate.num};
  encoder->framerate = rate;
  encoder->width = Video.FrameWidth + Video.PadRight + Video.PadLeft;
  encoder->height = Video.FrameHeight + Video.PadTop + Video.PadBottom;
  encoder->sample_aspect_ratio =
      SampleAspect(Video.FrameAspectRatio, encoder->width, encoder->height);
  stream->sample_aspect_ratio = encoder->sample_aspect_ratio;
  encoder->pix_fmt = static_cast<AVPixelFormat>(Video.FramePixFmt);
  if (codec && codec->pix_fmts && !Listed(codec->pix_fmts, encoder->pix_fmt, AV_PIX_FMT_NONE))
    encoder->pix_fmt = codec->pix_fmts[0];
  if (Video.IntraOnly) encoder->gop_size = 0;
  SetVideoQuality(encoder, state);
  SetRateControlOverrides(encoder);
  if (encoder->rc_initial_buffer_occupancy == 0)
    encoder->rc_initial_buffer_occupancy = encoder->rc_buffer_size * 3 / 4;
  // The encoders' motion-estimation threshold is gone from the installed
  // libraries; MeThreshold only asks the decoders for motion vectors.
  encoder->intra_dc_precision = Video.IntraDcPrecision - 8;
  if (Stats.DoPsnr) encoder->flags |= AV_CODEC_FLAG_PSNR;
  if (Stats.PassNumber == 1) encoder->flags |= AV_CODEC_FLAG_PASS1;
  if (Stats.PassNumber == 2) encoder->flags |= AV_CODEC_FLAG_PASS2;
}

void TCustomFFmpeg::SetVideoQuality(AVCodecContext* encoder, TOutputStreamState& state) {
  if (Video.VideoQScale != 0 || Video.SameQuality) {
    encoder->flags |= AV_CODEC_FLAG_QSCALE;
    state.Quality = FF_QP2LAMBDA * Video.VideoQScale;
    encoder->global_quality = static_cast<int>(state.Quality);
  }
  if (Video.IntraMatrix) encoder->intra_matrix = CopyMatrix(*Video.IntraMatrix);
  if (Video.InterMatrix) encoder->inter_matrix = CopyMatrix(*Video.InterMatrix);
}

void TCustomFFmpeg::SetRateControlOverrides(AVCodecContext* encoder) {
  if (!Video.VideoRcOverride) return;
  const std::vector<RcOverride> entries = ParseRateControlOverrides(*Video.VideoRcOverride);
  const size_t size = entries.size() * sizeof(RcOverride);
  encoder->rc_override = static_cast<RcOverride*>(AVUtilApi.av_mallocz(size));
  if (!encoder->rc_override) CouldNotAllocStream();
  std::memcpy(encoder->rc_override, entries.data(), size);
  encoder->rc_override_count = static_cast<int>(entries.size());
}

// ---- Audio -----------------------------------------------------------------

void TCustomFFmpeg::NewAudioStream(AVFormatContext* output) {
  try {
    AVStream* stream =
        BeginCodedStream(output, AVMEDIA_TYPE_AUDIO, Bsf.AudioBsfList, Audio.AudioStreamCopy,
                         Audio.AudioCodecName, Audio.AudioCodecTag);
    TOutputStreamState& state = OutputStreamState(stream);
    AVCodecContext* encoder = state.Encoder;
    if (output->oformat->flags & AVFMT_GLOBALHEADER) {
      encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
      if (AVCodecContext* options = Generic.CodecOptionContexts[AVMEDIA_TYPE_AUDIO])
        options->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (Audio.AudioStreamCopy) {
      state.StreamCopy = true;
      SetChannelCount(encoder, Audio.AudioChannels);
    } else {
      SetAudioEncoding(encoder, state);
    }
    encoder->sample_rate = Audio.AudioSampleRate;
    encoder->time_base = AVRational{1, Audio.AudioSampleRate};
    TakeLanguage(stream, Audio.AudioLanguage);
  } catch (...) {
    Audio.AudioCodecName.reset();
    Audio.AudioLanguage.clear();
    throw;
  }
  Audio.AudioDisable = 0;
  Audio.AudioCodecName.reset();
  Audio.AudioStreamCopy = 0;
}

void TCustomFFmpeg::SetAudioEncoding(AVCodecContext* encoder, TOutputStreamState& state) {
  const AVCodec* codec = encoder->codec;
  ApplyEncoderOptions(encoder, state, AV_OPT_FLAG_AUDIO_PARAM);
  if (Audio.AudioQScale > NoAudioQuality) {
    encoder->flags |= AV_CODEC_FLAG_QSCALE;
    state.Quality = FF_QP2LAMBDA * Audio.AudioQScale;
    encoder->global_quality = static_cast<int>(state.Quality);
  }
  SetChannelCount(encoder, Audio.AudioChannels);
  encoder->sample_fmt = static_cast<AVSampleFormat>(Audio.AudioSampleFmt);
  if (codec && codec->sample_fmts &&
      !Listed(codec->sample_fmts, encoder->sample_fmt, AV_SAMPLE_FMT_NONE))
    encoder->sample_fmt = codec->sample_fmts[0];
}

// ---- Subtitles -------------------------------------------------------------

void TCustomFFmpeg::NewSubtitleStream(AVFormatContext* output) {
  try {
    AVStream* stream = AddOutputStream(output, Bsf.SubtitleBsfList);
    if (!stream) CouldNotAllocStream();
    AVCodecID codecId = AV_CODEC_ID_NONE;
    const AVCodec* codec = nullptr;
    if (!Subtitle.SubtitleStreamCopy &&
        !FindCodec(Subtitle.SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, true, codecId, &codec))
      throw FFMpegException(LastError);
    AVCodecContext* encoder = NewEncoderContext(stream, AVMEDIA_TYPE_SUBTITLE, codec, codecId);
    TOutputStreamState& state = OutputStreamState(stream);
    if (Subtitle.SubtitleStreamCopy)
      state.StreamCopy = true;
    else
      ApplyEncoderOptions(encoder, state, AV_OPT_FLAG_SUBTITLE_PARAM);
    TakeLanguage(stream, Subtitle.SubtitleLanguage);
  } catch (...) {
    Subtitle.SubtitleCodecName.reset();
    Subtitle.SubtitleLanguage.clear();
    throw;
  }
  Subtitle.SubtitleDisable = 0;
  Subtitle.SubtitleCodecName.reset();
  Subtitle.SubtitleStreamCopy = 0;
}
