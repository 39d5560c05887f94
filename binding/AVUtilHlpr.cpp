#include "AVUtilHlpr.h"

#include "VersionedName.h"

TAVUtilEntries AVUtilApi;

TLibBinding& AVUtilHlpr::Unit() {
  static TLibBinding unit(VersionedName("libavutil", LIBAVUTIL_VERSION_MAJOR), "libavutil.so",
                          {TAVRELLE_AVUTIL_ENTRIES(TAVRELLE_ENTRY_SLOT, AVUtilApi)});
  return unit;
}
