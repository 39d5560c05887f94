#pragma once
// Writes small, deterministic test clips with the media libraries: a
// gradient picture with a moving bar, a sine tone and short text captions.
// The libraries must be loaded (LoadAllLibraries) before any call. Every
// function returns false with a message instead of raising.
#include <cstdint>
#include <string>
#include <vector>

enum class TMediaKind {
  Avi,              // AVI: mpeg4 video, mp3 audio
  Mp4,              // MP4: h264 video, aac audio
  Matroska,         // Matroska: mpeg4 video, aac audio, subrip captions
  TransportStream,  // MPEG-TS: programs 1, 2 and 3, each mpeg2video + mp2
  TwoVideo,         // Matroska: mpeg4 video, mp2 audio, a smaller mpeg2video video
  Wav,              // WAV: pcm_s16le
  Mp3,              // MP3: mp3 audio only
  ProgramStream,    // MPEG-PS: mpeg2video video, mp2 audio
  VideoOnly,        // AVI: mpeg4 video only
  UnknownAspect,    // Matroska: h264 video whose sample aspect ratio is never set
  Flac,             // FLAC: flac audio only
  Ogg,              // Ogg: theora video, vorbis audio
  DvdSubtitles,     // Matroska: mpeg4 video, mp2 audio, dvdsub bitmap captions
};

struct TMediaOptions {
  double DurationSec = 1.0;
  int Width = 160;
  int Height = 120;
  int FrameRateNum = 25;
  int FrameRateDen = 1;
  int SampleRate = 44100;
  int Channels = 2;
  // "language" tags by stream index; an empty text leaves that stream untagged.
  std::vector<std::string> Languages;
  // Sample aspect ratio of every video stream; 0/1 leaves it unset.
  int SampleAspectNum = 0;
  int SampleAspectDen = 1;
  // Time of the first picture and the first sample.
  double StartOffsetSec = 0.0;
};

struct TMediaKindInfo {
  TMediaKind Kind;
  const char* Name;       // the kind's name on the command line
  const char* Extension;  // with the dot
};

const std::vector<TMediaKindInfo>& MediaKinds();
const TMediaKindInfo& MediaKindInfo(TMediaKind kind);
bool FindMediaKind(const std::string& name, TMediaKind& kind);

bool MakeMedia(TMediaKind kind, const std::string& fileName, const TMediaOptions& options,
               std::string& error);

// Damaged inputs: the first byteCount bytes of an existing file, seeded
// pseudo-random bytes, and a file of no bytes at all.
bool MakeTruncatedCopy(const std::string& source, const std::string& fileName, int64_t byteCount,
                       std::string& error);
bool MakeRandomFile(const std::string& fileName, int64_t byteCount, uint32_t seed,
                    std::string& error);
bool MakeEmptyFile(const std::string& fileName, std::string& error);
// A Matroska file with one 64x48 MPEG-4 video stream whose packets are
// seeded noise: no decoder can tell its picture format.
bool MakeNoiseVideo(const std::string& fileName, uint32_t seed, std::string& error);

// A temporary folder of generated clips for one test process. Clips are
// written on first request; the folder goes with the object. Failures
// raise std::runtime_error carrying the generator's message.
class TMediaFolder {
 public:
  explicit TMediaFolder(const std::string& prefix);
  ~TMediaFolder();
  TMediaFolder(const TMediaFolder&) = delete;
  TMediaFolder& operator=(const TMediaFolder&) = delete;

  const std::string& Path() const { return path_; }
  std::string FilePath(const std::string& name) const;
  // The clip of that kind with the default options.
  std::string Clip(TMediaKind kind);
  // A clip under its own name, made with the options given on first request.
  std::string Clip(const std::string& name, TMediaKind kind, const TMediaOptions& options);
  std::string Truncated(const std::string& name, const std::string& source, int64_t byteCount);
  std::string Random(const std::string& name, int64_t byteCount, uint32_t seed);
  std::string Empty(const std::string& name);

 private:
  std::string path_;
};
