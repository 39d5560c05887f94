#pragma once
// The platform's assertion failure: a checked precondition that does not
// hold raises EAssertionFailed with the caller's text.
#include <string>

#include "Exception.h"

class EAssertionFailed : public Exception {
 public:
  using Exception::Exception;
};

inline void Assert(bool condition, const std::string& message) {
  if (!condition) throw EAssertionFailed(message);
}
