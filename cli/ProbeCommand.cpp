#include "ProbeCommand.h"

#include <cstdio>

#include "Json.h"
#include "probe/AVProbe.h"

namespace {
std::string FixedText(const char* field, size_t size) {
  size_t length = 0;
  while (length < size && field[length]) ++length;
  return std::string(field, length);
}

template <typename TInfo>
void AddCommonFields(TJsonObject& json, const TInfo& info) {
  json.Add("Language", FixedText(info.Language, sizeof info.Language))
      .Add("CodecName", FixedText(info.CodecName, sizeof info.CodecName))
      .Add("StartTime", info.StartTime)
      .Add("StartTimeUs", info.StartTimeUs)
      .Add("Duration", info.Duration)
      .Add("DurationUs", info.DurationUs)
      .Add("BitRate", info.BitRate);
}

TJsonObject AudioJson(const TAudioStreamInfo& info) {
  TJsonObject json;
  AddCommonFields(json, info);
  json.Add("Channels", info.Channels)
      .Add("SampleRate", info.SampleRate)
      .Add("SampleFormat", info.SampleFormat);
  return json;
}

TJsonObject VideoJson(const TVideoStreamInfo& info) {
  TJsonObject json;
  AddCommonFields(json, info);
  json.Add("Height", info.Height)
      .Add("Width", info.Width)
      .Add("AspectRatio", static_cast<double>(info.AspectRatio))
      .Add("PixelFormat", info.PixelFormat)
      .Add("FrameRateNum", info.FrameRateNum)
      .Add("FrameRateDen", info.FrameRateDen);
  return json;
}
}  // namespace

std::string DescribeMediaFile(TAVProbe& probe, const std::string& fileName, bool& opened) {
  TJsonObject json;
  json.Add("File", fileName);
  opened = probe.Open(fileName);
  if (!opened) return json.Add("Error", probe.LastError).Text();
  json.Add("StreamCount", probe.StreamCount)
      .Add("ProgramCount", probe.ProgramCount)
      .Add("AudioStreamCount", probe.AudioStreamCount)
      .Add("VideoStreamCount", probe.VideoStreamCount)
      .Add("SubtitleStreamCount", probe.SubtitleStreamCount)
      .Add("FirstAudioStream", probe.FirstAudioStream)
      .Add("FirstVideoStream", probe.FirstVideoStream)
      .Add("FirstSubtitleStream", probe.FirstSubtitleStream)
      .Add("DurationUs", probe.FileDurationUs());
  if (probe.FirstAudioStream >= 0) {
    TAudioStreamInfo audio;
    probe.GetAudioInfo(audio);
    json.Add("Audio", AudioJson(audio));
  } else {
    json.AddNull("Audio");
  }
  if (probe.FirstVideoStream >= 0) {
    TVideoStreamInfo video;
    probe.GetVideoInfo(video);
    json.Add("Video", VideoJson(video));
  } else {
    json.AddNull("Video");
  }
  probe.Close();
  return json.Text();
}

int RunProbeCommand(const std::vector<std::string>& files) {
  TAVProbe probe;
  int status = 0;
  for (const std::string& file : files) {
    bool opened = false;
    std::printf("%s\n", DescribeMediaFile(probe, file, opened).c_str());
    if (!opened) status = 1;
  }
  std::fflush(stdout);
  return status;
}
