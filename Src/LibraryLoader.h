#pragma once
// All-or-nothing loading of every library the engine binds: the six media
// libraries and the helper run-time library, from one folder.
#include <string>

bool LoadAllLibraries(const std::string& folder, bool versioned);
// The "lib" folder beside the running executable, where programs load from.
std::string LibraryFolderBesideExecutable();
void UnloadAllLibraries();
bool LibrariesLoaded();
// The first failure of the last LoadAllLibraries that failed.
std::string LoadAllError();
