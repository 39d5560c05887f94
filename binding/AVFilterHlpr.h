#pragma once
// Entry table of libavfilter.so. Grows as the engine needs more of the library.
#include "LibBinding.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

#define TAVRELLE_AVFILTER_ENTRIES(X, T) \
  X(T, avfilter_get_by_name)            \
  X(T, avfilter_graph_alloc)            \
  X(T, avfilter_graph_free)             \
  X(T, avfilter_graph_create_filter)    \
  X(T, avfilter_graph_parse_ptr)        \
  X(T, avfilter_graph_config)           \
  X(T, avfilter_inout_alloc)            \
  X(T, avfilter_inout_free)             \
  X(T, av_buffersrc_add_frame_flags)    \
  X(T, av_buffersink_get_frame)         \
  X(T, avfilter_link)                   \
  X(T, av_buffersink_get_w)             \
  X(T, av_buffersink_get_h)             \
  X(T, av_buffersink_get_time_base)

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
struct TAVFilterEntries {
  TAVRELLE_AVFILTER_ENTRIES(TAVRELLE_DECLARE_ENTRY, _)
};
#pragma GCC diagnostic pop

extern TAVFilterEntries AVFilterApi;

namespace AVFilterHlpr {
TLibBinding& Unit();
}
