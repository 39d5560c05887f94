#pragma once
// The arguments of "tavrelle-cli convert", checked before anything starts.
#include <string>
#include <vector>

#include "Src/QvAVConverter.h"
#include "app/logic/Profiles.h"

struct TConvertSettings {
  int Profile = 0;  // 1 to 9
  std::string OutputFolder;
  bool SameFolder = false;
  TConversionOverrides Overrides;
  int Jobs = 1;                      // the start count
  std::vector<std::string> Options;  // NAME=VALUE lines of the output records
  TLogLevel LogLevel = llQuiet;      // as the window: failures still arrive with each task's end
  bool Json = false;
  std::vector<std::string> Files;
};

// Fills settings from the arguments after "convert"; false with a message
// for the user on a usage error. The output folder is made when missing and
// must be writable.
bool ParseConvertArguments(const std::vector<std::string>& args, TConvertSettings& settings,
                           std::string& error);

extern const char* const ConvertUsage;
