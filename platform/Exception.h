#pragma once
// The platform's general exception class: every failure that is not one of
// the engine's own carries its message in one of these.
#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// Raised by the text-to-number conversions of the platform layer.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};
