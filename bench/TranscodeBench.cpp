// The engine's cost against a minimal decode-and-encode loop of our own.
//
// For each codec set of the application's profiles, a generated 720p clip is
// converted twice: once by the engine (a job run inline), once by the loop
// below on the same opened input and the same created output, so that both
// use the very same codecs, settings and muxer. Each conversion runs in a
// child process of its own, which gives its CPU time and peak memory.
//
//   tavrelle-bench [--seconds N] [--repeat N] [--clip FILE]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Src/FFmpeg.h"
#include "Src/LibraryLoader.h"
#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "binding/SwResampleHlpr.h"
#include "binding/SwScaleHlpr.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "tests/media/MediaGen.h"

namespace {
struct TProfile {
  const char* Name;
  const char* Extension;
  const char* Options;
};

const TProfile Profiles[] = {
    {"H.264 + AAC (mp4)", ".mp4",
     "vcodec=libx264\nacodec=aac\ns=1280x720\nar=48000\nac=2\nb=1500000\nab=80000"},
    {"MS-MPEG-4 v2 + PCM (avi)", ".avi",
     "vcodec=msmpeg4v2\nacodec=pcm_s16le\ns=1280x720\nar=48000\nac=2\nb=3000000\nab=128000"},
    {"WMV2 + WMA2 (wmv)", ".wmv", "vcodec=wmv2\nacodec=wmav2\nb=1500000"},
    {"WMA2 (wma)", ".wma", "vn=1\nacodec=wmav2"},
    {"MP3 (mp3)", ".mp3", "vn=1\nacodec=libmp3lame"},
};

struct TMeasure {
  bool Ok = false;
  double WallSec = 0;
  double CpuSec = 0;
  long PeakKb = 0;
};

bool PrepareJob(TCustomFFmpeg& job, const std::string& input, const TProfile& profile,
                const std::string& output) {
  job.Reset();
  job.Diagnostics.Verbosity = -1;
  AVUtilApi.av_log_set_level(AV_LOG_QUIET);
  if (!job.OpenInputFile(input)) return false;
  job.ApplyOptionText(profile.Options);
  return job.OpenOutputFile(output);
}

// ---- The minimal loop ----------------------------------------------------

struct TLoopStream {
  AVCodecContext* Decoder = nullptr;
  AVCodecContext* Encoder = nullptr;
  AVStream* Out = nullptr;
  int OutIndex = -1;
  SwsContext* Scaler = nullptr;
  SwrContext* Resampler = nullptr;
  AVFrame* Converted = nullptr;
  int64_t NextPts = 0;
};

bool Encode(AVFormatContext* output, TLoopStream& stream, AVFrame* frame, AVPacket* packet) {
  if (AVCodecApi.avcodec_send_frame(stream.Encoder, frame) < 0) return false;
  while (AVCodecApi.avcodec_receive_packet(stream.Encoder, packet) >= 0) {
    if (packet->duration <= 0 && stream.Encoder->codec_type == AVMEDIA_TYPE_VIDEO)
      packet->duration = 1;
    AVCodecApi.av_packet_rescale_ts(packet, stream.Encoder->time_base, stream.Out->time_base);
    packet->stream_index = stream.OutIndex;
    if (AVFormatApi.av_interleaved_write_frame(output, packet) < 0) return false;
  }
  return true;
}

bool VideoOut(AVFormatContext* output, TLoopStream& stream, AVFrame* decoded, AVPacket* packet) {
  AVFrame* frame = decoded;
  const AVCodecContext* enc = stream.Encoder;
  if (decoded->width != enc->width || decoded->height != enc->height ||
      decoded->format != enc->pix_fmt) {
    stream.Scaler = SwScaleApi.sws_getCachedContext(
        stream.Scaler, decoded->width, decoded->height, static_cast<AVPixelFormat>(decoded->format),
        enc->width, enc->height, enc->pix_fmt, SWS_BICUBIC, nullptr, nullptr, nullptr);
    AVFrame* target = stream.Converted;
    if (!target->buf[0]) {
      target->format = enc->pix_fmt;
      target->width = enc->width;
      target->height = enc->height;
      AVUtilApi.av_frame_get_buffer(target, 0);
    }
    AVUtilApi.av_frame_make_writable(target);
    SwScaleApi.sws_scale(stream.Scaler, decoded->data, decoded->linesize, 0, decoded->height,
                         target->data, target->linesize);
    frame = target;
  }
  frame->pict_type = AV_PICTURE_TYPE_NONE;
  frame->pts = stream.NextPts++;
  return Encode(output, stream, frame, packet);
}

bool AudioOut(AVFormatContext* output, TLoopStream& stream, const AVFrame* decoded,
              AVPacket* packet) {
  AVCodecContext* enc = stream.Encoder;
  if (!stream.Resampler) {
    AVChannelLayout inLayout = decoded->ch_layout;  // the call takes them writable
    SwResampleApi.swr_alloc_set_opts2(
        &stream.Resampler, &enc->ch_layout, enc->sample_fmt, enc->sample_rate, &inLayout,
        static_cast<AVSampleFormat>(decoded->format), decoded->sample_rate, 0, nullptr);
    if (SwResampleApi.swr_init(stream.Resampler) < 0) return false;
  }
  const bool variable =
      enc->frame_size <= 1 || (enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
  const uint8_t** in = decoded ? const_cast<const uint8_t**>(decoded->extended_data) : nullptr;
  int inSamples = decoded ? decoded->nb_samples : 0;
  for (;;) {
    const int available = SwResampleApi.swr_get_out_samples(stream.Resampler, inSamples);
    const int wanted = variable ? available : enc->frame_size;
    if (wanted <= 0 || (!variable && available < wanted && decoded)) {
      if (inSamples > 0) SwResampleApi.swr_convert(stream.Resampler, nullptr, 0, in, inSamples);
      return true;
    }
    AVFrame* frame = stream.Converted;
    if (!frame->buf[0] || frame->nb_samples < wanted) {
      AVUtilApi.av_frame_unref(frame);
      frame->format = enc->sample_fmt;
      frame->sample_rate = enc->sample_rate;
      frame->nb_samples = std::max(wanted, enc->frame_size);
      AVUtilApi.av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout);
      AVUtilApi.av_frame_get_buffer(frame, 0);
    }
    AVUtilApi.av_frame_make_writable(frame);
    const int produced =
        SwResampleApi.swr_convert(stream.Resampler, frame->extended_data, wanted, in, inSamples);
    in = nullptr;
    inSamples = 0;
    if (produced <= 0) return true;
    frame->nb_samples = produced;
    frame->pts = stream.NextPts;
    stream.NextPts += produced;
    if (!Encode(output, stream, frame, packet)) return false;
    if (!decoded && produced < wanted) return true;
  }
}

bool MinimalLoop(TCustomFFmpeg& job) {
  AVFormatContext* input = job.Files.InputFiles[0];
  AVFormatContext* output = job.Files.OutputFiles[0];
  std::vector<TLoopStream> streams(input->nb_streams);
  for (unsigned out = 0; out < output->nb_streams; ++out) {
    AVCodecContext* enc = job.FileStreams.Outputs[0].Streams[out].Encoder;
    for (unsigned in = 0; in < input->nb_streams; ++in) {
      if (streams[in].Encoder || input->streams[in]->codecpar->codec_type != enc->codec_type)
        continue;
      TLoopStream& stream = streams[in];
      stream.Encoder = enc;
      stream.Decoder = job.FileStreams.Inputs[0][in].Decoder;
      stream.Out = output->streams[out];
      stream.OutIndex = static_cast<int>(out);
      stream.Converted = AVUtilApi.av_frame_alloc();
      if (enc->codec_type == AVMEDIA_TYPE_AUDIO) enc->time_base = AVRational{1, enc->sample_rate};
      AVDictionary* options = nullptr;
      AVUtilApi.av_dict_copy(&options, job.FileStreams.Outputs[0].Streams[out].EncoderOptions, 0);
      const int opened = AVCodecApi.avcodec_open2(enc, enc->codec, &options);
      AVUtilApi.av_dict_free(&options);
      if (opened < 0) return false;
      AVCodecApi.avcodec_parameters_from_context(stream.Out->codecpar, enc);
      stream.Out->time_base = enc->time_base;
      stream.Decoder->pkt_timebase = input->streams[in]->time_base;
      stream.Decoder->thread_count = job.Runtime.ThreadCount;
      if (AVCodecApi.avcodec_open2(stream.Decoder,
                                   stream.Decoder->codec
                                       ? stream.Decoder->codec
                                       : AVCodecApi.avcodec_find_decoder(stream.Decoder->codec_id),
                                   nullptr) < 0)
        return false;
      break;
    }
  }
  AVDictionary* muxerOptions = job.MuxerOptionsFor(output);
  const int header = AVFormatApi.avformat_write_header(output, &muxerOptions);
  AVUtilApi.av_dict_free(&muxerOptions);
  if (header < 0) return false;
  AVPacket* packet = AVCodecApi.av_packet_alloc();
  AVPacket* outPacket = AVCodecApi.av_packet_alloc();
  AVFrame* frame = AVUtilApi.av_frame_alloc();
  bool ok = true;
  const auto receive = [&](TLoopStream& stream) {
    while (ok && AVCodecApi.avcodec_receive_frame(stream.Decoder, frame) >= 0) {
      ok = stream.Encoder->codec_type == AVMEDIA_TYPE_VIDEO
               ? VideoOut(output, stream, frame, outPacket)
               : AudioOut(output, stream, frame, outPacket);
      AVUtilApi.av_frame_unref(frame);
    }
  };
  while (ok && AVFormatApi.av_read_frame(input, packet) >= 0) {
    TLoopStream& stream = streams[packet->stream_index];
    if (stream.Encoder && AVCodecApi.avcodec_send_packet(stream.Decoder, packet) >= 0)
      receive(stream);
    AVCodecApi.av_packet_unref(packet);
  }
  for (TLoopStream& stream : streams) {
    if (!stream.Encoder || !ok) continue;
    AVCodecApi.avcodec_send_packet(stream.Decoder, nullptr);
    receive(stream);
    if (stream.Encoder->codec_type == AVMEDIA_TYPE_AUDIO)
      AudioOut(output, stream, nullptr, outPacket);
    Encode(output, stream, nullptr, outPacket);
  }
  ok = AVFormatApi.av_write_trailer(output) >= 0 && ok;
  for (TLoopStream& stream : streams) {
    SwScaleApi.sws_freeContext(stream.Scaler);
    SwResampleApi.swr_free(&stream.Resampler);
    AVUtilApi.av_frame_free(&stream.Converted);
  }
  AVUtilApi.av_frame_free(&frame);
  AVCodecApi.av_packet_free(&packet);
  AVCodecApi.av_packet_free(&outPacket);
  return ok;
}

// ---- Measuring -----------------------------------------------------------

double Seconds(const timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

template <typename TWork>
TMeasure InChild(TWork work) {
  TMeasure measure;
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) _exit(work() ? 0 : 1);
  int status = 0;
  rusage usage{};
  if (child < 0 || wait4(child, &status, 0, &usage) != child) return measure;
  measure.WallSec = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  measure.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  measure.CpuSec = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  measure.PeakKb = usage.ru_maxrss;
  return measure;
}

// The least disturbed run of each kind: the machine may be shared, and
// other work only ever adds time. Peak memory is the largest seen.
TMeasure Best(const std::vector<TMeasure>& runs) {
  TMeasure best;
  long peak = 0;
  for (const TMeasure& run : runs) {
    if (!run.Ok) continue;
    peak = std::max(peak, run.PeakKb);
    if (!best.Ok) {
      best = run;
      continue;
    }
    best.WallSec = std::min(best.WallSec, run.WallSec);
    best.CpuSec = std::min(best.CpuSec, run.CpuSec);
  }
  best.PeakKb = peak;
  return best;
}
}  // namespace

int main(int argc, char** argv) {
  double seconds = 30;
  int repeat = 1;
  std::string clip;
  for (int index = 1; index + 1 < argc; index += 2) {
    if (!std::strcmp(argv[index], "--seconds")) seconds = std::atof(argv[index + 1]);
    if (!std::strcmp(argv[index], "--repeat")) repeat = std::max(1, std::atoi(argv[index + 1]));
    if (!std::strcmp(argv[index], "--clip")) clip = argv[index + 1];
  }
  if (!LoadAllLibraries(IncludeTrailingPathDelimiter(ExecutableFolder()) + "lib", true)) {
    std::fprintf(stderr, "cannot load the media libraries: %s\n", LoadAllError().c_str());
    return 1;
  }
  AVUtilApi.av_log_set_level(AV_LOG_QUIET);
  const std::string folder =
      (std::filesystem::temp_directory_path() / ("tavrelle-bench-" + std::to_string(getpid())))
          .string();
  std::filesystem::create_directories(folder);
  if (clip.empty()) {
    clip = folder + "/clip-720p.mp4";
    TMediaOptions options;
    options.DurationSec = seconds;
    options.Width = 1280;
    options.Height = 720;
    std::string error;
    std::printf("writing a %.0f s 1280x720 clip...\n", seconds);
    std::fflush(stdout);
    if (!MakeMedia(TMediaKind::Mp4, clip, options, error)) {
      std::fprintf(stderr, "cannot write the clip: %s\n", error.c_str());
      return 1;
    }
  }
  std::printf("%-26s %9s %9s %7s %9s %9s %7s %10s %10s %9s %9s\n", "codec set", "engine s",
              "loop s", "wall", "engine cpu", "loop cpu", "cpu", "engine MB", "loop MB",
              "engine kB", "loop kB");
  bool allOk = true;
  for (const TProfile& profile : Profiles) {
    std::vector<TMeasure> engineRuns, loopRuns;
    for (int run = 0; run < repeat; ++run) {
      const std::string engineOut = folder + "/engine" + profile.Extension;
      const std::string loopOut = folder + "/loop" + profile.Extension;
      DeleteFile(engineOut);
      DeleteFile(loopOut);
      engineRuns.push_back(InChild([&] {
        TCustomFFmpeg job;
        if (!PrepareJob(job, clip, profile, engineOut)) return false;
        job.Start(false, tpNormal);
        return job.Finished && !job.HasError;
      }));
      loopRuns.push_back(InChild([&] {
        TCustomFFmpeg job;
        return PrepareJob(job, clip, profile, loopOut) && MinimalLoop(job);
      }));
    }
    const int64_t engineBytes = FileSizeOf(folder + "/engine" + profile.Extension);
    const int64_t loopBytes = FileSizeOf(folder + "/loop" + profile.Extension);
    const TMeasure engine = Best(engineRuns);
    const TMeasure loop = Best(loopRuns);
    if (!engine.Ok || !loop.Ok) {
      std::printf("%-26s failed (engine %s, loop %s)\n", profile.Name, engine.Ok ? "ok" : "failed",
                  loop.Ok ? "ok" : "failed");
      allOk = false;
      continue;
    }
    std::printf("%-26s %9.2f %9.2f %6.3fx %9.2f %9.2f %6.3fx %10.1f %10.1f %9lld %9lld\n",
                profile.Name, engine.WallSec, loop.WallSec, engine.WallSec / loop.WallSec,
                engine.CpuSec, loop.CpuSec, engine.CpuSec / loop.CpuSec, engine.PeakKb / 1024.0,
                loop.PeakKb / 1024.0, static_cast<long long>(engineBytes / 1024),
                static_cast<long long>(loopBytes / 1024));
    std::fflush(stdout);
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return allOk ? 0 : 1;
}
