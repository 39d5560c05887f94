// "tavrelle-cli convert" on damaged variants of generated clips: bits
// flipped, the file cut at a random point, the header zeroed, two chunks
// swapped. Every run must end by itself with exit status 0 or 1; a failure
// names the file and says why, and no empty output is left behind.
//
// TAVRELLE_MUTATIONS sets the number of variants (default 40) and
// TAVRELLE_MUTATION_SEED the first seed (default 1); scripts/mutate.sh runs
// the long form. A variant that breaks the rule is kept in the findings
// folder printed with the failure.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "TranscodeTestSupport.h"

namespace fs = std::filesystem;

namespace {
constexpr int TimeLimitSec = 60;
constexpr int ExitKilledByTimeout = 128 + 9;

TMediaFolder& Media() {
  static TMediaFolder folder("tavrelle-mutation");
  return folder;
}

int EnvironmentNumber(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::atoi(text) : fallback;
}

using TBytes = std::vector<char>;

TBytes ReadBytes(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  return TBytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& fileName, const TBytes& bytes) {
  std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

size_t Below(std::mt19937& random, size_t bound) {
  return bound == 0 ? 0 : std::uniform_int_distribution<size_t>(0, bound - 1)(random);
}

enum TMutation { mtBitFlips, mtTruncation, mtZeroedHeader, mtSwappedChunks, mtCount };
const char* const MutationNames[] = {"bit flips", "truncation", "zeroed header", "swapped chunks"};

void Mutate(TBytes& bytes, TMutation mutation, std::mt19937& random) {
  switch (mutation) {
    case mtBitFlips:
      for (size_t flips = 1 + Below(random, 16); flips > 0; --flips)
        bytes[Below(random, bytes.size())] ^= static_cast<char>(1 << Below(random, 8));
      break;
    case mtTruncation:
      bytes.resize(Below(random, bytes.size()));
      break;
    case mtZeroedHeader:
      std::fill_n(bytes.begin(), std::min(bytes.size(), 4 + Below(random, 509)), 0);
      break;
    case mtSwappedChunks: {
      const size_t length = 16 + Below(random, bytes.size() / 4);
      const size_t first = Below(random, bytes.size() / 2 - length);
      const size_t second = bytes.size() / 2 + Below(random, bytes.size() / 2 - length);
      std::swap_ranges(bytes.begin() + first, bytes.begin() + first + length,
                       bytes.begin() + second);
      break;
    }
    default:
      break;
  }
}

struct TSource {
  TMediaKind Kind;
  int Profile;
};

// Clips of several containers, each converted with a profile of another
// family; 1 s at 160x120 keeps a run short.
const TSource Sources[] = {
    {TMediaKind::Avi, 7},      {TMediaKind::Mp4, 4},
    {TMediaKind::Matroska, 1}, {TMediaKind::TransportStream, 7},
    {TMediaKind::Mp3, 8},      {TMediaKind::Wav, 9},
    {TMediaKind::Ogg, 4},      {TMediaKind::ProgramStream, 9},
};

struct TOutcome {
  int Status = -1;  // -1: ended by a signal
  std::string Output;
  std::string Errors;
};

TOutcome ConvertVariant(const std::string& variant, int profile, const std::string& out) {
  const std::string cli = IncludeTrailingPathDelimiter(ExecutableFolder()) + "tavrelle-cli";
  const std::string errors = out + "/../stderr.txt";
  const std::string command = "timeout -s KILL " + std::to_string(TimeLimitSec) + " '" + cli +
                              "' convert --profile " + std::to_string(profile) + " --out '" + out +
                              "' '" + variant + "' 2>'" + errors + "' </dev/null";
  TOutcome outcome;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return outcome;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, pipe)) outcome.Output += buffer;
  const int status = ::pclose(pipe);
  outcome.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(errors);
  std::stringstream text;
  text << in.rdbuf();
  outcome.Errors = text.str();
  return outcome;
}

// What is wrong with one run, or an empty text.
std::string Verdict(const TOutcome& outcome, const std::string& variant, const std::string& out) {
  if (outcome.Status == ExitKilledByTimeout) return "did not end within the time limit";
  if (outcome.Status != 0 && outcome.Status != 1)
    return "exit status " + std::to_string(outcome.Status);
  for (const auto& entry : fs::directory_iterator(out))
    if (entry.is_regular_file() && entry.file_size() == 0)
      return "left an empty output " + entry.path().string();
  if (outcome.Status == 0) {
    std::string path = outcome.Output.substr(0, outcome.Output.find('\n'));
    if (path.empty() || !fs::exists(path) || fs::file_size(path) == 0)
      return "exit status 0 without a written output";
    return "";
  }
  const std::string prefix = "failed: " + variant;
  const size_t at = outcome.Errors.find(prefix);
  if (at == std::string::npos) return "exit status 1 without a failure line";
  const std::string rest = outcome.Errors.substr(at + prefix.size());
  if (rest.substr(0, rest.find('\n')).size() < 4) return "a failure line without a reason";
  return "";
}
}  // namespace

TEST(CliMutation, DamagedMediaEndWithSuccessOrAClearFailure) {
  const int count = EnvironmentNumber("TAVRELLE_MUTATIONS", 40);
  const int firstSeed = EnvironmentNumber("TAVRELLE_MUTATION_SEED", 1);
  std::vector<TBytes> originals;
  for (const TSource& source : Sources) originals.push_back(ReadBytes(Media().Clip(source.Kind)));
  const std::string findings = Media().FilePath("findings");
  fs::create_directories(findings);
  int failures = 0;
  for (int i = 0; i < count; ++i) {
    const int seed = firstSeed + i;
    const size_t pick = static_cast<size_t>(i) % std::size(Sources);
    const auto mutation = static_cast<TMutation>((i / std::size(Sources)) % mtCount);
    std::mt19937 random(static_cast<uint32_t>(seed));
    TBytes bytes = originals[pick];
    Mutate(bytes, mutation, random);
    const std::string variant = Media().FilePath("variant-" + std::to_string(seed) +
                                                 MediaKindInfo(Sources[pick].Kind).Extension);
    WriteBytes(variant, bytes);
    const std::string out = Media().FilePath("out");
    fs::remove_all(out);
    fs::create_directories(out);
    const TOutcome outcome = ConvertVariant(variant, Sources[pick].Profile, out);
    const std::string verdict = Verdict(outcome, variant, out);
    if (!verdict.empty()) {
      ++failures;
      const std::string kept = findings + "/" + fs::path(variant).filename().string();
      fs::copy_file(variant, kept, fs::copy_options::overwrite_existing);
      ADD_FAILURE() << MutationNames[mutation] << ", seed " << seed << ", profile "
                    << Sources[pick].Profile << ": " << verdict << "\nkept as " << kept
                    << "\nstderr:\n"
                    << outcome.Errors;
    }
    fs::remove(variant);
  }
  std::printf("%d variants, %d broke the rule\n", count, failures);
  if (failures > 0) {
    // Keep the findings beyond the test folder's life.
    const fs::path keep = fs::temp_directory_path() / "tavrelle-mutation-findings";
    fs::create_directories(keep);
    for (const auto& entry : fs::directory_iterator(findings))
      fs::copy_file(entry.path(), keep / entry.path().filename(),
                    fs::copy_options::overwrite_existing);
    std::printf("findings copied to %s\n", keep.string().c_str());
  }
}

// Damage that leaves a video stream of unknown picture format once stopped
// the whole program inside the scaler's set-up.
TEST(CliMutation, AVideoOfUnknownPictureFormatFailsOnlyItsTask) {
  const std::string noise = Media().FilePath("noise-video.mkv");
  std::string error;
  ASSERT_TRUE(MakeNoiseVideo(noise, 5, error)) << error;
  const std::string out = Media().FilePath("out");
  fs::remove_all(out);
  fs::create_directories(out);
  const TOutcome outcome = ConvertVariant(noise, 4, out);
  EXPECT_EQ(outcome.Status, 1) << outcome.Errors;
  EXPECT_EQ(Verdict(outcome, noise, out), "") << outcome.Errors;
}
