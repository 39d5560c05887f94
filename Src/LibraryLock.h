#pragma once
// The process-wide lock every job holds around each codec open and close:
// the media library's codec open and close must not run concurrently.
// Recursive, so a job may take it again while it holds it.
#include <mutex>

std::recursive_mutex& LibraryLock();
