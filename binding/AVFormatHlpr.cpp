#include "AVFormatHlpr.h"

#include "VersionedName.h"

TAVFormatEntries AVFormatApi;

TLibBinding& AVFormatHlpr::Unit() {
  static TLibBinding unit(VersionedName("libavformat", LIBAVFORMAT_VERSION_MAJOR), "libavformat.so",
                          {TAVRELLE_AVFORMAT_ENTRIES(TAVRELLE_ENTRY_SLOT, AVFormatApi)});
  return unit;
}
