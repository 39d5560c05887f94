#pragma once
// Entry table of libswresample.so. Grows as the engine needs more of the library.
#include "LibBinding.h"

extern "C" {
#include <libswresample/swresample.h>
}

#define TAVRELLE_SWRESAMPLE_ENTRIES(X, T) \
  X(T, swr_alloc_set_opts2)               \
  X(T, swr_init)                          \
  X(T, swr_convert)                       \
  X(T, swr_free)                          \
  X(T, swr_set_compensation)              \
  X(T, swr_get_delay)                     \
  X(T, swr_get_out_samples)

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
struct TSwResampleEntries {
  TAVRELLE_SWRESAMPLE_ENTRIES(TAVRELLE_DECLARE_ENTRY, _)
};
#pragma GCC diagnostic pop

extern TSwResampleEntries SwResampleApi;

namespace SwResampleHlpr {
TLibBinding& Unit();
}
