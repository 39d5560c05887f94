#pragma once
// Entry table of libavcodec.so. Grows as the engine needs more of the library.
#include "LibBinding.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
}

#define TAVRELLE_AVCODEC_ENTRIES(X, T) \
  X(T, avcodec_descriptor_get) \
  X(T, avcodec_find_encoder_by_name) \
  X(T, avcodec_alloc_context3) \
  X(T, avcodec_open2) \
  X(T, avcodec_free_context) \
  X(T, avcodec_send_frame) \
  X(T, avcodec_receive_packet) \
  X(T, avcodec_parameters_from_context) \
  X(T, av_packet_alloc) \
  X(T, av_packet_free) \
  X(T, av_packet_unref) \
  X(T, av_packet_rescale_ts) \
  X(T, av_new_packet) \
  X(T, avcodec_find_decoder_by_name) \
  X(T, av_codec_iterate) \
  X(T, av_codec_is_encoder) \
  X(T, av_codec_is_decoder) \
  X(T, av_bsf_get_by_name)

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
