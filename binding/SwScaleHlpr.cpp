#include "SwScaleHlpr.h"

#include "VersionedName.h"

TSwScaleEntries SwScaleApi;

TLibBinding& SwScaleHlpr::Unit() {
  static TLibBinding unit(VersionedName("libswscale", LIBSWSCALE_VERSION_MAJOR), "libswscale.so",
                          {TAVRELLE_SWSCALE_ENTRIES(TAVRELLE_ENTRY_SLOT, SwScaleApi)});
  return unit;
}
