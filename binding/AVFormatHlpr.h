#pragma once
// Entry table of libavformat.so. Grows as the engine needs more of the library.
#include "LibBinding.h"

extern "C" {
#include <libavformat/avformat.h>
}

#define TAVRELLE_AVFORMAT_ENTRIES(X, T) \
  X(T, av_find_input_format) \
  X(T, avformat_alloc_context) \
  X(T, avformat_open_input) \
  X(T, avformat_find_stream_info) \
  X(T, avformat_close_input) \
  X(T, av_guess_sample_aspect_ratio)

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
struct TAVFormatEntries {
  TAVRELLE_AVFORMAT_ENTRIES(TAVRELLE_DECLARE_ENTRY, _)
};
#pragma GCC diagnostic pop

extern TAVFormatEntries AVFormatApi;

namespace AVFormatHlpr {
TLibBinding& Unit();
}
