#include "AVFilterHlpr.h"

#include "VersionedName.h"

TAVFilterEntries AVFilterApi;

TLibBinding& AVFilterHlpr::Unit() {
  static TLibBinding unit(VersionedName("libavfilter", LIBAVFILTER_VERSION_MAJOR), "libavfilter.so",
                          {TAVRELLE_AVFILTER_ENTRIES(TAVRELLE_ENTRY_SLOT, AVFilterApi)});
  return unit;
}
