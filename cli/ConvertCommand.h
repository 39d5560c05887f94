#pragma once
// "tavrelle-cli convert" and "tavrelle-cli profiles".
#include <string>
#include <vector>

// Exit status: 0 every task finished, 1 some task failed or could not be
// set up, 2 usage error, 3 libraries not loadable, 130 stopped by Ctrl-C.
int RunConvertCommand(const std::vector<std::string>& args);
int RunProfilesCommand(const std::vector<std::string>& args);
