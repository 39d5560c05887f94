#pragma once
// Describes one media input without converting it: counts its streams by
// kind and fills fixed-layout records for one audio or one video stream.
#include <cstdint>
#include <string>

struct AVFormatContext;

#pragma pack(push, 1)
// Every numeric field is -1 and the name fields are zero bytes when not filled.
struct TAudioStreamInfo {
  char Language[4];
  char CodecName[32];
  int64_t StartTime;  // in the stream's time base; the no-value marker passes through
  int64_t StartTimeUs;
  int64_t Duration;
  int64_t DurationUs;
  int32_t BitRate;
  int32_t Channels;
  int32_t SampleRate;
  int32_t SampleFormat;
};

struct TVideoStreamInfo {
  char Language[4];
  char CodecName[32];
  int64_t StartTime;
  int64_t StartTimeUs;
  int64_t Duration;
  int64_t DurationUs;
  int32_t BitRate;
  int32_t Height;
  int32_t Width;
  float AspectRatio;  // display aspect; 0 when the sample aspect is unknown
  int32_t PixelFormat;
  int32_t FrameRateNum;
  int32_t FrameRateDen;
};
#pragma pack(pop)

class TAVProbe {
 public:
  TAVProbe();
  ~TAVProbe();
  TAVProbe(const TAVProbe&) = delete;
  TAVProbe& operator=(const TAVProbe&) = delete;

  // Binds libavcodec, libavformat, libavutil and libswscale; on failure
  // none of the four stays loaded and LastError holds the loader's text.
  bool LoadLibraries(const std::string& folder, bool versioned);
  void UnloadLibraries();
  // Raises Exception naming the first of the four libraries not bound.
  void CheckLibraries() const;

  bool Open(const std::string& fileName, const std::string& formatName = "");
  // Describes an input some job opened; the probe never closes it.
  void Attach(AVFormatContext* context);
  void Close();

  void GetAudioInfo(int streamIndex, TAudioStreamInfo& info) const;
  void GetAudioInfo(TAudioStreamInfo& info) const { GetAudioInfo(-1, info); }
  void GetVideoInfo(int streamIndex, TVideoStreamInfo& info) const;
  void GetVideoInfo(TVideoStreamInfo& info) const { GetVideoInfo(-1, info); }
  std::string GetFileName() const;
  // The whole input's duration in microseconds, -1 when unknown.
  int64_t FileDurationUs() const;

  static std::string OpenErrorText(const std::string& fileName, int code);

  AVFormatContext* FormatContext = nullptr;
  bool OwnsContext = false;
  std::string LastError;
  std::string InputFormat;
  int32_t StreamCount = -1;
  int32_t ProgramCount = -1;
  int32_t AudioStreamCount = -1;
  int32_t VideoStreamCount = -1;
  int32_t SubtitleStreamCount = -1;
  int32_t FirstAudioStream = -1;
  int32_t FirstVideoStream = -1;
  int32_t FirstSubtitleStream = -1;

 private:
  void Recount();
  // The stream to describe, or nullptr after logging why there is none.
  const struct AVStream* SelectStream(int streamIndex, int mediaType, const char* kindName) const;
};
