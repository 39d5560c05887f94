#include "Environment.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

std::string GetEnvironmentVariable(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value ? value : "";
}

void SetEnvironmentVariable(const std::string& name, const std::string& value) {
  setenv(name.c_str(), value.c_str(), 1);
}

std::string GetCurrentDir() {
  std::error_code error;
  auto folder = std::filesystem::current_path(error);
  return error ? std::string() : folder.string();
}

bool SetCurrentDir(const std::string& folder) {
  return chdir(folder.c_str()) == 0;
}

std::string ExecutableFolder() {
  std::error_code error;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? GetCurrentDir() : exe.parent_path().string();
}

std::string IncludeTrailingPathDelimiter(const std::string& folder) {
  if (!folder.empty() && folder.back() == PathDelimiter) return folder;
  return folder + PathDelimiter;
}
