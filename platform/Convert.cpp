#include "Convert.h"

#include <langinfo.h>
#include <locale.h>

#include <cctype>
#include <charconv>
#include <limits>
#include <type_traits>

#include "Exception.h"
#include "Format.h"

namespace {
int DigitValue(char c, int base) {
  if (c >= '0' && c <= '9') return c - '0';
  if (base == 16 && c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (base == 16 && c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads the base prefix at pos: "$", "x" and "0x" select hexadecimal.
int ReadBase(const std::string& text, size_t& pos) {
  auto isX = [&](size_t at) { return at < text.size() && (text[at] == 'x' || text[at] == 'X'); };
  if (pos < text.size() && text[pos] == '$') {
    ++pos;
    return 16;
  }
  if (isX(pos)) {
    ++pos;
    return 16;
  }
  if (pos < text.size() && text[pos] == '0' && isX(pos + 1)) {
    pos += 2;
    return 16;
  }
  return 10;
}

template <typename T>
bool ParseInteger(const std::string& text, T& out) {
  using TUnsigned = std::make_unsigned_t<T>;
  size_t pos = 0;
  while (pos < text.size() && text[pos] == ' ') ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
  const int base = ReadBase(text, pos);
  if (pos == text.size()) return false;
  const TUnsigned signedMax = static_cast<TUnsigned>(std::numeric_limits<T>::max());
  const TUnsigned limit =
      base == 16 ? std::numeric_limits<TUnsigned>::max() : signedMax + (negative ? 1 : 0);
  TUnsigned magnitude = 0;
  for (; pos < text.size(); ++pos) {
    const int digit = DigitValue(text[pos], base);
    if (digit < 0) return false;
    if (magnitude > (limit - static_cast<TUnsigned>(digit)) / static_cast<TUnsigned>(base))
      return false;
    magnitude = magnitude * static_cast<TUnsigned>(base) + static_cast<TUnsigned>(digit);
  }
  out = static_cast<T>(negative ? TUnsigned(0) - magnitude : magnitude);
  return true;
}

size_t CopyDigits(const std::string& text, size_t pos, std::string& out) {
  size_t count = 0;
  while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
    out += text[pos++];
    ++count;
  }
  return count;
}

// Rewrites the text in the "C" notation that std::from_chars reads, or
// fails when it is not a real number with the given decimal separator.
bool NormalizeReal(const std::string& text, const std::string& separator, std::string& out) {
  size_t pos = 0;
  while (pos < text.size() && text[pos] == ' ') ++pos;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-'))
    if (text[pos++] == '-') out += '-';
  size_t digits = CopyDigits(text, pos, out);
  pos += digits;
  if (!separator.empty() && text.compare(pos, separator.size(), separator) == 0) {
    out += '.';
    pos += separator.size();
    const size_t fraction = CopyDigits(text, pos, out);
    pos += fraction;
    digits += fraction;
  }
  if (digits == 0) return false;
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    out += 'e';
    ++pos;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-'))
      if (text[pos++] == '-') out += '-';
    const size_t exponent = CopyDigits(text, pos, out);
    if (exponent == 0) return false;
    pos += exponent;
  }
  while (pos < text.size() && text[pos] == ' ') ++pos;
  return pos == text.size();
}

bool ParseReal(const std::string& text, double& out) {
  std::string normalized;
  if (!NormalizeReal(text, LocaleDecimalSeparator(), normalized)) return false;
  const char* end = normalized.data() + normalized.size();
  auto [ptr, error] = std::from_chars(normalized.data(), end, out, std::chars_format::general);
  return error == std::errc() && ptr == end;
}

[[noreturn]] void RaiseNotInteger(const std::string& text) {
  throw EConvertError(Format("'%s' is not a valid integer value", {text}));
}
}  // namespace

int StrToInt(const std::string& text) {
  int value = 0;
  if (!ParseInteger(text, value)) RaiseNotInteger(text);
  return value;
}

int64_t StrToInt64(const std::string& text) {
  int64_t value = 0;
  if (!ParseInteger(text, value)) RaiseNotInteger(text);
  return value;
}

double StrToFloat(const std::string& text) {
  double value = 0;
  if (!ParseReal(text, value))
    throw EConvertError(Format("'%s' is not a valid floating point value", {text}));
  return value;
}

int StrToIntDef(const std::string& text, int fallback) {
  int value = 0;
  return ParseInteger(text, value) ? value : fallback;
}

double StrToFloatDef(const std::string& text, double fallback) {
  double value = 0;
  return ParseReal(text, value) ? value : fallback;
}

std::string LocaleDecimalSeparator() {
  locale_t user = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(nullptr));
  if (!user) user = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr));
  if (!user) return ".";
  std::string separator = nl_langinfo_l(RADIXCHAR, user);
  freelocale(user);
  return separator.empty() ? "." : separator;
}
