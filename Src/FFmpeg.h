#pragma once
// The transcoding engine. One TCustomFFmpeg object is one conversion job: it
// holds every setting of the job (the option groups below, each field with
// its fixed default), the option dispatcher that reaches them by name, the
// value handlers, the target presets, and the library objects the job owns.
//
// Calling order: construction, Reset, options (SetOption, ApplyOptionText or
// the handlers), inputs, outputs, start. Options are meant for an idle job.
#include <array>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
}

struct SwsContext;

inline constexpr int MaxFiles = 20;    // inputs, and outputs, per job
inline constexpr int MaxStreams = 20;  // streams per file
inline constexpr int MaxStreamMaps = 400;
inline constexpr int MaxMetaDataMaps = 20;
// Video, audio, data, subtitle, attachment: AVMediaType 0 to 4.
inline constexpr int MediaKindCount = 5;

// A text that may be absent ("none"), as distinct from empty.
using TOptionalText = std::optional<std::string>;
using TQuantMatrix = std::array<uint16_t, 64>;
// The bitstream filters of one stream, in the order they run.
using TBsfChain = std::vector<const AVBitStreamFilter*>;

struct TStreamMap {
  int FileIndex = 0;
  int StreamIndex = 0;
  int SyncFileIndex = 0;
  int SyncStreamIndex = 0;
};

struct TMetaDataMap {
  int OutFile = 0;
  int InFile = 0;
};

struct THookRange {
  int64_t StartUs = 0;
  int64_t EndUs = 0;
};

enum class TSide { Top, Bottom, Left, Right };

enum THookAction { haContinue, haIgnore, haStop };

// Television norm of a target preset; FILM is NTSC at 24 frames.
enum class TTargetNorm { Pal, Ntsc, Film };

// Opened inputs and created outputs. The job owns every context here;
// Cleanup releases them.
struct TFileTables {
  std::array<AVFormatContext*, MaxFiles> InputFiles{};
  std::array<int64_t, MaxFiles> InputTsOffsets{};  // microseconds
  int InputFileCount = 0;
  std::array<AVFormatContext*, MaxFiles> OutputFiles{};
  int OutputFileCount = 0;
};

// Which input streams feed which output streams ("map"), and where each
// output's metadata comes from ("map_meta_data").
struct TMapTables {
  std::array<TStreamMap, MaxStreamMaps> StreamMaps{};
  int StreamMapCount = 0;
  std::array<TMetaDataMap, MaxMetaDataMaps> MetaDataMaps{};
  int MetaDataMapCount = 0;
};

// Container formats forced for the next input and the next output.
struct TFormatChoice {
  const AVInputFormat* ForcedInputFormat = nullptr;
  const AVOutputFormat* ForcedOutputFormat = nullptr;
  int PgmyuvCompat = 0;
};

struct TVideoOptions {
  // Picture of the next video output; input opening overwrites these.
  int FrameWidth = 0;
  int FrameHeight = 0;
  float FrameAspectRatio = 0;  // 0: unknown
  int FramePixFmt = -1;
  AVRational VideoFrameRate{0, 0};
  int CropTop = 0;
  int CropBottom = 0;
  int CropLeft = 0;
  int CropRight = 0;
  int PadTop = 0;
  int PadBottom = 0;
  int PadLeft = 0;
  int PadRight = 0;
  std::array<int, 3> PadColor{16, 128, 128};  // Y, Cb, Cr
  // Encoder of the next video stream; the stream consumes codec name, copy
  // flag and disable flag.
  TOptionalText VideoCodecName;
  int VideoStreamCopy = 0;
  int VideoDisable = 0;
  uint32_t VideoCodecTag = 0;
  float VideoQScale = 0;  // 0: none
  std::optional<TQuantMatrix> IntraMatrix;
  std::optional<TQuantMatrix> InterMatrix;
  TOptionalText VideoRcOverride;
  int SameQuality = 0;
  int IntraOnly = 0;
  int MeThreshold = 0;
  int IntraDcPrecision = 8;
  int VideoGlobalHeader = 0;  // bit 1 global header, bit 2 local header, 0 format decides
  int TopFieldFirst = -1;     // -1: from the input
  // Picture processing.
  int VideoDiscard = 0;
  int Deinterlace = 0;
  std::string VideoFilters;
  bool UseFilters = false;
  int VideoSyncMethod = -1;  // -1: automatic
};

struct TAudioOptions {
  int AudioSampleRate = 44100;
  int AudioChannels = 2;
  int AudioSampleFmt = -1;
  float AudioQScale = -99999;  // -99999: none
  TOptionalText AudioCodecName;
  int AudioStreamCopy = 0;
  int AudioDisable = 0;
  uint32_t AudioCodecTag = 0;
  std::string AudioLanguage;
  int AudioVolume = 256;  // 256 = unchanged
  int AudioSyncMethod = 0;
  float AudioDriftThreshold = 0.1f;  // seconds
};

struct TSubtitleOptions {
  TOptionalText SubtitleCodecName;
  int SubtitleStreamCopy = 0;
  int SubtitleDisable = 0;
  std::string SubtitleLanguage;
};

// How the next inputs are read.
struct TInputSettings {
  int LoopInput = 0;
  int RateEmulation = 0;
  int ProgramId = 0;  // 0: all programs
  int VideoChannel = 0;
  TOptionalText VideoStandard;
};

// Time limits, offsets and synchronisation.
struct TTimingOptions {
  int64_t RecordingTimeUs = INT64_MAX;  // no limit
  int64_t SeekTimeUs = 0;
  int64_t InputTsOffset = 0;
  // Per input file and stream; 0 means not set. Row InputFileCount belongs to
  // the input opened next.
  std::array<std::array<double, MaxStreams>, MaxFiles> InputTsScales{};
  int64_t RecTimestamp = 0;  // seconds since 1970-01-01
  bool CopyTimestamps = false;
  int Shortest = 0;
  int InputSync = 0;
  float DtsDeltaThreshold = 10;                                      // seconds
  std::array<int, 4> MaxFrames{INT_MAX, INT_MAX, INT_MAX, INT_MAX};  // video, audio, data, subtitle
  int64_t FileSizeLimit = 0;                                         // bytes, 0: none
};

// Muxer settings and metadata of the outputs.
struct TMuxOptions {
  float MuxPreload = 0.5f;   // seconds
  float MuxMaxDelay = 0.7f;  // seconds
  int LoopOutput = -1;
  std::string Title;
  std::string Author;
  std::string Copyright;
  std::string Comment;
  std::string Genre;
  std::string Album;
  int Year = 0;
  int Track = 0;
};

// Two-pass encoding, PSNR and the statistics the transcode keeps.
struct TStatistics {
  int DoPsnr = 0;
  int PassNumber = 0;  // 0: single pass
  std::string PassLogFileName;
  TOptionalText VstatsFileName;  // none: no video statistics
  FILE* VstatsFile = nullptr;    // opened through myutil
  int QpHistogram = 0;
  int64_t VideoSize = 0;
  int64_t AudioSize = 0;
  int64_t ExtraSize = 0;
  int FramesDup = 0;
  int FramesDrop = 0;
};

struct TDiagnostics {
  int Verbosity = 1;  // -1 quiet, 0 errors, 1 information, 2 debug, 3 all
  int HexDump = 0;
  int PacketDump = 0;
  bool ExitOnError = false;
};

struct TCodecRuntime {
  int ThreadCount = 1;
  int ScalerFlags = 4;  // bicubic
  int BitBufferSize = 262144;
};

// Library options given by name. The common contexts hold the values of
// every codec, container and scaler option they know; names known only to
// some codec's or format's private class are kept as dictionaries per role,
// for the codec open and the header write.
struct TGenericOptions {
  std::array<AVCodecContext*, MediaKindCount> CodecOptionContexts{};
  AVFormatContext* FormatOptionContext = nullptr;
  SwsContext* ScalerOptionContext = nullptr;
  std::vector<std::string> RecordedOptionNames;
  std::array<AVDictionary*, MediaKindCount> EncoderPrivateOptions{};
  std::array<AVDictionary*, MediaKindCount> DecoderPrivateOptions{};
  AVDictionary* MuxerPrivateOptions = nullptr;
  AVDictionary* DemuxerPrivateOptions = nullptr;
};

struct TBitstreamFilters {
  // Pending for the next stream of each kind.
  TBsfChain VideoBsfList;
  TBsfChain AudioBsfList;
  TBsfChain SubtitleBsfList;
  // Per output file and stream.
  std::array<std::array<TBsfChain, MaxStreams>, MaxFiles> StreamBsfLists{};
};

struct THookSettings {
  bool VideoHookUsed = false;
  std::vector<THookRange> HookRanges;
  int HookRangeIndex = 0;
  int HookRangeCount = 0;
};

class TCustomFFmpeg;

using TJobLogEvent =
    std::function<void(TCustomFFmpeg* sender, int level, const std::string& message)>;
using TJobProgressEvent =
    std::function<void(TCustomFFmpeg* sender, int frameNumber, int fps, int currentDuration,
                       float quality, float bitRate, int64_t currentSize, int totalOutputDuration)>;
using TJobTerminateEvent = std::function<void(TCustomFFmpeg* sender)>;
using TJobBeforeHookEvent =
    std::function<void(TCustomFFmpeg* sender, int64_t pts, THookAction& hookAction)>;

class TCustomFFmpeg {
 public:
  TCustomFFmpeg();
  virtual ~TCustomFFmpeg();
  TCustomFFmpeg(const TCustomFFmpeg&) = delete;
  TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;

  // Back to the defaults with fresh option contexts. Does nothing while the
  // media libraries are not loaded.
  void Reset();
  // Releases every library object the job holds. Leaves the job-control
  // fields, the events and LastError alone.
  void Cleanup();

  // ---- Options by name -------------------------------------------------
  // One option; raises FFMpegException, EConvertError or EAssertionFailed
  // on a bad value.
  void SetOption(const std::string& name, const std::string& value);
  // Lines of name "=" value; stops at the first line that raises.
  void ApplyOptionText(const std::string& text);
  // Offers a name to the libraries' option contexts; true when one took it.
  bool SetGenericOption(const std::string& name, const std::string& value);
  bool SetGenericOptionInt(const std::string& name, int value);
  // Copies the recorded options whose flags hold every bit of flags (the
  // AV_OPT_FLAG_* values) from an option context to a codec or format context.
  void ApplyGenericOptions(void* target, void* source, int flags);
  // An option the dispatcher knows but does nothing for: logs it.
  void IgnoreOption(const std::string& name);
  // An option the engine does not support: raises FFMpegException.
  [[noreturn]] void RefuseOption(const std::string& name);

  // ---- Value handlers --------------------------------------------------
  void OptInputFormat(const std::string& name);
  void OptOutputFormat(const std::string& name);
  void OptFormat(const std::string& name);
  void OptBitRate(const std::string& name, const std::string& value);
  void OptFrameRate(const std::string& value);
  void OptFrameSize(const std::string& value);
  void OptAspect(const std::string& value);
  void OptCrop(TSide side, int size);
  void OptPad(TSide side, int size);
  void OptPadColor(int color);  // 0x00BBGGRR
  void OptQScale(double qscale);
  void OptPixFmt(const std::string& value);
  void OptSampleFmt(const std::string& value);
  void OptAudioRate(int rate);
  void OptAudioChannels(int channels);
  void OptCodec(AVMediaType kind, const std::string& name);
  void OptCodecTag(AVMediaType kind, const std::string& tag);
  void OptVideoFilters(const std::string& chain);
  void OptRcOverride(const std::string& value);
  void OptVideoStandard(const std::string& value);
  void OptVerbosity(int level);
  void OptMap(const std::string& value);
  void OptMetaDataMap(const std::string& value);
  void OptInputTsScale(const std::string& value);
  // "t", "ss", "itsoffset" (durations) and "timestamp" (a date).
  void OptTime(const std::string& name, const std::string& value);
  void OptPass(int pass);
  void OptMatrix(bool intra, const std::string& value);
  void OptVstats();
  void OptVstatsFile(const std::string& fileName);
  void OptBitstreamFilter(const std::string& name, const std::string& value);
  void OptNewStream(AVMediaType kind, const std::string& name);
  void OptVideoHook(const std::string& value);
  void OptTarget(const std::string& value);

  // Plain setters of the record translation; each ignores the values that
  // mean "not set".
  void SetDurationMs(int milliseconds);
  void SetSeekTimeUs(int64_t microseconds);
  void SetProgramId(int program);
  void SetAudioVolume(int volume);
  void SetAudioSyncMethod(int method);
  void SetVideoSyncMethod(int method);
  void SetMuxMaxDelay(float seconds);
  void SetMuxPreload(float seconds);
  void SetYear(int year);
  void SetTrack(int track);
  void SetTitle(const std::string& value);
  void SetAuthor(const std::string& value);
  void SetCopyright(const std::string& value);
  void SetComment(const std::string& value);
  void SetGenre(const std::string& value);
  void SetAlbum(const std::string& value);

  // Looks a codec up by name; on failure LastError says why. No name gives
  // AV_CODEC_ID_NONE. found, when given, receives the codec itself.
  bool FindCodec(const TOptionalText& name, AVMediaType kind, bool encoder, AVCodecID& codecId,
                 const AVCodec** found = nullptr);

  // Target presets: type "vcd", "svcd", "dvd", "dv" or "dv50"; norm "pal",
  // "ntsc", "film" or anything else for detection from the frame rate;
  // fallback the norm when detection finds none ("film", "ntsc", else PAL).
  void ApplyTarget(const std::string& targetType, const std::string& norm,
                   const std::string& fallback);

  // ---- Option state ----------------------------------------------------
  TFileTables Files;
  TMapTables Maps;
  TFormatChoice Formats;
  TVideoOptions Video;
  TAudioOptions Audio;
  TSubtitleOptions Subtitle;
  TInputSettings Input;
  TTimingOptions Timing;
  TMuxOptions Mux;
  TStatistics Stats;
  TDiagnostics Diagnostics;
  TCodecRuntime Runtime;
  TGenericOptions Generic;
  TBitstreamFilters Bsf;
  THookSettings Hooks;

  // ---- Job control -----------------------------------------------------
  std::atomic<bool> Running{false};
  std::atomic<bool> StopFlag{false};
  std::atomic<bool> Finished{false};
  std::atomic<bool> Terminated{false};
  bool HasError = false;
  std::string ErrorMessage;
  std::string LastError;
  int64_t ReportInterval = 500000;  // microseconds between progress reports
  int OutputDurationMs = -1;        // -1: unknown

  TJobLogEvent OnJobLog;
  TJobProgressEvent OnJobProgress;
  TJobTerminateEvent OnJobTerminate;
  TJobBeforeHookEvent OnJobBeforeHook;

 protected:
  // Calls OnJobLog when it is assigned.
  void Log(int level, const std::string& message);

 private:
  void LoadDefaults();
  void AllocateOptionContexts();
  void FreeOptionContexts();
  void CloseOutputFiles();
  void CloseInputFiles();

  void RaiseVerbosityOnDebug();

  TTargetNorm DecideTargetNorm(const std::string& norm, const std::string& fallback);
  std::optional<TTargetNorm> NormOfOpenedInputs() const;
  void ApplyTargetCommon(const char* videoCodec, const char* audioCodec, const char* format,
                         const char* frameSize, TTargetNorm norm);
  void ApplyVcdTarget(TTargetNorm norm);
  void ApplySvcdTarget(TTargetNorm norm);
  void ApplyDvdTarget(TTargetNorm norm);
  void ApplyDvTarget(TTargetNorm norm, bool dv50);
  void SetAspectFromPreset(const char* aspect);

  std::string FormatNameForLookup(const std::string& name);
  void OptCodecName(TOptionalText& codecName, int& streamCopy, const std::string& name);
  void AppendStreamMap(const TStreamMap& map);
  void AppendMetaDataMap(const TMetaDataMap& map);
};
