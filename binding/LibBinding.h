#pragma once
// Run-time binding of one shared library: load it from a folder by file
// name, then resolve every entry of its table by exported name. A library is
// usable only once every entry resolved; there are no optional entries.
#include <string>
#include <vector>

#include "platform/Module.h"

// One entry of a library's table: its exported name and how to store the
// resolved address into the table.
struct TEntrySlot {
  const char* Name;
  void (*Assign)(void* address);
};

class TLibBinding {
 public:
  TLibBinding(std::string versionedFileName, std::string plainFileName,
              std::vector<TEntrySlot> entries);
  TLibBinding(const TLibBinding&) = delete;
  TLibBinding& operator=(const TLibBinding&) = delete;

  // The file name for the name mode chosen by the last BindLib.
  std::string LibFileName() const;
  bool LoadLib(const std::string& folder);
  // Resolves one export; raises Exception when the module lacks it. Does
  // nothing while the library is not loaded.
  void GetEntry(const char* name, void*& entry);
  // Loads (if needed) and resolves the whole table. ARegister is kept for
  // the callers' sake: the installed generation registers its codecs,
  // formats and filters by itself, so there is nothing to call.
  bool BindLib(std::string& error, const std::string& folder, bool versioned, bool doRegister);
  void UnloadLib();
  bool LibBound() const { return bound_; }

  const std::string& ErrorText() const { return errorText_; }
  TModuleHandle Handle() const { return module_; }

 private:
  void ResolveTable();

  std::string versionedFileName_;
  std::string plainFileName_;
  std::vector<TEntrySlot> entries_;
  TModuleHandle module_ = nullptr;
  bool versioned_ = true;
  bool bound_ = false;
  std::string errorText_;
};

// Puts a folder in front of PATH unless PATH names it already (letter case
// ignored).
void PutFolderOnPath(const std::string& folder);

// Loads AFileName from AFolder with AFolder first on "PATH" and as the
// current directory while it loads; an empty folder means the standard
// library search.
TModuleHandle LoadLibraryFrom(const std::string& folder, const std::string& fileName);

// Declares one table member typed after the installed header's declaration,
// and the slot that fills it.
#define TAVRELLE_DECLARE_ENTRY(table, name) decltype(&::name) name = nullptr;
#define TAVRELLE_ENTRY_SLOT(table, name) \
  TEntrySlot{#name,                      \
             [](void* address) { table.name = reinterpret_cast<decltype(table.name)>(address); }},
