#pragma once
// Shared-object loading: a thin layer over dlopen/dlsym that remembers the
// loader's last message per thread, as the system's error text for a failed
// load or lookup.
#include <string>

using TModuleHandle = void*;

// Loads a shared object with every symbol resolved at once (RTLD_NOW).
// A name without a slash goes through the standard library search.
TModuleHandle LoadModule(const std::string& fileName);

// The address of an exported symbol, or nullptr when the module lacks it.
void* GetModuleEntry(TModuleHandle module, const char* name);

void FreeModule(TModuleHandle module);

// The loader's message for the last failed LoadModule or GetModuleEntry of
// the calling thread.
std::string LastModuleError();
