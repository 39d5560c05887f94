// The audio path of an output stream: synchronisation with the input clock,
// resampling and channel change, sample-format conversion, and the FIFO cut
// into encoder frames. Blocks arrive as interleaved samples in the packed
// form of the decoder's sample format.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "FFMpegException.h"
#include "FFmpeg.h"
#include "SampleLayout.h"
#include "binding/AVCodecHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "binding/SwResampleHlpr.h"
#include "platform/Format.h"

namespace {
constexpr int LargestSyncedBlock = 131072;  // bytes of silence and block together
constexpr double SyncToleranceSamples = 50;

AVSampleFormat PackedFormat(int format) {
  return AVUtilApi.av_get_packed_sample_fmt(static_cast<AVSampleFormat>(format));
}

int BytesPerSample(int format) {
  return AVUtilApi.av_get_bytes_per_sample(static_cast<AVSampleFormat>(format));
}

// A layout the resampler accepts: the stream's own when it names its
// channels, otherwise the usual one for that many channels.
AVChannelLayout UsableLayout(const AVChannelLayout& layout) {
  AVChannelLayout result{};
  if (layout.order == AV_CHANNEL_ORDER_NATIVE || layout.order == AV_CHANNEL_ORDER_CUSTOM)
    AVUtilApi.av_channel_layout_copy(&result, &layout);
  else
    AVUtilApi.av_channel_layout_default(&result, std::max(1, layout.nb_channels));
  return result;
}

void FillSilence(uint8_t* target, int bytes, AVSampleFormat format) {
  std::memset(target, format == AV_SAMPLE_FMT_U8 ? 0x80 : 0, bytes);
}

}  // namespace

void TCustomFFmpeg::PrepareResampler(OutputStream& output, InputStream& input) {
  const AVCodecContext* enc = output.Encoder;
  const AVCodecContext* dec = input.Decoder;
  const AVSampleFormat format = PackedFormat(dec->sample_fmt);
  if (!output.AudioResample) return;
  // A decoder that changes its layout, rate or format mid-stream gets a
  // resampler made for what it delivers now.
  if (output.Resampler && output.ResamplerInChannels == dec->ch_layout.nb_channels &&
      output.ResamplerInRate == dec->sample_rate && output.ResamplerInFormat == format)
    return;
  SwResampleApi.swr_free(&output.Resampler);
  output.ResamplerInChannels = dec->ch_layout.nb_channels;
  output.ResamplerInRate = dec->sample_rate;
  output.ResamplerInFormat = format;
  AVChannelLayout encLayout = UsableLayout(enc->ch_layout);
  AVChannelLayout decLayout = UsableLayout(dec->ch_layout);
  int result =
      SwResampleApi.swr_alloc_set_opts2(&output.Resampler, &encLayout, format, enc->sample_rate,
                                        &decLayout, format, dec->sample_rate, 0, nullptr);
  if (result >= 0) result = SwResampleApi.swr_init(output.Resampler);
  AVUtilApi.av_channel_layout_uninit(&encLayout);
  AVUtilApi.av_channel_layout_uninit(&decLayout);
  if (result < 0) {
    SwResampleApi.swr_free(&output.Resampler);
    throw FFMpegException(Format("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                                 {dec->ch_layout.nb_channels, dec->sample_rate,
                                  enc->ch_layout.nb_channels, enc->sample_rate}));
  }
}

// The converter works on one channel of samples at a time, so a block of
// any channel count goes through it as one long run of samples.
void TCustomFFmpeg::PrepareReformat(OutputStream& output, InputStream& input) {
  const AVSampleFormat decFormat = PackedFormat(input.Decoder->sample_fmt);
  const AVSampleFormat encFormat = PackedFormat(output.Encoder->sample_fmt);
  const int pair = encFormat + AV_SAMPLE_FMT_NB * decFormat;
  if (decFormat == encFormat || pair == output.ReformatPair) return;
  SwResampleApi.swr_free(&output.ReformatContext);
  AVChannelLayout mono{};
  AVUtilApi.av_channel_layout_default(&mono, 1);
  const int rate = std::max(1, output.Encoder->sample_rate);
  int result = SwResampleApi.swr_alloc_set_opts2(&output.ReformatContext, &mono, encFormat, rate,
                                                 &mono, decFormat, rate, 0, nullptr);
  if (result >= 0) result = SwResampleApi.swr_init(output.ReformatContext);
  if (result < 0) {
    SwResampleApi.swr_free(&output.ReformatContext);
    throw FFMpegException(Format("Cannot convert %s sample format to %s sample format",
                                 {AVUtilApi.av_get_sample_fmt_name(decFormat),
                                  AVUtilApi.av_get_sample_fmt_name(encFormat)}));
  }
  output.ReformatPair = pair;
}

// Drops the block's first samples, puts silence before it, or asks the
// resampler to stretch, as the distance to the input clock requires.
// False when nothing of the block is left.
bool TCustomFFmpeg::SynchroniseAudio(OutputStream& output, InputStream& input, uint8_t*& data,
                                     int& size) {
  const AVCodecContext* enc = output.Encoder;
  const AVCodecContext* dec = input.Decoder;
  const int encChannels = enc->ch_layout.nb_channels;
  const int decChannels = dec->ch_layout.nb_channels;
  const int osize = BytesPerSample(enc->sample_fmt);
  const int isize = BytesPerSample(dec->sample_fmt);
  const double syncIpts = static_cast<double>(output.SyncInput->Pts - Timing.SeekTimeUs) / 1e6;
  const int64_t fifoBytes = static_cast<int64_t>(output.Fifo.size() - output.FifoStart);
  const int encFrameBytes = osize * encChannels;
  if (Audio.AudioSyncMethod == 0) {
    output.SyncOpts =
        std::llrint(syncIpts * enc->sample_rate) - fifoBytes / std::max(1, encFrameBytes);
    return true;
  }
  const double queued = static_cast<double>(fifoBytes) / std::max(1, encFrameBytes);
  const double delta = syncIpts * enc->sample_rate - static_cast<double>(output.SyncOpts) - queued;
  const double idelta = delta * dec->sample_rate / enc->sample_rate;
  const int decFrameBytes = isize * decChannels;
  int byteDelta = static_cast<int>(std::trunc(idelta)) * decFrameBytes;
  if (std::fabs(delta) <= SyncToleranceSamples) return true;
  if (input.IsStart || std::fabs(delta) > enc->sample_rate * Audio.AudioDriftThreshold) {
    if (byteDelta < 0) {
      byteDelta = std::max(byteDelta, -size);
      size += byteDelta;
      data -= byteDelta;
      if (Diagnostics.Verbosity > 2)
        Log(1, Format("discarding %d audio samples", {static_cast<int>(std::trunc(-delta))}));
      if (size == 0) return false;
      input.IsStart = 0;
      return true;
    }
    if (byteDelta + size <= LargestSyncedBlock) {
      input.IsStart = 0;
    } else {
      byteDelta = std::max(0, LargestSyncedBlock - size);
      byteDelta -= byteDelta % std::max(1, decFrameBytes);  // whole sample frames only
    }
    std::vector<uint8_t>& silence = Tables->Buffers.Silence;
    if (silence.size() < static_cast<size_t>(byteDelta + size)) silence.resize(byteDelta + size);
    FillSilence(silence.data(), byteDelta, PackedFormat(dec->sample_fmt));
    std::memmove(silence.data() + byteDelta, data, size);
    data = silence.data();
    size += byteDelta;
    if (Diagnostics.Verbosity > 2)
      Log(1, Format("adding %d audio samples of silence", {static_cast<int>(std::trunc(delta))}));
    return true;
  }
  if (Audio.AudioSyncMethod > 1 && output.Resampler) {
    const int compensation = std::clamp(static_cast<int>(std::trunc(delta)), -Audio.AudioSyncMethod,
                                        Audio.AudioSyncMethod);
    if (Diagnostics.Verbosity > 2)
      Log(1, Format("compensating audio timestamp drift:%f compensation:%d in:%d",
                    {delta, compensation, enc->sample_rate}));
    SwResampleApi.swr_set_compensation(output.Resampler, compensation, enc->sample_rate);
  }
  return true;
}

void TCustomFFmpeg::EncodeAudioBlock(OutputStream& output, const uint8_t* data, int sampleCount) {
  AVCodecContext* enc = output.Encoder;
  AVFrame* frame = output.EncodeFrame;
  const int channels = enc->ch_layout.nb_channels;
  const int bytesPerSample = BytesPerSample(enc->sample_fmt);
  if (!frame->buf[0] || frame->nb_samples < sampleCount || frame->format != enc->sample_fmt) {
    AVUtilApi.av_frame_unref(frame);
    frame->format = enc->sample_fmt;
    frame->nb_samples = sampleCount;
    frame->sample_rate = enc->sample_rate;
    AVUtilApi.av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout);
    if (AVUtilApi.av_frame_get_buffer(frame, 0) < 0) throw FFMpegException("av_malloc failed");
  }
  frame->nb_samples = sampleCount;
  if (AVUtilApi.av_frame_make_writable(frame) < 0) throw FFMpegException("av_malloc failed");
  if (AVUtilApi.av_sample_fmt_is_planar(enc->sample_fmt) && channels > 1)
    DeinterleaveSamples(data, channels, sampleCount, bytesPerSample, frame->extended_data);
  else
    std::memcpy(frame->extended_data[0], data,
                static_cast<size_t>(sampleCount) * channels * bytesPerSample);
  // Encoders and muxers need rising timestamps, whatever the input clock did.
  const int64_t start = std::max(output.SyncOpts, output.NextAudioPts);
  output.NextAudioPts = start + sampleCount;
  frame->pts = AVUtilApi.av_rescale_q(start, AVRational{1, enc->sample_rate}, enc->time_base);
  const int result = SendAndWritePackets(output, frame, &Stats.AudioSize);
  if (result < 0) throw FFMpegException("Audio encoding failed");
}

void TCustomFFmpeg::EncodeAudioFrames(OutputStream& output, const uint8_t* data, int size) {
  AVCodecContext* enc = output.Encoder;
  const int frameBytes =
      enc->frame_size * BytesPerSample(enc->sample_fmt) * enc->ch_layout.nb_channels;
  std::vector<uint8_t>& fifo = output.Fifo;
  if (output.FifoStart > 0 && output.FifoStart * 2 >= fifo.size()) {
    fifo.erase(fifo.begin(), fifo.begin() + static_cast<std::ptrdiff_t>(output.FifoStart));
    output.FifoStart = 0;
  }
  fifo.insert(fifo.end(), data, data + size);
  while (fifo.size() - output.FifoStart >= static_cast<size_t>(frameBytes)) {
    EncodeAudioBlock(output, fifo.data() + output.FifoStart, enc->frame_size);
    output.FifoStart += frameBytes;
    output.SyncOpts += enc->frame_size;
  }
}

void TCustomFFmpeg::DoAudioOut(OutputStream& output, InputStream& input, uint8_t* data, int size) {
  AVCodecContext* enc = output.Encoder;
  const AVCodecContext* dec = input.Decoder;
  TTranscodeBuffers& buffers = Tables->Buffers;
  const int encChannels = enc->ch_layout.nb_channels;
  const int decChannels = dec->ch_layout.nb_channels;
  const int osize = BytesPerSample(enc->sample_fmt);
  const int isize = BytesPerSample(dec->sample_fmt);
  if (encChannels <= 0 || decChannels <= 0 || osize <= 0 || isize <= 0) return;
  if (decChannels != encChannels) output.AudioResample = 1;
  PrepareResampler(output, input);
  PrepareReformat(output, input);
  if (!SynchroniseAudio(output, input, data, size)) return;

  const uint8_t* block = data;
  int outSize = size;
  if (output.AudioResample) {
    const int inFrames = size / (decChannels * isize);
    const int64_t delay = SwResampleApi.swr_get_delay(output.Resampler, dec->sample_rate);
    const int capacity =
        static_cast<int>(AVUtilApi.av_rescale_q(delay + inFrames, AVRational{1, dec->sample_rate},
                                                AVRational{1, enc->sample_rate}) +
                         32);
    const size_t needed = static_cast<size_t>(capacity) * encChannels * isize;
    if (buffers.AudioFrame.size() < needed) buffers.AudioFrame.resize(needed);
    uint8_t* out = buffers.AudioFrame.data();
    const uint8_t* in = data;
    const int produced = SwResampleApi.swr_convert(output.Resampler, &out, capacity, &in, inFrames);
    if (produced < 0) return;
    block = out;
    outSize = produced * encChannels * isize;
  }
  if (PackedFormat(dec->sample_fmt) != PackedFormat(enc->sample_fmt)) {
    const int samples = outSize / isize;
    const size_t needed = static_cast<size_t>(samples) * osize;
    if (buffers.AudioConvert.size() < needed) buffers.AudioConvert.resize(needed);
    uint8_t* out = buffers.AudioConvert.data();
    const uint8_t* in = block;
    if (SwResampleApi.swr_convert(output.ReformatContext, &out, samples, &in, samples) < 0) {
      if (Diagnostics.ExitOnError) throw FFMpegException("av_audio_convert() failed");
      Log(0, "av_audio_convert() failed");
      return;
    }
    block = out;
    outSize = samples * osize;
  }
  const bool fixedFrames =
      enc->frame_size > 1 && !(enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
  if (fixedFrames) {
    EncodeAudioFrames(output, block, outSize);
    return;
  }
  const int samples = outSize / (osize * encChannels);
  if (samples <= 0) return;
  EncodeAudioBlock(output, block, samples);
  output.SyncOpts += samples;
}

void TCustomFFmpeg::DrainAudioEncoder(OutputStream& output) {
  AVCodecContext* enc = output.Encoder;
  const bool fixedFrames =
      enc->frame_size > 1 && !(enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
  if (!fixedFrames) return;
  const int frameBytes = BytesPerSample(enc->sample_fmt) * enc->ch_layout.nb_channels;
  const int remaining = static_cast<int>(output.Fifo.size() - output.FifoStart) / frameBytes;
  if (remaining > 0 && (enc->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME)) {
    EncodeAudioBlock(output, output.Fifo.data() + output.FifoStart, remaining);
    output.SyncOpts += remaining;
  } else if (remaining > 0) {
    // An encoder that takes whole frames only gets the rest padded with
    // silence rather than losing it.
    const size_t frameSize = static_cast<size_t>(enc->frame_size) * frameBytes;
    output.Fifo.resize(output.FifoStart + frameSize, 0);
    FillSilence(output.Fifo.data() + output.FifoStart + remaining * frameBytes,
                static_cast<int>(frameSize) - remaining * frameBytes,
                PackedFormat(enc->sample_fmt));
    EncodeAudioBlock(output, output.Fifo.data() + output.FifoStart, enc->frame_size);
    output.SyncOpts += enc->frame_size;
  }
  output.Fifo.clear();
  output.FifoStart = 0;
  SendAndWritePackets(output, nullptr, &Stats.AudioSize);
}
