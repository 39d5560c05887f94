#pragma once
// Shared by the fuzz targets: the media libraries loaded once per process
// from the lib folder beside the executable, quietly.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Src/LibraryLoader.h"
#include "binding/AVUtilHlpr.h"
#include "platform/Environment.h"

inline void LoadLibrariesOnce() {
  static const bool loaded = [] {
    const std::string folder = IncludeTrailingPathDelimiter(ExecutableFolder()) + "lib";
    if (!LoadAllLibraries(folder, true)) {
      std::fprintf(stderr, "fuzz: %s\n", LoadAllError().c_str());
      std::abort();
    }
    AVUtilApi.av_log_set_level(AV_LOG_QUIET);
    return true;
  }();
  (void)loaded;
}
