#include "Files.h"

#include <sys/stat.h>
#include <unistd.h>

bool FileExists(const std::string& fileName) {
  struct stat info {};
  return stat(fileName.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool PathExists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

int64_t FileSizeOf(const std::string& fileName) {
  struct stat info {};
  if (stat(fileName.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return static_cast<int64_t>(info.st_size);
}

bool DeleteFile(const std::string& fileName) {
  return unlink(fileName.c_str()) == 0;
}

std::string ExtractFileExt(const std::string& fileName) {
  auto dot = fileName.find_last_of("./");
  if (dot == std::string::npos || fileName[dot] != '.') return "";
  return fileName.substr(dot);
}
