#include "SwResampleHlpr.h"

#include "VersionedName.h"

TSwResampleEntries SwResampleApi;

TLibBinding& SwResampleHlpr::Unit() {
  static TLibBinding unit(VersionedName("libswresample", LIBSWRESAMPLE_VERSION_MAJOR),
                          "libswresample.so",
                          {TAVRELLE_SWRESAMPLE_ENTRIES(TAVRELLE_ENTRY_SLOT, SwResampleApi)});
  return unit;
}
