#include "MediaWriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>

#include "MediaSignals.h"
#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "platform/Format.h"

namespace {
constexpr AVRational CaptionTimeBase{1, 1000};
constexpr int64_t CaptionIntervalMs = 500;
constexpr int64_t CaptionLengthMs = 400;
// Sample count per frame for encoders that take any count.
constexpr int FreeAudioFrameSize = 1024;
constexpr int PictureGroupSize = 12;

std::string LibraryErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  if (AVUtilApi.av_strerror(code, text, sizeof text) < 0) return Format("error %d", {code});
  return text;
}

struct TCodecContextFree {
  void operator()(AVCodecContext* context) const { AVCodecApi.avcodec_free_context(&context); }
};
struct TFrameFree {
  void operator()(AVFrame* frame) const { AVUtilApi.av_frame_free(&frame); }
};
struct TPacketFree {
  void operator()(AVPacket* packet) const { AVCodecApi.av_packet_free(&packet); }
};
using TCodecContextPtr = std::unique_ptr<AVCodecContext, TCodecContextFree>;
using TFramePtr = std::unique_ptr<AVFrame, TFrameFree>;
using TPacketPtr = std::unique_ptr<AVPacket, TPacketFree>;

class TDictionary {
 public:
  TDictionary() = default;
  TDictionary(const TDictionary&) = delete;
  TDictionary& operator=(const TDictionary&) = delete;
  ~TDictionary() { AVUtilApi.av_dict_free(&dictionary_); }
  void Set(const char* key, const char* value) {
    AVUtilApi.av_dict_set(&dictionary_, key, value, 0);
  }
  AVDictionary** Address() { return &dictionary_; }

 private:
  AVDictionary* dictionary_ = nullptr;
};

// The muxer and the file it writes. A muxer stopped half-way still gets
// its trailer, so it frees what it holds, and its unfinished file goes.
class TOutputFile {
 public:
  TOutputFile() = default;
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;
  ~TOutputFile() {
    if (!context_) return;
    if (headerWritten_ && !trailerWritten_) AVFormatApi.av_write_trailer(context_);
    if (fileOpen_) AVFormatApi.avio_closep(&context_->pb);
    AVFormatApi.avformat_free_context(context_);
    std::error_code ignored;
    if (fileOpen_ && !complete_) std::filesystem::remove(fileName_, ignored);
  }

  bool Create(const char* muxer, const std::string& fileName, std::string& error) {
    fileName_ = fileName;
    const int result =
        AVFormatApi.avformat_alloc_output_context2(&context_, nullptr, muxer, fileName.c_str());
    if (result >= 0 && context_) return true;
    error = Format("cannot create the %s muxer: %s", {muxer, LibraryErrorText(result)});
    return false;
  }

  bool Open(std::string& error) {
    if (context_->oformat->flags & AVFMT_NOFILE) return true;
    const int result = AVFormatApi.avio_open(&context_->pb, fileName_.c_str(), AVIO_FLAG_WRITE);
    if (result < 0) return Fail(error, "cannot write %s: %s", result);
    fileOpen_ = true;
    return true;
  }

  bool WriteHeader(std::string& error) {
    const int result = AVFormatApi.avformat_write_header(context_, nullptr);
    if (result < 0) return Fail(error, "cannot start %s: %s", result);
    headerWritten_ = true;
    return true;
  }

  bool WritePacket(AVPacket& packet, std::string& error) {
    const int result = AVFormatApi.av_interleaved_write_frame(context_, &packet);
    return result >= 0 || Fail(error, "cannot write a packet to %s: %s", result);
  }

  bool WriteTrailer(std::string& error) {
    trailerWritten_ = true;
    const int result = AVFormatApi.av_write_trailer(context_);
    complete_ = result >= 0;
    return complete_ || Fail(error, "cannot finish %s: %s", result);
  }

  AVFormatContext* Context() const { return context_; }
  bool WantsGlobalHeader() const { return context_->oformat->flags & AVFMT_GLOBALHEADER; }

 private:
  bool Fail(std::string& error, const char* format, int code) const {
    error = Format(format, {fileName_, LibraryErrorText(code)});
    return false;
  }

  AVFormatContext* context_ = nullptr;
  std::string fileName_;
  bool fileOpen_ = false;
  bool headerWritten_ = false;
  bool trailerWritten_ = false;
  bool complete_ = false;
};

// One stream of the clip, producing its content in presentation order.
class TStreamSource {
 public:
  virtual ~TStreamSource() = default;
  virtual bool Setup(TOutputFile& output, const TStreamPlan& plan, const TMediaOptions& options,
                     std::string& error) = 0;
  bool Done() const { return next_ >= count_; }
  virtual double NextTimeSec() const = 0;
  // Writes the next picture, sample block or caption.
  virtual bool WriteNext(TOutputFile& output, std::string& error) = 0;
  // Writes what the stream still holds back once all content went in.
  virtual bool Finish(TOutputFile& /*output*/, std::string& /*error*/) { return true; }
  AVStream* Stream() const { return stream_; }

 protected:
  bool AddStream(TOutputFile& output, std::string& error) {
    stream_ = AVFormatApi.avformat_new_stream(output.Context(), nullptr);
    if (stream_) return true;
    error = "cannot add a stream";
    return false;
  }

  AVStream* stream_ = nullptr;
  int64_t next_ = 0;   // position of the next unit (picture, sample, caption)
  int64_t count_ = 0;  // units in the clip
};

class TEncodedSource : public TStreamSource {
 public:
  bool Finish(TOutputFile& output, std::string& error) override {
    return Encode(output, nullptr, error);
  }

 protected:
  bool CreateEncoder(TOutputFile& output, const TStreamPlan& plan, std::string& error) {
    codec_ = AVCodecApi.avcodec_find_encoder_by_name(plan.Encoder);
    if (!codec_) {
      error = Format("encoder %s is not available", {plan.Encoder});
      return false;
    }
    if (!AddStream(output, error)) return false;
    encoder_.reset(AVCodecApi.avcodec_alloc_context3(codec_));
    frame_.reset(AVUtilApi.av_frame_alloc());
    packet_.reset(AVCodecApi.av_packet_alloc());
    if (!encoder_ || !frame_ || !packet_) {
      error = Format("out of memory setting up the %s encoder", {plan.Encoder});
      return false;
    }
    if (plan.BitRate > 0) encoder_->bit_rate = plan.BitRate;
    if (output.WantsGlobalHeader()) encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    return true;
  }

  bool OpenEncoder(std::string& error) {
    TDictionary settings;
    // One thread keeps the output the same from run to run.
    settings.Set("threads", "1");
    if (std::strcmp(codec_->name, "libx264") == 0) settings.Set("preset", "ultrafast");
    int result = AVCodecApi.avcodec_open2(encoder_.get(), codec_, settings.Address());
    if (result < 0) return Fail(error, "cannot open the %s encoder: %s", result);
    result = AVCodecApi.avcodec_parameters_from_context(stream_->codecpar, encoder_.get());
    if (result < 0) return Fail(error, "cannot describe the %s stream: %s", result);
    stream_->time_base = encoder_->time_base;  // a hint; the muxer picks its own
    return true;
  }

  bool AllocateFrameBuffers(std::string& error) {
    const int result = AVUtilApi.av_frame_get_buffer(frame_.get(), 0);
    return result >= 0 || Fail(error, "cannot allocate a %s frame: %s", result);
  }

  bool MakeFrameWritable(std::string& error) {
    const int result = AVUtilApi.av_frame_make_writable(frame_.get());
    return result >= 0 || Fail(error, "cannot reuse a %s frame: %s", result);
  }

  // Sends one frame (nullptr drains the encoder) and writes every packet
  // that comes out.
  bool Encode(TOutputFile& output, const AVFrame* frame, std::string& error) {
    int result = AVCodecApi.avcodec_send_frame(encoder_.get(), frame);
    if (result < 0) return Fail(error, "the %s encoder refused a frame: %s", result);
    while (true) {
      result = AVCodecApi.avcodec_receive_packet(encoder_.get(), packet_.get());
      if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return true;
      if (result < 0) return Fail(error, "the %s encoder failed: %s", result);
      // A picture lasts one tick of its encoder's clock; without a duration
      // the muxer cannot place the end of the last one.
      if (encoder_->codec_type == AVMEDIA_TYPE_VIDEO && packet_->duration <= 0)
        packet_->duration = 1;
      AVCodecApi.av_packet_rescale_ts(packet_.get(), encoder_->time_base, stream_->time_base);
      packet_->stream_index = stream_->index;
      if (!output.WritePacket(*packet_, error)) return false;
    }
  }

  bool Fail(std::string& error, const char* format, int code) const {
    error = Format(format, {codec_->name, LibraryErrorText(code)});
    return false;
  }

  const AVCodec* codec_ = nullptr;
  TCodecContextPtr encoder_;
  TFramePtr frame_;
  TPacketPtr packet_;
  int64_t firstPts_ = 0;
};

int ScaledSize(int size, int divisor) {
  return divisor <= 1 ? size : std::max(2, size / divisor & ~1);
}

class TVideoSource : public TEncodedSource {
 public:
  bool Setup(TOutputFile& output, const TStreamPlan& plan, const TMediaOptions& options,
             std::string& error) override {
    if (!CreateEncoder(output, plan, error)) return false;
    AVCodecContext& encoder = *encoder_;
    encoder.width = ScaledSize(options.Width, plan.SizeDivisor);
    encoder.height = ScaledSize(options.Height, plan.SizeDivisor);
    encoder.pix_fmt = AV_PIX_FMT_YUV420P;
    encoder.time_base = AVRational{options.FrameRateDen, options.FrameRateNum};
    encoder.framerate = AVRational{options.FrameRateNum, options.FrameRateDen};
    encoder.gop_size = PictureGroupSize;
    encoder.sample_aspect_ratio = AVRational{options.SampleAspectNum, options.SampleAspectDen};
    stream_->sample_aspect_ratio = encoder.sample_aspect_ratio;
    if (!OpenEncoder(error)) return false;
    frame_->format = encoder.pix_fmt;
    frame_->width = encoder.width;
    frame_->height = encoder.height;
    if (!AllocateFrameBuffers(error)) return false;
    const double rate = static_cast<double>(options.FrameRateNum) / options.FrameRateDen;
    count_ = std::max<int64_t>(1, std::llround(options.DurationSec * rate));
    firstPts_ = std::llround(options.StartOffsetSec * rate);
    return true;
  }

  double NextTimeSec() const override {
    return static_cast<double>(next_) * encoder_->time_base.num / encoder_->time_base.den;
  }

  bool WriteNext(TOutputFile& output, std::string& error) override {
    if (!MakeFrameWritable(error)) return false;
    FillPicture(*frame_, next_);
    frame_->pts = firstPts_ + next_;
    ++next_;
    return Encode(output, frame_.get(), error);
  }
};

class TAudioSource : public TEncodedSource {
 public:
  bool Setup(TOutputFile& output, const TStreamPlan& plan, const TMediaOptions& options,
             std::string& error) override {
    if (!CreateEncoder(output, plan, error)) return false;
    AVCodecContext& encoder = *encoder_;
    encoder.sample_fmt = codec_->sample_fmts ? codec_->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    encoder.sample_rate = options.SampleRate;
    AVUtilApi.av_channel_layout_default(&encoder.ch_layout, options.Channels);
    encoder.time_base = AVRational{1, options.SampleRate};
    if (!OpenEncoder(error)) return false;
    const bool anyFrameSize =
        encoder.frame_size <= 0 || (codec_->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
    frameSize_ = anyFrameSize ? FreeAudioFrameSize : encoder.frame_size;
    shortLastFrame_ = anyFrameSize || (codec_->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME);
    frame_->format = encoder.sample_fmt;
    frame_->sample_rate = encoder.sample_rate;
    frame_->nb_samples = frameSize_;
    const int result = AVUtilApi.av_channel_layout_copy(&frame_->ch_layout, &encoder.ch_layout);
    if (result < 0) return Fail(error, "cannot set the %s channel layout: %s", result);
    if (!AllocateFrameBuffers(error)) return false;
    count_ = std::max<int64_t>(1, std::llround(options.DurationSec * options.SampleRate));
    firstPts_ = std::llround(options.StartOffsetSec * options.SampleRate);
    return true;
  }

  double NextTimeSec() const override { return static_cast<double>(next_) / encoder_->sample_rate; }

  // Encoders that need whole frames get the tone continued to the frame's end.
  bool WriteNext(TOutputFile& output, std::string& error) override {
    if (!MakeFrameWritable(error)) return false;
    frame_->nb_samples = shortLastFrame_
                             ? static_cast<int>(std::min<int64_t>(frameSize_, count_ - next_))
                             : frameSize_;
    if (!FillTone(*frame_, next_, error)) return false;
    frame_->pts = firstPts_ + next_;
    next_ += frame_->nb_samples;
    return Encode(output, frame_.get(), error);
  }

 private:
  int frameSize_ = FreeAudioFrameSize;
  bool shortLastFrame_ = true;
};

// SubRip captions "Caption 1", "Caption 2", ... twice a second, written as
// text packets without an encoder.
class TCaptionSource : public TStreamSource {
 public:
  bool Setup(TOutputFile& output, const TStreamPlan& /*plan*/, const TMediaOptions& options,
             std::string& error) override {
    if (!AddStream(output, error)) return false;
    stream_->codecpar->codec_type = AVMEDIA_TYPE_SUBTITLE;
    stream_->codecpar->codec_id = AV_CODEC_ID_SUBRIP;
    stream_->time_base = CaptionTimeBase;
    packet_.reset(AVCodecApi.av_packet_alloc());
    if (!packet_) {
      error = "out of memory setting up the captions";
      return false;
    }
    const double durationMs = options.DurationSec * 1000;
    count_ = std::max<int64_t>(1, static_cast<int64_t>(std::ceil(durationMs / CaptionIntervalMs)));
    firstMs_ = std::llround(options.StartOffsetSec * 1000);
    return true;
  }

  double NextTimeSec() const override {
    return static_cast<double>(next_ * CaptionIntervalMs) / 1000;
  }

  bool WriteNext(TOutputFile& output, std::string& error) override {
    const std::string text = Format("Caption %d", {next_ + 1});
    if (AVCodecApi.av_new_packet(packet_.get(), static_cast<int>(text.size())) < 0) {
      error = "out of memory writing a caption";
      return false;
    }
    std::memcpy(packet_->data, text.data(), text.size());
    packet_->pts = packet_->dts = firstMs_ + next_ * CaptionIntervalMs;
    packet_->duration = CaptionLengthMs;
    packet_->flags |= AV_PKT_FLAG_KEY;
    packet_->stream_index = stream_->index;
    AVCodecApi.av_packet_rescale_ts(packet_.get(), CaptionTimeBase, stream_->time_base);
    ++next_;
    return output.WritePacket(*packet_, error);
  }

 private:
  TPacketPtr packet_;
  int64_t firstMs_ = 0;
};

// Bitmap captions at the times of the text captions: a small box whose
// colour index changes with the caption number, encoded by a subtitle
// encoder such as dvdsub or dvbsub.
class TBitmapCaptionSource : public TEncodedSource {
 public:
  static constexpr int BoxWidth = 32;
  static constexpr int BoxHeight = 16;
  static constexpr int BufferSize = 65536;

  bool Setup(TOutputFile& output, const TStreamPlan& plan, const TMediaOptions& options,
             std::string& error) override {
    if (!CreateEncoder(output, plan, error)) return false;
    encoder_->time_base = CaptionTimeBase;
    encoder_->width = options.Width;
    encoder_->height = options.Height;
    if (!OpenEncoder(error)) return false;
    stream_->time_base = CaptionTimeBase;
    buffer_.resize(BufferSize);
    const double durationMs = options.DurationSec * 1000;
    count_ = std::max<int64_t>(1, static_cast<int64_t>(std::ceil(durationMs / CaptionIntervalMs)));
    firstMs_ = std::llround(options.StartOffsetSec * 1000);
    return true;
  }

  double NextTimeSec() const override {
    return static_cast<double>(next_ * CaptionIntervalMs) / 1000;
  }

  bool WriteNext(TOutputFile& output, std::string& error) override {
    std::vector<uint8_t> pixels(BoxWidth * BoxHeight, static_cast<uint8_t>(1 + next_ % 3));
    uint32_t palette[4] = {0x00000000, 0xffffffff, 0xffff0000, 0xff0000ff};
    AVSubtitleRect rect{};
    rect.x = 8;
    rect.y = 8;
    rect.w = BoxWidth;
    rect.h = BoxHeight;
    rect.nb_colors = 4;
    rect.type = SUBTITLE_BITMAP;
    rect.data[0] = pixels.data();
    rect.linesize[0] = BoxWidth;
    rect.data[1] = reinterpret_cast<uint8_t*>(palette);
    rect.linesize[1] = sizeof palette;
    AVSubtitleRect* rects[1] = {&rect};
    AVSubtitle subtitle{};
    const int64_t startMs = firstMs_ + next_ * CaptionIntervalMs;
    subtitle.pts = startMs * 1000;
    subtitle.end_display_time = CaptionLengthMs;
    subtitle.num_rects = 1;
    subtitle.rects = rects;
    const int size =
        AVCodecApi.avcodec_encode_subtitle(encoder_.get(), buffer_.data(), BufferSize, &subtitle);
    if (size < 0) return Fail(error, "the %s encoder refused a caption: %s", size);
    if (AVCodecApi.av_new_packet(packet_.get(), size) < 0) {
      error = "out of memory writing a caption";
      return false;
    }
    std::memcpy(packet_->data, buffer_.data(), size);
    packet_->pts = packet_->dts = startMs;
    packet_->duration = CaptionLengthMs;
    packet_->flags |= AV_PKT_FLAG_KEY;
    packet_->stream_index = stream_->index;
    AVCodecApi.av_packet_rescale_ts(packet_.get(), CaptionTimeBase, stream_->time_base);
    ++next_;
    return output.WritePacket(*packet_, error);
  }

  bool Finish(TOutputFile& /*output*/, std::string& /*error*/) override { return true; }

 private:
  std::vector<uint8_t> buffer_;
  int64_t firstMs_ = 0;
};

std::unique_ptr<TStreamSource> MakeSource(const TStreamPlan& plan) {
  switch (plan.Type) {
    case AVMEDIA_TYPE_VIDEO:
      return std::make_unique<TVideoSource>();
    case AVMEDIA_TYPE_AUDIO:
      return std::make_unique<TAudioSource>();
    case AVMEDIA_TYPE_SUBTITLE:
      if (plan.Encoder) return std::make_unique<TBitmapCaptionSource>();
      return std::make_unique<TCaptionSource>();
    default:
      return nullptr;
  }
}

using TSources = std::vector<std::unique_ptr<TStreamSource>>;

bool SetUpSources(TOutputFile& output, const TContainerPlan& plan, const TMediaOptions& options,
                  TSources& sources, std::string& error) {
  for (const TStreamPlan& streamPlan : plan.Streams) {
    std::unique_ptr<TStreamSource> source = MakeSource(streamPlan);
    if (!source) {
      error =
          Format("cannot generate a stream of media type %d", {static_cast<int>(streamPlan.Type)});
      return false;
    }
    if (!source->Setup(output, streamPlan, options, error)) return false;
    sources.push_back(std::move(source));
  }
  return true;
}

void TagLanguages(const TSources& sources, const std::vector<std::string>& languages) {
  for (size_t i = 0; i < sources.size() && i < languages.size(); ++i)
    if (!languages[i].empty())
      AVUtilApi.av_dict_set(&sources[i]->Stream()->metadata, "language", languages[i].c_str(), 0);
}

bool AddPrograms(AVFormatContext* context, const TContainerPlan& plan, std::string& error) {
  for (size_t i = 0; i < plan.Streams.size(); ++i) {
    const int program = plan.Streams[i].Program;
    if (program == 0) continue;
    if (!AVFormatApi.av_new_program(context, program)) {
      error = Format("cannot add program %d", {program});
      return false;
    }
    AVFormatApi.av_program_add_stream_index(context, program, static_cast<unsigned>(i));
  }
  return true;
}

// Feeds the streams in presentation order, so the muxer never has to hold
// much back, then drains every encoder.
bool WriteContent(TOutputFile& output, const TSources& sources, std::string& error) {
  while (true) {
    TStreamSource* earliest = nullptr;
    for (const auto& source : sources)
      if (!source->Done() && (!earliest || source->NextTimeSec() < earliest->NextTimeSec()))
        earliest = source.get();
    if (!earliest) break;
    if (!earliest->WriteNext(output, error)) return false;
  }
  for (const auto& source : sources)
    if (!source->Finish(output, error)) return false;
  return true;
}
}  // namespace

bool WriteMedia(const TContainerPlan& plan, const std::string& fileName,
                const TMediaOptions& options, std::string& error) {
  TMediaOptions effective = options;
  if (plan.KeepAspectUnset) {
    effective.SampleAspectNum = 0;
    effective.SampleAspectDen = 1;
  }
  TOutputFile output;  // declared first, so it outlives the encoders
  TSources sources;
  if (!output.Create(plan.Muxer, fileName, error) ||
      !SetUpSources(output, plan, effective, sources, error) ||
      !AddPrograms(output.Context(), plan, error))
    return false;
  TagLanguages(sources, effective.Languages);
  return output.Open(error) && output.WriteHeader(error) && WriteContent(output, sources, error) &&
         output.WriteTrailer(error);
}
