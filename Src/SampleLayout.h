#pragma once
// Moves audio samples between one interleaved buffer and one plane per
// channel. Samples are copied as whole words of their size, so the loops
// stay cheap for the usual 2-, 4- and 8-byte formats.
#include <cstdint>
#include <cstring>

namespace sample_layout {
template <typename TSample>
void Interleave(const uint8_t* const* planes, int channels, int samples, uint8_t* packed) {
  for (int channel = 0; channel < channels; ++channel) {
    const uint8_t* in = planes[channel];
    uint8_t* out = packed + channel * sizeof(TSample);
    for (int sample = 0; sample < samples; ++sample) {
      TSample value;
      std::memcpy(&value, in + sample * sizeof(TSample), sizeof value);
      std::memcpy(out + static_cast<size_t>(sample) * channels * sizeof(TSample), &value,
                  sizeof value);
    }
  }
}

template <typename TSample>
void Deinterleave(const uint8_t* packed, int channels, int samples, uint8_t* const* planes) {
  for (int channel = 0; channel < channels; ++channel) {
    const uint8_t* in = packed + channel * sizeof(TSample);
    uint8_t* out = planes[channel];
    for (int sample = 0; sample < samples; ++sample) {
      TSample value;
      std::memcpy(&value, in + static_cast<size_t>(sample) * channels * sizeof(TSample),
                  sizeof value);
      std::memcpy(out + sample * sizeof(TSample), &value, sizeof value);
    }
  }
}

// Any other sample size, byte by byte.
inline void Reorder(const uint8_t* in, int inStep, uint8_t* out, int outStep, int samples,
                    int bytes) {
  for (int sample = 0; sample < samples; ++sample)
    std::memcpy(out + static_cast<size_t>(sample) * outStep,
                in + static_cast<size_t>(sample) * inStep, bytes);
}
}  // namespace sample_layout

inline void InterleaveSamples(const uint8_t* const* planes, int channels, int samples,
                              int bytesPerSample, uint8_t* packed) {
  using namespace sample_layout;
  switch (bytesPerSample) {
    case 1:
      return Interleave<uint8_t>(planes, channels, samples, packed);
    case 2:
      return Interleave<uint16_t>(planes, channels, samples, packed);
    case 4:
      return Interleave<uint32_t>(planes, channels, samples, packed);
    case 8:
      return Interleave<uint64_t>(planes, channels, samples, packed);
    default:
      for (int channel = 0; channel < channels; ++channel)
        Reorder(planes[channel], bytesPerSample, packed + channel * bytesPerSample,
                bytesPerSample * channels, samples, bytesPerSample);
  }
}

inline void DeinterleaveSamples(const uint8_t* packed, int channels, int samples,
                                int bytesPerSample, uint8_t* const* planes) {
  using namespace sample_layout;
  switch (bytesPerSample) {
    case 1:
      return Deinterleave<uint8_t>(packed, channels, samples, planes);
    case 2:
      return Deinterleave<uint16_t>(packed, channels, samples, planes);
    case 4:
      return Deinterleave<uint32_t>(packed, channels, samples, planes);
    case 8:
      return Deinterleave<uint64_t>(packed, channels, samples, planes);
    default:
      for (int channel = 0; channel < channels; ++channel)
        Reorder(packed + channel * bytesPerSample, bytesPerSample * channels, planes[channel],
                bytesPerSample, samples, bytesPerSample);
  }
}
