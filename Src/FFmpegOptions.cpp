// The option state's defaults, the option dispatcher with its vocabulary,
// and the splitter of option text.
#include <string_view>
#include <unordered_map>

#include "FFMpegException.h"
#include "FFmpeg.h"
#include "platform/Convert.h"
#include "platform/Format.h"
#include "platform/Text.h"

namespace {
using TJob = TCustomFFmpeg&;
using TText = const std::string&;
// Converts the value as the option needs it and runs its handler.
using TOptionAction = void (*)(TJob job, TText name, TText value);

struct TOptionEntry {
  const char* Name;
  TOptionAction Action;
};

void Ignore(TJob job, TText name, TText) {
  job.IgnoreOption(name);
}

// Every name the dispatcher knows. Names are matched exactly, letter case
// included; the value conversion (integer, 64-bit integer, real, text or
// none) is part of each action.
const TOptionEntry Vocabulary[] = {
    // Files, time, metadata and muxing.
    {"f", [](TJob job, TText, TText v) { job.OptFormat(v); }},
    {"map", [](TJob job, TText, TText v) { job.OptMap(v); }},
    {"map_meta_data", [](TJob job, TText, TText v) { job.OptMetaDataMap(v); }},
    {"t", [](TJob job, TText n, TText v) { job.OptTime(n, v); }},
    {"fs", [](TJob job, TText, TText v) { job.Timing.FileSizeLimit = StrToInt64(v); }},
    {"ss", [](TJob job, TText n, TText v) { job.OptTime(n, v); }},
    {"itsoffset", [](TJob job, TText n, TText v) { job.OptTime(n, v); }},
    {"itsscale", [](TJob job, TText, TText v) { job.OptInputTsScale(v); }},
    {"timestamp", [](TJob job, TText n, TText v) { job.OptTime(n, v); }},
    {"title", [](TJob job, TText, TText v) { job.SetTitle(v); }},
    {"author", [](TJob job, TText, TText v) { job.SetAuthor(v); }},
    {"copyright", [](TJob job, TText, TText v) { job.SetCopyright(v); }},
    {"comment", [](TJob job, TText, TText v) { job.SetComment(v); }},
    {"genre", [](TJob job, TText, TText v) { job.SetGenre(v); }},
    {"album", [](TJob job, TText, TText v) { job.SetAlbum(v); }},
    {"target", [](TJob job, TText, TText v) { job.OptTarget(v); }},
    {"programid", [](TJob job, TText, TText v) { job.Input.ProgramId = StrToInt(v); }},
    {"loop_input", [](TJob job, TText, TText) { job.Input.LoopInput = 1; }},
    {"loop_output", [](TJob job, TText, TText v) { job.Mux.LoopOutput = StrToInt(v); }},
    {"re", [](TJob job, TText, TText) { job.Input.RateEmulation = 1; }},
    {"copyts", [](TJob job, TText, TText) { job.Timing.CopyTimestamps = true; }},
    {"shortest", [](TJob job, TText, TText) { job.Timing.Shortest = 1; }},
    {"dts_delta_threshold",
     [](TJob job, TText, TText v) {
       job.Timing.DtsDeltaThreshold = static_cast<float>(StrToFloat(v));
     }},
    {"muxdelay",
     [](TJob job, TText, TText v) { job.Mux.MuxMaxDelay = static_cast<float>(StrToFloat(v)); }},
    {"muxpreload",
     [](TJob job, TText, TText v) { job.Mux.MuxPreload = static_cast<float>(StrToFloat(v)); }},
    {"isync", [](TJob job, TText, TText) { job.Timing.InputSync = 1; }},
    // Diagnostics.
    {"v", [](TJob job, TText, TText v) { job.OptVerbosity(StrToInt(v)); }},
    {"dump", [](TJob job, TText, TText) { job.Diagnostics.PacketDump = 1; }},
    {"hex", [](TJob job, TText, TText) { job.Diagnostics.HexDump = 1; }},
    {"xerror", [](TJob job, TText, TText) { job.Diagnostics.ExitOnError = true; }},
    {"psnr", [](TJob job, TText, TText) { job.Stats.DoPsnr = 1; }},
    {"vstats", [](TJob job, TText, TText) { job.OptVstats(); }},
    {"vstats_file", [](TJob job, TText, TText v) { job.OptVstatsFile(v); }},
    {"qphist", [](TJob job, TText, TText) { job.Stats.QpHistogram = 1; }},
    // Video.
    {"b", [](TJob job, TText n, TText v) { job.OptBitRate(n, v); }},
    {"vb", [](TJob job, TText n, TText v) { job.OptBitRate(n, v); }},
    {"vframes", [](TJob job, TText, TText v) { job.Timing.MaxFrames[0] = StrToInt(v); }},
    {"r", [](TJob job, TText, TText v) { job.OptFrameRate(v); }},
    {"s", [](TJob job, TText, TText v) { job.OptFrameSize(v); }},
    {"aspect", [](TJob job, TText, TText v) { job.OptAspect(v); }},
    {"pix_fmt", [](TJob job, TText, TText v) { job.OptPixFmt(v); }},
    {"croptop", [](TJob job, TText, TText v) { job.OptCrop(TSide::Top, StrToInt(v)); }},
    {"cropbottom", [](TJob job, TText, TText v) { job.OptCrop(TSide::Bottom, StrToInt(v)); }},
    {"cropleft", [](TJob job, TText, TText v) { job.OptCrop(TSide::Left, StrToInt(v)); }},
    {"cropright", [](TJob job, TText, TText v) { job.OptCrop(TSide::Right, StrToInt(v)); }},
    {"padtop", [](TJob job, TText, TText v) { job.OptPad(TSide::Top, StrToInt(v)); }},
    {"padbottom", [](TJob job, TText, TText v) { job.OptPad(TSide::Bottom, StrToInt(v)); }},
    {"padleft", [](TJob job, TText, TText v) { job.OptPad(TSide::Left, StrToInt(v)); }},
    {"padright", [](TJob job, TText, TText v) { job.OptPad(TSide::Right, StrToInt(v)); }},
    {"padcolor", [](TJob job, TText, TText v) { job.OptPadColor(StrToInt(v)); }},
    {"intra", [](TJob job, TText, TText) { job.Video.IntraOnly = 1; }},
    {"vn", [](TJob job, TText, TText) { job.Video.VideoDisable = 1; }},
    {"vdt", [](TJob job, TText, TText v) { job.Video.VideoDiscard = StrToInt(v); }},
    {"qscale", [](TJob job, TText, TText v) { job.OptQScale(StrToFloat(v)); }},
    {"rc_override", [](TJob job, TText, TText v) { job.OptRcOverride(v); }},
    {"vcodec", [](TJob job, TText, TText v) { job.OptCodec(AVMEDIA_TYPE_VIDEO, v); }},
    {"me_threshold", [](TJob job, TText, TText v) { job.Video.MeThreshold = StrToInt(v); }},
    {"sameq", [](TJob job, TText, TText) { job.Video.SameQuality = 1; }},
    {"pass", [](TJob job, TText, TText v) { job.OptPass(StrToInt(v)); }},
    {"passlogfile", [](TJob job, TText, TText v) { job.Stats.PassLogFileName = v; }},
    {"deinterlace", [](TJob job, TText, TText) { job.Video.Deinterlace = 1; }},
    {"vhook", [](TJob job, TText, TText v) { job.OptVideoHook(v); }},
    {"vfilters", [](TJob job, TText, TText v) { job.OptVideoFilters(v); }},
    {"intra_matrix", [](TJob job, TText, TText v) { job.OptMatrix(true, v); }},
    {"inter_matrix", [](TJob job, TText, TText v) { job.OptMatrix(false, v); }},
    {"top", [](TJob job, TText, TText v) { job.Video.TopFieldFirst = StrToInt(v); }},
    {"dc", [](TJob job, TText, TText v) { job.Video.IntraDcPrecision = StrToInt(v); }},
    {"vtag", [](TJob job, TText, TText v) { job.OptCodecTag(AVMEDIA_TYPE_VIDEO, v); }},
    {"newvideo", [](TJob job, TText n, TText) { job.OptNewStream(AVMEDIA_TYPE_VIDEO, n); }},
    {"vsync", [](TJob job, TText, TText v) { job.Video.VideoSyncMethod = StrToInt(v); }},
    {"vglobal", [](TJob job, TText, TText v) { job.Video.VideoGlobalHeader = StrToInt(v); }},
    {"vbsf", [](TJob job, TText n, TText v) { job.OptBitstreamFilter(n, v); }},
    // Audio, subtitles, data and capture.
    {"ab", [](TJob job, TText n, TText v) { job.OptBitRate(n, v); }},
    {"aframes", [](TJob job, TText, TText v) { job.Timing.MaxFrames[1] = StrToInt(v); }},
    {"aq",
     [](TJob job, TText, TText v) { job.Audio.AudioQScale = static_cast<float>(StrToFloat(v)); }},
    {"ar", [](TJob job, TText, TText v) { job.OptAudioRate(StrToInt(v)); }},
    {"ac", [](TJob job, TText, TText v) { job.OptAudioChannels(StrToInt(v)); }},
    {"an", [](TJob job, TText, TText) { job.Audio.AudioDisable = 1; }},
    {"acodec", [](TJob job, TText, TText v) { job.OptCodec(AVMEDIA_TYPE_AUDIO, v); }},
    {"atag", [](TJob job, TText, TText v) { job.OptCodecTag(AVMEDIA_TYPE_AUDIO, v); }},
    {"vol", [](TJob job, TText, TText v) { job.Audio.AudioVolume = StrToInt(v); }},
    {"newaudio", [](TJob job, TText n, TText) { job.OptNewStream(AVMEDIA_TYPE_AUDIO, n); }},
    {"alang", [](TJob job, TText, TText v) { job.Audio.AudioLanguage = v; }},
    {"sample_fmt", [](TJob job, TText, TText v) { job.OptSampleFmt(v); }},
    {"async", [](TJob job, TText, TText v) { job.Audio.AudioSyncMethod = StrToInt(v); }},
    {"adrift_threshold",
     [](TJob job, TText,
        TText v) { job.Audio.AudioDriftThreshold = static_cast<float>(StrToFloat(v)); }},
    {"absf", [](TJob job, TText n, TText v) { job.OptBitstreamFilter(n, v); }},
    {"sn", [](TJob job, TText, TText) { job.Subtitle.SubtitleDisable = 1; }},
    {"scodec", [](TJob job, TText, TText v) { job.OptCodec(AVMEDIA_TYPE_SUBTITLE, v); }},
    {"newsubtitle", [](TJob job, TText n, TText) { job.OptNewStream(AVMEDIA_TYPE_SUBTITLE, n); }},
    {"slang", [](TJob job, TText, TText v) { job.Subtitle.SubtitleLanguage = v; }},
    {"sbsf", [](TJob job, TText n, TText v) { job.OptBitstreamFilter(n, v); }},
    {"dframes", [](TJob job, TText, TText v) { job.Timing.MaxFrames[2] = StrToInt(v); }},
    {"vc", [](TJob job, TText, TText v) { job.Input.VideoChannel = StrToInt(v); }},
    {"tvstd", [](TJob job, TText, TText v) { job.OptVideoStandard(v); }},
    // Accepted and ignored.
    {"L", Ignore},
    {"h", Ignore},
    {"version", Ignore},
    {"formats", Ignore},
    {"i", Ignore},
    {"y", Ignore},
    {"benchmark", Ignore},
    {"apre", Ignore},
    {"vpre", Ignore},
    {"spre", Ignore},
    // Refused.
    {"threads", [](TJob job, TText n, TText) { job.RefuseOption(n); }},
};

const std::unordered_map<std::string_view, TOptionAction>& VocabularyIndex() {
  static const auto index = [] {
    std::unordered_map<std::string_view, TOptionAction> map;
    for (const TOptionEntry& entry : Vocabulary) map.emplace(entry.Name, entry.Action);
    return map;
  }();
  return index;
}

// CR LF pairs and lone CRs become LF.
std::string UnifyLineBreaks(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      out += text[i];
      continue;
    }
    out += '\n';
    if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  return out;
}
}  // namespace

// Every option group back to its defaults. The library objects the groups
// refer to are released by Cleanup, which Reset runs first; at construction
// there are none yet.
void TCustomFFmpeg::LoadDefaults() {
  Files = {};
  Maps = {};
  Formats = {};
  Video = {};
  Audio = {};
  Subtitle = {};
  Input = {};
  Timing = {};
  Mux = {};
  Stats = {};
  Diagnostics = {};
  Runtime = {};
  Generic = {};
  Bsf = {};
  Hooks = {};
  HasError = false;
  OutputDurationMs = -1;
}

void TCustomFFmpeg::SetOption(const std::string& name, const std::string& value) {
  const auto& index = VocabularyIndex();
  const auto entry = index.find(name);
  if (entry != index.end())
    entry->second(*this, name, value);
  else
    SetGenericOption(name, value);
}

void TCustomFFmpeg::ApplyOptionText(const std::string& text) {
  std::string rest = UnifyLineBreaks(Trim(text));
  while (!rest.empty()) {
    const size_t lineEnd = rest.find('\n');
    const std::string line = rest.substr(0, lineEnd);
    rest = lineEnd == std::string::npos ? std::string() : rest.substr(lineEnd + 1);
    const size_t equals = line.find('=');
    if (equals == std::string::npos)
      SetOption(line, "");
    else
      SetOption(line.substr(0, equals), line.substr(equals + 1));
  }
}

void TCustomFFmpeg::IgnoreOption(const std::string& name) {
  Log(1, Format("Do nothing: option - %s", {name}));
}

void TCustomFFmpeg::RefuseOption(const std::string& name) {
  throw FFMpegException(Format("TODO: option - %s", {name}));
}
