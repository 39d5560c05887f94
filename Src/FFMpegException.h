#pragma once
// The exception the engine raises for every failure of a job; its message is
// what the component reports.
#include "platform/Exception.h"

class FFMpegException : public Exception {
 public:
  using Exception::Exception;
};
