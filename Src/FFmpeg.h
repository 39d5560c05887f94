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

#include "FFmpegTranscode.h"
#include "binding/FrameHook.h"
#include "platform/Bitmap24.h"
#include "platform/Thread.h"

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

// The frame hooks: the hook modules of "vhook", the application's custom
// hook, and the state they carry from picture to picture. Once switched off
// they stay off for the rest of the job. Cleanup releases the library
// objects.
struct THookSettings {
  bool VideoHookUsed = false;          // hook modules are active
  std::vector<THookRange> HookRanges;  // sorted by end
  int HookRangeIndex = 0;              // the range of the last hooked picture
  int HookRangeCount = 0;
  THookAction HookAction = haContinue;  // for the modules, on the current picture
  int HookFrameCounter = 0;             // decoded pictures seen
  TFrameHookChain HookList;
  // Working copy in the decoder's format; the outputs get a reference to it.
  AVFrame* HookBuffer = nullptr;
  // The picture as the custom hook sees it, and the converters to and fro.
  AVPixelFormat HookRgbFormat = AV_PIX_FMT_BGR24;
  AVFrame* HookRgbBuffer = nullptr;
  SwsContext* ToRgbContext = nullptr;
  SwsContext* FromRgbContext = nullptr;
  std::unique_ptr<TBitmap24> HookBitmap;
  AVFrame* HookedPicture = nullptr;  // shell that hands the copy on
};

// ---- Opened inputs and created outputs ------------------------------------
// What the job keeps beside the format contexts of Files: a codec context of
// its own for every stream, not yet opened (the transcode opens them).

struct TInputStreamState {
  // From the stream's parameters, with the job's settings; the forced or
  // matching decoder is its codec, when there is one.
  AVCodecContext* Decoder = nullptr;
  // Packets are read no faster than the stream plays (video streams of an
  // input opened with "re").
  bool RateEmulation = false;
  // The recorded private options this decoder took (already set on it),
  // for avcodec_open2.
  AVDictionary* DecoderOptions = nullptr;
};

struct TOutputStreamState {
  // Every encoding setting; the stream's parameters are filled from it once
  // the encoder is open.
  AVCodecContext* Encoder = nullptr;
  bool StreamCopy = false;
  // Fixed quality of every picture or frame, in lambda units
  // (FF_QP2LAMBDA per quantiser step); 0 when the rate control decides.
  float Quality = 0;
  // The recorded private options this encoder took (already set on it),
  // for avcodec_open2.
  AVDictionary* EncoderOptions = nullptr;
};

struct TOutputFileState {
  std::vector<TOutputStreamState> Streams;  // by stream index
  // The muxer settings and recorded private options the muxer took
  // (already set on it), for avformat_write_header.
  AVDictionary* MuxerOptions = nullptr;
};

struct TFileStreams {
  std::array<std::vector<TInputStreamState>, MaxFiles> Inputs{};  // by file, then stream
  std::array<TOutputFileState, MaxFiles> Outputs{};
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
using TJobCustomHookEvent =
    std::function<void(TCustomFFmpeg* sender, TBitmap24* bitmap, int frameNumber, int64_t pts,
                       bool& update, bool& stopHook)>;

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

  // ---- Input opening and output creation ---------------------------------
  // Opens one input with the current options and appends it; false with
  // LastError on failure, with nothing appended. Raises FFMpegException for
  // a stream of an impossible media kind.
  bool OpenInputFile(const std::string& fileName);
  // Creates one output with its streams, opens its file and appends it;
  // false with LastError on failure, with nothing left in the tables.
  bool OpenOutputFile(const std::string& fileName);
  // Add a stream of that kind to an output being created (file number
  // OutputFileCount), consuming the kind's per-stream options. Raise
  // FFMpegException.
  void NewVideoStream(AVFormatContext* output);
  void NewAudioStream(AVFormatContext* output);
  void NewSubtitleStream(AVFormatContext* output);
  // Which kinds of streams the opened inputs have.
  void CheckInputKinds(bool& hasVideo, bool& hasAudio, bool& hasSubtitle) const;
  // True when the filter chain holds no filter that changes the picture size.
  static bool ResizingFilterCheck(const std::string& chain);
  // The supported rate closest to rate; on a tie the one listed first.
  // supported ends with {0, 0}.
  static AVRational ClosestSupportedFrameRate(AVRational rate, const AVRational* supported);
  // Reads the streams of a live feed into an output; 0 or a negative library
  // result. The installed libraries have no feed format, so it always fails.
  int ReadFeedStreams(AVFormatContext* output, const std::string& url);

  // The codec contexts and marks the transcode reads.
  AVCodecContext* InputDecoderContext(int file, int stream) const;
  bool InputRateEmulation(int file, int stream) const;
  AVCodecContext* OutputEncoderContext(int file, int stream) const;
  bool OutputIsStreamCopy(int file, int stream) const;
  // A copy of the options for the output's header write; the caller frees it.
  AVDictionary* MuxerOptionsFor(const AVFormatContext* output) const;

  TFileStreams FileStreams;

 private:
  int NewStreamFile = 0;  // the output the stream creators are working on

  // Input opening.
  bool OpenAndAnalyse(const std::string& fileName, AVFormatContext*& input);
  AVDictionary* InputOpenOptions() const;
  void ApplyInputFileSettings(AVFormatContext* input);
  bool TakeInput(const std::string& fileName, AVFormatContext* input);
  bool SetUpInputStream(AVFormatContext* input, int index, const std::string& fileName);
  void TakeAudioParameters(AVCodecContext* decoder);
  void TakeVideoParameters(int index, const AVStream* stream, AVCodecContext* decoder,
                           const std::string& fileName);
  void TakeAspectRatio(const AVStream* stream, const AVCodecContext* decoder);
  void ReportFrameRateMismatch(int index, const AVCodecContext* decoder, AVRational rate);
  void TakeDuration(const AVFormatContext* input);
  void ConsumeInputOptions();
  void DiscardInput(int file, AVFormatContext*& input);
  void ReleaseInputStreams(int file);
  // Output creation.
  bool CreateOutput(const std::string& fileName, AVFormatContext*& output);
  bool CheckFilterConflicts();
  bool CreateStreams(AVFormatContext* output);
  bool CreateStream(AVFormatContext* output, void (TCustomFFmpeg::*creator)(AVFormatContext*),
                    const char* creatorName);
  void WriteMetadata(AVFormatContext* output);
  void ApplyMuxerSettings(AVFormatContext* output);
  bool OpenTargetFile(AVFormatContext* output, const std::string& fileName);
  void WithdrawOutput(AVFormatContext*& output);
  void ReleaseOutputStreams(int file);
  // Output streams.
  int OutputIndexOf(const AVFormatContext* output) const;
  AVStream* AddOutputStream(AVFormatContext* output, TBsfChain& pendingFilters);
  TOutputStreamState& OutputStreamState(const AVStream* stream);
  AVCodecContext* NewEncoderContext(const AVStream* stream, AVMediaType kind,
                                    const AVCodec* encoder, AVCodecID codecId);
  const AVCodec* ChooseEncoder(const AVFormatContext* output, AVMediaType kind,
                               const TOptionalText& name, AVCodecID& codecId);
  AVStream* BeginCodedStream(AVFormatContext* output, AVMediaType kind, TBsfChain& pendingFilters,
                             bool streamCopy, const TOptionalText& codecName, uint32_t codecTag);
  void ApplyEncoderOptions(AVCodecContext* encoder, TOutputStreamState& state, int kindFlag);
  void SetVideoHeaders(AVCodecContext* encoder, const AVFormatContext* output);
  void SetVideoEncoding(AVStream* stream, AVCodecContext* encoder, TOutputStreamState& state);
  void SetVideoQuality(AVCodecContext* encoder, TOutputStreamState& state);
  void SetRateControlOverrides(AVCodecContext* encoder);
  void SetAudioEncoding(AVCodecContext* encoder, TOutputStreamState& state);

 public:
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
  // Unassigned by the job when a handler sets stopHook.
  TJobCustomHookEvent OnJobCustomHook;

  // ---- Frame hooks -------------------------------------------------------
  // The ranges (microseconds) whose pictures the hook modules see, when no
  // before-hook handler decides; kept sorted by end.
  void SetHookRanges(std::vector<THookRange> ranges);
  // The bitmap the custom hook receives: 24-bit BGR, black.
  static std::unique_ptr<TBitmap24> CreateHookBitmap(int width, int height);

  // ---- Running the job ---------------------------------------------------
  // Checks the files and starts the job: inline on the calling thread, or on
  // a worker thread that is returned without being started (the caller
  // calls its Resume). None when the job ran inline, failed its checks or
  // was already started.
  TThread* Start(bool threaded, TThreadPriority priority);
  // The transcode with the final release; ends with the terminate event.
  void Run();
  // Marks the job ended and raises the terminate event, once per job.
  void TerminateJob();
  // A running job winds down; one never started is terminated from an
  // idle-priority thread.
  void Stop();
  // Hold and release the worker at its next safe point; nothing for an
  // inline job or one without a running worker.
  void Pause();
  void Resume();
  void RequestStop();
  // True while the job's worker thread has not ended.
  bool WorkerRunning() const;

  // The kernel thread that runs the job; 0 until it starts.
  std::atomic<TThreadId> WorkerThreadId{0};
  // Codec contexts opened by the running transcode and not yet closed.
  std::vector<AVCodecContext*> OpenEncoders;
  std::vector<AVCodecContext*> OpenDecoders;
  // Start of the main loop, library clock in microseconds.
  int64_t TimerStart = 0;

 protected:
  // Requests a stop and waits for the worker: one second as the owner
  // expects, then for as long as it takes, since the job must never be
  // freed under its running thread. Subclasses whose members the worker
  // uses call it first in their own destructor.
  void StopAndWaitForWorker();

 private:
  void Transcode();
  void CloseRegisteredCodecs();
  // Set-up.
  void FreeTranscodeTables();
  [[noreturn]] void FailTranscode(const std::string& message);
  void BuildInputTables();
  void BuildOutputTable();
  void ChooseSource(OutputStream& output, int outputIndex);
  int FindProgramStream(AVMediaType kind) const;
  void SetStreamCopyParameters(OutputStream& output, InputStream& source);
  void SetEncodingParameters(OutputStream& output, InputStream& source);
  void SetVideoEncodingParameters(OutputStream& output, InputStream& source);
  void OpenPassLogFile(OutputStream& output, int outputIndex);
  void LetEncoderKeepItsStatistics(OutputStream& output, const std::string& name);
  void ReportStreamMapping();
  void OpenEncoder(OutputStream& output);
  void OpenDecoder(InputStream& input);
  void CopyMetaData();
  void WriteHeaders();
  void CreateBitstreamFilters(OutputStream& output);
  void DumpOutput(int fileIndex);
  // Main loop.
  void MainLoop();
  int ChooseInputFile(double& smallestOutputTime);
  bool AdjustPacketTimestamps(InputStream& input, AVPacket* packet);
  int OutputPacket(InputStream& input, int inputIndex, const AVPacket* packet);
  int DecodeAudio(InputStream& input, const AVPacket* packet, int& dataSize);
  int DecodeVideo(InputStream& input, const AVPacket* packet, bool& gotPicture);
  int DecodeSubtitle(InputStream& input, const AVPacket* packet, AVSubtitle& subtitle,
                     bool& gotSubtitle);
  void FeedOutputs(InputStream& input, int inputIndex, const AVPacket* packet, uint8_t* data,
                   int dataSize, AVFrame* picture, AVSubtitle* subtitle,
                   OutputStream* only = nullptr);
  void CopyPacket(OutputStream& output, InputStream& input, const AVPacket* packet, int dataSize);
  void DrainEncoders(int inputIndex);
  void DrainAudioEncoder(OutputStream& output);
  void DrainVideoEncoder(OutputStream& output);
  void CopyToOutputs(InputStream& input, int inputIndex, const AVPacket* packet);
  void ApplyAudioVolume(AVSampleFormat format, int dataSize);
  void EmulateRate(InputStream& input);
  void WriteTrailers();
  void CloseTranscodeCodecs();
  // Packets towards the muxers.
  int SendAndWritePackets(OutputStream& output, const AVFrame* frame, int64_t* statistic);
  void NoteCodedPicture(OutputStream& output, const AVPacket* packet);
  void WriteFrame(OutputStream& output, AVPacket* packet);
  void FilterAndWrite(OutputStream& output, AVPacket* packet, size_t stage);
  // "... failed for stream ..." with the library's reason.
  std::string BsfFailureText(const AVBitStreamFilter* filter, const OutputStream& output,
                             int code) const;
  void WriteFiltered(OutputStream& output, AVPacket* packet);
  void DoSubtitleOut(OutputStream& output, InputStream& input, AVSubtitle& subtitle, int64_t pts);
  // Audio.
  void DoAudioOut(OutputStream& output, InputStream& input, uint8_t* data, int size);
  void PrepareResampler(OutputStream& output, InputStream& input);
  void PrepareReformat(OutputStream& output, InputStream& input);
  bool SynchroniseAudio(OutputStream& output, InputStream& input, uint8_t*& data, int& size);
  void EncodeAudioFrames(OutputStream& output, const uint8_t* data, int size);
  void EncodeAudioBlock(OutputStream& output, const uint8_t* data, int sampleCount);
  // Video.
  void PreProcessVideoFrame(InputStream& input, AVFrame* picture);
  void DecideHookModules(int64_t pts);
  void DecideByHookRanges(int64_t pts);
  AVFrame* HookWorkingCopy(const AVFrame* picture);
  void RunCustomHook(AVFrame* working, int64_t pts);
  void PrepareHookBitmap(int width, int height);
  AVFrame* HookRgbPicture(AVFrame* working);
  bool ConvertFromHookRgb(AVFrame* rgb, AVFrame* working);
  void RunHookModules(AVFrame* working, int64_t pts);
  bool HandOnHookedPicture(AVFrame* picture, AVFrame* working);
  void SwitchOffHooks();
  void ReleaseHookState();
  bool DeinterlacePicture(AVFrame* picture);
  // Video filter chains.
  int ConfigureFilters(InputStream& input, OutputStream& output);
  bool BuildFilterChain(OutputStream& output, int width, int height, int pixFmt, AVRational aspect);
  int GetFilteredPicture(OutputStream& output, int64_t& pts);
  int FilterPicture(InputStream& input, int inputIndex, AVFrame* picture);
  int PassThroughChain(InputStream& input, int inputIndex, OutputStream& output, AVFrame* picture);
  void DoVideoOut(OutputStream& output, InputStream& input, AVFrame* picture, int& frameSize);
  int VideoFramesToWrite(OutputStream& output);
  bool AdaptToPicture(OutputStream& output, const AVFrame* picture);
  AVFrame* FormatPicture(OutputStream& output, AVFrame* picture);
  int EncodePicture(OutputStream& output, AVFrame* picture, AVFrame* input);
  void WritePassStatistics(OutputStream& output);
  // Progress.
  void PrintReport(bool isLast);
  void DoVideoStats(OutputStream& output, int frameSize);
  int64_t OutputFileSize() const;

  TThreadPtr<TThread> WorkerThread;
  TThreadPtr<TThread> TerminateThread;
  std::atomic<bool> TerminateRaised{false};
  std::atomic<bool> TerminatePending{false};
  std::unique_ptr<TTranscodeTables> Tables;

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
