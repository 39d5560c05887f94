#pragma once
// The two log-level scales: the engine's numeric levels -1 (quiet) to 3
// (everything) and the libraries' AV_LOG_* values.
#include <atomic>

// The highest engine level the library log relay lets through. Set from the
// library level once the libraries are loaded, and whenever the log level
// changes.
extern std::atomic<int> LogFilterLevel;

// AV_LOG_QUIET for -1, AV_LOG_ERROR for 0 (errors and warnings are both
// relayed at 0), AV_LOG_INFO for 1, AV_LOG_DEBUG for 2, AV_LOG_TRACE above.
int LibraryLogLevel(int engineLevel);

// A library message level on the engine's scale: PANIC to WARNING 0, INFO and
// VERBOSE 1, DEBUG 2, TRACE 3; QUIET -1.
int EngineLogLevel(int libraryLevel);

// Reads the library's current level into LogFilterLevel.
void RefreshLogFilterLevel();
