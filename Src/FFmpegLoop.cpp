// The main loop of a transcode: choosing the input, reading, timestamp
// correction, decoding, feeding the outputs, stream copy, the drain at the
// end, the trailers, closing the codecs and releasing the tables.
#include <cmath>
#include <cstring>

#include "FFMpegException.h"
#include "FFmpeg.h"
#include "LibraryLock.h"
#include "SampleLayout.h"
#include "binding/AVCodecHlpr.h"
#include "binding/AVFilterHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "binding/MyUtilHlpr.h"
#include "binding/SwResampleHlpr.h"
#include "binding/SwScaleHlpr.h"
#include "platform/Format.h"

namespace {
constexpr AVRational Microseconds{1, AV_TIME_BASE};
constexpr double NoTime = 1e100;
constexpr int64_t RateEmulationSlackUs = 50000;

bool Present(int64_t timestamp) {
  return timestamp != AV_NOPTS_VALUE;
}

// Duration of one video frame in microseconds, from what the decoder and
// the stream say about the rate.
int64_t VideoFrameDurationUs(const AVCodecContext* decoder, const AVStream* stream) {
  AVRational rate = decoder->framerate;
  if (rate.num <= 0 || rate.den <= 0) rate = stream->avg_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = stream->r_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) return 0;
  return static_cast<int64_t>(rate.den) * AV_TIME_BASE / rate.num;
}
}  // namespace

int TCustomFFmpeg::ChooseInputFile(double& smallestOutputTime) {
  const TTranscodeTables& tables = *Tables;
  double smallestInputTime = NoTime;
  smallestOutputTime = NoTime;
  int chosen = -1;
  for (const auto& output : tables.OutputStreamTable) {
    const InputStream& source = *tables.InputStreamTable[output->SourceIndex];
    const AVCodecContext* enc = output->Encoder;
    const double outputTime = enc->codec_type == AVMEDIA_TYPE_VIDEO && output->EncodingNeeded
                                  ? output->SyncOpts * av_q2d(enc->time_base)
                                  : output->MuxPosition * av_q2d(output->Stream->time_base);
    const double inputTime = static_cast<double>(source.Pts);
    if (!tables.FileTable[source.FileIndex].EofReached) {
      if (inputTime < smallestInputTime) {
        smallestInputTime = inputTime;
        if (Timing.InputSync) chosen = source.FileIndex;
      }
      if (outputTime < smallestOutputTime) {
        smallestOutputTime = outputTime;
        if (!Timing.InputSync) chosen = source.FileIndex;
      }
    }
    const int kind = enc->codec_type;
    if (kind >= 0 && kind < static_cast<int>(Timing.MaxFrames.size()) &&
        Timing.MaxFrames[kind] <= output->FrameNumber)
      return -1;
  }
  return chosen;
}

bool TCustomFFmpeg::AdjustPacketTimestamps(InputStream& input, AVPacket* packet) {
  const AVRational timeBase = input.Stream->time_base;
  int64_t& offset = Files.InputTsOffsets[input.FileIndex];
  const int64_t streamOffset = AVUtilApi.av_rescale_q(offset, Microseconds, timeBase);
  if (Present(packet->dts)) packet->dts += streamOffset;
  if (Present(packet->pts)) packet->pts += streamOffset;
  const double scale = input.StreamIndex < MaxStreams && input.FileIndex < MaxFiles
                           ? Timing.InputTsScales[input.FileIndex][input.StreamIndex]
                           : 0;
  if (scale != 0) {
    if (Present(packet->dts))
      packet->dts = static_cast<int64_t>(std::nearbyint(static_cast<double>(packet->dts) * scale));
    if (Present(packet->pts))
      packet->pts = static_cast<int64_t>(std::nearbyint(static_cast<double>(packet->pts) * scale));
  }
  if (Present(packet->dts) && Present(input.NextPts)) {
    const int64_t dtsUs = AVUtilApi.av_rescale_q(packet->dts, timeBase, Microseconds);
    const int64_t delta = dtsUs - input.NextPts;
    const bool jumped = std::fabs(static_cast<double>(delta)) > Timing.DtsDeltaThreshold * 1e6 ||
                        dtsUs + 1 < input.Pts;
    if (jumped && !Timing.CopyTimestamps) {
      offset -= delta;
      if (Diagnostics.Verbosity > 2)
        Log(1, Format("timestamp discontinuity %d, new offset= %d", {delta, offset}));
      const int64_t streamDelta = AVUtilApi.av_rescale_q(delta, Microseconds, timeBase);
      packet->dts -= streamDelta;
      if (Present(packet->pts)) packet->pts -= streamDelta;
    }
  }
  return true;
}

void TCustomFFmpeg::MainLoop() {
  TTranscodeTables& tables = *Tables;
  TTranscodeBuffers& buffers = tables.Buffers;
  buffers.ReadPacket = AVCodecApi.av_packet_alloc();
  buffers.OutPacket = AVCodecApi.av_packet_alloc();
  buffers.FilteredPacket = AVCodecApi.av_packet_alloc();
  if (!buffers.ReadPacket || !buffers.OutPacket || !buffers.FilteredPacket)
    FailTranscode("av_mallocz fail");
  AVPacket* packet = buffers.ReadPacket;
  int64_t lastReport = TimerStart;
  while (!StopFlag) {
    TThread::PausePoint();
    if (StopFlag) break;
    double smallestOutputTime = 0;
    const int file = ChooseInputFile(smallestOutputTime);
    if (file < 0) break;
    if (static_cast<double>(Timing.RecordingTimeUs) / 1000000 <= smallestOutputTime) break;
    if (Timing.FileSizeLimit != 0 && Files.OutputFiles[0]->pb &&
        AVFormatApi.avio_seek(Files.OutputFiles[0]->pb, 0, SEEK_CUR) > Timing.FileSizeLimit)
      break;
    if (AVFormatApi.av_read_frame(Files.InputFiles[file], packet) < 0) {
      tables.FileTable[file].EofReached = 1;
      if (Timing.Shortest) break;
      continue;
    }
    if (Diagnostics.PacketDump)
      AVFormatApi.av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, packet, Diagnostics.HexDump,
                                   Files.InputFiles[file]->streams[packet->stream_index]);
    const InputFile& inputFile = tables.FileTable[file];
    if (packet->stream_index < inputFile.StreamCount) {
      const int index = inputFile.FirstStream + packet->stream_index;
      InputStream& input = *tables.InputStreamTable[index];
      if (!input.Discard) {
        AdjustPacketTimestamps(input, packet);
        if (OutputPacket(input, index, packet) < 0) {
          const std::string message =
              Format("Error while decoding stream #%d.%d", {input.FileIndex, input.StreamIndex});
          AVCodecApi.av_packet_unref(packet);
          if (Diagnostics.ExitOnError) FailTranscode(message);
          if (Diagnostics.Verbosity >= 0) Log(1, message);
          continue;
        }
      }
    }
    AVCodecApi.av_packet_unref(packet);
    const int64_t now = AVUtilApi.av_gettime();
    if (now - lastReport > ReportInterval) {
      lastReport = now;
      PrintReport(false);
    }
  }
  for (size_t index = 0; index < tables.InputStreamTable.size(); ++index) {
    InputStream& input = *tables.InputStreamTable[index];
    if (input.DecodingNeeded) OutputPacket(input, static_cast<int>(index), nullptr);
  }
  WriteTrailers();
  PrintReport(true);
  CloseTranscodeCodecs();
  Finished = !StopFlag;
  FreeTranscodeTables();
}

int TCustomFFmpeg::DecodeAudio(InputStream& input, const AVPacket* /*packet*/, int& dataSize) {
  const AVFrame* frame = input.DecodedFrame;
  const AVCodecContext* dec = input.Decoder;
  const auto format = static_cast<AVSampleFormat>(frame->format);
  const int bytesPerSample = AVUtilApi.av_get_bytes_per_sample(format);
  const int channels = frame->ch_layout.nb_channels;
  dataSize = frame->nb_samples * channels * bytesPerSample;
  std::vector<uint8_t>& buffer = Tables->Buffers.DecodedAudio;
  if (buffer.size() < static_cast<size_t>(dataSize)) buffer.resize(dataSize);
  if (AVUtilApi.av_sample_fmt_is_planar(format) && channels > 1)
    InterleaveSamples(frame->extended_data, channels, frame->nb_samples, bytesPerSample,
                      buffer.data());
  else
    std::memcpy(buffer.data(), frame->extended_data[0], dataSize);
  if (dec->sample_rate > 0)
    input.NextPts += static_cast<int64_t>(frame->nb_samples) * AV_TIME_BASE / dec->sample_rate;
  return 0;
}

int TCustomFFmpeg::DecodeSubtitle(InputStream& input, const AVPacket* packet, AVSubtitle& subtitle,
                                  bool& gotSubtitle) {
  int got = 0;
  AVPacket* copy = const_cast<AVPacket*>(packet);
  const int result = AVCodecApi.avcodec_decode_subtitle2(input.Decoder, &subtitle, &got, copy);
  gotSubtitle = got != 0;
  return result < 0 ? -1 : 0;
}

// Scales the decoded samples by AudioVolume / 256, in the decoder's format.
void TCustomFFmpeg::ApplyAudioVolume(AVSampleFormat format, int dataSize) {
  uint8_t* data = Tables->Buffers.DecodedAudio.data();
  const int volume = Audio.AudioVolume;
  const auto scaleAll = [&](auto* samples, auto scale) {
    const int count = dataSize / static_cast<int>(sizeof(*samples));
    for (int index = 0; index < count; ++index) samples[index] = scale(samples[index]);
  };
  switch (AVUtilApi.av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8:
      scaleAll(data, [volume](uint8_t v) {
        return static_cast<uint8_t>(std::clamp((((v - 128) * volume + 128) >> 8) + 128, 0, 255));
      });
      break;
    case AV_SAMPLE_FMT_S16:
      scaleAll(reinterpret_cast<int16_t*>(data), [volume](int16_t v) {
        return static_cast<int16_t>(std::clamp((v * volume + 128) >> 8, -32768, 32767));
      });
      break;
    case AV_SAMPLE_FMT_S32:
      scaleAll(reinterpret_cast<int32_t*>(data), [volume](int32_t v) {
        return static_cast<int32_t>(
            std::clamp<int64_t>((int64_t{v} * volume + 128) >> 8, INT32_MIN, INT32_MAX));
      });
      break;
    case AV_SAMPLE_FMT_FLT:
      scaleAll(reinterpret_cast<float*>(data), [volume](float v) { return v * volume / 256.0f; });
      break;
    case AV_SAMPLE_FMT_DBL:
      scaleAll(reinterpret_cast<double*>(data), [volume](double v) { return v * volume / 256.0; });
      break;
    default:
      break;
  }
}

// Holds the stream back to the pace it plays at: the data's own time against
// the time since the set-up.
void TCustomFFmpeg::EmulateRate(InputStream& input) {
  const int64_t target = input.Pts;
  const int64_t now = AVUtilApi.av_gettime() - input.Start;
  if (target - now > RateEmulationSlackUs) Sleep(static_cast<unsigned>((target - now) / 1000));
  ++input.EmulatedFrames;
}

// One decoded block (or, for stream copy, one packet) of an input stream,
// handed to every output stream it feeds.
// With only, the picture that output's filter chain gave; without, the
// outputs that have no chain of their own.
void TCustomFFmpeg::FeedOutputs(InputStream& input, int inputIndex, const AVPacket* packet,
                                uint8_t* data, int dataSize, AVFrame* picture, AVSubtitle* subtitle,
                                OutputStream* only) {
  const AVMediaType kind = input.Decoder->codec_type;
  if (input.DecodingNeeded && kind == AVMEDIA_TYPE_AUDIO && Audio.AudioVolume != 256)
    ApplyAudioVolume(input.Decoder->sample_fmt, dataSize);
  if (input.RateEmulation) EmulateRate(input);
  if (Timing.SeekTimeUs != 0 && Timing.SeekTimeUs > input.Pts) return;
  for (auto& entry : Tables->OutputStreamTable) {
    OutputStream& output = *entry;
    if (output.SourceIndex != inputIndex) continue;
    if (only ? &output != only : output.OutVideoFilter != nullptr) continue;
    if (!output.EncodingNeeded) {
      // A decoded stream hands its packets to copied outputs before decoding.
      if (packet && !input.DecodingNeeded) CopyPacket(output, input, packet, dataSize);
      continue;
    }
    switch (output.Encoder->codec_type) {
      case AVMEDIA_TYPE_AUDIO:
        if (data) DoAudioOut(output, input, data, dataSize);
        break;
      case AVMEDIA_TYPE_VIDEO:
        if (picture) {
          int frameSize = 0;
          DoVideoOut(output, input, picture, frameSize);
          if (Stats.VstatsFileName && frameSize > 0) DoVideoStats(output, frameSize);
        }
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        if (subtitle)
          DoSubtitleOut(output, input, *subtitle, packet ? packet->pts : AV_NOPTS_VALUE);
        break;
      default:
        throw FFMpegException("invalid codec_type");
    }
  }
}

void TCustomFFmpeg::CopyToOutputs(InputStream& input, int inputIndex, const AVPacket* packet) {
  if (Timing.SeekTimeUs != 0 && Timing.SeekTimeUs > input.Pts) return;
  for (auto& output : Tables->OutputStreamTable)
    if (output->SourceIndex == inputIndex && !output->EncodingNeeded)
      CopyPacket(*output, input, packet, packet->size);
}

int TCustomFFmpeg::OutputPacket(InputStream& input, int inputIndex, const AVPacket* packet) {
  if (!Present(input.NextPts)) input.NextPts = input.Pts;
  if (packet && Present(packet->dts))
    input.Pts = input.NextPts =
        AVUtilApi.av_rescale_q(packet->dts, input.Stream->time_base, Microseconds);
  const AVMediaType kind = input.Decoder->codec_type;
  if (!input.DecodingNeeded) {
    if (!packet) return 0;
    input.Pts = input.NextPts;
    if (packet->duration > 0)
      input.NextPts +=
          AVUtilApi.av_rescale_q(packet->duration, input.Stream->time_base, Microseconds);
    else if (kind == AVMEDIA_TYPE_AUDIO && input.Decoder->sample_rate > 0)
      input.NextPts += static_cast<int64_t>(input.Stream->codecpar->frame_size) * AV_TIME_BASE /
                       input.Decoder->sample_rate;
    else if (kind == AVMEDIA_TYPE_VIDEO)
      input.NextPts += VideoFrameDurationUs(input.Decoder, input.Stream);
    FeedOutputs(input, inputIndex, packet, packet->data, packet->size, nullptr, nullptr);
    return 0;
  }
  if (kind == AVMEDIA_TYPE_SUBTITLE) {
    if (!packet) return 0;
    input.Pts = input.NextPts;
    CopyToOutputs(input, inputIndex, packet);
    AVSubtitle subtitle{};
    bool gotSubtitle = false;
    if (DecodeSubtitle(input, packet, subtitle, gotSubtitle) < 0) return -1;
    if (gotSubtitle) {
      try {
        FeedOutputs(input, inputIndex, packet, nullptr, 0, nullptr, &subtitle);
      } catch (...) {
        AVCodecApi.avsubtitle_free(&subtitle);
        throw;
      }
      AVCodecApi.avsubtitle_free(&subtitle);
    }
    return 0;
  }
  if (kind != AVMEDIA_TYPE_AUDIO && kind != AVMEDIA_TYPE_VIDEO) return -1;
  if (packet) CopyToOutputs(input, inputIndex, packet);
  const int sent = AVCodecApi.avcodec_send_packet(input.Decoder, packet);
  if (sent < 0 && sent != AVERROR_EOF && sent != AVERROR(EAGAIN)) return -1;
  int frames = 0;
  for (;;) {
    AVFrame* frame = input.DecodedFrame;
    const int received = AVCodecApi.avcodec_receive_frame(input.Decoder, frame);
    if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) break;
    if (received < 0) return -1;
    input.Pts = input.NextPts;
    if (packet && ++frames == 2 && Diagnostics.Verbosity > 0)
      Log(0, Format("Multiple frames in a packet from stream %d", {packet->stream_index}));
    if (kind == AVMEDIA_TYPE_AUDIO) {
      int dataSize = 0;
      DecodeAudio(input, packet, dataSize);
      FeedOutputs(input, inputIndex, packet, Tables->Buffers.DecodedAudio.data(), dataSize, nullptr,
                  nullptr);
    } else {
      // Pictures leave the decoder later than their packets arrive: the
      // picture's own time keeps the clock in step with it.
      if (Present(frame->best_effort_timestamp))
        input.Pts = AVUtilApi.av_rescale_q(frame->best_effort_timestamp, input.Stream->time_base,
                                           Microseconds);
      input.Quality = static_cast<float>(frame->quality);
      input.NextPts = input.Pts + VideoFrameDurationUs(input.Decoder, input.Stream);
      PreProcessVideoFrame(input, frame);
      FeedOutputs(input, inputIndex, packet, nullptr,
                  input.Decoder->width * input.Decoder->height * 3 / 2, frame, nullptr);
      if (FilterPicture(input, inputIndex, frame) < 0) return -1;
    }
    AVUtilApi.av_frame_unref(frame);
  }
  if (!packet) {
    // Pictures a filter still holds leave before the encoders are drained.
    if (kind == AVMEDIA_TYPE_VIDEO && FilterPicture(input, inputIndex, nullptr) < 0) return -1;
    DrainEncoders(inputIndex);
  }
  return 0;
}

void TCustomFFmpeg::CopyPacket(OutputStream& output, InputStream& input, const AVPacket* packet,
                               int dataSize) {
  if (output.FrameNumber == 0 && !(packet->flags & AV_PKT_FLAG_KEY)) return;
  const AVMediaType kind = input.Stream->codecpar->codec_type;
  if (kind == AVMEDIA_TYPE_AUDIO) Stats.AudioSize += dataSize;
  if (kind == AVMEDIA_TYPE_VIDEO) {
    Stats.VideoSize += dataSize;
    ++output.SyncOpts;
  }
  AVPacket* copy = Tables->Buffers.OutPacket;
  if (AVCodecApi.av_packet_ref(copy, packet) < 0) throw FFMpegException("av_malloc fail");
  const AVRational from = input.Stream->time_base;
  const AVRational to = output.Stream->time_base;
  copy->stream_index = output.StreamIndex;
  copy->pts = Present(packet->pts) ? AVUtilApi.av_rescale_q(packet->pts, from, to) : AV_NOPTS_VALUE;
  copy->dts = Present(packet->dts) ? AVUtilApi.av_rescale_q(packet->dts, from, to)
                                   : AVUtilApi.av_rescale_q(input.Pts, Microseconds, to);
  copy->duration = AVUtilApi.av_rescale_q(packet->duration, from, to);
  WriteFrame(output, copy);
  ++output.FrameNumber;
}

void TCustomFFmpeg::DrainEncoders(int inputIndex) {
  for (auto& entry : Tables->OutputStreamTable) {
    OutputStream& output = *entry;
    if (output.SourceIndex != inputIndex || !output.EncodingNeeded) continue;
    if (output.Encoder->codec_type == AVMEDIA_TYPE_AUDIO) DrainAudioEncoder(output);
    if (output.Encoder->codec_type == AVMEDIA_TYPE_VIDEO) DrainVideoEncoder(output);
  }
}

void TCustomFFmpeg::DrainVideoEncoder(OutputStream& output) {
  SendAndWritePackets(output, nullptr, &Stats.VideoSize);
}

void TCustomFFmpeg::WriteTrailers() {
  for (int file = 0; file < Files.OutputFileCount; ++file) {
    AVFormatContext* output = Files.OutputFiles[file];
    int result = AVFormatApi.av_write_trailer(output);
    if (result >= 0 && output->pb) {
      AVFormatApi.avio_flush(output->pb);
      result = output->pb->error;
    }
    if (result < 0) throw FFMpegException(WriteErrorText(result));
  }
}

void TCustomFFmpeg::CloseTranscodeCodecs() {
  for (auto& output : Tables->OutputStreamTable) {
    if (!output->EncodingNeeded) continue;
    AVCodecContext* enc = output->Encoder;
    AVUtilApi.av_freep(&enc->stats_in);
    std::lock_guard lock(LibraryLock());
    AVCodecApi.avcodec_close(enc);
    std::erase(OpenEncoders, enc);
  }
  for (auto& input : Tables->InputStreamTable) {
    if (!input->DecodingNeeded) continue;
    std::lock_guard lock(LibraryLock());
    AVCodecApi.avcodec_close(input->Decoder);
    std::erase(OpenDecoders, input->Decoder);
  }
}

void TCustomFFmpeg::FreeTranscodeTables() {
  if (!Tables) return;
  TTranscodeTables& tables = *Tables;
  tables.FileTable.clear();
  for (auto& input : tables.InputStreamTable) {
    AVUtilApi.av_frame_free(&input->DecodedFrame);
  }
  tables.InputStreamTable.clear();
  for (auto& output : tables.OutputStreamTable) {
    if (output->LogFile) MyUtilApi.my_fclose(output->LogFile);
    output->LogFile = nullptr;
    AVUtilApi.av_frame_free(&output->TempPicture);
    AVUtilApi.av_frame_free(&output->EncodeFrame);
    AVFilterApi.avfilter_graph_free(&output->FilterGraph);
    output->InVideoFilter = nullptr;
    output->OutVideoFilter = nullptr;
    AVUtilApi.av_frame_free(&output->PictureRef);
    SwScaleApi.sws_freeContext(output->ScaleContext);
    output->ScaleContext = nullptr;
    output->VideoResample = 0;
    SwResampleApi.swr_free(&output->Resampler);
    SwResampleApi.swr_free(&output->ReformatContext);
    for (AVBSFContext*& context : output->BsfContexts) AVCodecApi.av_bsf_free(&context);
    for (AVPacket*& filtered : output->BsfPackets) AVCodecApi.av_packet_free(&filtered);
  }
  tables.OutputStreamTable.clear();
  TTranscodeBuffers& buffers = tables.Buffers;
  AVCodecApi.av_packet_free(&buffers.ReadPacket);
  AVCodecApi.av_packet_free(&buffers.OutPacket);
  AVCodecApi.av_packet_free(&buffers.FilteredPacket);
  TDeinterlacer& deinterlacer = tables.Deinterlacer;
  AVFilterApi.avfilter_graph_free(&deinterlacer.Graph);
  AVUtilApi.av_frame_free(&deinterlacer.Input);
  AVUtilApi.av_frame_free(&deinterlacer.Output);
  Tables.reset();
}
