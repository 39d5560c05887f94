#pragma once
// Process environment: variables, the current directory and where the
// running executable lives.
#include <string>

// Separator of the entries of a search-path variable such as "PATH".
inline constexpr char PathListSeparator = ':';
inline constexpr char PathDelimiter = '/';

std::string GetEnvironmentVariable(const std::string& name);
void SetEnvironmentVariable(const std::string& name, const std::string& value);

std::string GetCurrentDir();
bool SetCurrentDir(const std::string& folder);

// The folder of the running executable, without a trailing delimiter.
std::string ExecutableFolder();

std::string IncludeTrailingPathDelimiter(const std::string& folder);
