// Creating an output: the checks of the picture options, the container
// format, the kinds of streams wanted, metadata, the muxer's settings and
// the target file; and the release of an output that could not be made.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "FFMpegException.h"
#include "FFmpeg.h"
#include "FFmpegFiles.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "binding/MediaUrl.h"
#include "binding/OpenErrorText.h"
#include "platform/Format.h"
#include "platform/Text.h"

namespace {
constexpr const char* ResizingFilters = ",crop,rotate,scale,transpose,";
// Seconds are kept in single precision; the product in single precision
// gives the microseconds meant (0.44 s is 440000, not 439999).
constexpr float MicrosecondsPerSecond = 1000000;

std::string LowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

void SetMetadata(AVFormatContext* output, const char* key, const std::string& value) {
  if (!value.empty()) AVUtilApi.av_dict_set(&output->metadata, key, value.c_str(), 0);
}

void SetMetadataNumber(AVFormatContext* output, const char* key, int value) {
  if (value > 0) SetMetadata(output, key, std::to_string(value));
}

// Seconds since 1970 as the ISO 8601 UTC time the muxers expect.
std::string CreationTime(int64_t seconds) {
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm utc{};
  if (!gmtime_r(&time, &utc)) return "";
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000Z", &utc);
  return text;
}

// The feed format of the older libraries is gone from the installed ones,
// so no output ever takes this way.
bool IsLiveFeed(const AVOutputFormat* format, const std::string& fileName) {
  return std::strcmp(format->name, "ffm") == 0 && StartsWith(fileName, "http:");
}

bool PrivateFlagSet(const AVFormatContext* output, const char* name) {
  int64_t value = 0;
  return output->priv_data && AVUtilApi.av_opt_get_int(output->priv_data, name, 0, &value) >= 0 &&
         value != 0;
}

// Formats that write one file per picture take each name from the number
// pattern in the file name. The image-sequence muxer does so unless it keeps
// rewriting one file or names the files after the clock.
bool NeedsFrameNumber(const AVFormatContext* output) {
  if (output->oformat->flags & AVFMT_NEEDNUMBER) return true;
  return std::strcmp(output->oformat->name, "image2") == 0 && !PrivateFlagSet(output, "update") &&
         !PrivateFlagSet(output, "strftime");
}

// The installed libraries check the encoding parameters when the header is
// initialised; here the muxer's settings need their private data.
int CheckMuxerParameters(const AVFormatContext* output) {
  return output->oformat->priv_class && !output->priv_data ? AVERROR(ENOMEM) : 0;
}

bool SameFile(const std::string& first, const std::string& second) {
  std::error_code error;
  return std::filesystem::equivalent(first, second, error) && !error;
}
}  // namespace

bool TCustomFFmpeg::OpenOutputFile(const std::string& fileName) {
  AVFormatContext* output = nullptr;
  bool created = false;
  try {
    created = CreateOutput(fileName, output);
  } catch (...) {
    WithdrawOutput(output);
    Formats.ForcedOutputFormat = nullptr;
    Formats.ForcedInputFormat = nullptr;
    throw;
  }
  if (!created) WithdrawOutput(output);
  Formats.ForcedOutputFormat = nullptr;
  Formats.ForcedInputFormat = nullptr;
  return created;
}

// Every step of the creation; on failure LastError says why, and output is
// what must be released (it may be in the output table already).
bool TCustomFFmpeg::CreateOutput(const std::string& fileName, AVFormatContext*& output) {
  if (!CheckFilterConflicts()) return false;
  Video.UseFilters = !Video.VideoFilters.empty();
  if (Files.OutputFileCount >= MaxFiles) {
    LastError = Format("Too many output files (at most %d)", {MaxFiles});
    return false;
  }
  if (!Formats.ForcedOutputFormat)
    Formats.ForcedOutputFormat = AVFormatApi.av_guess_format(nullptr, fileName.c_str(), nullptr);
  if (!Formats.ForcedOutputFormat) {
    LastError = Format("Unable to find a suitable output format for '%s'", {fileName});
    return false;
  }
  const int allocated = AVFormatApi.avformat_alloc_output_context2(
      &output, Formats.ForcedOutputFormat, nullptr, MediaUrl(fileName).c_str());
  if (allocated < 0 || !output) {
    LastError = FormatOpenError(fileName, allocated < 0 ? allocated : AVERROR(ENOMEM));
    return false;
  }
  if (IsLiveFeed(output->oformat, fileName)) {
    const int result = ReadFeedStreams(output, fileName);
    if (result < 0) {
      LastError = FormatOpenError(fileName, result);
      return false;
    }
  } else {
    if (!CreateStreams(output)) return false;
    WriteMetadata(output);
  }
  Files.OutputFiles[Files.OutputFileCount++] = output;
  // The muxer's settings come before the checks, which read some of them.
  ApplyMuxerSettings(output);
  if (NeedsFrameNumber(output) && !AVFormatApi.av_filename_number_test(output->url)) {
    LastError = FormatOpenError(fileName, AVERROR(EDOM));
    return false;
  }
  if (!OpenTargetFile(output, fileName)) return false;
  if (CheckMuxerParameters(output) < 0) {
    LastError = Format("%s: Invalid encoding parameters", {fileName});
    return false;
  }
  return true;
}

bool TCustomFFmpeg::CheckFilterConflicts() {
  const int crop = Video.CropLeft + Video.CropRight + Video.CropTop + Video.CropBottom;
  const int pad = Video.PadLeft + Video.PadRight + Video.PadTop + Video.PadBottom;
  if (!Video.VideoFilters.empty() && crop != 0) {
    LastError = "Cannot enable crop options and filters at the same time.";
    return false;
  }
  if (!ResizingFilterCheck(Video.VideoFilters) && pad != 0) {
    LastError =
        "Cannot enable pad options and the filters which resize frame at the same time. (crop, "
        "rotate, scale, transpose, etc.)";
    return false;
  }
  return true;
}

bool TCustomFFmpeg::ResizingFilterCheck(const std::string& chain) {
  const std::string text = LowerCase(chain);
  size_t start = 0;
  while (start <= text.size()) {
    const size_t comma = std::min(text.find(',', start), text.size());
    const std::string item = text.substr(start, comma - start);
    const std::string name = item.substr(0, item.find('='));
    if (std::strstr(ResizingFilters, ("," + name + ",").c_str())) return false;
    start = comma + 1;
  }
  return true;
}

void TCustomFFmpeg::CheckInputKinds(bool& hasVideo, bool& hasAudio, bool& hasSubtitle) const {
  hasVideo = hasAudio = hasSubtitle = false;
  for (int file = 0; file < Files.InputFileCount; ++file) {
    const AVFormatContext* input = Files.InputFiles[file];
    for (unsigned index = 0; index < input->nb_streams; ++index) {
      switch (input->streams[index]->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
          hasVideo = true;
          break;
        case AVMEDIA_TYPE_AUDIO:
          hasAudio = true;
          break;
        case AVMEDIA_TYPE_SUBTITLE:
          hasSubtitle = true;
          break;
        case AVMEDIA_TYPE_DATA:
        case AVMEDIA_TYPE_ATTACHMENT:
        case AVMEDIA_TYPE_UNKNOWN:
          break;
        default:
          throw FFMpegException("invalid codec_type of input file");
      }
    }
  }
}

// The kinds the format or the options ask for, without those no input has
// and those disabled; then one stream of each, video first.
bool TCustomFFmpeg::CreateStreams(AVFormatContext* output) {
  const AVOutputFormat* format = output->oformat;
  bool video = format->video_codec != AV_CODEC_ID_NONE || Video.VideoStreamCopy ||
               Video.VideoCodecName.has_value();
  bool audio = format->audio_codec != AV_CODEC_ID_NONE || Audio.AudioStreamCopy ||
               Audio.AudioCodecName.has_value();
  bool subtitle = format->subtitle_codec != AV_CODEC_ID_NONE || Subtitle.SubtitleStreamCopy ||
                  Subtitle.SubtitleCodecName.has_value();
  if (Files.InputFileCount > 0) {
    bool hasVideo, hasAudio, hasSubtitle;
    try {
      CheckInputKinds(hasVideo, hasAudio, hasSubtitle);
    } catch (const Exception& error) {
      LastError = Format("check_audio_video_sub_inputs fail: %s", {error.what()});
      return false;
    }
    video = video && hasVideo;
    audio = audio && hasAudio;
    subtitle = subtitle && hasSubtitle;
  }
  video = video && !Video.VideoDisable;
  audio = audio && !Audio.AudioDisable;
  subtitle = subtitle && !Subtitle.SubtitleDisable;
  return (!video || CreateStream(output, &TCustomFFmpeg::NewVideoStream, "new_video_stream")) &&
         (!audio || CreateStream(output, &TCustomFFmpeg::NewAudioStream, "new_audio_stream")) &&
         (!subtitle ||
          CreateStream(output, &TCustomFFmpeg::NewSubtitleStream, "new_subtitle_stream"));
}

bool TCustomFFmpeg::CreateStream(AVFormatContext* output,
                                 void (TCustomFFmpeg::*creator)(AVFormatContext*),
                                 const char* creatorName) {
  try {
    (this->*creator)(output);
    return true;
  } catch (const Exception& error) {
    LastError = Format("%s fail: %s", {creatorName, error.what()});
    return false;
  }
}

void TCustomFFmpeg::WriteMetadata(AVFormatContext* output) {
  if (Timing.RecTimestamp != 0)
    SetMetadata(output, "creation_time", CreationTime(Timing.RecTimestamp));
  SetMetadata(output, "title", Mux.Title);
  SetMetadata(output, "author", Mux.Author);
  SetMetadata(output, "copyright", Mux.Copyright);
  SetMetadata(output, "comment", Mux.Comment);
  SetMetadata(output, "album", Mux.Album);
  SetMetadataNumber(output, "year", Mux.Year);
  SetMetadataNumber(output, "track", Mux.Track);
  SetMetadata(output, "genre", Mux.Genre);
}

// Preload and loop count go to the muxers that have them, the maximum
// delay to every one; the recorded options win over all three. What the
// muxer took is kept for the header write.
void TCustomFFmpeg::ApplyMuxerSettings(AVFormatContext* output) {
  output->max_delay = static_cast<int>(Mux.MuxMaxDelay * MicrosecondsPerSecond);
  AVDictionary* settings = nullptr;
  AVUtilApi.av_dict_set(
      &settings, "preload",
      std::to_string(static_cast<int64_t>(Mux.MuxPreload * MicrosecondsPerSecond)).c_str(), 0);
  AVUtilApi.av_dict_set(&settings, "loop", std::to_string(Mux.LoopOutput).c_str(), 0);
  AVUtilApi.av_dict_copy(&settings, Generic.MuxerPrivateOptions, 0);
  ApplyPrivateOptions(output->priv_data, output->oformat->priv_class, settings,
                      &FileStreams.Outputs[Files.OutputFileCount - 1].MuxerOptions);
  AVUtilApi.av_dict_free(&settings);
  ApplyGenericOptions(output, Generic.FormatOptionContext, AV_OPT_FLAG_ENCODING_PARAM);
}

// An existing file is replaced, except an input of this job, which opening
// for writing would empty.
bool TCustomFFmpeg::OpenTargetFile(AVFormatContext* output, const std::string& fileName) {
  if (output->oformat->flags & AVFMT_NOFILE) return true;
  bool isInput = false;
  for (int file = 0; file < Files.InputFileCount; ++file)
    isInput = isInput || SameFile(output->url, Files.InputFiles[file]->url);
  if (isInput || AVFormatApi.avio_open(&output->pb, output->url, AVIO_FLAG_WRITE) < 0) {
    LastError = Format("Could not open '%s'", {fileName});
    return false;
  }
  return true;
}

int TCustomFFmpeg::ReadFeedStreams(AVFormatContext* /*output*/, const std::string& /*url*/) {
  return AVERROR(ENOSYS);
}

// Takes a failed output out of the table when it got there, with its
// streams' state; the target file goes when this creation made it and
// nothing was written.
void TCustomFFmpeg::WithdrawOutput(AVFormatContext*& output) {
  if (!output) return;
  const int last = Files.OutputFileCount - 1;
  if (last >= 0 && Files.OutputFiles[last] == output) {
    Files.OutputFiles[last] = nullptr;
    Files.OutputFileCount = last;
  }
  ReleaseOutputStreams(Files.OutputFileCount);
  ReleaseOutputContext(output, output->pb != nullptr);
}

void TCustomFFmpeg::ReleaseOutputStreams(int file) {
  TOutputFileState& state = FileStreams.Outputs[file];
  for (TOutputStreamState& stream : state.Streams) {
    FreeJobCodecContext(stream.Encoder);
    AVUtilApi.av_dict_free(&stream.EncoderOptions);
  }
  state.Streams.clear();
  AVUtilApi.av_dict_free(&state.MuxerOptions);
  for (TBsfChain& chain : Bsf.StreamBsfLists[file]) chain.clear();
}

AVCodecContext* TCustomFFmpeg::OutputEncoderContext(int file, int stream) const {
  if (file < 0 || file >= MaxFiles) return nullptr;
  const auto& streams = FileStreams.Outputs[file].Streams;
  return stream >= 0 && stream < static_cast<int>(streams.size()) ? streams[stream].Encoder
                                                                  : nullptr;
}

bool TCustomFFmpeg::OutputIsStreamCopy(int file, int stream) const {
  if (file < 0 || file >= MaxFiles) return false;
  const auto& streams = FileStreams.Outputs[file].Streams;
  return stream >= 0 && stream < static_cast<int>(streams.size()) && streams[stream].StreamCopy;
}

AVDictionary* TCustomFFmpeg::MuxerOptionsFor(const AVFormatContext* output) const {
  AVDictionary* options = nullptr;
  for (int file = 0; file < Files.OutputFileCount; ++file)
    if (Files.OutputFiles[file] == output)
      AVUtilApi.av_dict_copy(&options, FileStreams.Outputs[file].MuxerOptions, 0);
  return options;
}
