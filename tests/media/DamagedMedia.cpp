// Inputs no demuxer should take at face value.
#include <fstream>
#include <random>
#include <vector>

#include "MediaGen.h"
#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "platform/Files.h"
#include "platform/Format.h"

namespace {
bool WriteBytes(const std::string& fileName, const std::vector<char>& bytes, std::string& error) {
  std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (out) return true;
  error = Format("%s: cannot write the file", {fileName});
  return false;
}
}  // namespace

bool MakeTruncatedCopy(const std::string& source, const std::string& fileName, int64_t byteCount,
                       std::string& error) {
  const int64_t size = FileSizeOf(source);
  if (size < 0) {
    error = Format("%s: no such file", {source});
    return false;
  }
  if (byteCount < 0 || byteCount > size) {
    error = Format("%s: cannot cut a file of %d bytes at byte %d", {source, size, byteCount});
    return false;
  }
  std::vector<char> bytes(static_cast<size_t>(byteCount));
  std::ifstream in(source, std::ios::binary);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!in) {
    error = Format("%s: cannot read the file", {source});
    return false;
  }
  return WriteBytes(fileName, bytes, error);
}

bool MakeRandomFile(const std::string& fileName, int64_t byteCount, uint32_t seed,
                    std::string& error) {
  if (byteCount < 0) {
    error = Format("%s: a byte count cannot be negative", {fileName});
    return false;
  }
  // The generator is fully specified by the standard: the same seed gives
  // the same bytes everywhere.
  std::mt19937 generator(seed);
  std::vector<char> bytes(static_cast<size_t>(byteCount));
  for (char& byte : bytes) byte = static_cast<char>(generator() & 0xFF);
  return WriteBytes(fileName, bytes, error);
}

bool MakeEmptyFile(const std::string& fileName, std::string& error) {
  return WriteBytes(fileName, {}, error);
}

bool MakeNoiseVideo(const std::string& fileName, uint32_t seed, std::string& error) {
  AVFormatContext* context = nullptr;
  if (AVFormatApi.avformat_alloc_output_context2(&context, nullptr, "matroska", fileName.c_str()) <
      0) {
    error = Format("%s: no Matroska muxer", {fileName});
    return false;
  }
  AVStream* stream = AVFormatApi.avformat_new_stream(context, nullptr);
  bool written = stream != nullptr;
  if (stream) {
    stream->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    stream->codecpar->codec_id = AV_CODEC_ID_MPEG4;
    stream->codecpar->width = 64;
    stream->codecpar->height = 48;
    stream->time_base = AVRational{1, 25};
  }
  written = written && AVFormatApi.avio_open(&context->pb, fileName.c_str(), AVIO_FLAG_WRITE) >= 0;
  const bool opened = written;
  written = written && AVFormatApi.avformat_write_header(context, nullptr) >= 0;
  std::mt19937 random(seed);
  AVPacket* packet = AVCodecApi.av_packet_alloc();
  for (int i = 0; written && packet && i < 25; ++i) {
    written = AVCodecApi.av_new_packet(packet, 256) >= 0;
    if (!written) break;
    for (int b = 0; b < packet->size; ++b) packet->data[b] = static_cast<uint8_t>(random());
    packet->pts = packet->dts = i;
    packet->duration = 1;
    packet->flags = AV_PKT_FLAG_KEY;
    AVCodecApi.av_packet_rescale_ts(packet, AVRational{1, 25}, stream->time_base);
    written = AVFormatApi.av_interleaved_write_frame(context, packet) >= 0;
  }
  written = written && packet && AVFormatApi.av_write_trailer(context) >= 0;
  AVCodecApi.av_packet_free(&packet);
  if (opened) AVFormatApi.avio_closep(&context->pb);
  AVFormatApi.avformat_free_context(context);
  if (!written) error = Format("%s: cannot write the noise video", {fileName});
  return written;
}
