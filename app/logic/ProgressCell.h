#pragma once
// The text of a running task's Status cell: "{|" followed by the
// percentage done, which the list draws as a bar. A source without a known
// duration gives "{|" alone, drawn as a moving bar.
#include <cstdint>
#include <string>

inline constexpr const char* ProgressCellPrefix = "{|";

// 0 to 100, truncated; -1 when the total is unknown (0 or less). Computed in
// 64 bits: long sources overflow a 32-bit product.
int ProgressPercent(int64_t currentMs, int64_t totalMs);
std::string ProgressCellText(int64_t currentMs, int64_t totalMs);

// True for a progress cell; percent is -1 for the moving bar.
bool ParseProgressCell(const std::string& text, int& percent);

// "1:05 left" (or "1:02:05 left") extrapolated from the time the task has
// run so far; empty until there is something to extrapolate from.
std::string RemainingTimeText(int64_t elapsedMs, int64_t currentMs, int64_t totalMs);
