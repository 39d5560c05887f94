#include "LibBinding.h"

#include <algorithm>
#include <cctype>

#include "platform/Environment.h"
#include "platform/Exception.h"
#include "platform/Format.h"

namespace {
std::string UpperCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

// Restores the current directory on every way out of a load.
class TCurrentDirGuard {
 public:
  TCurrentDirGuard() : saved_(GetCurrentDir()) {}
  ~TCurrentDirGuard() {
    if (!saved_.empty()) SetCurrentDir(saved_);
  }

 private:
  std::string saved_;
};
}  // namespace

void PutFolderOnPath(const std::string& folder) {
  const std::string path = GetEnvironmentVariable("PATH");
  if (UpperCase(path).find(UpperCase(folder)) != std::string::npos) return;
  SetEnvironmentVariable("PATH", folder + PathListSeparator + path);
}

TModuleHandle LoadLibraryFrom(const std::string& folder, const std::string& fileName) {
  if (folder.empty()) return LoadModule(fileName);
  TCurrentDirGuard restoreCurrentDir;
  SetCurrentDir(folder);
  PutFolderOnPath(folder);
  return LoadModule(IncludeTrailingPathDelimiter(folder) + fileName);
}

TLibBinding::TLibBinding(std::string versionedFileName, std::string plainFileName,
                         std::vector<TEntrySlot> entries)
    : versionedFileName_(std::move(versionedFileName)),
      plainFileName_(std::move(plainFileName)),
      entries_(std::move(entries)) {}

std::string TLibBinding::LibFileName() const {
  return versioned_ ? versionedFileName_ : plainFileName_;
}

bool TLibBinding::LoadLib(const std::string& folder) {
  if (module_) return true;
  const std::string fileName = LibFileName();
  module_ = LoadLibraryFrom(folder, fileName);
  if (module_) return true;
  errorText_ = Format("Load libraray %s error: %s", {fileName, LastModuleError()});
  return false;
}

void TLibBinding::GetEntry(const char* name, void*& entry) {
  if (!module_) return;
  entry = GetModuleEntry(module_, name);
  if (!entry)
    throw Exception(
        Format("Load function %s@%s error: %s", {name, LibFileName(), LastModuleError()}));
}

void TLibBinding::ResolveTable() {
  for (const TEntrySlot& slot : entries_) {
    void* address = nullptr;
    GetEntry(slot.Name, address);
    slot.Assign(address);
  }
}

bool TLibBinding::BindLib(std::string& error, const std::string& folder, bool versioned,
                          bool /*doRegister*/) {
  versioned_ = versioned;
  bool ok = LoadLib(folder);
  if (ok && !bound_) {
    try {
      ResolveTable();
      bound_ = true;
    } catch (const Exception& e) {
      errorText_ = e.what();
      ok = false;
    }
  }
  if (!ok) error = errorText_;
  return ok;
}

void TLibBinding::UnloadLib() {
  if (!module_) return;
  FreeModule(module_);
  module_ = nullptr;
  bound_ = false;
  // No address of the released module may stay callable.
  for (const TEntrySlot& slot : entries_) slot.Assign(nullptr);
}
