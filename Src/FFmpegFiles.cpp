#include "FFmpegFiles.h"

#include <mutex>
#include <string>

#include "LibraryLock.h"
#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "platform/Files.h"

void ApplyPrivateOptions(void* privateData, const AVClass* privateClass,
                         const AVDictionary* options, AVDictionary** taken) {
  if (!privateData || !privateClass) return;
  const AVDictionaryEntry* entry = nullptr;
  while ((entry = AVUtilApi.av_dict_get(options, "", entry, AV_DICT_IGNORE_SUFFIX))) {
    if (AVUtilApi.av_opt_set(privateData, entry->key, entry->value, 0) < 0) continue;
    if (taken) AVUtilApi.av_dict_set(taken, entry->key, entry->value, 0);
  }
}

void FreeJobCodecContext(AVCodecContext*& context) {
  if (!context) return;
  std::lock_guard lock(LibraryLock());
  // The overrides are the user's allocation; freed here, never twice.
  AVUtilApi.av_freep(&context->rc_override);
  context->rc_override_count = 0;
  AVCodecApi.avcodec_free_context(&context);
}

void ReleaseOutputContext(AVFormatContext*& output, bool deleteWhenEmpty) {
  if (!output) return;
  const bool writesFile = output->oformat && !(output->oformat->flags & AVFMT_NOFILE);
  if (writesFile && output->pb) AVFormatApi.avio_closep(&output->pb);
  const std::string fileName = output->url ? output->url : "";
  if (deleteWhenEmpty && !fileName.empty() && FileSizeOf(fileName) == 0) DeleteFile(fileName);
  AVFormatApi.avformat_free_context(output);
  output = nullptr;
}
