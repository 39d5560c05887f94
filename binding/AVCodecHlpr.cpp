#include "AVCodecHlpr.h"

#include "VersionedName.h"

TAVCodecEntries AVCodecApi;

TLibBinding& AVCodecHlpr::Unit() {
  static TLibBinding unit(VersionedName("libavcodec", LIBAVCODEC_VERSION_MAJOR), "libavcodec.so",
                          {TAVRELLE_AVCODEC_ENTRIES(TAVRELLE_ENTRY_SLOT, AVCodecApi)});
  return unit;
}
