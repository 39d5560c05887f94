// tavrelle-cli: the command-line front end.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ConvertCommand.h"
#include "ConvertOptions.h"
#include "ProbeCommand.h"
#include "Src/LibraryLoader.h"
#include "binding/AVUtilHlpr.h"

namespace {
constexpr int ExitUsage = 2;
constexpr int ExitLibraries = 3;

const char* const Usage =
    "usage: tavrelle-cli probe FILE...\n"
    "       tavrelle-cli convert --profile N [options] FILE...\n"
    "       tavrelle-cli profiles [--json]\n"
    "  probe     describe each file's streams as one JSON object per line\n"
    "  convert   convert every file to one output profile (convert --help for the options)\n"
    "  profiles  list the output profiles\n";

// Loads every library from the "lib" folder beside the executable.
bool LoadLibrariesBesideExecutable() {
  const std::string folder = LibraryFolderBesideExecutable();
  if (!LoadAllLibraries(folder, true)) {
    std::fprintf(stderr, "tavrelle-cli: %s\n", LoadAllError().c_str());
    return false;
  }
  AVUtilApi.av_log_set_level(AV_LOG_ERROR);
  return true;
}
}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::fputs(Usage, args.empty() ? stderr : stdout);
    return args.empty() ? ExitUsage : 0;
  }
  const std::string command = args[0];
  args.erase(args.begin());
  if (command == "probe") {
    if (args.empty()) {
      std::fputs(Usage, stderr);
      return ExitUsage;
    }
    if (!LoadLibrariesBesideExecutable()) return ExitLibraries;
    return RunProbeCommand(args);
  }
  if (command == "convert") {
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
      std::fputs(ConvertUsage, stdout);
      return 0;
    }
    return RunConvertCommand(args);
  }
  if (command == "profiles") return RunProfilesCommand(args);
  std::fprintf(stderr, "tavrelle-cli: unknown command '%s'\n%s", command.c_str(), Usage);
  return ExitUsage;
}
