// Progress of a running transcode: the progress event or its text line, the
// size summary at the end, and the per-frame video statistics file.
#include <array>
#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstring>

#include "FFMpegException.h"
#include "FFmpeg.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "binding/MyUtilHlpr.h"
#include "platform/Format.h"

namespace {
constexpr int QuantiserCount = 52;
constexpr int HistogramColumns = 32;
constexpr double NoOutputTime = 1e10;
constexpr double SmallestOutputTime = 0.01;

// Quantisers of every first video output of every job in the process.
std::array<std::atomic<int>, QuantiserCount> QpCounters{};

// A fixed text buffer that C-style pieces are appended to, each cut at the
// space that remains.
class TReportText {
 public:
  template <typename... TArgs>
  void Append(const char* format, TArgs... args) {
    const size_t used = std::strlen(text_.data());
    if (used + 1 >= text_.size()) return;
    MyUtilApi.my_snprintf(text_.data() + used, text_.size() - used, format, args...);
  }
  const char* Text() const { return text_.data(); }

 private:
  std::array<char, 1024> text_{};
};

double Quantiser(const OutputStream& output) {
  return output.EncodingNeeded ? static_cast<double>(output.Coded.Quality) / FF_QP2LAMBDA : -1.0;
}

double PlanePsnr(double error, double scale) {
  return -10.0 * std::log10(error / scale);
}
}  // namespace

int64_t TCustomFFmpeg::OutputFileSize() const {
  AVIOContext* io = Files.OutputFiles[0] ? Files.OutputFiles[0]->pb : nullptr;
  if (!io) return 0;
  const int64_t size = AVFormatApi.avio_size(io);
  return size >= 0 ? size : AVFormatApi.avio_seek(io, 0, SEEK_CUR);
}

void TCustomFFmpeg::PrintReport(bool isLast) {
  int frame = -1;
  int fps = -1;
  double quality = -1.0;
  const int64_t size = OutputFileSize();
  TReportText text;
  double outputTime = NoOutputTime;
  bool video = false;
  for (const auto& entry : Tables->OutputStreamTable) {
    const OutputStream& output = *entry;
    const AVCodecContext* enc = output.Encoder;
    const bool isVideo = enc->codec_type == AVMEDIA_TYPE_VIDEO;
    if (video && isVideo) text.Append("q=%2.1f ", Quantiser(output));
    if (!video && isVideo) {
      const float elapsed = static_cast<float>(AVUtilApi.av_gettime() - TimerStart) / 1000000.0f;
      frame = output.FrameNumber;
      if (frame < 1) return;
      fps = elapsed > 1 ? static_cast<int>(std::trunc(frame / elapsed + 0.5)) : 0;
      quality = Quantiser(output);
      text.Append("frame=%5d fps=%3d q=%3.1f ", frame, fps, quality);
      if (isLast) text.Append("L");
      if (Stats.QpHistogram) {
        const long qp = std::lround(static_cast<double>(output.Coded.Quality) / FF_QP2LAMBDA);
        if (qp >= 0 && qp < QuantiserCount) ++QpCounters[qp];
        for (int column = 0; column < HistogramColumns; ++column)
          text.Append("%X", static_cast<int>(std::lround(std::log2(QpCounters[column] + 1))));
      }
      if (enc->flags & AV_CODEC_FLAG_PSNR) {
        static const char PlaneLetters[] = "YUV";
        double errorSum = 0;
        double scaleSum = 0;
        text.Append("PSNR=");
        for (int plane = 0; plane < 3; ++plane) {
          double error =
              static_cast<double>(isLast ? output.ErrorSum[plane] : output.Coded.Error[plane]);
          double scale = static_cast<double>(enc->width) * enc->height * 255.0 * 255.0;
          if (isLast) scale *= frame;
          if (plane > 0) scale /= 4;
          errorSum += error;
          scaleSum += scale;
          text.Append("%c:%2.2f ", PlaneLetters[plane], PlanePsnr(error, scale));
        }
        text.Append("*:%2.2f ", PlanePsnr(errorSum, scaleSum));
      }
      video = true;
    }
    const double position =
        static_cast<double>(output.MuxPosition) * av_q2d(output.Stream->time_base);
    if (position > 0 && position < outputTime) outputTime = position;
  }
  // Nothing muxed yet counts as the smallest time, not as no time at all.
  if (outputTime < SmallestOutputTime || outputTime == NoOutputTime)
    outputTime = SmallestOutputTime;
  if (OnJobProgress || Diagnostics.Verbosity > 0 || isLast) {
    const double bitRate = static_cast<double>(size) * 8 / outputTime / 1000;
    text.Append("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", static_cast<double>(size) / 1024,
                outputTime, bitRate);
    if (Diagnostics.Verbosity > 1)
      text.Append(" dup=%d drop=%d", Stats.FramesDup, Stats.FramesDrop);
    if (OnJobProgress) {
      OnJobProgress(this, frame, fps, static_cast<int>(std::trunc(outputTime * 1000)),
                    static_cast<float>(quality), static_cast<float>(bitRate), size,
                    OutputDurationMs);
    } else if (Diagnostics.Verbosity >= 0 && OnJobLog) {
      Log(1, text.Text());
    }
  }
  if (isLast && Diagnostics.Verbosity >= 0 && OnJobLog) {
    const double raw = static_cast<double>(Stats.AudioSize + Stats.VideoSize + Stats.ExtraSize);
    Log(1, Format("video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%\r\n",
                  {static_cast<double>(Stats.VideoSize) / 1024,
                   static_cast<double>(Stats.AudioSize) / 1024,
                   static_cast<double>(Stats.ExtraSize) / 1024,
                   (static_cast<double>(size) - raw) * 100 / raw}));
  }
}

void TCustomFFmpeg::DoVideoStats(OutputStream& output, int frameSize) {
  if (!Stats.VstatsFile) {
    const std::string name = Stats.VstatsFileName.value_or("");
    Stats.VstatsFile = MyUtilApi.my_fopen(name.c_str(), "w");
    if (!Stats.VstatsFile) throw FFMpegException("fopen fail: " + name);
  }
  const AVCodecContext* enc = output.Encoder;
  if (enc->codec_type != AVMEDIA_TYPE_VIDEO) return;
  FILE* file = Stats.VstatsFile;
  MyUtilApi.my_fprintf(file, "frame= %5d q= %2.1f ", output.FrameNumber,
                       static_cast<double>(output.Coded.Quality) / FF_QP2LAMBDA);
  if (enc->flags & AV_CODEC_FLAG_PSNR)
    MyUtilApi.my_fprintf(file, "PSNR= %6.2f ",
                         PlanePsnr(static_cast<double>(output.Coded.Error[0]),
                                   static_cast<double>(enc->width) * enc->height * 255.0 * 255.0));
  MyUtilApi.my_fprintf(file, "f_size= %6d ", frameSize);
  const double timeBase = av_q2d(enc->time_base);
  const double time = std::max(SmallestOutputTime, static_cast<double>(output.SyncOpts) * timeBase);
  const double bitRate = frameSize * 8 / timeBase / 1000;
  const double average = static_cast<double>(Stats.VideoSize) * 8 / time / 1000;
  MyUtilApi.my_fprintf(file, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
                       static_cast<double>(Stats.VideoSize) / 1024, time, bitRate, average);
  MyUtilApi.my_fprintf(
      file, "type= %c\n",
      AVUtilApi.av_get_picture_type_char(static_cast<AVPictureType>(output.Coded.PictureType)));
}
