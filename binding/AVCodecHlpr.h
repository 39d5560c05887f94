#pragma once
// Entry table of libavcodec.so. Grows as the engine needs more of the library.
#include "LibBinding.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
}

#define TAVRELLE_AVCODEC_ENTRIES(X, T)  \
  X(T, avcodec_descriptor_get)          \
  X(T, avcodec_find_encoder_by_name)    \
  X(T, avcodec_alloc_context3)          \
  X(T, avcodec_open2)                   \
  X(T, avcodec_free_context)            \
  X(T, avcodec_send_frame)              \
  X(T, avcodec_receive_packet)          \
  X(T, avcodec_parameters_from_context) \
  X(T, av_packet_alloc)                 \
  X(T, av_packet_free)                  \
  X(T, av_packet_unref)                 \
  X(T, av_packet_rescale_ts)            \
  X(T, av_new_packet)                   \
  X(T, avcodec_find_decoder_by_name)    \
  X(T, av_codec_iterate)                \
  X(T, av_codec_is_encoder)             \
  X(T, av_codec_is_decoder)             \
  X(T, av_bsf_get_by_name)              \
  X(T, avcodec_close)                   \
  X(T, avcodec_find_encoder)            \
  X(T, avcodec_find_decoder)            \
  X(T, avcodec_send_packet)             \
  X(T, avcodec_receive_frame)           \
  X(T, avcodec_decode_subtitle2)        \
  X(T, avcodec_encode_subtitle)         \
  X(T, avsubtitle_free)                 \
  X(T, av_packet_get_side_data)         \
  X(T, av_bsf_alloc)                    \
  X(T, av_bsf_init)                     \
  X(T, av_bsf_send_packet)              \
  X(T, av_bsf_receive_packet)           \
  X(T, av_bsf_free)                     \
  X(T, avcodec_parameters_copy)         \
  X(T, av_get_bits_per_sample)          \
  X(T, av_packet_ref)                   \
  X(T, av_packet_move_ref)              \
  X(T, avcodec_get_name)                \
  X(T, avcodec_parameters_to_context)

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
