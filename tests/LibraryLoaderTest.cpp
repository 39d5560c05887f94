#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <string>

#include "Src/LibraryLoader.h"
#include "binding/AVCodecHlpr.h"
#include "binding/AVFilterHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "binding/LogLevels.h"
#include "binding/MyUtilHlpr.h"
#include "binding/SwScaleHlpr.h"
#include "platform/Environment.h"
#include "probe/AVProbe.h"

using ::testing::HasSubstr;
using ::testing::StartsWith;
namespace fs = std::filesystem;

namespace {
std::string RealLibFolder() {
  return IncludeTrailingPathDelimiter(ExecutableFolder()) + "lib";
}

std::string FakeSwScaleFolder() {
  return IncludeTrailingPathDelimiter(ExecutableFolder()) + "fixtures/fake_swscale";
}

// A folder of links to the real libraries, leaving out some and optionally
// taking the scaler from the fixture that lacks entries.
class TLibFolder {
 public:
  TLibFolder(std::initializer_list<const char*> leaveOut, bool fakeScaler = false) {
    path_ = fs::temp_directory_path() /
            ("tavrelle-libs-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    fs::create_directories(path_);
    for (const auto& entry : fs::directory_iterator(RealLibFolder())) {
      const std::string name = entry.path().filename().string();
      bool skip = fakeScaler && name.rfind("libswscale", 0) == 0;
      for (const char* prefix : leaveOut) skip = skip || name.rfind(prefix, 0) == 0;
      if (!skip) fs::create_symlink(entry.path(), path_ / name);
    }
    if (fakeScaler) {
      for (const auto& entry : fs::directory_iterator(FakeSwScaleFolder()))
        fs::create_symlink(entry.path(), path_ / entry.path().filename());
    }
  }
  ~TLibFolder() { fs::remove_all(path_); }
  std::string Path() const { return path_.string(); }

 private:
  fs::path path_;
  static inline int counter_ = 0;
};

bool AnyLoaded() {
  for (auto unit : {AVCodecHlpr::Unit, AVFilterHlpr::Unit, AVFormatHlpr::Unit, AVUtilHlpr::Unit,
                    SwScaleHlpr::Unit, MyUtilHlpr::Unit})
    if (unit().Handle()) return true;
  return false;
}

class LibraryLoader : public ::testing::Test {
 protected:
  void SetUp() override { UnloadAllLibraries(); }
  void TearDown() override {
    UnloadAllLibraries();
    SetEnvironmentVariable("PATH", savedPath_);
  }
  std::string savedPath_ = GetEnvironmentVariable("PATH");
};
}  // namespace

TEST_F(LibraryLoader, VersionedNamesLoadEverythingAndPutTheFolderFirstOnPath) {
  SetEnvironmentVariable("PATH", "/usr/bin:/bin");
  ASSERT_TRUE(LoadAllLibraries(RealLibFolder(), true)) << LoadAllError();
  EXPECT_TRUE(LibrariesLoaded());
  EXPECT_EQ(GetEnvironmentVariable("PATH"), RealLibFolder() + ":/usr/bin:/bin");
  EXPECT_NE(AVCodecApi.avcodec_descriptor_get, nullptr);
  EXPECT_NE(MyUtilApi.my_strtod, nullptr);
  EXPECT_EQ(LogFilterLevel, EngineLogLevel(AVUtilApi.av_log_get_level()));
}

TEST_F(LibraryLoader, FolderAlreadyOnPathInAnyCaseIsNotAddedAgain) {
  std::string upper = RealLibFolder();
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  SetEnvironmentVariable("PATH", "/bin:" + upper);
  ASSERT_TRUE(LoadAllLibraries(RealLibFolder(), true)) << LoadAllError();
  EXPECT_EQ(GetEnvironmentVariable("PATH"), "/bin:" + upper);
}

TEST_F(LibraryLoader, LoadingRestoresTheCurrentDirectory) {
  const std::string before = GetCurrentDir();
  ASSERT_TRUE(LoadAllLibraries(RealLibFolder(), true)) << LoadAllError();
  EXPECT_EQ(GetCurrentDir(), before);
  UnloadAllLibraries();
  EXPECT_FALSE(LoadAllLibraries("/nonexistent-folder", true));
  EXPECT_EQ(GetCurrentDir(), before);
}

TEST_F(LibraryLoader, PlainNamesAreNotInTheFolder) {
  EXPECT_FALSE(LoadAllLibraries(RealLibFolder(), false));
  EXPECT_THAT(LoadAllError(), StartsWith("Load libraray libavcodec.so error: "));
  EXPECT_THAT(LoadAllError(), HasSubstr("No such file"));
  EXPECT_FALSE(LibrariesLoaded());
}

TEST_F(LibraryLoader, FirstMissingFileIsReportedAndEverythingIsReleased) {
  // Without the filter library, the codec library binds first and must be
  // released again; the libraries after the filter library are not tried,
  // so only the filter library's failure is reported.
  TLibFolder folder({"libavfilter", "libavformat", "libmyutil"});
  EXPECT_FALSE(LoadAllLibraries(folder.Path(), true));
  EXPECT_THAT(LoadAllError(), StartsWith("Load libraray libavfilter.so.8 error: "));
  EXPECT_FALSE(LibrariesLoaded());
  EXPECT_FALSE(AnyLoaded());
  EXPECT_FALSE(AVCodecHlpr::Unit().LibBound());
}

TEST_F(LibraryLoader, MissingEntryIsNamedWithItsLibraryAndLaterEntriesStayUnresolved) {
  std::string error;
  EXPECT_FALSE(SwScaleHlpr::Unit().BindLib(error, FakeSwScaleFolder(), true, false));
  EXPECT_THAT(error, StartsWith("Load function sws_getContext@libswscale.so.6 error: "));
  EXPECT_THAT(error, HasSubstr("sws_getContext"));
  EXPECT_EQ(error, SwScaleHlpr::Unit().ErrorText());
  // The module stays loaded with what resolved so far; nothing after the gap.
  EXPECT_NE(SwScaleHlpr::Unit().Handle(), nullptr);
  EXPECT_FALSE(SwScaleHlpr::Unit().LibBound());
  EXPECT_NE(SwScaleApi.sws_scale, nullptr);
  EXPECT_EQ(SwScaleApi.sws_getContext, nullptr);
  EXPECT_EQ(SwScaleApi.sws_getCachedContext, nullptr);
  SwScaleHlpr::Unit().UnloadLib();
  EXPECT_EQ(SwScaleHlpr::Unit().Handle(), nullptr);
  EXPECT_EQ(SwScaleApi.sws_scale, nullptr) << "no address of a released module stays callable";
}

TEST_F(LibraryLoader, MissingEntryFailsTheWholeLoad) {
  TLibFolder folder({}, true);
  EXPECT_FALSE(LoadAllLibraries(folder.Path(), true));
  EXPECT_THAT(LoadAllError(), StartsWith("Load function sws_getContext@libswscale.so.6 error: "));
  EXPECT_FALSE(AnyLoaded());
}

TEST_F(LibraryLoader, SecondLoadAfterSuccessDoesNotTouchTheFileSystem) {
  ASSERT_TRUE(LoadAllLibraries(RealLibFolder(), true)) << LoadAllError();
  EXPECT_TRUE(LoadAllLibraries("/nonexistent-folder", false));
  EXPECT_EQ(LoadAllError(), "");
}

TEST_F(LibraryLoader, EmptyFolderUsesTheStandardSearch) {
  // The media libraries are installed system-wide; our helper library is not.
  std::string error;
  EXPECT_TRUE(AVUtilHlpr::Unit().BindLib(error, "", true, false)) << error;
  EXPECT_FALSE(LoadAllLibraries("", true));
  EXPECT_THAT(LoadAllError(), StartsWith("Load libraray libmyutil.so error: "));
}

TEST_F(LibraryLoader, BindingAgainAfterAFailedLoadRetriesTheSameLibrary) {
  std::string error;
  EXPECT_FALSE(AVUtilHlpr::Unit().BindLib(error, "/nonexistent-folder", true, false));
  EXPECT_THAT(error, StartsWith("Load libraray libavutil.so.57 error: "));
  error.clear();
  EXPECT_TRUE(AVUtilHlpr::Unit().BindLib(error, RealLibFolder(), true, false)) << error;
  EXPECT_EQ(error, "");
}

TEST_F(LibraryLoader, ProbeLoadsItsFourLibrariesOrNone) {
  TAVProbe probe;
  EXPECT_THROW(probe.CheckLibraries(), std::exception);
  TLibFolder broken({}, true);
  EXPECT_FALSE(probe.LoadLibraries(broken.Path(), true));
  EXPECT_THAT(probe.LastError, StartsWith("Load function sws_getContext@libswscale.so.6"));
  EXPECT_FALSE(AnyLoaded());
  ASSERT_TRUE(probe.LoadLibraries(RealLibFolder(), true)) << probe.LastError;
  EXPECT_NO_THROW(probe.CheckLibraries());
  EXPECT_FALSE(AVFilterHlpr::Unit().LibBound()) << "the probe needs only four libraries";
}

TEST(LogLevels, EngineAndLibraryScalesMeet) {
  struct {
    int Library;
    int Engine;
  } const cases[] = {{AV_LOG_QUIET, -1},  {AV_LOG_PANIC, 0},   {AV_LOG_FATAL, 0},
                     {AV_LOG_ERROR, 0},   {AV_LOG_WARNING, 0}, {AV_LOG_INFO, 1},
                     {AV_LOG_VERBOSE, 1}, {AV_LOG_DEBUG, 2},   {AV_LOG_TRACE, 3}};
  for (const auto& c : cases) EXPECT_EQ(EngineLogLevel(c.Library), c.Engine) << c.Library;
  for (int level = -1; level <= 3; ++level)
    EXPECT_EQ(EngineLogLevel(LibraryLogLevel(level)), level) << level;
}
