#include "LibraryLoader.h"

#include <array>
#include <mutex>

#include "binding/AVCodecHlpr.h"
#include "binding/AVFilterHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "binding/LogLevels.h"
#include "binding/MyUtilHlpr.h"
#include "binding/SwResampleHlpr.h"
#include "binding/SwScaleHlpr.h"
#include "platform/Environment.h"

namespace {
struct TLoadState {
  std::mutex Lock;
  bool Loaded = false;
  std::string Error;
};

TLoadState& State() {
  static TLoadState state;
  return state;
}

struct TLoadStep {
  TLibBinding& (*Unit)();
  bool Register;
};

// Binding order decides which failure is reported: the first one only.
const std::array<TLoadStep, 7> LoadOrder{{
    {AVCodecHlpr::Unit, true},
    {AVFilterHlpr::Unit, true},
    {AVFormatHlpr::Unit, true},
    {AVUtilHlpr::Unit, false},
    {SwScaleHlpr::Unit, false},
    {SwResampleHlpr::Unit, false},
    {MyUtilHlpr::Unit, false},
}};

void UnloadAllLocked(TLoadState& state) {
  state.Loaded = false;
  for (const TLoadStep& step : LoadOrder) step.Unit().UnloadLib();
}
}  // namespace

bool LoadAllLibraries(const std::string& folder, bool versioned) {
  TLoadState& state = State();
  std::lock_guard guard(state.Lock);
  if (state.Loaded) return true;
  state.Error.clear();
  bool ok = true;
  for (const TLoadStep& step : LoadOrder) {
    ok = step.Unit().BindLib(state.Error, folder, versioned, step.Register);
    if (!ok) break;
  }
  state.Loaded = ok;
  if (ok)
    RefreshLogFilterLevel();
  else
    UnloadAllLocked(state);
  return ok;
}

void UnloadAllLibraries() {
  TLoadState& state = State();
  std::lock_guard guard(state.Lock);
  UnloadAllLocked(state);
}

bool LibrariesLoaded() {
  TLoadState& state = State();
  std::lock_guard guard(state.Lock);
  return state.Loaded;
}

std::string LoadAllError() {
  TLoadState& state = State();
  std::lock_guard guard(state.Lock);
  return state.Error;
}

std::string LibraryFolderBesideExecutable() {
  return IncludeTrailingPathDelimiter(ExecutableFolder()) + "lib";
}
