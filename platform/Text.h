#pragma once
// Small text helpers shared by the engine and the component.
#include <string>

// Removes every leading and trailing character with a code up to 32 (blanks
// and control characters).
std::string Trim(const std::string& text);

bool StartsWith(const std::string& text, const std::string& prefix);
