#include "LibraryLock.h"

std::recursive_mutex& LibraryLock() {
  static std::recursive_mutex lock;
  return lock;
}
