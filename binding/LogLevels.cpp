#include "LogLevels.h"

#include "AVUtilHlpr.h"

std::atomic<int> LogFilterLevel{1};

int LibraryLogLevel(int engineLevel) {
  if (engineLevel < 0) return AV_LOG_QUIET;
  switch (engineLevel) {
    case 0:
      return AV_LOG_ERROR;
    case 1:
      return AV_LOG_INFO;
    case 2:
      return AV_LOG_DEBUG;
    default:
      return AV_LOG_TRACE;
  }
}

int EngineLogLevel(int libraryLevel) {
  if (libraryLevel <= AV_LOG_QUIET) return -1;
  if (libraryLevel <= AV_LOG_WARNING) return 0;
  if (libraryLevel <= AV_LOG_VERBOSE) return 1;
  if (libraryLevel <= AV_LOG_DEBUG) return 2;
  return 3;
}

void RefreshLogFilterLevel() {
  if (AVUtilApi.av_log_get_level) LogFilterLevel = EngineLogLevel(AVUtilApi.av_log_get_level());
}
