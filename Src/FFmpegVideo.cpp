// The video path: deinterlacing of decoded pictures, and per output stream
// the frame-rate synchronisation with drops and duplicates, crop, scale,
// pad and encode.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "FFMpegException.h"
#include "FFmpeg.h"
#include "binding/AVCodecHlpr.h"
#include "binding/AVFilterHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "binding/SwScaleHlpr.h"
#include "platform/Format.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

namespace {
constexpr double DropThreshold = -1.1;
constexpr double DuplicateThreshold = 1.1;

// Bytes from one pixel to the next in each plane of the format.
std::array<int, 4> PlaneSteps(const AVPixFmtDescriptor* descriptor) {
  std::array<int, 4> steps{};
  for (int component = 0; component < descriptor->nb_components; ++component) {
    const AVComponentDescriptor& c = descriptor->comp[component];
    steps[c.plane] = std::max(steps[c.plane], c.step);
  }
  return steps;
}

bool IsChromaPlane(const AVPixFmtDescriptor* descriptor, int plane) {
  return (plane == 1 || plane == 2) && !(descriptor->flags & AV_PIX_FMT_FLAG_RGB);
}

// Moves the plane pointers of a view by rows and columns of luma pixels.
bool OffsetView(AVFrame* view, int pixFmt, int rows, int columns) {
  const AVPixFmtDescriptor* descriptor =
      AVUtilApi.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(pixFmt));
  if (!descriptor || (descriptor->flags &
                      (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_PAL)))
    return false;
  const std::array<int, 4> steps = PlaneSteps(descriptor);
  for (int plane = 0; plane < 4 && view->data[plane]; ++plane) {
    const bool chroma = IsChromaPlane(descriptor, plane);
    const int planeRows = chroma ? rows >> descriptor->log2_chroma_h : rows;
    const int planeColumns = chroma ? columns >> descriptor->log2_chroma_w : columns;
    view->data[plane] += static_cast<ptrdiff_t>(planeRows) * view->linesize[plane] +
                         static_cast<ptrdiff_t>(planeColumns) * steps[plane];
  }
  return true;
}

void FillRows(uint8_t* start, int lineSize, int bytes, int rows, uint8_t value) {
  for (int row = 0; row < rows; ++row) std::memset(start + row * lineSize, value, bytes);
}

// Paints the borders around the inner picture of each plane with the pad
// colour (luma, blue and red difference); the inside stays as it is.
void PaintPadBorders(AVFrame* picture, int top, int bottom, int left, int right,
                     const std::array<int, 3>& color) {
  const AVPixFmtDescriptor* descriptor =
      AVUtilApi.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(picture->format));
  if (!descriptor) return;
  const std::array<int, 4> steps = PlaneSteps(descriptor);
  const bool yuv = !(descriptor->flags & AV_PIX_FMT_FLAG_RGB);
  for (int plane = 0; plane < 4 && picture->data[plane]; ++plane) {
    const bool chroma = IsChromaPlane(descriptor, plane);
    const int shiftH = chroma ? descriptor->log2_chroma_h : 0;
    const int shiftW = chroma ? descriptor->log2_chroma_w : 0;
    const int step = steps[plane];
    const int height = AV_CEIL_RSHIFT(picture->height, shiftH);
    const int width = AV_CEIL_RSHIFT(picture->width, shiftW) * step;
    const int padTop = top >> shiftH;
    const int padBottom = bottom >> shiftH;
    const int padLeft = (left >> shiftW) * step;
    const int padRight = (right >> shiftW) * step;
    const uint8_t value =
        yuv && plane < 3 ? static_cast<uint8_t>(color[plane]) : static_cast<uint8_t>(0);
    uint8_t* data = picture->data[plane];
    const int lineSize = picture->linesize[plane];
    FillRows(data, lineSize, width, padTop, value);
    FillRows(data + (height - padBottom) * lineSize, lineSize, width, padBottom, value);
    for (int row = padTop; row < height - padBottom; ++row) {
      std::memset(data + row * lineSize, value, padLeft);
      std::memset(data + row * lineSize + width - padRight, value, padRight);
    }
  }
}

bool BuildDeinterlacer(TDeinterlacer& deinterlacer, const AVFrame* picture) {
  AVFilterApi.avfilter_graph_free(&deinterlacer.Graph);
  deinterlacer.Graph = AVFilterApi.avfilter_graph_alloc();
  if (!deinterlacer.Graph) return false;
  const std::string arguments =
      PictureSourceArguments(picture->width, picture->height, picture->format, AVRational{1, 1});
  if (AVFilterApi.avfilter_graph_create_filter(
          &deinterlacer.Source, AVFilterApi.avfilter_get_by_name("buffer"), "src",
          arguments.c_str(), nullptr, deinterlacer.Graph) < 0 ||
      AVFilterApi.avfilter_graph_create_filter(&deinterlacer.Sink,
                                               AVFilterApi.avfilter_get_by_name("buffersink"),
                                               "out", nullptr, nullptr, deinterlacer.Graph) < 0)
    return false;
  if (ParseChainBetween(deinterlacer.Graph, deinterlacer.Source, deinterlacer.Sink, "pp=fd") < 0 ||
      AVFilterApi.avfilter_graph_config(deinterlacer.Graph, nullptr) < 0)
    return false;
  deinterlacer.Width = picture->width;
  deinterlacer.Height = picture->height;
  deinterlacer.PixFmt = picture->format;
  return true;
}
}  // namespace

// Replaces the decoded picture by its deinterlaced form; false when the
// picture stays as decoded.
bool TCustomFFmpeg::DeinterlacePicture(AVFrame* picture) {
  TDeinterlacer& deinterlacer = Tables->Deinterlacer;
  if (!deinterlacer.Graph || deinterlacer.Width != picture->width ||
      deinterlacer.Height != picture->height || deinterlacer.PixFmt != picture->format) {
    if (!BuildDeinterlacer(deinterlacer, picture)) {
      AVFilterApi.avfilter_graph_free(&deinterlacer.Graph);
      return false;
    }
  }
  if (!deinterlacer.Output) deinterlacer.Output = AVUtilApi.av_frame_alloc();
  if (!deinterlacer.Output) return false;
  if (AVFilterApi.av_buffersrc_add_frame_flags(deinterlacer.Source, picture,
                                               AV_BUFFERSRC_FLAG_KEEP_REF) < 0 ||
      AVFilterApi.av_buffersink_get_frame(deinterlacer.Sink, deinterlacer.Output) < 0)
    return false;
  AVUtilApi.av_frame_unref(picture);
  AVUtilApi.av_frame_move_ref(picture, deinterlacer.Output);
  return true;
}

// How many times the picture is written: 0 drops it, more than 1 repeats it.
int TCustomFFmpeg::VideoFramesToWrite(OutputStream& output) {
  const double timeBase = av_q2d(output.Encoder->time_base);
  const double syncIpts = static_cast<double>(output.SyncInput->Pts - Timing.SeekTimeUs) / 1e6;
  const int method = Video.VideoSyncMethod;
  int count = 1;
  if (method > 0 || (method != 0 && timeBase > 0.001)) {
    const double behind = syncIpts / timeBase - static_cast<double>(output.SyncOpts);
    if (behind < DropThreshold)
      count = 0;
    else if (method == 2) {
      // Following the input clock never goes back to a position already
      // written: such a picture is dropped instead.
      const int64_t position = std::llrint(syncIpts / timeBase);
      if (position < output.SyncOpts)
        count = 0;
      else
        output.SyncOpts = position;
    } else if (behind > DuplicateThreshold)
      count = static_cast<int>(std::nearbyint(behind));
    if (count == 0) {
      ++Stats.FramesDrop;
      if (Diagnostics.Verbosity > 2) Log(1, "*** drop!");
    } else if (count > 1) {
      Stats.FramesDup += count - 1;
      if (Diagnostics.Verbosity > 2) Log(1, Format("*** %d dup!", {count - 1}));
    }
  } else {
    output.SyncOpts = std::llrint(syncIpts / timeBase);
  }
  return std::min(count, Timing.MaxFrames[AVMEDIA_TYPE_VIDEO] - output.FrameNumber);
}

// A decoder that changes its picture size or format mid-stream: from now on
// the scaler brings its pictures to the output size.
bool TCustomFFmpeg::AdaptToPicture(OutputStream& output, const AVFrame* picture) {
  const AVCodecContext* enc = output.Encoder;
  const int width = picture->width - Video.CropLeft - Video.CropRight;
  const int height = picture->height - Video.CropTop - Video.CropBottom;
  if (width <= 0 || height <= 0) return false;
  if (!output.TempPicture) {
    output.TempPicture = AVUtilApi.av_frame_alloc();
    if (!output.TempPicture) return false;
    output.TempPicture->format = enc->pix_fmt;
    output.TempPicture->width = enc->width;
    output.TempPicture->height = enc->height;
    if (AVUtilApi.av_frame_get_buffer(output.TempPicture, 0) < 0) return false;
  }
  output.ScaleContext = SwScaleApi.sws_getCachedContext(
      output.ScaleContext, width, height, static_cast<AVPixelFormat>(picture->format),
      enc->width - output.PadLeft - output.PadRight, enc->height - output.PadTop - output.PadBottom,
      enc->pix_fmt, Runtime.ScalerFlags, nullptr, nullptr, nullptr);
  if (!output.ScaleContext) return false;
  output.VideoResample = 1;
  output.ResampleHeight = height;
  output.SourceWidth = picture->width;
  output.SourceHeight = picture->height;
  output.SourcePixFmt = picture->format;
  return true;
}

// The picture as the encoder wants it: cropped (a view), scaled into the
// output picture, padded around.
AVFrame* TCustomFFmpeg::FormatPicture(OutputStream& output, AVFrame* picture) {
  const AVCodecContext* enc = output.Encoder;
  AVFrame* formatted = picture;
  if ((picture->width != output.SourceWidth || picture->height != output.SourceHeight ||
       picture->format != output.SourcePixFmt) &&
      !AdaptToPicture(output, picture)) {
    if (Diagnostics.ExitOnError) throw FFMpegException("error cropping picture");
    Log(0, "error cropping picture");
    return nullptr;
  }
  if (output.VideoCrop) {
    AVFrame* view = output.EncodeFrame;
    AVUtilApi.av_frame_unref(view);
    if (AVUtilApi.av_frame_ref(view, picture) < 0 ||
        !OffsetView(view, picture->format, output.TopBand, output.LeftBand)) {
      AVUtilApi.av_frame_unref(view);
      if (Diagnostics.ExitOnError) throw FFMpegException("error cropping picture");
      Log(0, "error cropping picture");
      return nullptr;
    }
    view->width = picture->width - Video.CropLeft - Video.CropRight;
    view->height = picture->height - Video.CropTop - Video.CropBottom;
    formatted = view;
  }
  if (!output.VideoPad && !output.VideoResample) return formatted;
  AVFrame* target = output.TempPicture;
  if (AVUtilApi.av_frame_make_writable(target) < 0) throw FFMpegException("av_malloc fail");
  AVFrame inner = *target;  // a view; owns nothing
  if (output.VideoPad && !OffsetView(&inner, enc->pix_fmt, output.PadTop, output.PadLeft)) {
    if (Diagnostics.ExitOnError) throw FFMpegException("error padding picture");
    Log(0, "error padding picture");
    return nullptr;
  }
  if (output.VideoResample) {
    SwScaleApi.sws_scale(output.ScaleContext, formatted->data, formatted->linesize, 0,
                         output.ResampleHeight, inner.data, inner.linesize);
  } else {
    AVUtilApi.av_image_copy(inner.data, inner.linesize,
                            const_cast<const uint8_t**>(formatted->data), formatted->linesize,
                            static_cast<AVPixelFormat>(formatted->format), formatted->width,
                            formatted->height);
  }
  if (output.VideoPad)
    PaintPadBorders(target, output.PadTop, output.PadBottom, output.PadLeft, output.PadRight,
                    Video.PadColor);
  target->interlaced_frame = picture->interlaced_frame;
  target->top_field_first = picture->top_field_first;
  if (formatted == output.EncodeFrame) AVUtilApi.av_frame_unref(output.EncodeFrame);
  return target;
}

int TCustomFFmpeg::EncodePicture(OutputStream& output, AVFrame* picture, AVFrame* input) {
  const AVCodecContext* enc = output.Encoder;
  const int optionFlags = Generic.CodecOptionContexts[AVMEDIA_TYPE_VIDEO]
                              ? Generic.CodecOptionContexts[AVMEDIA_TYPE_VIDEO]->flags
                              : enc->flags;
  picture->interlaced_frame = input->interlaced_frame;
  if (optionFlags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME))
    picture->top_field_first =
        Video.TopFieldFirst == -1 ? input->top_field_first : Video.TopFieldFirst;
  const InputStream& source = *Tables->InputStreamTable[output.SourceIndex];
  const float ownQuality =
      FileStreams.Outputs[output.FileIndex].Streams[output.StreamIndex].Quality;
  picture->quality =
      static_cast<int>(std::nearbyint(Video.SameQuality ? source.Quality : ownQuality));
  if (Video.MeThreshold == 0) picture->pict_type = AV_PICTURE_TYPE_NONE;
  picture->pts = output.SyncOpts;
  const int result = SendAndWritePackets(output, picture, &Stats.VideoSize);
  if (result < 0) throw FFMpegException("Video encoding failed");
  return result;
}

void TCustomFFmpeg::DoVideoOut(OutputStream& output, InputStream& /*input*/, AVFrame* picture,
                               int& frameSize) {
  frameSize = 0;
  const int count = VideoFramesToWrite(output);
  if (count <= 0) return;
  AVFrame* final = FormatPicture(output, picture);
  if (!final) return;
  for (int copy = 0; copy < count; ++copy) {
    if (copy > 0) TThread::PausePoint();
    if (StopFlag) break;
    const int written = EncodePicture(output, final, picture);
    if (written > 0) frameSize = written;
    ++output.SyncOpts;
    ++output.FrameNumber;
  }
  if (final == output.EncodeFrame) AVUtilApi.av_frame_unref(output.EncodeFrame);
}
