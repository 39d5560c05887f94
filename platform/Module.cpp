#include "Module.h"

#include <dlfcn.h>

namespace {
#ifdef TAVRELLE_KEEP_MODULES_MAPPED
// Leak checking needs the globals of released libraries to stay readable:
// what they still point to is not a leak of ours.
constexpr int KeepMappedFlag = RTLD_NODELETE;
#else
constexpr int KeepMappedFlag = 0;
#endif

thread_local std::string lastError;

void RememberLoaderError() {
  const char* text = dlerror();
  lastError = text ? text : "unknown error";
}
}  // namespace

TModuleHandle LoadModule(const std::string& fileName) {
  dlerror();
  TModuleHandle module = dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL | KeepMappedFlag);
  if (!module) RememberLoaderError();
  return module;
}

void* GetModuleEntry(TModuleHandle module, const char* name) {
  dlerror();
  void* entry = dlsym(module, name);
  if (!entry) RememberLoaderError();
  return entry;
}

void FreeModule(TModuleHandle module) {
  if (module) dlclose(module);
}

std::string LastModuleError() {
  return lastError;
}
