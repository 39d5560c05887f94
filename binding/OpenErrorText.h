#pragma once
#include <string>

// The message for a negative result of opening a media file, shared by the
// engine's input and output opening and by the probe.
std::string FormatOpenError(const std::string& fileName, int code);
