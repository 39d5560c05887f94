// Hook modules: the words of a "vhook" value, loading and configuring with
// their failure numbers and log lines, several instances of one module, and
// the release of a job's chain.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <mutex>
#include <thread>

#include "EngineTestSupport.h"
#include "Src/FFMpegException.h"
#include "binding/FrameHook.h"
#include "fixtures/hook_probe.h"
#include "platform/Module.h"

namespace {
std::string HookFixture(const std::string& name) {
  return IncludeTrailingPathDelimiter(ExecutableFolder()) + "fixtures/hooks/" + name;
}

// The library's log lines without context at error level or above.
class TLibraryLogCapture {
 public:
  TLibraryLogCapture() {
    Lines().clear();
    AVUtilApi.av_log_set_callback(&Collect);
  }
  ~TLibraryLogCapture() { AVUtilApi.av_log_set_callback(AVUtilApi.av_log_default_callback); }
  static std::vector<std::string>& Lines() {
    static std::vector<std::string> lines;
    return lines;
  }

 private:
  static void Collect(void* context, int level, const char* format, va_list arguments) {
    if (context || level > AV_LOG_ERROR) return;
    char text[1024];
    vsnprintf(text, sizeof text, format, arguments);
    std::lock_guard guard(Lock());
    Lines().push_back(text);
  }
  static std::mutex& Lock() {
    static std::mutex lock;
    return lock;
  }
};

// The probe module's record of its calls, cleared for each test.
ProbeState& Probe() {
  static TModuleHandle module = LoadModule(HookFixture("hook_probe.so"));
  auto* state = static_cast<ProbeState*>(GetModuleEntry(module, "probe_state"));
  if (!state) throw std::runtime_error("probe module: " + LastModuleError());
  return *state;
}

class HookModuleTest : public ::testing::Test {
 protected:
  void SetUp() override { std::memset(&Probe(), 0, sizeof(ProbeState)); }
  TRecordingJob job;
};

std::vector<std::string> WordsOf(const THookWords& words) {
  return {words.Slots.begin(), words.Slots.begin() + words.Count};
}

std::string ManyWords(int count) {
  std::string value = HookFixture("hook_probe.so");
  for (int word = 1; word < count; ++word) value += " w" + std::to_string(word);
  return value;
}
}  // namespace

TEST(HookWords, SplitAtBarsWhenThereIsOneElseAtSpaces) {
  struct TCase {
    const char* Value;
    std::vector<std::string> Words;
  };
  const TCase cases[] = {
      {"m.so a b", {"m.so", "a", "b"}},
      {"  m.so   a  b ", {"m.so", "a", "b"}},
      {"m.so|big text|  spaced ", {"m.so", "big text", "  spaced "}},
      {"|m.so||a|", {"m.so", "a"}},
      {"   ", {}},
      {"||", {}},
      {"", {}},
  };
  for (const TCase& c : cases) {
    const THookWords words = SplitHookWords(c.Value);
    EXPECT_EQ(WordsOf(words), c.Words) << "'" << c.Value << "'";
    EXPECT_EQ(words.Slots[words.Count], nullptr);
  }
}

TEST(HookWords, TakeAtMost63) {
  const THookWords words = SplitHookWords(ManyWords(70));
  ASSERT_EQ(words.Count, 63);
  EXPECT_STREQ(words.Slots[62], "w62");
  EXPECT_EQ(words.Slots[63], nullptr);
}

struct TFailureCase {
  const char* Name;
  std::string Value;
  int Result;
  std::string LogLine;  // "" none; "*" the loader's message
};

class HookModuleFailure : public HookModuleTest,
                          public ::testing::WithParamInterface<TFailureCase> {};

TEST_P(HookModuleFailure, GivesItsNumberLogLineAndOptionMessage) {
  const TFailureCase& c = GetParam();
  TLibraryLogCapture log;
  TFrameHookChain chain;
  EXPECT_EQ(AddFrameHook(chain, SplitHookWords(c.Value)), c.Result);
  EXPECT_TRUE(chain.empty());
  if (c.LogLine.empty()) {
    EXPECT_TRUE(TLibraryLogCapture::Lines().empty());
  } else if (c.LogLine == "*") {
    ASSERT_EQ(TLibraryLogCapture::Lines().size(), 1u);
    const std::string& line = TLibraryLogCapture::Lines()[0];
    EXPECT_NE(line.find("absent.so"), std::string::npos) << line;
    EXPECT_EQ(line.back(), '\n');
  } else {
    EXPECT_EQ(TLibraryLogCapture::Lines(), std::vector<std::string>{c.LogLine});
  }
  try {
    job.SetOption("vhook", c.Value);
    ADD_FAILURE() << "no exception";
  } catch (const FFMpegException& error) {
    EXPECT_EQ(std::string(error.what()), "Failed to add video hook function: " + c.Value);
  }
  EXPECT_FALSE(job.Hooks.VideoHookUsed);
  EXPECT_TRUE(job.Hooks.HookList.empty());
  EXPECT_EQ(Probe().ConfigureCalls, 0);
}

INSTANTIATE_TEST_SUITE_P(
    , HookModuleFailure,
    ::testing::Values(TFailureCase{"NoWords", "  ", -2, ""},
                      TFailureCase{"ModuleMissing", HookFixture("absent.so"), -1, "*"},
                      TFailureCase{"NoProcess", HookFixture("hook_probe_no_process.so"), -2,
                                   "Failed to find Process entrypoint in " +
                                       HookFixture("hook_probe_no_process.so") + "\n"},
                      TFailureCase{"ArgumentsWithoutConfigure",
                                   HookFixture("hook_probe_no_configure.so") + " x", -2,
                                   "Failed to find Configure entrypoint in " +
                                       HookFixture("hook_probe_no_configure.so") + "\n"},
                      TFailureCase{"ConfigureRefuses", HookFixture("hook_probe.so") + " refuse",
                                   -22,
                                   "Failed to Configure " + HookFixture("hook_probe.so") + "\n"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(HookModuleTest, ModuleWithoutConfigureNamedAloneRunsWithoutContext) {
  job.SetOption("vhook", HookFixture("hook_probe_no_configure.so"));
  EXPECT_TRUE(job.Hooks.VideoHookUsed);
  ASSERT_EQ(job.Hooks.HookList.size(), 1u);
  EXPECT_EQ(job.Hooks.HookList[0]->Context, nullptr);
}

// Both instances share the one loaded module (and so its record) but each
// has its own context, configured with its own words.
TEST_F(HookModuleTest, SameModuleTwiceGivesTwoInstancesReleasedWithTheJob) {
  const std::string module = HookFixture("hook_probe.so");
  job.SetOption("vhook", module + " first");
  job.SetOption("vhook", module + "|second word");
  ASSERT_EQ(job.Hooks.HookList.size(), 2u);
  EXPECT_NE(job.Hooks.HookList[0]->Context, job.Hooks.HookList[1]->Context);
  EXPECT_EQ(Probe().ConfigureCalls, 2);
  EXPECT_EQ(std::string(Probe().LastWords), module + "\nsecond word\n");
  EXPECT_STREQ(job.Hooks.HookList[0]->Words.Slots[1], "first");

  uint8_t pixel = 0;
  FrameHookPicture picture{{&pixel}, {1}};
  ProcessFrameHooks(job.Hooks.HookList, picture, AV_PIX_FMT_GRAY8, 1, 1, 0);
  ProcessFrameHooks(job.Hooks.HookList, picture, AV_PIX_FMT_GRAY8, 1, 1, 40000);
  ASSERT_EQ(Probe().ProcessCalls, 4);
  EXPECT_EQ(std::vector<int>(Probe().ProcessedInstances, Probe().ProcessedInstances + 4),
            (std::vector<int>{1, 2, 1, 2}));

  job.Reset();
  EXPECT_EQ(Probe().ReleaseCalls, 2);
  EXPECT_TRUE(job.Hooks.HookList.empty());
  EXPECT_FALSE(job.Hooks.VideoHookUsed);
  TFrameHookChain empty;
  ReleaseFrameHooks(empty);
  EXPECT_EQ(Probe().ReleaseCalls, 2);
}

TEST_F(HookModuleTest, ConfigureGetsTheFirst63WordsAndTheHighestIndex) {
  job.SetOption("vhook", ManyWords(70));
  EXPECT_EQ(Probe().LastWordCount, 63);
  EXPECT_EQ(Probe().LastHighestIndex, 63);
  EXPECT_TRUE(Probe().LastSlotAfterWordsIsNull);
  const std::string words = Probe().LastWords;
  EXPECT_NE(words.find("\nw62\n"), std::string::npos);
  EXPECT_EQ(words.find("w63"), std::string::npos);
}

// Jobs set up on several threads at once name a module not loaded yet.
TEST_F(HookModuleTest, JobsOnSeveralThreadsShareOneLoad) {
  const std::string module =
      IncludeTrailingPathDelimiter(ExecutableFolder()) + "fixtures/hooks/./hook_probe.so";
  std::vector<std::unique_ptr<TRecordingJob>> jobs;
  for (int i = 0; i < 4; ++i) jobs.push_back(std::make_unique<TRecordingJob>());
  std::vector<std::thread> threads;
  for (auto& each : jobs)
    threads.emplace_back([&module, job = each.get()] { job->SetOption("vhook", module + " x"); });
  for (std::thread& thread : threads) thread.join();
  for (auto& each : jobs) EXPECT_EQ(each->Hooks.HookList.size(), 1u);
  EXPECT_EQ(Probe().ConfigureCalls, 4);
}

// File names differ by letter case here: another spelling is another file.
TEST_F(HookModuleTest, CacheKeepsTheLetterCaseOfFileNames) {
  job.SetOption("vhook", HookFixture("hook_probe.so"));
  TLibraryLogCapture log;
  TFrameHookChain chain;
  EXPECT_EQ(AddFrameHook(chain, SplitHookWords(HookFixture("HOOK_PROBE.so"))), -1);
  EXPECT_EQ(TLibraryLogCapture::Lines().size(), 1u);
}
