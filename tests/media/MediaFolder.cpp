#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "MediaGen.h"

namespace fs = std::filesystem;

namespace {
void Check(bool made, const std::string& error) {
  if (!made) throw std::runtime_error(error);
}
}  // namespace

TMediaFolder::TMediaFolder(const std::string& prefix) {
  static int counter = 0;
  const fs::path folder = fs::temp_directory_path() / (prefix + "-" + std::to_string(::getpid()) +
                                                       "-" + std::to_string(counter++));
  fs::remove_all(folder);
  fs::create_directories(folder);
  path_ = folder.string();
}

TMediaFolder::~TMediaFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string TMediaFolder::FilePath(const std::string& name) const {
  return (fs::path(path_) / name).string();
}

std::string TMediaFolder::Clip(TMediaKind kind) {
  const TMediaKindInfo& info = MediaKindInfo(kind);
  return Clip(std::string(info.Name) + info.Extension, kind, TMediaOptions{});
}

std::string TMediaFolder::Clip(const std::string& name, TMediaKind kind,
                               const TMediaOptions& options) {
  const std::string fileName = FilePath(name);
  std::string error;
  if (!fs::exists(fileName)) Check(MakeMedia(kind, fileName, options, error), error);
  return fileName;
}

std::string TMediaFolder::Truncated(const std::string& name, const std::string& source,
                                    int64_t byteCount) {
  const std::string fileName = FilePath(name);
  std::string error;
  Check(MakeTruncatedCopy(source, fileName, byteCount, error), error);
  return fileName;
}

std::string TMediaFolder::Random(const std::string& name, int64_t byteCount, uint32_t seed) {
  const std::string fileName = FilePath(name);
  std::string error;
  Check(MakeRandomFile(fileName, byteCount, seed, error), error);
  return fileName;
}

std::string TMediaFolder::Empty(const std::string& name) {
  const std::string fileName = FilePath(name);
  std::string error;
  Check(MakeEmptyFile(fileName, error), error);
  return fileName;
}
