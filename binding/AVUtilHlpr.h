#pragma once
// Entry table of libavutil.so. Grows as the engine needs more of the library.
#include "LibBinding.h"

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libavutil/time.h>
}

#define TAVRELLE_AVUTIL_ENTRIES(X, T) \
  X(T, av_log_set_callback)           \
  X(T, av_log_get_level)              \
  X(T, av_log_set_level)              \
  X(T, av_log)                        \
  X(T, av_rescale_q)                  \
  X(T, av_dict_get)                   \
  X(T, av_dict_set)                   \
  X(T, av_dict_free)                  \
  X(T, av_strerror)                   \
  X(T, av_frame_alloc)                \
  X(T, av_frame_free)                 \
  X(T, av_frame_get_buffer)           \
  X(T, av_frame_make_writable)        \
  X(T, av_channel_layout_default)     \
  X(T, av_channel_layout_copy)        \
  X(T, av_log_default_callback)       \
  X(T, av_opt_find)                   \
  X(T, av_opt_set)                    \
  X(T, av_opt_get)                    \
  X(T, av_opt_get_int)                \
  X(T, av_opt_next)                   \
  X(T, av_opt_free)                   \
  X(T, av_free)                       \
  X(T, av_mallocz)                    \
  X(T, av_parse_time)                 \
  X(T, av_parse_video_rate)           \
  X(T, av_parse_video_size)           \
  X(T, av_get_pix_fmt)                \
  X(T, av_get_pix_fmt_string)         \
  X(T, av_get_sample_fmt)             \
  X(T, av_get_sample_fmt_string)      \
  X(T, av_pix_fmt_desc_get)           \
  X(T, av_get_sample_fmt_name)        \
  X(T, av_gettime)                    \
  X(T, av_get_bytes_per_sample)       \
  X(T, av_get_packed_sample_fmt)      \
  X(T, av_sample_fmt_is_planar)       \
  X(T, av_get_picture_type_char)      \
  X(T, av_frame_ref)                  \
  X(T, av_frame_unref)                \
  X(T, av_malloc)                     \
  X(T, av_freep)                      \
  X(T, av_channel_layout_uninit)      \
  X(T, av_frame_copy_props)           \
  X(T, av_image_copy)                 \
  X(T, av_d2q)                        \
  X(T, av_get_pix_fmt_name)           \
  X(T, av_dict_copy)                  \
  X(T, av_frame_move_ref)             \
  X(T, av_strdup)                     \
  X(T, av_opt_set_bin)

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
