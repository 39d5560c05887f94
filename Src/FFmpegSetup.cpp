// The set-up of a transcode: tables, the source of every output stream,
// stream-copy and encoder parameters, two-pass log files, codecs opened,
// metadata, headers and the mapping report.
#include <cmath>
#include <cstring>
#include <string>

#include "FFMpegException.h"
#include "FFmpeg.h"
#include "FFmpegFiles.h"
#include "LibraryLock.h"
#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "binding/MyUtilHlpr.h"
#include "binding/SwScaleHlpr.h"
#include "platform/Format.h"

namespace {
constexpr size_t MaxLogFileNameLength = 1023;
constexpr int SdpBufferSize = 2048;
// The private option of encoders that keep their own two-pass statistics.
constexpr const char* StatisticsFileOption = "stats";

bool InvalidStreamReference(const std::vector<InputFile>& files, int file, int stream) {
  return file < 0 || file >= static_cast<int>(files.size()) || stream < 0 ||
         stream > files[file].StreamCount - 1;
}

const char* DictionaryText(AVDictionary* dictionary, const char* key) {
  const AVDictionaryEntry* entry = AVUtilApi.av_dict_get(dictionary, key, nullptr, 0);
  return entry ? entry->value : nullptr;
}

std::string TrimBlanksAndControls(const char* text) {
  std::string result(text);
  const auto blank = [](unsigned char c) { return c <= ' '; };
  while (!result.empty() && blank(result.back())) result.pop_back();
  size_t start = 0;
  while (start < result.size() && blank(result[start])) ++start;
  return result.substr(start);
}

// The chosen codec's private class takes the entries it knows; the others
// belong to some other codec and are left out.
AVDictionary* OptionsKnownTo(const AVCodec* codec, AVDictionary* recorded) {
  AVDictionary* result = nullptr;
  const AVClass* privateClass = codec->priv_class;
  if (!privateClass) return nullptr;
  const AVDictionaryEntry* entry = nullptr;
  while ((entry = AVUtilApi.av_dict_get(recorded, "", entry, AV_DICT_IGNORE_SUFFIX))) {
    const AVClass* fakeObject = privateClass;
    if (AVUtilApi.av_opt_find(&fakeObject, entry->key, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ))
      AVUtilApi.av_dict_set(&result, entry->key, entry->value, 0);
  }
  return result;
}
}  // namespace

[[noreturn]] void TCustomFFmpeg::FailTranscode(const std::string& message) {
  FreeTranscodeTables();
  throw FFMpegException(message);
}

void TCustomFFmpeg::BuildInputTables() {
  TTranscodeTables& tables = *Tables;
  int streamCount = 0;
  tables.FileTable.resize(Files.InputFileCount);
  for (int file = 0; file < Files.InputFileCount; ++file) {
    tables.FileTable[file].FirstStream = streamCount;
    tables.FileTable[file].StreamCount = static_cast<int>(Files.InputFiles[file]->nb_streams);
    streamCount += tables.FileTable[file].StreamCount;
  }
  for (int file = 0; file < Files.InputFileCount; ++file) {
    for (int stream = 0; stream < tables.FileTable[file].StreamCount; ++stream) {
      auto input = std::make_unique<InputStream>();
      input->FileIndex = file;
      input->StreamIndex = stream;
      input->Stream = Files.InputFiles[file]->streams[stream];
      input->Decoder = InputDecoderContext(file, stream);
      input->RateEmulation = InputRateEmulation(file, stream);
      if (input->RateEmulation) input->Start = AVUtilApi.av_gettime();
      input->DecodedFrame = AVUtilApi.av_frame_alloc();
      if (!input->Decoder || !input->DecodedFrame) FailTranscode("av_mallocz fail");
      tables.InputStreamTable.push_back(std::move(input));
    }
  }
}

void TCustomFFmpeg::BuildOutputTable() {
  TTranscodeTables& tables = *Tables;
  int outputCount = 0;
  for (int file = 0; file < Files.OutputFileCount; ++file) {
    if (Files.OutputFiles[file]->nb_streams == 0)
      FailTranscode("Output file does not contain any stream");
    outputCount += static_cast<int>(Files.OutputFiles[file]->nb_streams);
  }
  if (Maps.StreamMapCount > 0 && Maps.StreamMapCount != outputCount)
    FailTranscode("Number of stream maps must match number of output streams");
  for (int map = 0; map < Maps.StreamMapCount; ++map) {
    const TStreamMap& entry = Maps.StreamMaps[map];
    if (InvalidStreamReference(tables.FileTable, entry.FileIndex, entry.StreamIndex))
      FailTranscode(
          Format("Could not find input stream #%d.%d", {entry.FileIndex, entry.StreamIndex}));
    if (InvalidStreamReference(tables.FileTable, entry.SyncFileIndex, entry.SyncStreamIndex))
      FailTranscode(Format("Could not find sync stream #%d.%d",
                           {entry.SyncFileIndex, entry.SyncStreamIndex}));
  }
  for (int file = 0; file < Files.OutputFileCount; ++file) {
    for (int stream = 0; stream < static_cast<int>(Files.OutputFiles[file]->nb_streams); ++stream) {
      auto output = std::make_unique<OutputStream>();
      output->FileIndex = file;
      output->StreamIndex = stream;
      output->Stream = Files.OutputFiles[file]->streams[stream];
      output->Encoder = OutputEncoderContext(file, stream);
      output->EncodeFrame = AVUtilApi.av_frame_alloc();
      if (!output->Encoder || !output->EncodeFrame) FailTranscode("av_mallocz fail");
      OutputStream& created = *output;
      tables.OutputStreamTable.push_back(std::move(output));
      ChooseSource(created, static_cast<int>(tables.OutputStreamTable.size()) - 1);
    }
  }
}

int TCustomFFmpeg::FindProgramStream(AVMediaType kind) const {
  const TTranscodeTables& tables = *Tables;
  for (int file = 0; file < Files.InputFileCount; ++file) {
    const AVFormatContext* input = Files.InputFiles[file];
    for (unsigned p = 0; p < input->nb_programs; ++p) {
      const AVProgram* program = input->programs[p];
      if (program->id != Input.ProgramId) continue;
      for (unsigned s = 0; s < program->nb_stream_indexes; ++s) {
        const int index =
            tables.FileTable[file].FirstStream + static_cast<int>(program->stream_index[s]);
        if (index >= static_cast<int>(tables.InputStreamTable.size())) continue;
        const InputStream& candidate = *tables.InputStreamTable[index];
        if (candidate.Discard && candidate.Decoder->codec_type == kind) return index;
      }
    }
  }
  return -1;
}

void TCustomFFmpeg::ChooseSource(OutputStream& output, int outputIndex) {
  TTranscodeTables& tables = *Tables;
  const AVMediaType kind = output.Encoder->codec_type;
  int source = -1;
  if (Maps.StreamMapCount > 0) {
    const TStreamMap& map = Maps.StreamMaps[outputIndex];
    source = tables.FileTable[map.FileIndex].FirstStream + map.StreamIndex;
    if (tables.InputStreamTable[source]->Decoder->codec_type != kind) {
      DumpOutput(output.FileIndex);
      FailTranscode(Format("Codec type mismatch for mapping #%d.%d -> #%d.%d",
                           {map.FileIndex, map.StreamIndex, output.FileIndex, output.StreamIndex}));
    }
  } else if (Input.ProgramId != 0) {
    source = FindProgramStream(kind);
  } else {
    const int count = static_cast<int>(tables.InputStreamTable.size());
    for (int index = 0; index < count && source < 0; ++index) {
      const InputStream& candidate = *tables.InputStreamTable[index];
      if (candidate.Discard && candidate.Decoder->codec_type == kind) source = index;
    }
    if (source < 0)
      for (int index = count - 1; index >= 0 && source < 0; --index)
        if (tables.InputStreamTable[index]->Decoder->codec_type == kind) source = index;
  }
  if (source < 0) {
    DumpOutput(output.FileIndex);
    FailTranscode(Format("Could not find input stream matching output stream #%d.%d",
                         {output.FileIndex, output.StreamIndex}));
  }
  output.SourceIndex = source;
  tables.InputStreamTable[source]->Discard = 0;
  if (Maps.StreamMapCount > 0) {
    const TStreamMap& map = Maps.StreamMaps[outputIndex];
    output.SyncInput =
        tables
            .InputStreamTable[tables.FileTable[map.SyncFileIndex].FirstStream + map.SyncStreamIndex]
            .get();
  } else {
    output.SyncInput = tables.InputStreamTable[source].get();
  }
}

void TCustomFFmpeg::SetStreamCopyParameters(OutputStream& output, InputStream& source) {
  AVCodecParameters* target = output.Stream->codecpar;
  const AVCodecParameters* from = source.Stream->codecpar;
  const uint32_t ownTag = output.Encoder->codec_tag;
  AVCodecApi.avcodec_parameters_copy(target, from);
  target->codec_tag = ownTag;
  if (!ownTag) {
    const AVOutputFormat* format = Files.OutputFiles[output.FileIndex]->oformat;
    const AVCodecTag* const* tags = format->codec_tag;
    if (!tags || AVFormatApi.av_codec_get_id(tags, from->codec_tag) > 0 ||
        AVFormatApi.av_codec_get_tag(tags, from->codec_id) <= 0)
      target->codec_tag = from->codec_tag;
  }
  // The decoder's time base when the stream's is a fine container clock.
  const AVRational decoderBase = source.Decoder->time_base;
  const AVRational streamBase = source.Stream->time_base;
  const bool decoderBaseUsable = decoderBase.num > 0 && decoderBase.den > 0;
  if (decoderBaseUsable && av_q2d(decoderBase) > av_q2d(streamBase) && av_q2d(streamBase) < 0.001)
    output.Stream->time_base = decoderBase;
  else
    output.Stream->time_base = streamBase;
  output.Encoder->time_base = output.Stream->time_base;
  switch (from->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
      if (Audio.AudioVolume != 256)
        FailTranscode("-acodec copy and -vol are incompatible (frames are not decoded)");
      if ((target->block_align == 1 && target->codec_id == AV_CODEC_ID_MP3) ||
          target->codec_id == AV_CODEC_ID_AC3)
        target->block_align = 0;
      break;
    case AVMEDIA_TYPE_VIDEO:
      if (OnJobCustomHook)
        FailTranscode("-vcodec copy and CustomHook are incompatible (frames are not decoded)");
      if (Hooks.VideoHookUsed)
        FailTranscode("-vcodec copy and -vhook are incompatible (frames are not decoded)");
      break;
    case AVMEDIA_TYPE_SUBTITLE:
      break;
    default:
      FailTranscode("invalid codec_type of output stream");
  }
}

void TCustomFFmpeg::SetEncodingParameters(OutputStream& output, InputStream& source) {
  switch (output.Encoder->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
      output.Fifo.reserve(1024);
      output.ReformatPair = -1 - AV_SAMPLE_FMT_NB;
      output.AudioResample =
          output.Encoder->sample_rate != source.Decoder->sample_rate || Audio.AudioSyncMethod > 1;
      break;
    case AVMEDIA_TYPE_VIDEO:
      SetVideoEncodingParameters(output, source);
      break;
    case AVMEDIA_TYPE_SUBTITLE:
      // Subtitle encoders refuse to open without a clock; the source's
      // keeps the timestamps in the units they arrive in.
      if (output.Encoder->time_base.num <= 0 || output.Encoder->time_base.den <= 0)
        output.Encoder->time_base = source.Stream->time_base;
      break;
    default:
      FailTranscode("invalid codec_type of output stream");
  }
  source.DecodingNeeded = 1;
  output.EncodingNeeded = 1;
}

void TCustomFFmpeg::SetVideoEncodingParameters(OutputStream& output, InputStream& source) {
  const AVCodecContext* enc = output.Encoder;
  const AVCodecContext* dec = source.Decoder;
  const int cropWidth = Video.CropLeft + Video.CropRight;
  const int cropHeight = Video.CropTop + Video.CropBottom;
  const int padWidth = Video.PadLeft + Video.PadRight;
  const int padHeight = Video.PadTop + Video.PadBottom;
  output.SourceWidth = dec->width;
  output.SourceHeight = dec->height;
  output.SourcePixFmt = dec->pix_fmt;
  output.VideoCrop = cropWidth + cropHeight != 0;
  output.VideoPad = padWidth + padHeight != 0;
  output.VideoResample = dec->width - cropWidth + padWidth != enc->width ||
                         dec->height - cropHeight + padHeight != enc->height ||
                         dec->pix_fmt != enc->pix_fmt;
  if (output.VideoCrop) {
    output.TopBand = Video.CropTop;
    output.LeftBand = Video.CropLeft;
  }
  const auto allocateTempPicture = [&](const char* failure) {
    output.TempPicture = AVUtilApi.av_frame_alloc();
    if (!output.TempPicture) FailTranscode(failure);
    output.TempPicture->format = enc->pix_fmt;
    output.TempPicture->width = enc->width;
    output.TempPicture->height = enc->height;
    if (AVUtilApi.av_frame_get_buffer(output.TempPicture, 0) < 0) FailTranscode(failure);
  };
  if (output.VideoPad) {
    output.PadTop = Video.PadTop;
    output.PadBottom = Video.PadBottom;
    output.PadLeft = Video.PadLeft;
    output.PadRight = Video.PadRight;
    if (!output.VideoResample) allocateTempPicture("avpicture_alloc fail");
  }
  if (output.VideoResample) {
    allocateTempPicture("Cannot allocate temp picture, check pix fmt");
    int64_t flags = Runtime.ScalerFlags;
    if (Generic.ScalerOptionContext)
      AVUtilApi.av_opt_get_int(Generic.ScalerOptionContext, "sws_flags", 0, &flags);
    Runtime.ScalerFlags = static_cast<int>(flags);
    // A damaged source can leave the picture format unknown; the scaler
    // aborts the process on such a format instead of refusing it.
    if (!AVUtilApi.av_pix_fmt_desc_get(dec->pix_fmt))
      FailTranscode("Cannot get resampling context");
    output.ScaleContext = SwScaleApi.sws_getContext(
        dec->width - cropWidth, dec->height - cropHeight, dec->pix_fmt, enc->width - padWidth,
        enc->height - padHeight, enc->pix_fmt, Runtime.ScalerFlags, nullptr, nullptr, nullptr);
    if (!output.ScaleContext) FailTranscode("Cannot get resampling context");
    output.ResampleHeight = Video.UseFilters ? dec->height : dec->height - cropHeight;
  }
  LastError.clear();
  if (Video.UseFilters) {
    if (ConfigureFilters(source, output) < 0)
      FailTranscode(LastError.empty() ? "Error opening filters!"
                                      : "Error opening filters: " + LastError);
    // The chain delivers pictures of the output size less the pads, in the
    // encoder's format: what is left here is padding.
    SwScaleApi.sws_freeContext(output.ScaleContext);
    output.ScaleContext = nullptr;
    output.VideoResample = 0;
    AVUtilApi.av_frame_free(&output.TempPicture);
    if (output.VideoPad) allocateTempPicture("avpicture_alloc fail");
    output.SourceWidth = enc->width - padWidth;
    output.SourceHeight = enc->height - padHeight;
    output.SourcePixFmt = enc->pix_fmt;
  }
}

// Encoders such as libx264 write and read a statistics file of their own
// instead of the text the encoder context carries; they get the log file's
// name, so that the prefix holds for them too and jobs never share a file.
void TCustomFFmpeg::LetEncoderKeepItsStatistics(OutputStream& output, const std::string& name) {
  const AVCodecContext* enc = output.Encoder;
  const AVCodec* codec = enc->codec ? enc->codec : AVCodecApi.avcodec_find_encoder(enc->codec_id);
  if (!codec || !codec->priv_class) return;
  const AVClass* fakeObject = codec->priv_class;
  if (!AVUtilApi.av_opt_find(&fakeObject, StatisticsFileOption, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ))
    return;
  AVDictionary*& options =
      FileStreams.Outputs[output.FileIndex].Streams[output.StreamIndex].EncoderOptions;
  AVUtilApi.av_dict_set(&options, StatisticsFileOption, name.c_str(), AV_DICT_DONT_OVERWRITE);
}

void TCustomFFmpeg::OpenPassLogFile(OutputStream& output, int outputIndex) {
  AVCodecContext* enc = output.Encoder;
  if (!(enc->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2))) return;
  std::string name =
      (Stats.PassLogFileName.empty() ? std::string("ffmpeg2pass") : Stats.PassLogFileName) + "-" +
      std::to_string(outputIndex) + ".log";
  if (name.size() > MaxLogFileNameLength) name.resize(MaxLogFileNameLength);
  LetEncoderKeepItsStatistics(output, name);
  if (enc->flags & AV_CODEC_FLAG_PASS1) {
    output.LogFile = MyUtilApi.my_fopen(name.c_str(), "w");
    if (!output.LogFile) FailTranscode("creat file fail: " + name);
    return;
  }
  FILE* file = MyUtilApi.my_fopen(name.c_str(), "r");
  if (!file) FailTranscode("creat open fail: " + name);
  MyUtilApi.my_fseek(file, 0, SEEK_END);
  const long size = std::max(0L, MyUtilApi.my_ftell(file));
  MyUtilApi.my_fseek(file, 0, SEEK_SET);
  auto* text = static_cast<char*>(AVUtilApi.av_malloc(static_cast<size_t>(size) + 1));
  if (!text) {
    MyUtilApi.my_fclose(file);
    FailTranscode("Could not allocate log buffer");
  }
  const size_t read = MyUtilApi.my_fread(text, 1, static_cast<size_t>(size), file);
  MyUtilApi.my_fclose(file);
  text[read] = 0;
  AVUtilApi.av_freep(&enc->stats_in);
  enc->stats_in = text;
}

void TCustomFFmpeg::DumpOutput(int fileIndex) {
  AVFormatContext* output = Files.OutputFiles[fileIndex];
  AVFormatApi.av_dump_format(output, fileIndex, output->url ? output->url : "", 1);
}

void TCustomFFmpeg::ReportStreamMapping() {
  if (Diagnostics.Verbosity < 0 || !OnJobLog) return;
  Log(1, "Stream mapping:");
  for (const auto& output : Tables->OutputStreamTable) {
    const InputStream& source = *Tables->InputStreamTable[output->SourceIndex];
    Log(1, Format("  Stream #%d.%d -> #%d.%d",
                  {source.FileIndex, source.StreamIndex, output->FileIndex, output->StreamIndex}));
    if (output->SyncInput != &source)
      Log(1,
          Format(" [sync #%d.%d]", {output->SyncInput->FileIndex, output->SyncInput->StreamIndex}));
  }
}

void TCustomFFmpeg::OpenEncoder(OutputStream& output) {
  AVCodecContext* enc = output.Encoder;
  const AVCodec* codec = enc->codec ? enc->codec : AVCodecApi.avcodec_find_encoder(enc->codec_id);
  if (!codec)
    FailTranscode(Format("Unsupported codec for output stream #%d.%d",
                         {output.FileIndex, output.StreamIndex}));
  if (enc->codec_type == AVMEDIA_TYPE_AUDIO && (enc->time_base.num <= 0 || enc->time_base.den <= 0))
    enc->time_base = AVRational{1, enc->sample_rate};
  AVDictionary* options = nullptr;
  AVUtilApi.av_dict_copy(
      &options, FileStreams.Outputs[output.FileIndex].Streams[output.StreamIndex].EncoderOptions,
      0);
  int result;
  {
    std::lock_guard lock(LibraryLock());
    result = AVCodecApi.avcodec_open2(enc, codec, &options);
    if (result >= 0) OpenEncoders.push_back(enc);
  }
  AVUtilApi.av_dict_free(&options);
  if (result < 0)
    FailTranscode(Format(
        "Error while opening codec for output stream #%d.%d - maybe incorrect parameters such "
        "as bit_rate, rate, width or height",
        {output.FileIndex, output.StreamIndex}));
  Stats.ExtraSize += enc->extradata_size;
  AVCodecApi.avcodec_parameters_from_context(output.Stream->codecpar, enc);
  output.Stream->time_base = enc->time_base;
}

void TCustomFFmpeg::OpenDecoder(InputStream& input) {
  AVCodecContext* dec = input.Decoder;
  const AVCodec* codec = dec->codec ? dec->codec : AVCodecApi.avcodec_find_decoder(dec->codec_id);
  if (!codec)
    FailTranscode(Format("Unsupported codec (id=%d) for input stream #%d.%d",
                         {static_cast<int>(dec->codec_id), input.FileIndex, input.StreamIndex}));
  dec->pkt_timebase = input.Stream->time_base;
  dec->thread_count = Runtime.ThreadCount;
  AVDictionary* options = nullptr;
  if (dec->priv_data)
    ApplyPrivateOptions(dec->priv_data, codec->priv_class,
                        Generic.DecoderPrivateOptions[dec->codec_type], nullptr);
  else
    options = OptionsKnownTo(codec, Generic.DecoderPrivateOptions[dec->codec_type]);
  int result;
  {
    std::lock_guard lock(LibraryLock());
    result = AVCodecApi.avcodec_open2(dec, codec, &options);
    if (result >= 0) OpenDecoders.push_back(dec);
  }
  AVUtilApi.av_dict_free(&options);
  if (result < 0)
    FailTranscode(Format("Error while opening codec for input stream #%d.%d",
                         {input.FileIndex, input.StreamIndex}));
}

void TCustomFFmpeg::CopyMetaData() {
  static const char* const Keys[] = {"title", "author", "copyright", "comment",
                                     "album", "year",   "track",     "genre"};
  for (int index = 0; index < Maps.MetaDataMapCount; ++index) {
    const TMetaDataMap& map = Maps.MetaDataMaps[index];
    if (map.OutFile < 0 || map.OutFile >= Files.OutputFileCount)
      FailTranscode(Format("Invalid output file index %d map_meta_data(%d,%d)",
                           {map.OutFile, map.OutFile, map.InFile}));
    if (map.InFile < 0 || map.InFile >= Files.InputFileCount)
      FailTranscode(Format("Invalid input file index %d map_meta_data(%d,%d)",
                           {map.InFile, map.OutFile, map.InFile}));
    AVFormatContext* from = Files.InputFiles[map.InFile];
    AVFormatContext* to = Files.OutputFiles[map.OutFile];
    for (const char* key : Keys) {
      const char* value = DictionaryText(from->metadata, key);
      AVUtilApi.av_dict_set(&to->metadata, key, value, 0);
    }
  }
}

void TCustomFFmpeg::WriteHeaders() {
  bool allRtp = true;
  for (int file = 0; file < Files.OutputFileCount; ++file) {
    AVFormatContext* output = Files.OutputFiles[file];
    AVDictionary* options = MuxerOptionsFor(output);
    const int result = AVFormatApi.avformat_write_header(output, &options);
    AVUtilApi.av_dict_free(&options);
    if (result < 0)
      FailTranscode(Format(
          "Could not write header for output file #%d (incorrect codec parameters ?)", {file}));
    if (std::strcmp(output->oformat->name, "rtp") != 0) allRtp = false;
  }
  if (allRtp && OnJobLog) {
    char sdp[SdpBufferSize] = {};
    AVFormatApi.av_sdp_create(Files.OutputFiles.data(), Files.OutputFileCount, sdp, sizeof sdp);
    Log(1, "SDP: " + TrimBlanksAndControls(sdp));
  }
}

void TCustomFFmpeg::CreateBitstreamFilters(OutputStream& output) {
  const TBsfChain& chain = Bsf.StreamBsfLists[output.FileIndex][output.StreamIndex];
  const AVCodecParameters* parameters = output.Stream->codecpar;
  AVRational timeBase = output.Stream->time_base;
  for (const AVBitStreamFilter* filter : chain) {
    AVBSFContext* context = nullptr;
    if (AVCodecApi.av_bsf_alloc(filter, &context) < 0)
      FailTranscode(Format("Cannot allocate the %s bitstream filter", {filter->name}));
    output.BsfContexts.push_back(context);
    AVPacket* filtered = AVCodecApi.av_packet_alloc();
    if (!filtered) FailTranscode("av_mallocz fail");
    output.BsfPackets.push_back(filtered);
    AVCodecApi.avcodec_parameters_copy(context->par_in, parameters);
    context->time_base_in = timeBase;
    const int result = AVCodecApi.av_bsf_init(context);
    if (result < 0) {
      // A filter that cannot take this stream would fail on every packet:
      // fatal with -xerror, otherwise packets pass it by unchanged.
      const std::string text = BsfFailureText(filter, output, result);
      if (Diagnostics.ExitOnError) FailTranscode(text);
      Log(0, text);
      AVCodecApi.av_bsf_free(&output.BsfContexts.back());
      AVCodecApi.av_packet_free(&output.BsfPackets.back());
      output.BsfContexts.pop_back();
      output.BsfPackets.pop_back();
      continue;
    }
    parameters = context->par_out;
    timeBase = context->time_base_out;
  }
  if (!output.BsfContexts.empty())
    AVCodecApi.avcodec_parameters_copy(output.Stream->codecpar, parameters);
}

void TCustomFFmpeg::Transcode() {
  Tables = std::make_unique<TTranscodeTables>();
  try {
    BuildInputTables();
    BuildOutputTable();
    TTranscodeTables& tables = *Tables;
    for (size_t index = 0; index < tables.OutputStreamTable.size(); ++index) {
      OutputStream& output = *tables.OutputStreamTable[index];
      InputStream& source = *tables.InputStreamTable[output.SourceIndex];
      AVDictionary*& language = output.Stream->metadata;
      if (!DictionaryText(language, "language")) {
        if (const char* sourceLanguage = DictionaryText(source.Stream->metadata, "language"))
          AVUtilApi.av_dict_set(&language, "language", std::string(sourceLanguage, 0, 3).c_str(),
                                0);
      }
      output.Stream->disposition = source.Stream->disposition;
      if (OutputIsStreamCopy(output.FileIndex, output.StreamIndex))
        SetStreamCopyParameters(output, source);
      else
        SetEncodingParameters(output, source);
      if (output.EncodingNeeded) OpenPassLogFile(output, static_cast<int>(index));
      if (output.Encoder->codec_type == AVMEDIA_TYPE_VIDEO)
        Runtime.BitBufferSize =
            std::max(Runtime.BitBufferSize, 4 * output.Encoder->width * output.Encoder->height);
    }
    for (int file = 0; file < Files.OutputFileCount; ++file) DumpOutput(file);
    ReportStreamMapping();
    for (auto& output : tables.OutputStreamTable)
      if (output->EncodingNeeded) OpenEncoder(*output);
    for (auto& input : tables.InputStreamTable)
      if (input->DecodingNeeded) OpenDecoder(*input);
    for (auto& input : tables.InputStreamTable) {
      input->Pts = 0;
      input->NextPts = AV_NOPTS_VALUE;
      input->IsStart = 1;
    }
    CopyMetaData();
    for (auto& output : tables.OutputStreamTable) CreateBitstreamFilters(*output);
    WriteHeaders();
    TimerStart = AVUtilApi.av_gettime();
    MainLoop();
  } catch (...) {
    FreeTranscodeTables();
    throw;
  }
}
