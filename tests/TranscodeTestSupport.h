#pragma once
// Shared by the transcode tests: generated clips, a job run inline from an
// input, options and an output, and a summary of a converted file made by
// decoding it completely with the libraries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "tests/media/MediaGen.h"

struct TStreamSummary {
  AVMediaType Kind = AVMEDIA_TYPE_UNKNOWN;
  AVCodecID CodecId = AV_CODEC_ID_NONE;
  int Width = 0;
  int Height = 0;
  int SampleRate = 0;
  int Channels = 0;
  int Frames = 0;         // decoded pictures, or decoded audio frames
  int64_t Samples = 0;    // decoded audio samples
  double StartSec = 1e9;  // earliest decoded timestamp
  double EndSec = 0;      // latest decoded timestamp plus its duration
  bool FirstPacketKey = false;
  double Duration() const { return EndSec - StartSec; }
};

struct TFileSummary {
  bool Opened = false;
  std::string FormatName;
  std::vector<TStreamSummary> Streams;
  int64_t Size = 0;
  int Count(AVMediaType kind) const {
    return static_cast<int>(std::count_if(Streams.begin(), Streams.end(),
                                          [kind](const auto& s) { return s.Kind == kind; }));
  }
  const TStreamSummary* First(AVMediaType kind) const {
    for (const auto& stream : Streams)
      if (stream.Kind == kind) return &stream;
    return nullptr;
  }
};

// Called with every decoded picture of the first video stream.
using TPictureVisitor = std::function<void(const AVFrame* picture, int index)>;
// Called with every decoded frame of the first audio stream.
using TSoundVisitor = std::function<void(const AVFrame* frame)>;

namespace transcode_test {
inline void NoteFrame(TStreamSummary& summary, const AVFrame* frame, AVRational timeBase,
                      const AVCodecContext* decoder, AVRational fallbackRate) {
  ++summary.Frames;
  int64_t timestamp = frame->best_effort_timestamp;
  if (timestamp == AV_NOPTS_VALUE) timestamp = frame->pts;
  if (timestamp == AV_NOPTS_VALUE) return;
  const double start = timestamp * av_q2d(timeBase);
  double duration = 0;
  if (decoder->codec_type == AVMEDIA_TYPE_AUDIO) {
    summary.Samples += frame->nb_samples;
    duration = static_cast<double>(frame->nb_samples) / decoder->sample_rate;
  } else if (frame->pkt_duration > 0) {
    duration = frame->pkt_duration * av_q2d(timeBase);
  } else if (decoder->framerate.num > 0) {
    duration = av_q2d(av_inv_q(decoder->framerate));
  } else if (fallbackRate.num > 0 && fallbackRate.den > 0) {
    duration = av_q2d(av_inv_q(fallbackRate));
  }
  summary.StartSec = std::min(summary.StartSec, start);
  summary.EndSec = std::max(summary.EndSec, start + duration);
}
}  // namespace transcode_test

inline TFileSummary Summarise(const std::string& fileName, const TPictureVisitor& visit = {},
                              const TSoundVisitor& hear = {}) {
  TFileSummary result;
  AVFormatContext* input = nullptr;
  if (AVFormatApi.avformat_open_input(&input, fileName.c_str(), nullptr, nullptr) < 0)
    return result;
  AVFormatApi.avformat_find_stream_info(input, nullptr);
  result.Opened = true;
  result.FormatName = input->iformat->name;
  if (input->pb) result.Size = AVFormatApi.avio_size(input->pb);
  std::vector<AVCodecContext*> decoders(input->nb_streams, nullptr);
  result.Streams.resize(input->nb_streams);
  int firstVideo = -1;
  int firstAudio = -1;
  for (unsigned index = 0; index < input->nb_streams; ++index) {
    const AVCodecParameters* parameters = input->streams[index]->codecpar;
    TStreamSummary& summary = result.Streams[index];
    summary.Kind = parameters->codec_type;
    summary.CodecId = parameters->codec_id;
    summary.Width = parameters->width;
    summary.Height = parameters->height;
    summary.SampleRate = parameters->sample_rate;
    summary.Channels = parameters->ch_layout.nb_channels;
    if (summary.Kind == AVMEDIA_TYPE_VIDEO && firstVideo < 0) firstVideo = static_cast<int>(index);
    if (summary.Kind == AVMEDIA_TYPE_AUDIO && firstAudio < 0) firstAudio = static_cast<int>(index);
    const AVCodec* codec = AVCodecApi.avcodec_find_decoder(parameters->codec_id);
    if (!codec || (summary.Kind != AVMEDIA_TYPE_VIDEO && summary.Kind != AVMEDIA_TYPE_AUDIO))
      continue;
    AVCodecContext* decoder = AVCodecApi.avcodec_alloc_context3(codec);
    AVCodecApi.avcodec_parameters_to_context(decoder, parameters);
    decoder->pkt_timebase = input->streams[index]->time_base;
    if (AVCodecApi.avcodec_open2(decoder, codec, nullptr) < 0)
      AVCodecApi.avcodec_free_context(&decoder);
    decoders[index] = decoder;
  }
  AVPacket* packet = AVCodecApi.av_packet_alloc();
  AVFrame* frame = AVUtilApi.av_frame_alloc();
  std::vector<bool> seen(input->nb_streams, false);
  const auto receive = [&](int index) {
    AVCodecContext* decoder = decoders[index];
    while (AVCodecApi.avcodec_receive_frame(decoder, frame) >= 0) {
      TStreamSummary& summary = result.Streams[index];
      if (index == firstVideo && visit) visit(frame, summary.Frames);
      if (index == firstAudio && hear) hear(frame);
      const AVStream* stream = input->streams[index];
      transcode_test::NoteFrame(summary, frame, stream->time_base, decoder, stream->r_frame_rate);
      AVUtilApi.av_frame_unref(frame);
    }
  };
  while (AVFormatApi.av_read_frame(input, packet) >= 0) {
    const int index = packet->stream_index;
    if (index < static_cast<int>(decoders.size())) {
      if (!seen[index]) result.Streams[index].FirstPacketKey = packet->flags & AV_PKT_FLAG_KEY;
      seen[index] = true;
      if (decoders[index] && AVCodecApi.avcodec_send_packet(decoders[index], packet) >= 0)
        receive(index);
    }
    AVCodecApi.av_packet_unref(packet);
  }
  for (unsigned index = 0; index < decoders.size(); ++index) {
    if (!decoders[index]) continue;
    AVCodecApi.avcodec_send_packet(decoders[index], nullptr);
    receive(static_cast<int>(index));
    AVCodecApi.avcodec_free_context(&decoders[index]);
  }
  AVUtilApi.av_frame_free(&frame);
  AVCodecApi.av_packet_free(&packet);
  AVFormatApi.avformat_close_input(&input);
  return result;
}

// A job that runs inline and records its progress events and end.
class TTranscodeJob : public TRecordingJob {
 public:
  struct TProgress {
    int Frame, Fps, CurrentMs;
    float Quality, BitRate;
    int64_t Size;
    int TotalMs;
  };
  TTranscodeJob() {
    Diagnostics.Verbosity = 0;
    OnJobTerminate = [this](TCustomFFmpeg*) { ++TerminateCount; };
  }
  // The worker uses this object's members through the events.
  ~TTranscodeJob() override { StopAndWaitForWorker(); }
  void RecordProgress() {
    OnJobProgress = [this](TCustomFFmpeg*, int frame, int fps, int current, float quality,
                           float bitRate, int64_t size, int total) {
      Progress.push_back({frame, fps, current, quality, bitRate, size, total});
    };
  }
  // Opens the input, applies the output options and creates the output.
  ::testing::AssertionResult Prepare(const std::string& input, const std::string& options,
                                     const std::string& output) {
    if (!OpenInputFile(input)) return ::testing::AssertionFailure() << "input: " << LastError;
    if (!options.empty()) ApplyOptionText(options);
    if (!OpenOutputFile(output)) return ::testing::AssertionFailure() << "output: " << LastError;
    return ::testing::AssertionSuccess();
  }
  // Runs on the calling thread; success when the job ended without error.
  ::testing::AssertionResult RunInline() {
    Start(false, tpNormal);
    if (HasError) return ::testing::AssertionFailure() << ErrorMessage;
    return ::testing::AssertionSuccess();
  }
  int TerminateCount = 0;
  std::vector<TProgress> Progress;
};

// The lines of a text file, without their line ends.
inline std::vector<std::string> FileLines(const std::string& fileName) {
  std::vector<std::string> lines;
  std::ifstream file(fileName);
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

inline std::string TestOutput(TMediaFolder& folder, const std::string& name) {
  return folder.FilePath(name);
}
