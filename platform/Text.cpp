#include "Text.h"

namespace {
bool IsBlankOrControl(char c) {
  return static_cast<unsigned char>(c) <= 32;
}
}  // namespace

std::string Trim(const std::string& text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && IsBlankOrControl(text[first])) ++first;
  while (last > first && IsBlankOrControl(text[last - 1])) --last;
  return text.substr(first, last - first);
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}
