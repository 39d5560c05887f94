#pragma once
// The two plain records by which an application describes one task: its
// input and its output. A field left at its initial value (empty text, -1,
// a negative real) changes nothing; the few fields applied unconditionally
// are marked. Both records carry extra option lines (name "=" value) that
// reach every engine option by name.
#include <cstdint>
#include <string>

class TCustomFFmpeg;
class TFFmpeg;

// A colour value: 0x00BBGGRR, or a system colour (SystemColorFlag plus the
// index of a desktop colour such as the window background).
using TColor = int32_t;
inline constexpr TColor clBlack = 0;
inline constexpr uint32_t SystemColorFlag = 0xFF000000u;
// A few desktop colour indices; ColorToRgb knows their values.
inline constexpr TColor clBtnFace = static_cast<TColor>(SystemColorFlag | 15);
inline constexpr TColor clWindow = static_cast<TColor>(SystemColorFlag | 5);
inline constexpr TColor clWindowText = static_cast<TColor>(SystemColorFlag | 8);

// A date-time: days since 1899-12-30, local time.
using TDateTime = double;

struct TInputOptions {
  std::string FileName;
  std::string FileFormat;
  int StartTimeMs = -1;
  int ProgramID = -1;
  std::string ExtOptions;
};

struct TOutputOptions {
  std::string FileName;
  std::string Reserved;  // read by nobody
  std::string FileFormat;
  int PacketSize = -1;
  int MuxRate = -1;
  float MuxMaxDelay = -1.0f;
  float MuxPreload = -1.0f;
  std::string AudioCodec;
  bool DisableAudio = false;
  int AudioVolume = -1;
  int AudioChannels = -1;
  int AudioSampleRate = -1;
  int AudioBitrate = -1;
  int AudioBitrateTolerance = -1;
  std::string AudioLanguage;  // always applied
  int AudioSync = 0;          // always applied
  std::string AudioTag;
  std::string VideoCodec;
  bool DisableVideo = false;
  std::string FrameRate;
  std::string FrameSize;
  std::string VideoAspect;
  int CropTop = -1, CropBottom = -1, CropLeft = -1, CropRight = -1;
  int PadTop = -1, PadBottom = -1, PadLeft = -1, PadRight = -1;
  TColor PadColor = clBlack;  // always applied
  int GopSize = -1;
  int VideoBitrate = -1;
  int VideoMaxRate = -1;
  int VideoMinRate = -1;
  int VideoBitrateTolerance = -1;
  int VideoBufSize = -1;
  int VideoSync = -1;  // always applied
  std::string VideoTag;
  std::string VideoFilters;
  bool DisableSubtitle = false;
  std::string SubtitleLanguage;  // always applied
  bool CopyTimestamp = false;    // always applied
  int DurationMs = -1;
  TDateTime Timestamp = -1.0;  // 0: now
  int Year = -1;
  int Track = -1;
  char Title[512] = {};
  char Author[512] = {};
  char Copyright[512] = {};
  char Comment[512] = {};
  char Album[512] = {};
  char Genre[32] = {};
  int TargetType = 0;          // 0 none, 1 VCD, 2 SVCD, 3 DVD
  int TargetNorm = 0;          // 0 automatic, 1 PAL, 2 NTSC
  int TargetNormFallback = 1;  // 1 PAL, else NTSC
  bool CustomHook = false;
  bool BeforeHook = false;
  std::string HookRanges;  // "start-end" in milliseconds, comma separated
  std::string ExtOptions;
};

void ResetInputOptions(TInputOptions& options);
void ResetOutputOptions(TOutputOptions& options);

// Fill an empty FileName of the caller's record, keep a copy in the job and
// translate the record into the job's options, extra option lines first.
// Raise what the option handlers raise; the remaining fields then stay
// unapplied. The output form leaves the hooks to the caller.
void OptionsFromInputRecord(TFFmpeg& job, TInputOptions& options, const std::string& fileName);
void OptionsFromOutputRecord(TFFmpeg& job, TOutputOptions& options, const std::string& fileName);
void ApplyTargetFromRecord(TCustomFFmpeg& job, const TOutputOptions& options);
// Ranges "start-end" in milliseconds, separated by commas; ranges that do
// not parse, have no end or end before they start are dropped.
void ParseHookRanges(TCustomFFmpeg& job, const std::string& text);

// A colour as 0x00BBGGRR, system colours resolved to their desktop values.
int ColorToRgb(TColor color);
// Seconds since 1970-01-01 UTC of a local date-time, rounded half to even.
int64_t UnixTimeOfDateTime(TDateTime dateTime);
// The current local time as a date-time.
TDateTime NowAsDateTime();
