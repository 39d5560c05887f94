// Value handlers for stream maps, times, quantiser matrices, statistics
// files, bitstream filters and new streams, and the plain setters of the
// record translation.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "FFMpegException.h"
#include "FFmpeg.h"
#include "binding/AVCodecHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "binding/MyUtilHlpr.h"
#include "platform/Environment.h"
#include "platform/Format.h"
#include "platform/Text.h"

namespace {
int ClampToInt(long long value) {
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

// A number in C notation with automatic base (decimal, 0x hexadecimal,
// leading 0 octal); text moves past it. A missing number reads as 0.
int ReadNumber(const char*& text) {
  char* end = nullptr;
  const long value = MyUtilApi.my_strtol(text, &end, 0);
  text = end;
  return ClampToInt(value);
}

// Passes the one separator character between two numbers, if any.
void SkipSeparator(const char*& text) {
  if (*text) ++text;
}

// Rounds value / divisor to the nearest integer, halves to the even one.
int64_t DivideRoundingHalfEven(int64_t value, int64_t divisor) {
  int64_t quotient = value / divisor;
  const int64_t remainder = value % divisor;
  const int64_t twice = 2 * (remainder < 0 ? -remainder : remainder);
  if (twice > divisor || (twice == divisor && quotient % 2 != 0))
    quotient += remainder < 0 ? -1 : 1;
  return quotient;
}

void SetMetadataText(std::string& field, const std::string& value) {
  if (!value.empty()) field = value;
}

std::string LocalClockDigits() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char digits[8];
  std::strftime(digits, sizeof digits, "%H%M%S", &local);
  return digits;
}
}  // namespace

// ---- Maps ----------------------------------------------------------------

void TCustomFFmpeg::AppendStreamMap(const TStreamMap& map) {
  if (Maps.StreamMapCount >= MaxStreamMaps)
    throw FFMpegException(Format("Too many stream maps (at most %d)", {MaxStreamMaps}));
  Maps.StreamMaps[Maps.StreamMapCount++] = map;
}

void TCustomFFmpeg::AppendMetaDataMap(const TMetaDataMap& map) {
  if (Maps.MetaDataMapCount >= MaxMetaDataMaps)
    throw FFMpegException(Format("Too many metadata maps (at most %d)", {MaxMetaDataMaps}));
  Maps.MetaDataMaps[Maps.MetaDataMapCount++] = map;
}

// file.stream[:syncfile.syncstream], each separator any one character.
void TCustomFFmpeg::OptMap(const std::string& value) {
  const char* text = value.c_str();
  TStreamMap map;
  map.FileIndex = ReadNumber(text);
  SkipSeparator(text);
  map.StreamIndex = ReadNumber(text);
  if (!*text) {
    map.SyncFileIndex = map.FileIndex;
    map.SyncStreamIndex = map.StreamIndex;
  } else {
    ++text;
    map.SyncFileIndex = ReadNumber(text);
    SkipSeparator(text);
    map.SyncStreamIndex = ReadNumber(text);
  }
  AppendStreamMap(map);
}

void TCustomFFmpeg::OptMetaDataMap(const std::string& value) {
  const char* text = value.c_str();
  TMetaDataMap map;
  map.OutFile = ReadNumber(text);
  SkipSeparator(text);
  map.InFile = ReadNumber(text);
  AppendMetaDataMap(map);
}

// stream:scale for the input opened next.
void TCustomFFmpeg::OptInputTsScale(const std::string& value) {
  const char* text = value.c_str();
  const int stream = ReadNumber(text);
  SkipSeparator(text);
  const double scale = MyUtilApi.my_strtod(text, nullptr);
  if (stream < 0 || stream >= MaxStreams)
    throw FFMpegException(Format("stream index over MAX_STREAMS(%d)", {MaxStreams}));
  if (Files.InputFileCount >= MaxFiles)
    throw FFMpegException(Format("input file count over MAX_FILES(%d)", {MaxFiles}));
  Timing.InputTsScales[Files.InputFileCount][stream] = scale;
}

// ---- Times ---------------------------------------------------------------

void TCustomFFmpeg::OptTime(const std::string& name, const std::string& value) {
  const bool isDate = name == "timestamp";
  int64_t microseconds = 0;
  if (AVUtilApi.av_parse_time(&microseconds, value.c_str(), isDate ? 0 : 1) < 0)
    throw FFMpegException(
        Format("Invalid %s specification for %s: %s", {isDate ? "date" : "duration", name, value}));
  if (name == "t")
    SetDurationMs(ClampToInt(microseconds / 1000));
  else if (name == "ss")
    Timing.SeekTimeUs = microseconds;
  else if (name == "itsoffset")
    Timing.InputTsOffset = microseconds;
  else
    Timing.RecTimestamp = DivideRoundingHalfEven(microseconds, 1000000);
}

void TCustomFFmpeg::SetDurationMs(int milliseconds) {
  if (milliseconds <= 0) return;
  Timing.RecordingTimeUs = static_cast<int64_t>(milliseconds) * 1000;
  OutputDurationMs = milliseconds;
}

// ---- Encoding ------------------------------------------------------------

void TCustomFFmpeg::OptPass(int pass) {
  if (pass != 1 && pass != 2) throw FFMpegException("pass number can be only 1 or 2");
  Stats.PassNumber = pass;
}

// 64 comma-separated coefficients; a short list leaves the rest 0 and raises.
void TCustomFFmpeg::OptMatrix(bool intra, const std::string& value) {
  std::optional<TQuantMatrix>& matrix = intra ? Video.IntraMatrix : Video.InterMatrix;
  matrix.emplace();
  const char* text = value.c_str();
  for (int coefficient = 0; coefficient < 64; ++coefficient) {
    (*matrix)[coefficient] = static_cast<uint16_t>(std::strtoll(text, nullptr, 10));
    if (coefficient == 63) break;
    const char* comma = std::strchr(text, ',');
    if (!comma)
      throw FFMpegException(
          Format("Syntax error in matrix \"%s\" at coeff %d", {value, coefficient}));
    text = comma + 1;
  }
}

// ---- Statistics files ----------------------------------------------------

void TCustomFFmpeg::OptVstats() {
  Stats.VstatsFileName = Format(
      "%svstats_%s.log", {IncludeTrailingPathDelimiter(ExecutableFolder()), LocalClockDigits()});
}

void TCustomFFmpeg::OptVstatsFile(const std::string& fileName) {
  Stats.VstatsFileName = fileName;
}

// ---- Bitstream filters and new streams -----------------------------------

// name[=arguments]; the arguments are not used.
void TCustomFFmpeg::OptBitstreamFilter(const std::string& name, const std::string& value) {
  if (name.empty() || value.empty() || value[0] == '=') return;
  const std::string filterName = value.substr(0, value.find('='));
  const AVBitStreamFilter* filter = AVCodecApi.av_bsf_get_by_name(filterName.c_str());
  if (!filter) throw FFMpegException(Format("Unknown bitstream filter %s", {Trim(value)}));
  TBsfChain& chain = name[0] == 'v'   ? Bsf.VideoBsfList
                     : name[0] == 'a' ? Bsf.AudioBsfList
                                      : Bsf.SubtitleBsfList;
  chain.push_back(filter);
}

// Streams are added to an output only while it is being created, so a
// second stream of a kind cannot be added afterwards yet.
void TCustomFFmpeg::OptNewStream(AVMediaType kind, const std::string& /*name*/) {
  if (Files.OutputFileCount <= 0)
    throw FFMpegException("At least one output file must be specified");
  AVFormatContext* output = Files.OutputFiles[Files.OutputFileCount - 1];
  if (kind == AVMEDIA_TYPE_VIDEO)
    NewVideoStream(output);
  else if (kind == AVMEDIA_TYPE_AUDIO)
    NewAudioStream(output);
  else
    NewSubtitleStream(output);
}

// A hook module file followed by its arguments, separated by "|" when the
// value holds one, else by spaces.
void TCustomFFmpeg::OptVideoHook(const std::string& value) {
  if (AddFrameHook(Hooks.HookList, SplitHookWords(value)) != 0)
    throw FFMpegException(Format("Failed to add video hook function: %s", {value}));
  Hooks.VideoHookUsed = true;
}

// ---- Plain setters -------------------------------------------------------

void TCustomFFmpeg::SetSeekTimeUs(int64_t microseconds) {
  if (microseconds > 0) Timing.SeekTimeUs = microseconds;
}

void TCustomFFmpeg::SetProgramId(int program) {
  if (program >= 0) Input.ProgramId = program;
}

void TCustomFFmpeg::SetAudioVolume(int volume) {
  if (volume >= 0) Audio.AudioVolume = volume;
}

void TCustomFFmpeg::SetAudioSyncMethod(int method) {
  Audio.AudioSyncMethod = method;
}

void TCustomFFmpeg::SetVideoSyncMethod(int method) {
  Video.VideoSyncMethod = method;
}

void TCustomFFmpeg::SetMuxMaxDelay(float seconds) {
  if (seconds > 0) Mux.MuxMaxDelay = seconds;
}

void TCustomFFmpeg::SetMuxPreload(float seconds) {
  if (seconds > 0) Mux.MuxPreload = seconds;
}

void TCustomFFmpeg::SetYear(int year) {
  if (year > 0) Mux.Year = year;
}

void TCustomFFmpeg::SetTrack(int track) {
  if (track > 0) Mux.Track = track;
}

void TCustomFFmpeg::SetTitle(const std::string& value) {
  SetMetadataText(Mux.Title, value);
}
void TCustomFFmpeg::SetAuthor(const std::string& value) {
  SetMetadataText(Mux.Author, value);
}
void TCustomFFmpeg::SetCopyright(const std::string& value) {
  SetMetadataText(Mux.Copyright, value);
}
void TCustomFFmpeg::SetComment(const std::string& value) {
  SetMetadataText(Mux.Comment, value);
}
void TCustomFFmpeg::SetGenre(const std::string& value) {
  SetMetadataText(Mux.Genre, value);
}
void TCustomFFmpeg::SetAlbum(const std::string& value) {
  SetMetadataText(Mux.Album, value);
}
