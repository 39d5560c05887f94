#pragma once
// Entry table of libavformat.so. Grows as the engine needs more of the library.
#include "LibBinding.h"

extern "C" {
#include <libavformat/avformat.h>
}

#define TAVRELLE_AVFORMAT_ENTRIES(X, T) \
  X(T, av_find_input_format)            \
  X(T, avformat_alloc_context)          \
  X(T, avformat_open_input)             \
  X(T, avformat_find_stream_info)       \
  X(T, avformat_close_input)            \
  X(T, av_guess_sample_aspect_ratio)    \
  X(T, avformat_alloc_output_context2)  \
  X(T, avformat_new_stream)             \
  X(T, avformat_free_context)           \
  X(T, avformat_write_header)           \
  X(T, av_interleaved_write_frame)      \
  X(T, av_write_trailer)                \
  X(T, avio_open)                       \
  X(T, avio_closep)                     \
  X(T, av_new_program)                  \
  X(T, av_program_add_stream_index)     \
  X(T, av_read_frame)                   \
  X(T, av_guess_format)                 \
  X(T, av_muxer_iterate)                \
  X(T, av_demuxer_iterate)              \
  X(T, av_dump_format)                  \
  X(T, av_sdp_create)                   \
  X(T, avio_size)                       \
  X(T, avio_seek)                       \
  X(T, av_codec_get_tag)                \
  X(T, av_codec_get_id)                 \
  X(T, av_pkt_dump_log2)                \
  X(T, av_seek_frame)                   \
  X(T, av_guess_codec)                  \
  X(T, av_filename_number_test)         \
  X(T, avio_flush)

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
