#pragma once
// Shared by the engine's tests: the media libraries loaded once per test
// program, a reset job that keeps its log lines, and user locale settings
// with a comma as decimal separator.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Src/FFmpeg.h"
#include "Src/LibraryLoader.h"
#include "binding/AVUtilHlpr.h"
#include "binding/LogLevels.h"
#include "platform/Environment.h"

inline std::string TestLibFolder() {
  return IncludeTrailingPathDelimiter(ExecutableFolder()) + "lib";
}

class TLibrariesEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(LoadAllLibraries(TestLibFolder(), true)) << LoadAllError(); }
};

inline ::testing::Environment* const LibrariesEnvironment =
    ::testing::AddGlobalTestEnvironment(new TLibrariesEnvironment);

struct TLogLine {
  int Level;
  std::string Text;
  bool operator==(const TLogLine&) const = default;
};

inline void PrintTo(const TLogLine& line, std::ostream* out) {
  *out << "(" << line.Level << ", \"" << line.Text << "\")";
}

// A reset job with a log receiver that keeps every line.
class TRecordingJob : public TCustomFFmpeg {
 public:
  TRecordingJob() {
    Reset();
    OnJobLog = [this](TCustomFFmpeg*, int level, const std::string& text) {
      Lines.push_back({level, text});
    };
  }
  bool Logged(const std::string& text) const {
    for (const TLogLine& line : Lines)
      if (line.Text == text) return true;
    return false;
  }
  std::vector<TLogLine> Lines;
};

// Keeps the process-wide log levels that "v" and the debug options change.
class TLogLevelGuard {
 public:
  TLogLevelGuard() : library_(AVUtilApi.av_log_get_level()), filter_(LogFilterLevel) {}
  ~TLogLevelGuard() {
    AVUtilApi.av_log_set_level(library_);
    LogFilterLevel = filter_;
  }

 private:
  int library_;
  int filter_;
};

// Points the user's locale settings at a German locale (comma as decimal
// separator) while it lives. The locale is compiled once into the temporary
// folder; Available() is false where the system cannot compile locales.
class TCommaLocale {
 public:
  TCommaLocale() {
    const std::filesystem::path shared =
        std::filesystem::temp_directory_path() / "tavrelle-locales";
    available_ = std::filesystem::exists(shared / Name) || Compile(shared);
    if (!available_) return;
    Save("LOCPATH");
    Save("LC_ALL");
    setenv("LOCPATH", shared.c_str(), 1);
    setenv("LC_ALL", Name, 1);
  }
  ~TCommaLocale() {
    for (const auto& [name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }
  bool Available() const { return available_; }

 private:
  static constexpr const char* Name = "de_DE.UTF-8";

  // Compiles into a folder of this process, then moves it into place, so
  // that test processes running side by side never see a half-written one.
  static bool Compile(const std::filesystem::path& shared) {
    std::error_code error;
    const auto own = shared.parent_path() / ("tavrelle-locales-" + std::to_string(getpid()));
    std::filesystem::create_directories(own, error);
    const std::string command =
        "localedef -i de_DE -f UTF-8 '" + (own / Name).string() + "' >/dev/null 2>&1";
    [[maybe_unused]] const int status = std::system(command.c_str());  // warnings give 1
    std::filesystem::create_directories(shared, error);
    if (std::filesystem::exists(own / Name))
      std::filesystem::rename(own / Name, shared / Name, error);
    std::filesystem::remove_all(own, error);
    return std::filesystem::exists(shared / Name);
  }

  void Save(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
  }

  bool available_ = false;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};
