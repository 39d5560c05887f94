#include "MediaSignals.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "platform/Format.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
}

namespace {
constexpr double ToneAmplitude = 0.3;
constexpr double BaseToneHz = 440.0;
constexpr double ToneStepHz = 110.0;
constexpr int BarStepPixels = 4;

uint8_t* PlaneRow(AVFrame& frame, int plane, int row) {
  return frame.data[plane] + static_cast<ptrdiff_t>(row) * frame.linesize[plane];
}

void FillLuma(AVFrame& frame, int64_t pictureIndex) {
  const int barWidth = std::max(2, frame.width / 10);
  const int barLeft = static_cast<int>(pictureIndex * BarStepPixels % frame.width);
  for (int y = 0; y < frame.height; ++y) {
    uint8_t* row = PlaneRow(frame, 0, y);
    for (int x = 0; x < frame.width; ++x) {
      const bool inBar = x >= barLeft && x < barLeft + barWidth;
      row[x] =
          inBar ? 235 : static_cast<uint8_t>(16 + (x * 160 / frame.width + y * 40 / frame.height));
    }
  }
}

void FillChroma(AVFrame& frame) {
  const int width = (frame.width + 1) / 2;
  const int height = (frame.height + 1) / 2;
  for (int y = 0; y < height; ++y) {
    uint8_t* blue = PlaneRow(frame, 1, y);
    uint8_t* red = PlaneRow(frame, 2, y);
    for (int x = 0; x < width; ++x) {
      blue[x] = static_cast<uint8_t>(64 + x * 128 / width);
      red[x] = static_cast<uint8_t>(192 - y * 128 / height);
    }
  }
}

// Stores one sample value in [-1, 1] in the given packed sample type.
void StoreSample(AVSampleFormat format, uint8_t* slot, double value) {
  switch (format) {
    case AV_SAMPLE_FMT_U8:
    case AV_SAMPLE_FMT_U8P:
      *slot = static_cast<uint8_t>(std::lround(128 + value * 127));
      break;
    case AV_SAMPLE_FMT_S16:
    case AV_SAMPLE_FMT_S16P: {
      const int16_t sample = static_cast<int16_t>(std::lround(value * 32767));
      std::memcpy(slot, &sample, sizeof sample);
      break;
    }
    case AV_SAMPLE_FMT_S32:
    case AV_SAMPLE_FMT_S32P: {
      const int32_t sample = static_cast<int32_t>(std::lround(value * 2147483647.0));
      std::memcpy(slot, &sample, sizeof sample);
      break;
    }
    case AV_SAMPLE_FMT_FLT:
    case AV_SAMPLE_FMT_FLTP: {
      const float sample = static_cast<float>(value);
      std::memcpy(slot, &sample, sizeof sample);
      break;
    }
    default:
      std::memcpy(slot, &value, sizeof value);
      break;
  }
}

struct TSampleLayout {
  int Bytes;
  bool Planar;
};

bool LayoutOf(AVSampleFormat format, TSampleLayout& layout) {
  switch (format) {
    case AV_SAMPLE_FMT_U8:
    case AV_SAMPLE_FMT_S16:
    case AV_SAMPLE_FMT_S32:
    case AV_SAMPLE_FMT_FLT:
    case AV_SAMPLE_FMT_DBL:
      layout.Planar = false;
      break;
    case AV_SAMPLE_FMT_U8P:
    case AV_SAMPLE_FMT_S16P:
    case AV_SAMPLE_FMT_S32P:
    case AV_SAMPLE_FMT_FLTP:
    case AV_SAMPLE_FMT_DBLP:
      layout.Planar = true;
      break;
    default:
      return false;
  }
  switch (format) {
    case AV_SAMPLE_FMT_U8:
    case AV_SAMPLE_FMT_U8P:
      layout.Bytes = 1;
      break;
    case AV_SAMPLE_FMT_S16:
    case AV_SAMPLE_FMT_S16P:
      layout.Bytes = 2;
      break;
    case AV_SAMPLE_FMT_S32:
    case AV_SAMPLE_FMT_S32P:
    case AV_SAMPLE_FMT_FLT:
    case AV_SAMPLE_FMT_FLTP:
      layout.Bytes = 4;
      break;
    default:
      layout.Bytes = 8;
      break;
  }
  return true;
}
}  // namespace

void FillPicture(AVFrame& frame, int64_t pictureIndex) {
  FillLuma(frame, pictureIndex);
  FillChroma(frame);
}

bool FillTone(AVFrame& frame, int64_t firstSample, std::string& error) {
  const auto format = static_cast<AVSampleFormat>(frame.format);
  TSampleLayout layout{};
  if (!LayoutOf(format, layout)) {
    error = Format("cannot write samples of format #%d", {frame.format});
    return false;
  }
  const int channels = frame.ch_layout.nb_channels;
  for (int channel = 0; channel < channels; ++channel) {
    const double step =
        2 * std::numbers::pi * (BaseToneHz + ToneStepHz * channel) / frame.sample_rate;
    for (int i = 0; i < frame.nb_samples; ++i) {
      const double value = ToneAmplitude * std::sin(step * static_cast<double>(firstSample + i));
      uint8_t* slot = layout.Planar
                          ? frame.extended_data[channel] + i * layout.Bytes
                          : frame.extended_data[0] + (i * channels + channel) * layout.Bytes;
      StoreSample(format, slot, value);
    }
  }
  return true;
}
