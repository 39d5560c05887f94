// Construction, Reset, Cleanup and destruction of a job.
#include "FFmpeg.h"

#include "FFmpegFiles.h"
#include "LibraryLoader.h"
#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "binding/MyUtilHlpr.h"
#include "binding/SwScaleHlpr.h"
#include "platform/Files.h"

TCustomFFmpeg::TCustomFFmpeg() {
  LoadDefaults();
}

TCustomFFmpeg::~TCustomFFmpeg() {
  StopAndWaitForWorker();
  Cleanup();
}

void TCustomFFmpeg::Reset() {
  if (!LibrariesLoaded()) return;
  Cleanup();
  LoadDefaults();
  Running = false;
  StopFlag = false;
  Finished = false;
  Terminated = false;
  OutputDurationMs = -1;
  AllocateOptionContexts();
}

void TCustomFFmpeg::Cleanup() {
  if (!LibrariesLoaded()) return;
  FreeOptionContexts();
  ReleaseHookState();
  CloseOutputFiles();
  CloseInputFiles();
  Video.IntraMatrix.reset();
  Video.InterMatrix.reset();
  if (Stats.VstatsFile) MyUtilApi.my_fclose(Stats.VstatsFile);
  Stats.VstatsFile = nullptr;
  Stats.VstatsFileName.reset();
  Generic.RecordedOptionNames.clear();
  Video.VideoCodecName.reset();
  Audio.AudioCodecName.reset();
  Subtitle.SubtitleCodecName.reset();
  Input.VideoStandard.reset();
  Video.VideoRcOverride.reset();
  Audio.AudioLanguage.clear();
  Subtitle.SubtitleLanguage.clear();
}

void TCustomFFmpeg::AllocateOptionContexts() {
  for (int kind = 0; kind < MediaKindCount; ++kind) {
    AVCodecContext* context = AVCodecApi.avcodec_alloc_context3(nullptr);
    if (context) context->codec_type = static_cast<AVMediaType>(kind);
    Generic.CodecOptionContexts[kind] = context;
  }
  Generic.FormatOptionContext = AVFormatApi.avformat_alloc_context();
  Generic.ScalerOptionContext =
      SwScaleApi.sws_getContext(16, 16, AV_PIX_FMT_YUV420P, 16, 16, AV_PIX_FMT_YUV420P,
                                Runtime.ScalerFlags, nullptr, nullptr, nullptr);
}

void TCustomFFmpeg::FreeOptionContexts() {
  for (AVCodecContext*& context : Generic.CodecOptionContexts)
    AVCodecApi.avcodec_free_context(&context);
  AVFormatApi.avformat_free_context(Generic.FormatOptionContext);
  Generic.FormatOptionContext = nullptr;
  SwScaleApi.sws_freeContext(Generic.ScalerOptionContext);
  Generic.ScalerOptionContext = nullptr;
  for (AVDictionary*& options : Generic.EncoderPrivateOptions) AVUtilApi.av_dict_free(&options);
  for (AVDictionary*& options : Generic.DecoderPrivateOptions) AVUtilApi.av_dict_free(&options);
  AVUtilApi.av_dict_free(&Generic.MuxerPrivateOptions);
  AVUtilApi.av_dict_free(&Generic.DemuxerPrivateOptions);
}

// Closes each output's file, deletes it when nothing was written into it and
// frees the context with its streams and the encoder contexts of the job.
void TCustomFFmpeg::CloseOutputFiles() {
  for (int file = 0; file < MaxFiles; ++file) {
    ReleaseOutputStreams(file);
    ReleaseOutputContext(Files.OutputFiles[file], true);
  }
  Files.OutputFileCount = 0;
}

// Inputs are closed, never deleted.
void TCustomFFmpeg::CloseInputFiles() {
  for (int file = 0; file < MaxFiles; ++file) {
    ReleaseInputStreams(file);
    if (Files.InputFiles[file]) AVFormatApi.avformat_close_input(&Files.InputFiles[file]);
  }
  Files.InputFileCount = 0;
}

void TCustomFFmpeg::Log(int level, const std::string& message) {
  if (OnJobLog) OnJobLog(this, level, message);
}
