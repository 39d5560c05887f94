#pragma once
// Video hook modules: the words of a "vhook" value, the process-wide cache
// of loaded module files and the chain of module instances a job keeps.
//
// A module file is loaded the first time a job names it and stays loaded
// until the process ends; every naming creates an instance of its own
// through the module's "Configure". Loading and configuring may happen on
// several threads at once; a chain itself belongs to one job.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FrameHookModule.h"

// The words of one "vhook" value. The slots point into Text, which lives as
// long as the instance made from them, since a module may keep the words.
struct THookWords {
  std::unique_ptr<char[]> Text;
  std::array<char*, FrameHookMaxWords + 1> Slots{};
  int Count = 0;
};

struct FrameHookEntry {
  FrameHookConfigureFn Configure = nullptr;
  FrameHookProcessFn Process = nullptr;
  FrameHookReleaseFn Release = nullptr;
  void* Context = nullptr;
  THookWords Words;
};

using TFrameHookChain = std::vector<std::unique_ptr<FrameHookEntry>>;

// Splits at "|" when the value holds one, else at spaces; runs of the
// delimiter separate words and at most FrameHookMaxWords are taken.
THookWords SplitHookWords(const std::string& value);

// Loads (or takes from the cache) the module named by word 0, configures an
// instance with the words and appends it to the chain. 0, or -2 (no words,
// no "Process", or arguments for a module without "Configure"), -1 (the
// module does not load), -12 (no memory), -22 ("Configure" refused). The
// reason goes to the library log.
int AddFrameHook(TFrameHookChain& chain, THookWords words);

// Runs the picture through every instance of the chain in order.
void ProcessFrameHooks(const TFrameHookChain& chain, FrameHookPicture& picture, int pixelFormat,
                       int width, int height, int64_t pts);

// Releases every instance and empties the chain.
void ReleaseFrameHooks(TFrameHookChain& chain);
