#include "MyUtilHlpr.h"

TMyUtilEntries MyUtilApi;

TLibBinding& MyUtilHlpr::Unit() {
  static TLibBinding unit("libmyutil.so", "libmyutil.so",
                          {TAVRELLE_MYUTIL_ENTRIES(TAVRELLE_ENTRY_SLOT, MyUtilApi)});
  return unit;
}
