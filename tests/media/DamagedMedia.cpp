// Inputs no demuxer should take at face value.
#include <fstream>
#include <random>
#include <vector>

#include "MediaGen.h"
#include "platform/Files.h"
#include "platform/Format.h"

namespace {
bool WriteBytes(const std::string& fileName, const std::vector<char>& bytes, std::string& error) {
  std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (out) return true;
  error = Format("%s: cannot write the file", {fileName});
  return false;
}
}  // namespace

bool MakeTruncatedCopy(const std::string& source, const std::string& fileName, int64_t byteCount,
                       std::string& error) {
  const int64_t size = FileSizeOf(source);
  if (size < 0) {
    error = Format("%s: no such file", {source});
    return false;
  }
  if (byteCount < 0 || byteCount > size) {
    error = Format("%s: cannot cut a file of %d bytes at byte %d", {source, size, byteCount});
    return false;
  }
  std::vector<char> bytes(static_cast<size_t>(byteCount));
  std::ifstream in(source, std::ios::binary);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!in) {
    error = Format("%s: cannot read the file", {source});
    return false;
  }
  return WriteBytes(fileName, bytes, error);
}

bool MakeRandomFile(const std::string& fileName, int64_t byteCount, uint32_t seed,
                    std::string& error) {
  if (byteCount < 0) {
    error = Format("%s: a byte count cannot be negative", {fileName});
    return false;
  }
  // The generator is fully specified by the standard: the same seed gives
  // the same bytes everywhere.
  std::mt19937 generator(seed);
  std::vector<char> bytes(static_cast<size_t>(byteCount));
  for (char& byte : bytes) byte = static_cast<char>(generator() & 0xFF);
  return WriteBytes(fileName, bytes, error);
}

bool MakeEmptyFile(const std::string& fileName, std::string& error) {
  return WriteBytes(fileName, {}, error);
}
