// Library options given by name: routing over the job's option contexts,
// the private classes of codecs and formats, and the copy of recorded
// options into the contexts the job opens.
#include <algorithm>
#include <string>

#include "FFmpeg.h"
#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "binding/LogLevels.h"
#include "platform/Text.h"

namespace {
// The option flags a codec option needs to count for each media kind:
// video, audio, data (any option), subtitle, attachment (any option).
constexpr std::array<int, MediaKindCount> KindOptionFlags{
    AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, 0, AV_OPT_FLAG_SUBTITLE_PARAM, 0};

// The option that took the value, or none.
const AVOption* SetOnContext(void* context, const char* name, const std::string& value) {
  if (!context || AVUtilApi.av_opt_set(context, name, value.c_str(), 0) < 0) return nullptr;
  return AVUtilApi.av_opt_find(context, name, nullptr, 0, 0);
}

bool ContextKnows(void* context, const char* name) {
  return context && AVUtilApi.av_opt_find(context, name, nullptr, 0, 0);
}

// "ab" is the audio "b", "vb" the video "b", "sbt" the subtitle "bt".
AVCodecContext* FirstLetterContext(const TGenericOptions& generic, const std::string& name) {
  if (name.size() < 2) return nullptr;
  switch (name[0]) {
    case 'a':
      return generic.CodecOptionContexts[AVMEDIA_TYPE_AUDIO];
    case 'v':
      return generic.CodecOptionContexts[AVMEDIA_TYPE_VIDEO];
    case 's':
      return generic.CodecOptionContexts[AVMEDIA_TYPE_SUBTITLE];
    default:
      return nullptr;
  }
}

// The codec kinds first, then the container, then the scaler, then the
// first-letter rule.
const AVOption* SetOnCommonContexts(TGenericOptions& generic, const std::string& name,
                                    const std::string& value) {
  const AVOption* result = nullptr;
  AVCodecContext* lookup = generic.CodecOptionContexts[AVMEDIA_TYPE_VIDEO];
  for (int kind = 0; kind < MediaKindCount; ++kind) {
    if (lookup && AVUtilApi.av_opt_find(lookup, name.c_str(), nullptr, KindOptionFlags[kind], 0))
      result = SetOnContext(generic.CodecOptionContexts[kind], name.c_str(), value);
  }
  if (!result) result = SetOnContext(generic.FormatOptionContext, name.c_str(), value);
  if (!result) result = SetOnContext(generic.ScalerOptionContext, name.c_str(), value);
  if (!result) result = SetOnContext(FirstLetterContext(generic, name), name.c_str() + 1, value);
  return result;
}

bool KnownToCommonContexts(const TGenericOptions& generic, const std::string& name) {
  return ContextKnows(generic.CodecOptionContexts[AVMEDIA_TYPE_VIDEO], name.c_str()) ||
         ContextKnows(generic.FormatOptionContext, name.c_str()) ||
         ContextKnows(generic.ScalerOptionContext, name.c_str()) ||
         ContextKnows(FirstLetterContext(generic, name), name.c_str() + 1);
}

bool ClassKnows(const AVClass* privateClass, const char* name) {
  if (!privateClass) return false;
  const AVClass* fakeObject = privateClass;
  return AVUtilApi.av_opt_find(&fakeObject, name, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ);
}

// Whether an object of the class would take the value. Setting an option
// touches only the class pointer at the start of an object and the fields
// at the options' offsets, so a zeroed block holding those stands in for
// the codec's or format's private context.
bool ClassTakesValue(const AVClass* privateClass, const char* name, const std::string& value) {
  constexpr size_t LargestField = 64;
  const AVClass* fakeObject = privateClass;
  size_t size = sizeof(const AVClass*);
  for (const AVOption* option = nullptr;
       (option = AVUtilApi.av_opt_next(&fakeObject, option)) != nullptr;)
    size = std::max(size, static_cast<size_t>(option->offset) + LargestField);
  void* object = AVUtilApi.av_mallocz(size);
  if (!object) return false;
  *static_cast<const AVClass**>(object) = privateClass;
  const bool taken = AVUtilApi.av_opt_set(object, name, value.c_str(), 0) >= 0;
  AVUtilApi.av_opt_free(object);
  AVUtilApi.av_free(object);
  return taken;
}

// Records the value for one private class that knows the name; true when
// the class takes it.
bool RecordForClass(const AVClass* privateClass, AVDictionary** options, const std::string& name,
                    const std::string& value) {
  if (!ClassKnows(privateClass, name.c_str())) return false;
  const AVDictionaryEntry* recorded =
      AVUtilApi.av_dict_get(*options, name.c_str(), nullptr, AV_DICT_MATCH_CASE);
  if (!(recorded && value == recorded->value) &&
      !ClassTakesValue(privateClass, name.c_str(), value))
    return false;
  AVUtilApi.av_dict_set(options, name.c_str(), value.c_str(), AV_DICT_MATCH_CASE);
  return true;
}

AVDictionary** CodecOptionsFor(TGenericOptions& generic, const AVCodec* codec) {
  if (codec->type < 0 || codec->type >= MediaKindCount) return nullptr;
  return AVCodecApi.av_codec_is_encoder(codec) ? &generic.EncoderPrivateOptions[codec->type]
                                               : &generic.DecoderPrivateOptions[codec->type];
}

// Calls visit (private class, dictionary its values go to) for every codec,
// muxer and demuxer that has a private class, until visit returns true.
template <typename TVisit>
void ForEachPrivateClass(TGenericOptions& generic, TVisit visit) {
  void* iterator = nullptr;
  while (const AVCodec* codec = AVCodecApi.av_codec_iterate(&iterator)) {
    AVDictionary** options = CodecOptionsFor(generic, codec);
    if (codec->priv_class && options && visit(codec->priv_class, options)) return;
  }
  iterator = nullptr;
  while (const AVOutputFormat* muxer = AVFormatApi.av_muxer_iterate(&iterator))
    if (muxer->priv_class && visit(muxer->priv_class, &generic.MuxerPrivateOptions)) return;
  iterator = nullptr;
  while (const AVInputFormat* demuxer = AVFormatApi.av_demuxer_iterate(&iterator))
    if (demuxer->priv_class && visit(demuxer->priv_class, &generic.DemuxerPrivateOptions)) return;
}

bool KnownToPrivateClasses(TGenericOptions& generic, const std::string& name) {
  bool known = false;
  ForEachPrivateClass(generic, [&](const AVClass* privateClass, AVDictionary**) {
    return known = ClassKnows(privateClass, name.c_str());
  });
  return known;
}

// Records the value for every private class that knows the name and takes
// the value; true when at least one did.
bool SetOnPrivateClasses(TGenericOptions& generic, const std::string& name,
                         const std::string& value) {
  bool recorded = false;
  ForEachPrivateClass(generic, [&](const AVClass* privateClass, AVDictionary** options) {
    recorded = RecordForClass(privateClass, options, name, value) || recorded;
    return false;
  });
  return recorded;
}

// A name no common context knows goes to the private classes; the name of
// the option that took the value is recorded.
bool RouteGenericOption(TGenericOptions& generic, const std::string& name,
                        const std::string& value) {
  if (const AVOption* option = SetOnCommonContexts(generic, name, value)) {
    generic.RecordedOptionNames.emplace_back(option->name);
    return true;
  }
  if (KnownToCommonContexts(generic, name) || !SetOnPrivateClasses(generic, name, value))
    return false;
  generic.RecordedOptionNames.push_back(name);
  return true;
}

// Options of the older library generation that the installed one renamed.
struct TRenamedOption {
  const char* OldName;
  const char* OldValue;  // none: any value
  const char* NewName;
  const char* NewValue;  // none: the value as given
};

const TRenamedOption RenamedOptions[] = {
    {"gop", nullptr, "g", nullptr},
    // The scan offset flag became a private option of the MPEG-1/2 encoders.
    {"flags", "+scan_offset", "scan_offset", "1"},
};

// The new form applies when the installed libraries refused the old one; a
// renamed name only when they do not know the old name at all.
const TRenamedOption* ApplicableRename(TGenericOptions& generic, const std::string& name,
                                       const std::string& value) {
  for (const TRenamedOption& rename : RenamedOptions) {
    if (name != rename.OldName) continue;
    if (rename.OldValue
            ? value == rename.OldValue
            : !KnownToCommonContexts(generic, name) && !KnownToPrivateClasses(generic, name))
      return &rename;
  }
  return nullptr;
}
}  // namespace

bool TCustomFFmpeg::SetGenericOption(const std::string& name, const std::string& value) {
  if (Trim(name).empty() || Trim(value).empty()) return false;
  bool accepted = RouteGenericOption(Generic, name, value);
  if (!accepted) {
    if (const TRenamedOption* rename = ApplicableRename(Generic, name, value))
      accepted =
          RouteGenericOption(Generic, rename->NewName, rename->NewValue ? rename->NewValue : value);
  }
  if (accepted) RaiseVerbosityOnDebug();
  return accepted;
}

bool TCustomFFmpeg::SetGenericOptionInt(const std::string& name, int value) {
  return SetGenericOption(name, std::to_string(value));
}

// Library debugging output needs the debug log level, for every job.
void TCustomFFmpeg::RaiseVerbosityOnDebug() {
  const AVCodecContext* video = Generic.CodecOptionContexts[AVMEDIA_TYPE_VIDEO];
  const AVFormatContext* format = Generic.FormatOptionContext;
  if (!(video && video->debug) && !(format && format->debug)) return;
  AVUtilApi.av_log_set_level(LibraryLogLevel(2));
  LogFilterLevel = 2;
  Diagnostics.Verbosity = 2;
}

void TCustomFFmpeg::ApplyGenericOptions(void* target, void* source, int flags) {
  if (!target || !source) return;
  for (const std::string& name : Generic.RecordedOptionNames) {
    const AVOption* option = AVUtilApi.av_opt_find(source, name.c_str(), nullptr, 0, 0);
    if (!option || (option->flags & flags) != flags) continue;
    uint8_t* value = nullptr;
    if (AVUtilApi.av_opt_get(source, name.c_str(), 0, &value) < 0 || !value) continue;
    AVUtilApi.av_opt_set(target, name.c_str(), reinterpret_cast<const char*>(value), 0);
    AVUtilApi.av_free(value);
  }
}
