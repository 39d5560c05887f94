#pragma once
// Entry table of libavcodec.so. Grows as the engine needs more of the library.
#include "LibBinding.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#define TAVRELLE_AVCODEC_ENTRIES(X, T) \
  X(T, avcodec_descriptor_get)

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
struct TAVCodecEntries {
  TAVRELLE_AVCODEC_ENTRIES(TAVRELLE_DECLARE_ENTRY, _)
};
#pragma GCC diagnostic pop

extern TAVCodecEntries AVCodecApi;

namespace AVCodecHlpr {
TLibBinding& Unit();
}
