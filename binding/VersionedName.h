#pragma once
#include <string>

// The installed soname of a library: "libavcodec" with major 59 gives
// "libavcodec.so.59".
inline std::string VersionedName(const char* base, int major) {
  return std::string(base) + ".so." + std::to_string(major);
}
