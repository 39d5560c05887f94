#pragma once
// Entry table of libmyutil.so. Grows as the engine needs more of the library.
#include "LibBinding.h"

#include "myutil/myutil.h"

#define TAVRELLE_MYUTIL_ENTRIES(X, T) \
  X(T, my_vsprintf)                   \
  X(T, my_fprintf)                    \
  X(T, my_snprintf)                   \
  X(T, my_fopen)                      \
  X(T, my_ftell)                      \
  X(T, my_fread)                      \
  X(T, my_fwrite)                     \
  X(T, my_fseek)                      \
  X(T, my_fclose)                     \
  X(T, my_strtok)                     \
  X(T, my_strtol)                     \
  X(T, my_strtod)

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
struct TMyUtilEntries {
  TAVRELLE_MYUTIL_ENTRIES(TAVRELLE_DECLARE_ENTRY, _)
};
#pragma GCC diagnostic pop

extern TMyUtilEntries MyUtilApi;

namespace MyUtilHlpr {
TLibBinding& Unit();
}
