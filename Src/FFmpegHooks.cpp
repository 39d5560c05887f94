// The frame hooks of the video path: before any output sees a decoded
// picture, the application's custom hook gets it as a bitmap, or the hook
// modules run on it (every picture, the pictures the before-hook handler
// lets through, or those inside the hook ranges). Both work on a copy that
// then replaces the decoded picture for every output.
#include <algorithm>
#include <exception>

#include "FFmpeg.h"
#include "binding/AVUtilHlpr.h"
#include "binding/SwScaleHlpr.h"
#include "platform/Format.h"

namespace {
// Gives frame a writable buffer of that format and size, reusing the one it
// has when nobody else still refers to it.
bool ReadyPictureBuffer(AVFrame* frame, int format, int width, int height) {
  if (frame->buf[0] && frame->format == format && frame->width == width && frame->height == height)
    return AVUtilApi.av_frame_make_writable(frame) >= 0;
  AVUtilApi.av_frame_unref(frame);
  frame->format = format;
  frame->width = width;
  frame->height = height;
  return AVUtilApi.av_frame_get_buffer(frame, 0) >= 0;
}

const char* MessageOf(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown exception";
  }
}
}  // namespace

void TCustomFFmpeg::SetHookRanges(std::vector<THookRange> ranges) {
  std::stable_sort(ranges.begin(), ranges.end(),
                   [](const THookRange& a, const THookRange& b) { return a.EndUs < b.EndUs; });
  Hooks.HookRanges = std::move(ranges);
  Hooks.HookRangeCount = static_cast<int>(Hooks.HookRanges.size());
  Hooks.HookRangeIndex = 0;
}

std::unique_ptr<TBitmap24> TCustomFFmpeg::CreateHookBitmap(int width, int height) {
  return std::make_unique<TBitmap24>(width, height);
}

void TCustomFFmpeg::PreProcessVideoFrame(InputStream& input, AVFrame* picture) {
  ++Hooks.HookFrameCounter;
  const int64_t pts = input.Pts;
  if (!OnJobCustomHook && Hooks.VideoHookUsed) DecideHookModules(pts);
  if (Video.Deinterlace && !DeinterlacePicture(picture)) Log(0, "Deinterlacing failed.");
  const bool modulesRun = !OnJobCustomHook && Hooks.VideoHookUsed && Hooks.HookAction == haContinue;
  if (!OnJobCustomHook && !modulesRun) return;
  AVFrame* working = HookWorkingCopy(picture);
  if (!working) {
    Log(0, "hook buf malloc error.");
    return;
  }
  if (OnJobCustomHook)
    RunCustomHook(working, pts);
  else
    RunHookModules(working, pts);
  if (!HandOnHookedPicture(picture, working)) Log(0, "hook buf malloc error.");
}

// The before-hook handler decides, or else the hook ranges; the decision
// stays as it was when neither is there.
void TCustomFFmpeg::DecideHookModules(int64_t pts) {
  if (OnJobBeforeHook) {
    try {
      OnJobBeforeHook(this, pts, Hooks.HookAction);
    } catch (...) {
      Log(0, Format("Error occurs OnBeforeHook: %s", {MessageOf(std::current_exception())}));
      Hooks.HookAction = haStop;
    }
    if (Hooks.HookAction == haStop) Hooks.VideoHookUsed = false;
  } else if (!Hooks.HookRanges.empty()) {
    DecideByHookRanges(pts);
  }
}

// Ranges are sorted by end and pictures come in time order, so the search
// resumes at the range of the last hooked picture.
void TCustomFFmpeg::DecideByHookRanges(int64_t pts) {
  Hooks.HookAction = haIgnore;
  const int last = static_cast<int>(Hooks.HookRanges.size()) - 1;
  for (int index = Hooks.HookRangeIndex; index <= last; ++index) {
    const THookRange& range = Hooks.HookRanges[index];
    if (range.StartUs <= pts && pts <= range.EndUs) {
      Hooks.HookRangeIndex = index;
      Hooks.HookAction = haContinue;
      return;
    }
    if (index == last && range.EndUs < pts) {
      Hooks.HookAction = haStop;
      Hooks.VideoHookUsed = false;
    }
  }
}

// The decoded (or deinterlaced) picture copied into the job's own buffer;
// nullptr when there is no memory for it.
AVFrame* TCustomFFmpeg::HookWorkingCopy(const AVFrame* picture) {
  if (!Hooks.HookBuffer) Hooks.HookBuffer = AVUtilApi.av_frame_alloc();
  AVFrame* working = Hooks.HookBuffer;
  if (!working || !ReadyPictureBuffer(working, picture->format, picture->width, picture->height))
    return nullptr;
  AVUtilApi.av_image_copy(working->data, working->linesize,
                          const_cast<const uint8_t**>(picture->data), picture->linesize,
                          static_cast<AVPixelFormat>(picture->format), picture->width,
                          picture->height);
  return working;
}

void TCustomFFmpeg::RunCustomHook(AVFrame* working, int64_t pts) {
  const int width = working->width;
  const int height = working->height;
  PrepareHookBitmap(width, height);
  AVFrame* rgb = HookRgbPicture(working);
  bool stop = !rgb;
  if (rgb) {
    TBitmap24& bitmap = *Hooks.HookBitmap;
    bitmap.CopyPixelsFrom(rgb->data[0], rgb->linesize[0], width, height);
    bool update = true;
    {
      TCanvasGuard canvas(bitmap);
      try {
        OnJobCustomHook(this, &bitmap, Hooks.HookFrameCounter, pts, update, stop);
      } catch (...) {
        Log(0, Format("Error occurs OnCustomHook: %s", {MessageOf(std::current_exception())}));
        update = false;
      }
    }
    if (update) {
      bitmap.CopyPixelsTo(rgb->data[0], rgb->linesize[0], width, height);
      if (rgb != working && !ConvertFromHookRgb(rgb, working)) stop = true;
    }
  }
  if (stop) SwitchOffHooks();
}

// The bitmap has the size of the picture it shows: a decoder that changes
// its picture size gets a bitmap of the new size.
void TCustomFFmpeg::PrepareHookBitmap(int width, int height) {
  if (!Hooks.HookBitmap) {
    Hooks.HookBitmap = CreateHookBitmap(width, height);
    return;
  }
  TBitmap24& bitmap = *Hooks.HookBitmap;
  if (bitmap.Width() == width && bitmap.Height() == height) return;
  {
    TCanvasGuard canvas(bitmap);
    bitmap.SetSize(width, height);
  }
  Log(1, Format("The hook bitmap follows the picture size: %dx%d", {width, height}));
}

// The working picture in the hook's format: itself when it already has that
// format, else converted; nullptr when no converter can be had.
AVFrame* TCustomFFmpeg::HookRgbPicture(AVFrame* working) {
  if (working->format == Hooks.HookRgbFormat) return working;
  const int width = working->width;
  const int height = working->height;
  Hooks.ToRgbContext = SwScaleApi.sws_getCachedContext(
      Hooks.ToRgbContext, width, height, static_cast<AVPixelFormat>(working->format), width, height,
      Hooks.HookRgbFormat, SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!Hooks.HookRgbBuffer) Hooks.HookRgbBuffer = AVUtilApi.av_frame_alloc();
  AVFrame* rgb = Hooks.HookRgbBuffer;
  if (!Hooks.ToRgbContext) {
    Log(0, "Cannot initialize the toRGB conversion context");
    return nullptr;
  }
  if (!rgb || !ReadyPictureBuffer(rgb, Hooks.HookRgbFormat, width, height)) {
    Log(0, "hook buf malloc error.");
    return nullptr;
  }
  SwScaleApi.sws_scale(Hooks.ToRgbContext, working->data, working->linesize, 0, height, rgb->data,
                       rgb->linesize);
  return rgb;
}

bool TCustomFFmpeg::ConvertFromHookRgb(AVFrame* rgb, AVFrame* working) {
  Hooks.FromRgbContext = SwScaleApi.sws_getCachedContext(
      Hooks.FromRgbContext, rgb->width, rgb->height, Hooks.HookRgbFormat, working->width,
      working->height, static_cast<AVPixelFormat>(working->format), SWS_BICUBIC, nullptr, nullptr,
      nullptr);
  if (!Hooks.FromRgbContext) {
    Log(0, "Cannot initialize the fromRGB conversion context");
    return false;
  }
  SwScaleApi.sws_scale(Hooks.FromRgbContext, rgb->data, rgb->linesize, 0, rgb->height,
                       working->data, working->linesize);
  return true;
}

void TCustomFFmpeg::RunHookModules(AVFrame* working, int64_t pts) {
  FrameHookPicture picture{};
  for (int plane = 0; plane < 4; ++plane) {
    picture.data[plane] = working->data[plane];
    picture.linesize[plane] = working->linesize[plane];
  }
  ProcessFrameHooks(Hooks.HookList, picture, working->format, working->width, working->height, pts);
}

// The decoded picture keeps its properties and takes the processed pixels.
// The outputs hold a reference of their own, so the copy stays valid for
// every one of them and for a filter chain that keeps pictures.
bool TCustomFFmpeg::HandOnHookedPicture(AVFrame* picture, AVFrame* working) {
  if (!Hooks.HookedPicture) Hooks.HookedPicture = AVUtilApi.av_frame_alloc();
  AVFrame* hooked = Hooks.HookedPicture;
  if (!hooked || AVUtilApi.av_frame_ref(hooked, working) < 0) return false;
  if (AVUtilApi.av_frame_copy_props(hooked, picture) < 0) {
    AVUtilApi.av_frame_unref(hooked);
    return false;
  }
  AVUtilApi.av_frame_unref(picture);
  AVUtilApi.av_frame_move_ref(picture, hooked);
  return true;
}

void TCustomFFmpeg::SwitchOffHooks() {
  OnJobCustomHook = nullptr;
  Hooks.HookAction = haStop;
  Hooks.VideoHookUsed = false;
}

void TCustomFFmpeg::ReleaseHookState() {
  ReleaseFrameHooks(Hooks.HookList);
  AVUtilApi.av_frame_free(&Hooks.HookBuffer);
  AVUtilApi.av_frame_free(&Hooks.HookRgbBuffer);
  AVUtilApi.av_frame_free(&Hooks.HookedPicture);
  SwScaleApi.sws_freeContext(Hooks.ToRgbContext);
  Hooks.ToRgbContext = nullptr;
  SwScaleApi.sws_freeContext(Hooks.FromRgbContext);
  Hooks.FromRgbContext = nullptr;
  Hooks.HookBitmap.reset();
}
