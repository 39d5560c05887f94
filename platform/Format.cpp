#include "Format.h"

#include <cstdio>
#include <vector>

namespace {
struct TDirective {
  bool leftJustify = false;
  int width = 0;
  int precision = -1;
  char kind = 0;
};

std::string Pad(std::string text, const TDirective& d) {
  if (static_cast<int>(text.size()) >= d.width) return text;
  std::string fill(static_cast<size_t>(d.width) - text.size(), ' ');
  return d.leftJustify ? text + fill : fill + text;
}

int64_t AsInteger(const TFormatArg& arg) {
  const auto& v = arg.Value();
  if (auto i = std::get_if<int64_t>(&v)) return *i;
  if (auto f = std::get_if<double>(&v)) return static_cast<int64_t>(*f);
  return 0;
}

double AsReal(const TFormatArg& arg) {
  const auto& v = arg.Value();
  if (auto f = std::get_if<double>(&v)) return *f;
  if (auto i = std::get_if<int64_t>(&v)) return static_cast<double>(*i);
  return 0.0;
}

std::string Printf(const char* format, auto... values) {
  char buffer[64];
  int n = std::snprintf(buffer, sizeof buffer, format, values...);
  return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

std::string Render(const TDirective& d, const TFormatArg& arg) {
  const auto& v = arg.Value();
  switch (d.kind) {
    case 'd':
      if (auto s = std::get_if<std::string>(&v)) return Pad(*s, d);
      return Pad(std::to_string(AsInteger(arg)), d);
    case 'u':
      return Pad(std::to_string(static_cast<uint64_t>(AsInteger(arg))), d);
    case 'x':
      return Pad(Printf("%llx", static_cast<unsigned long long>(AsInteger(arg))), d);
    case 'f':
      return Pad(Printf("%.*f", d.precision < 0 ? 2 : d.precision, AsReal(arg)), d);
    default: {  // 's'
      if (auto s = std::get_if<std::string>(&v))
        return Pad(d.precision < 0 ? *s : s->substr(0, static_cast<size_t>(d.precision)), d);
      if (std::holds_alternative<double>(v)) return Pad(Printf("%.2f", AsReal(arg)), d);
      return Pad(std::to_string(AsInteger(arg)), d);
    }
  }
}

// Parses the directive starting after '%' at pos; returns the position after
// it, or npos when the text there is no directive.
size_t ParseDirective(const std::string& format, size_t pos, TDirective& d) {
  auto digits = [&](int& out) {
    out = 0;
    while (pos < format.size() && format[pos] >= '0' && format[pos] <= '9')
      out = out * 10 + (format[pos++] - '0');
  };
  if (pos < format.size() && format[pos] == '-') {
    d.leftJustify = true;
    ++pos;
  }
  digits(d.width);
  if (pos < format.size() && format[pos] == '.') {
    ++pos;
    digits(d.precision);
  }
  if (pos >= format.size()) return std::string::npos;
  const char kind = format[pos];
  if (kind != 'd' && kind != 's' && kind != 'f' && kind != 'x' && kind != 'u')
    return std::string::npos;
  d.kind = kind;
  return pos + 1;
}
}  // namespace

std::string Format(const std::string& format, std::initializer_list<TFormatArg> args) {
  std::string out;
  out.reserve(format.size() + 32);
  auto next = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      out += format[i];
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    TDirective d;
    size_t end = ParseDirective(format, i + 1, d);
    if (end == std::string::npos || next == args.end()) {
      out += '%';
      continue;
    }
    out += Render(d, *next++);
    i = end - 1;
  }
  return out;
}
