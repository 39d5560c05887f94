// The video filter chain of an encoded video output. Decoded pictures enter
// a "buffer" source, pass an automatic "scale" when the output size asks for
// it and then the user's description, and leave through a "buffersink" that
// only accepts the encoder's pixel format. The chain takes over cropping and
// scaling; padding stays with the video path.
#include "FFMpegException.h"
#include "FFmpeg.h"
#include "binding/AVFilterHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "platform/Format.h"

namespace {
constexpr AVRational Microseconds{1, AV_TIME_BASE};

const char* const PadWithResizingChain =
    "Cannot enable pad options and the filters which resize frame at the same time. (crop, "
    "rotate, scale, transpose, etc.)";

bool EndOfPictures(int result) {
  return result == AVERROR(EAGAIN) || result == AVERROR_EOF;
}

AVFilterContext* CreateFilter(AVFilterGraph* graph, const char* filterName,
                              const char* instanceName, const char* arguments) {
  const AVFilter* filter = AVFilterApi.avfilter_get_by_name(filterName);
  AVFilterContext* context = nullptr;
  if (!filter || AVFilterApi.avfilter_graph_create_filter(&context, filter, instanceName, arguments,
                                                          nullptr, graph) < 0)
    return nullptr;
  return context;
}
}  // namespace

std::string PictureSourceArguments(int width, int height, int pixFmt, AVRational aspect) {
  if (aspect.num < 0 || aspect.den <= 0) aspect = AVRational{0, 1};
  return Format("video_size=%dx%d:pix_fmt=%d:time_base=1/%d:pixel_aspect=%d/%d",
                {width, height, pixFmt, AV_TIME_BASE, aspect.num, aspect.den});
}

int ParseChainBetween(AVFilterGraph* graph, AVFilterContext* source, AVFilterContext* sink,
                      const std::string& description) {
  AVFilterInOut* outputs = AVFilterApi.avfilter_inout_alloc();
  AVFilterInOut* inputs = AVFilterApi.avfilter_inout_alloc();
  int result = AVERROR(ENOMEM);
  if (outputs && inputs) {
    outputs->name = AVUtilApi.av_strdup("in");
    outputs->filter_ctx = source;
    inputs->name = AVUtilApi.av_strdup("out");
    inputs->filter_ctx = sink;
    if (outputs->name && inputs->name)
      result = AVFilterApi.avfilter_graph_parse_ptr(graph, description.c_str(), &inputs, &outputs,
                                                    nullptr);
  }
  AVFilterApi.avfilter_inout_free(&inputs);
  AVFilterApi.avfilter_inout_free(&outputs);
  return result;
}

// The chain for pictures of this size and format; the graph stays with the
// output (and is released with the tables) whether or not it could be built.
bool TCustomFFmpeg::BuildFilterChain(OutputStream& output, int width, int height, int pixFmt,
                                     AVRational aspect) {
  AVFilterApi.avfilter_graph_free(&output.FilterGraph);
  output.InVideoFilter = nullptr;
  output.OutVideoFilter = nullptr;
  output.FilterGraph = AVFilterApi.avfilter_graph_alloc();
  AVFilterGraph* graph = output.FilterGraph;
  if (!graph) return false;
  const std::string sourceArguments = PictureSourceArguments(width, height, pixFmt, aspect);
  AVFilterContext* source = CreateFilter(graph, "buffer", "src", sourceArguments.c_str());
  AVFilterContext* sink = CreateFilter(graph, "buffersink", "out", nullptr);
  if (!source || !sink) return false;
  const int encoderFormat = output.Encoder->pix_fmt;
  if (encoderFormat != AV_PIX_FMT_NONE &&
      AVUtilApi.av_opt_set_bin(sink, "pix_fmts", reinterpret_cast<const uint8_t*>(&encoderFormat),
                               sizeof encoderFormat, AV_OPT_SEARCH_CHILDREN) < 0)
    return false;
  AVFilterContext* current = source;
  if (width != output.ChainWidth || height != output.ChainHeight) {
    const std::string size = Format("%d:%d", {output.ChainWidth, output.ChainHeight});
    AVFilterContext* scale = CreateFilter(graph, "scale", "scale", size.c_str());
    if (!scale || AVFilterApi.avfilter_link(current, 0, scale, 0) < 0) return false;
    current = scale;
  }
  const int linked = Video.VideoFilters.empty()
                         ? AVFilterApi.avfilter_link(current, 0, sink, 0)
                         : ParseChainBetween(graph, current, sink, Video.VideoFilters);
  if (linked < 0 || AVFilterApi.avfilter_graph_config(graph, nullptr) < 0) return false;
  output.InVideoFilter = source;
  output.OutVideoFilter = sink;
  output.FilterWidth = width;
  output.FilterHeight = height;
  output.FilterPixFmt = pixFmt;
  return true;
}

int TCustomFFmpeg::ConfigureFilters(InputStream& input, OutputStream& output) {
  if (Video.CropLeft + Video.CropRight + Video.CropTop + Video.CropBottom != 0) {
    LastError = "Cannot enable crop options and filters at the same time.";
    return -1;
  }
  AVCodecContext* enc = output.Encoder;
  const AVCodecContext* dec = input.Decoder;
  const int padWidth = Video.PadLeft + Video.PadRight;
  const int padHeight = Video.PadTop + Video.PadBottom;
  output.ChainWidth = enc->width - padWidth;
  output.ChainHeight = enc->height - padHeight;
  if (!BuildFilterChain(output, dec->width, dec->height, dec->pix_fmt, dec->sample_aspect_ratio))
    return -1;
  const int width = AVFilterApi.av_buffersink_get_w(output.OutVideoFilter);
  const int height = AVFilterApi.av_buffersink_get_h(output.OutVideoFilter);
  // The borders are painted around a picture of the size the pads were
  // computed for.
  if (padWidth + padHeight != 0 && (width != output.ChainWidth || height != output.ChainHeight)) {
    LastError = PadWithResizingChain;
    return -1;
  }
  enc->width = width + padWidth;
  enc->height = height + padHeight;
  return 0;
}

// Takes the next picture out of the chain into PictureRef; 1, or the
// library's code (EAGAIN: the chain wants more pictures, EOF: it is drained).
int TCustomFFmpeg::GetFilteredPicture(OutputStream& output, int64_t& pts) {
  if (!output.PictureRef) output.PictureRef = AVUtilApi.av_frame_alloc();
  if (!output.PictureRef) return AVERROR(ENOMEM);
  AVFrame* picture = output.PictureRef;
  AVUtilApi.av_frame_unref(picture);
  const int result = AVFilterApi.av_buffersink_get_frame(output.OutVideoFilter, picture);
  if (result < 0) return result;
  if (picture->pts != AV_NOPTS_VALUE)
    pts = AVUtilApi.av_rescale_q(
        picture->pts, AVFilterApi.av_buffersink_get_time_base(output.OutVideoFilter), Microseconds);
  return 1;
}

// Hands the picture (none: the end of the input) to the output's chain and
// every picture the chain gives to the output. The filtered picture's time
// becomes the input's clock, which the frame-rate synchronisation follows.
int TCustomFFmpeg::PassThroughChain(InputStream& input, int inputIndex, OutputStream& output,
                                    AVFrame* picture) {
  if (picture && (picture->width != output.FilterWidth || picture->height != output.FilterHeight ||
                  picture->format != output.FilterPixFmt)) {
    // The decoder changed its pictures: what the chain holds leaves first,
    // then a chain made for the new pictures takes over.
    if (PassThroughChain(input, inputIndex, output, nullptr) < 0) return -1;
    LastError.clear();
    if (!BuildFilterChain(output, picture->width, picture->height, picture->format,
                          picture->sample_aspect_ratio))
      throw FFMpegException(LastError.empty() ? "Error opening filters!"
                                              : "Error opening filters: " + LastError);
  }
  if (AVFilterApi.av_buffersrc_add_frame_flags(output.InVideoFilter, picture,
                                               picture ? AV_BUFFERSRC_FLAG_KEEP_REF : 0) < 0)
    return -1;
  for (;;) {
    const int result = GetFilteredPicture(output, input.Pts);
    if (EndOfPictures(result)) return 0;
    if (result < 0) return -1;
    FeedOutputs(input, inputIndex, nullptr, nullptr, 0, output.PictureRef, nullptr, &output);
    AVUtilApi.av_frame_unref(output.PictureRef);
  }
}

int TCustomFFmpeg::FilterPicture(InputStream& input, int inputIndex, AVFrame* picture) {
  // Every chain gets the decoded picture's time, whatever an earlier chain
  // made of the input's clock.
  if (picture) picture->pts = input.Pts;
  for (auto& entry : Tables->OutputStreamTable) {
    OutputStream& output = *entry;
    if (output.SourceIndex != inputIndex || !output.InVideoFilter) continue;
    if (PassThroughChain(input, inputIndex, output, picture) < 0) return -1;
  }
  return 0;
}
