#include "FrameHook.h"

#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>
#include <utility>

#include "AVUtilHlpr.h"
#include "LibBinding.h"
#include "MyUtilHlpr.h"
#include "platform/Environment.h"
#include "platform/Module.h"

namespace {
constexpr int NoWordsOrEntry = -2;
constexpr int LoadFailed = -1;
constexpr int OutOfMemory = -12;
constexpr int ConfigureRefused = -22;

// Module file names as written in the option, with their handles. File
// names differ by letter case on this system, so the lookup keeps it.
struct THookModuleCache {
  std::mutex Lock;
  std::vector<std::pair<std::string, TModuleHandle>> Modules;
};

THookModuleCache& HookModuleCache() {
  static THookModuleCache cache;
  return cache;
}

// The splitter keeps its position between calls, so one split at a time.
std::mutex& SplitLock() {
  static std::mutex lock;
  return lock;
}

// The module's folder goes in front of the search path, as for the media
// libraries. The current directory stays as it is: the loader does not look
// there for a module's dependencies, and other jobs may be resolving
// relative file names on their threads meanwhile.

TModuleHandle LoadHookModule(const std::string& fileName) {
  const std::filesystem::path file(fileName);
  if (!file.has_parent_path()) return LoadModule(fileName);
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::absolute(file.parent_path(), error);
  if (error) return LoadModule(fileName);
  PutFolderOnPath(folder.string());
  return LoadModule((folder / file.filename()).string());
}

// The cached handle, or the freshly loaded module; nullptr when it does
// not load.
TModuleHandle ModuleFor(const std::string& fileName) {
  THookModuleCache& cache = HookModuleCache();
  std::lock_guard guard(cache.Lock);
  for (const auto& [name, handle] : cache.Modules)
    if (name == fileName) return handle;
  TModuleHandle handle = LoadHookModule(fileName);
  if (!handle) {
    AVUtilApi.av_log(nullptr, AV_LOG_ERROR, "%s\n", LastModuleError().c_str());
    return nullptr;
  }
  cache.Modules.emplace_back(fileName, handle);
  return handle;
}

// A module may keep set-up state of its own beside its instances, so jobs on
// several threads take turns in Configure and Release; Process works on its
// instance's context and runs concurrently.
std::mutex& ModuleSetupLock() {
  static std::mutex lock;
  return lock;
}

int ConfigureEntry(FrameHookEntry& entry, THookWords& words) {
  std::lock_guard guard(ModuleSetupLock());
  return entry.Configure(&entry.Context, words.Count, words.Slots.data(), FrameHookMaxWords);
}

template <typename TEntryPoint>
TEntryPoint EntryOf(TModuleHandle module, const char* name) {
  return reinterpret_cast<TEntryPoint>(GetModuleEntry(module, name));
}
}  // namespace

THookWords SplitHookWords(const std::string& value) {
  THookWords words;
  words.Text.reset(new char[value.size() + 1]);
  std::memcpy(words.Text.get(), value.c_str(), value.size() + 1);
  const char* delimiter = value.find('|') != std::string::npos ? "|" : " ";
  std::lock_guard guard(SplitLock());
  char* word = MyUtilApi.my_strtok(words.Text.get(), delimiter);
  while (word && words.Count < FrameHookMaxWords) {
    words.Slots[words.Count++] = word;
    word = MyUtilApi.my_strtok(nullptr, delimiter);
  }
  return words;
}

int AddFrameHook(TFrameHookChain& chain, THookWords words) {
  if (words.Count < 1) return NoWordsOrEntry;
  const char* fileName = words.Slots[0];
  TModuleHandle module = ModuleFor(fileName);
  if (!module) return LoadFailed;
  std::unique_ptr<FrameHookEntry> entry(new (std::nothrow) FrameHookEntry);
  if (!entry) return OutOfMemory;
  entry->Configure = EntryOf<FrameHookConfigureFn>(module, "Configure");
  entry->Process = EntryOf<FrameHookProcessFn>(module, "Process");
  entry->Release = EntryOf<FrameHookReleaseFn>(module, "Release");
  if (!entry->Process) {
    AVUtilApi.av_log(nullptr, AV_LOG_ERROR, "Failed to find Process entrypoint in %s\n", fileName);
    return NoWordsOrEntry;
  }
  if (!entry->Configure && words.Count > 1) {
    AVUtilApi.av_log(nullptr, AV_LOG_ERROR, "Failed to find Configure entrypoint in %s\n",
                     fileName);
    return NoWordsOrEntry;
  }
  if (entry->Configure && ConfigureEntry(*entry, words) != 0) {
    AVUtilApi.av_log(nullptr, AV_LOG_ERROR, "Failed to Configure %s\n", fileName);
    return ConfigureRefused;
  }
  entry->Words = std::move(words);
  chain.push_back(std::move(entry));
  return 0;
}

void ProcessFrameHooks(const TFrameHookChain& chain, FrameHookPicture& picture, int pixelFormat,
                       int width, int height, int64_t pts) {
  for (const auto& entry : chain)
    entry->Process(entry->Context, &picture, pixelFormat, width, height, pts);
}

void ReleaseFrameHooks(TFrameHookChain& chain) {
  {
    std::lock_guard guard(ModuleSetupLock());
    for (auto& entry : chain)
      if (entry->Release) entry->Release(entry->Context);
  }
  chain.clear();
}
