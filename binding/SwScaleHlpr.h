#pragma once
// Entry table of libswscale.so. Grows as the engine needs more of the library.
#include "LibBinding.h"

extern "C" {
#include <libswscale/swscale.h>
}

#define TAVRELLE_SWSCALE_ENTRIES(X, T) \
  X(T, sws_scale)                      \
  X(T, sws_getContext)                 \
  X(T, sws_freeContext)                \
  X(T, sws_getCachedContext)

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
struct TSwScaleEntries {
  TAVRELLE_SWSCALE_ENTRIES(TAVRELLE_DECLARE_ENTRY, _)
};
#pragma GCC diagnostic pop

extern TSwScaleEntries SwScaleApi;

namespace SwScaleHlpr {
TLibBinding& Unit();
}
