// Packets towards the muxers: encoder output, the bitstream-filter chain of
// each output stream, the interleaving writer, and subtitles.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "FFMpegException.h"
#include "FFmpeg.h"
#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "binding/MyUtilHlpr.h"
#include "binding/OpenErrorText.h"
#include "platform/Format.h"

extern "C" {
#include <libavutil/intreadwrite.h>
}

namespace {
constexpr int SubtitleBufferSize = 65536;
constexpr int DvbSubtitleTicksPerMs = 90;
}  // namespace

std::string WriteErrorText(int code) {
  return FormatOpenError("av_interleaved_write_frame()", code);
}

// Quality, picture type and plane errors travel as side data of the packet.
void TCustomFFmpeg::NoteCodedPicture(OutputStream& output, const AVPacket* packet) {
  TCodedPicture& coded = output.Coded;
  coded.KeyFrame = packet->flags & AV_PKT_FLAG_KEY;
  size_t size = 0;
  const uint8_t* stats =
      AVCodecApi.av_packet_get_side_data(packet, AV_PKT_DATA_QUALITY_STATS, &size);
  if (!stats || size < 8) return;
  coded.Quality = static_cast<int>(AV_RL32(stats));
  coded.PictureType = stats[4];
  const int errors = std::min<int>(stats[5], static_cast<int>(coded.Error.size()));
  for (int plane = 0; plane < errors && 8 + 8 * (plane + 1) <= static_cast<int>(size); ++plane) {
    coded.Error[plane] = AV_RL64(stats + 8 + 8 * plane);
    output.ErrorSum[plane] += coded.Error[plane];
  }
}

void TCustomFFmpeg::WritePassStatistics(OutputStream& output) {
  if (output.LogFile && output.Encoder->stats_out)
    MyUtilApi.my_fprintf(output.LogFile, "%s", output.Encoder->stats_out);
}

// Hands a frame (none: the end) to the encoder and writes every packet it
// gives back. Returns the size of the last packet, 0 when none came.
int TCustomFFmpeg::SendAndWritePackets(OutputStream& output, const AVFrame* frame,
                                       int64_t* statistic) {
  AVCodecContext* enc = output.Encoder;
  const int sent = AVCodecApi.avcodec_send_frame(enc, frame);
  if (sent < 0 && sent != AVERROR_EOF) return sent;
  AVPacket* packet = Tables->Buffers.OutPacket;
  int lastSize = 0;
  for (;;) {
    const int received = AVCodecApi.avcodec_receive_packet(enc, packet);
    if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) break;
    if (received < 0) return received;
    NoteCodedPicture(output, packet);
    // Each picture lasts one tick of the encoder's clock; muxers that keep
    // durations would otherwise cut the last one off.
    if (enc->codec_type == AVMEDIA_TYPE_VIDEO && packet->duration <= 0) packet->duration = 1;
    lastSize = packet->size;
    *statistic += packet->size;
    AVCodecApi.av_packet_rescale_ts(packet, enc->time_base, output.Stream->time_base);
    packet->stream_index = output.StreamIndex;
    if (enc->codec_type == AVMEDIA_TYPE_VIDEO) WritePassStatistics(output);
    WriteFrame(output, packet);
  }
  return lastSize;
}

std::string TCustomFFmpeg::BsfFailureText(const AVBitStreamFilter* filter,
                                          const OutputStream& output, int code) const {
  return FormatOpenError(Format("%s failed for stream %d, codec %s",
                                {filter->name, output.StreamIndex,
                                 output.Encoder->codec ? output.Encoder->codec->name : "copy"}),
                         code);
}

void TCustomFFmpeg::WriteFrame(OutputStream& output, AVPacket* packet) {
  FilterAndWrite(output, packet, 0);
}

// Runs the packet through the chain from the given filter on; every packet
// the last filter gives goes to the muxer. Each filter has one packet of its
// own that is reused, so a chain allocates nothing per packet.
void TCustomFFmpeg::FilterAndWrite(OutputStream& output, AVPacket* packet, size_t stage) {
  if (stage == output.BsfContexts.size()) {
    WriteFiltered(output, packet);
    return;
  }
  AVBSFContext* context = output.BsfContexts[stage];
  const int sent = AVCodecApi.av_bsf_send_packet(context, packet);
  if (sent < 0) {
    const std::string text = BsfFailureText(context->filter, output, sent);
    if (Diagnostics.ExitOnError) throw FFMpegException(text);
    Log(0, text);
    FilterAndWrite(output, packet, stage + 1);  // on as the filter left it
    return;
  }
  AVPacket* filtered = output.BsfPackets[stage];
  while (AVCodecApi.av_bsf_receive_packet(context, filtered) >= 0) {
    FilterAndWrite(output, filtered, stage + 1);
    AVCodecApi.av_packet_unref(filtered);
  }
}

void TCustomFFmpeg::WriteFiltered(OutputStream& output, AVPacket* packet) {
  const int64_t position = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
  if (position != AV_NOPTS_VALUE)
    output.MuxPosition = std::max(output.MuxPosition, position + packet->duration);
  const int result =
      AVFormatApi.av_interleaved_write_frame(Files.OutputFiles[output.FileIndex], packet);
  if (result < 0) throw FFMpegException(WriteErrorText(result));
}

void TCustomFFmpeg::DoSubtitleOut(OutputStream& output, InputStream& input, AVSubtitle& subtitle,
                                  int64_t pts) {
  if (pts == AV_NOPTS_VALUE) {
    if (Diagnostics.ExitOnError) throw FFMpegException("Subtitle packets must have a pts");
    Log(0, "Subtitle packets must have a pts");
    return;
  }
  std::vector<uint8_t>& buffer = Tables->Buffers.SubtitleOut;
  if (buffer.size() < SubtitleBufferSize) buffer.resize(SubtitleBufferSize);
  AVCodecContext* enc = output.Encoder;
  const bool dvb = enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
  const int count = dvb ? 2 : 1;
  const int64_t base =
      AVUtilApi.av_rescale_q(pts, input.Stream->time_base, output.Stream->time_base);
  for (int index = 0; index < count; ++index) {
    // The second DVB packet is an empty page: it clears the display.
    const unsigned rectCount = subtitle.num_rects;
    if (dvb && index == 1) subtitle.num_rects = 0;
    const int size =
        AVCodecApi.avcodec_encode_subtitle(enc, buffer.data(), SubtitleBufferSize, &subtitle);
    subtitle.num_rects = rectCount;
    if (size < 0) throw FFMpegException("Subtitle encoding failed");
    AVPacket* packet = Tables->Buffers.OutPacket;
    if (AVCodecApi.av_new_packet(packet, size) < 0) throw FFMpegException("av_malloc fail");
    std::memcpy(packet->data, buffer.data(), size);
    packet->stream_index = output.StreamIndex;
    packet->pts = base;
    if (dvb)
      packet->pts += AVUtilApi.av_rescale_q(
          DvbSubtitleTicksPerMs * static_cast<int64_t>(index == 0 ? subtitle.start_display_time
                                                                  : subtitle.end_display_time),
          AVRational{1, 90000}, output.Stream->time_base);
    packet->dts = packet->pts;
    // A single packet carries the display time, or the caption would never end.
    if (!dvb && subtitle.end_display_time > subtitle.start_display_time &&
        subtitle.end_display_time != UINT32_MAX)
      packet->duration =
          AVUtilApi.av_rescale_q(subtitle.end_display_time - subtitle.start_display_time,
                                 AVRational{1, 1000}, output.Stream->time_base);
    WriteFrame(output, packet);
  }
}
