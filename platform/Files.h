#pragma once
// File queries and small path helpers.
#include <cstdint>
#include <string>

bool FileExists(const std::string& fileName);

// Whether anything at all stands at the path: a file, a folder, a link
// (dangling ones included).
bool PathExists(const std::string& path);

// Size in bytes of an existing regular file; -1 when it does not exist or
// cannot be examined.
int64_t FileSizeOf(const std::string& fileName);

bool DeleteFile(const std::string& fileName);

// The extension with its dot ("clip.mp4" -> ".mp4"), empty when there is none.
std::string ExtractFileExt(const std::string& fileName);
