#include "ProgressCell.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

int ProgressPercent(int64_t currentMs, int64_t totalMs) {
  if (totalMs <= 0) return -1;
  const int64_t percent = currentMs * 100 / totalMs;
  return static_cast<int>(std::clamp<int64_t>(percent, 0, 100));
}

std::string ProgressCellText(int64_t currentMs, int64_t totalMs) {
  const int percent = ProgressPercent(currentMs, totalMs);
  std::string text = ProgressCellPrefix;
  if (percent >= 0) text += std::to_string(percent);
  return text;
}

bool ParseProgressCell(const std::string& text, int& percent) {
  const std::string prefix = ProgressCellPrefix;
  if (text.compare(0, prefix.size(), prefix) != 0) return false;
  percent = -1;
  const char* first = text.data() + prefix.size();
  const char* last = text.data() + text.size();
  int value = 0;
  const auto [end, error] = std::from_chars(first, last, value);
  if (error == std::errc() && end == last) percent = std::clamp(value, 0, 100);
  return true;
}

std::string RemainingTimeText(int64_t elapsedMs, int64_t currentMs, int64_t totalMs) {
  if (totalMs <= 0 || currentMs <= 0 || elapsedMs <= 0 || currentMs > totalMs) return {};
  // Double: elapsed times the remaining media time can exceed 64 bits.
  const double remainingMs = static_cast<double>(elapsedMs) *
                             static_cast<double>(totalMs - currentMs) /
                             static_cast<double>(currentMs);
  const int64_t seconds = static_cast<int64_t>(remainingMs / 1000.0 + 0.5);
  char text[48];
  if (seconds >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld left",
                  static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
                  static_cast<long long>(seconds % 60));
  else
    std::snprintf(text, sizeof text, "%lld:%02lld left", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  return text;
}
