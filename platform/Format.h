#pragma once
// Message formatting for log texts and exception messages. Directives:
//   %d  32- or 64-bit integer      %s  text        %%  a percent sign
//   %x  hexadecimal integer        %u  unsigned integer
//   %f  fixed point, two decimals unless a precision is given ("%2.2f")
// with optional "-" (left-justify), width and ".precision". A directive
// without a matching argument is copied unchanged.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <variant>

class TFormatArg {
 public:
  TFormatArg(int value) : value_(static_cast<int64_t>(value)) {}
  TFormatArg(unsigned value) : value_(static_cast<int64_t>(value)) {}
  TFormatArg(long value) : value_(static_cast<int64_t>(value)) {}
  TFormatArg(long long value) : value_(static_cast<int64_t>(value)) {}
  TFormatArg(unsigned long value) : value_(static_cast<int64_t>(value)) {}
  TFormatArg(double value) : value_(value) {}
  TFormatArg(const char* value) : value_(std::string(value ? value : "")) {}
  TFormatArg(std::string value) : value_(std::move(value)) {}

  const std::variant<int64_t, double, std::string>& Value() const { return value_; }

 private:
  std::variant<int64_t, double, std::string> value_;
};

std::string Format(const std::string& format, std::initializer_list<TFormatArg> args);
