#include "MediaUrl.h"

#include <cctype>

namespace {
bool IsSchemeChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
}

// "scheme://": letters first, then scheme characters, then "://".
bool IsNetworkAddress(const std::string& name) {
  const size_t colon = name.find("://");
  if (colon == std::string::npos || colon == 0) return false;
  if (!std::isalpha(static_cast<unsigned char>(name[0]))) return false;
  for (size_t i = 1; i < colon; ++i)
    if (!IsSchemeChar(name[i])) return false;
  return true;
}
}  // namespace

std::string MediaUrl(const std::string& fileName) {
  const size_t colon = fileName.find(':');
  if (colon == std::string::npos) return fileName;
  const size_t slash = fileName.find('/');
  if (slash != std::string::npos && slash < colon) return fileName;
  if (IsNetworkAddress(fileName)) return fileName;
  return "./" + fileName;
}
