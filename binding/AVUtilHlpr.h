#pragma once
// Entry table of libavutil.so. Grows as the engine needs more of the library.
#include "LibBinding.h"

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
}

#define TAVRELLE_AVUTIL_ENTRIES(X, T) \
  X(T, av_log_set_callback) \
  X(T, av_log_get_level) \
  X(T, av_log_set_level) \
  X(T, av_log) \
  X(T, av_rescale_q) \
  X(T, av_dict_get) \
  X(T, av_dict_set) \
  X(T, av_dict_free) \
  X(T, av_strerror)

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
struct TAVUtilEntries {
  TAVRELLE_AVUTIL_ENTRIES(TAVRELLE_DECLARE_ENTRY, _)
};
#pragma GCC diagnostic pop

extern TAVUtilEntries AVUtilApi;

namespace AVUtilHlpr {
TLibBinding& Unit();
}
