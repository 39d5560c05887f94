#include "Module.h"

#include <dlfcn.h>

namespace {
thread_local std::string lastError;

void RememberLoaderError() {
  const char* text = dlerror();
  lastError = text ? text : "unknown error";
}
}  // namespace

TModuleHandle LoadModule(const std::string& fileName) {
  dlerror();
  TModuleHandle module = dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
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

std::string LastModuleError() { return lastError; }
