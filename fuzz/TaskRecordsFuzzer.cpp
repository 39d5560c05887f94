// The texts of a task's records, taken from one input split at NUL bytes:
// hook ranges, the extra option lines of the input and of the output record,
// and the output record's frame rate, frame size, aspect and title.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "Src/TFFmpeg.h"
#include "Src/TaskRecords.h"

namespace {
std::vector<std::string> SplitAtNul(const uint8_t* data, size_t size, size_t parts) {
  std::vector<std::string> texts(parts);
  size_t part = 0;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && part + 1 < parts)
      ++part;
    else
      texts[part] += static_cast<char>(data[i]);
  }
  return texts;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  LoadLibrariesOnce();
  const std::vector<std::string> texts = SplitAtNul(data, size, 7);
  TFFmpeg job;
  job.Reset();
  job.OnJobLog = [](TCustomFFmpeg*, int, const std::string&) {};
  ParseHookRanges(job, texts[0]);
  try {
    TInputOptions input;
    input.ExtOptions = texts[1];
    input.FileName = "/nonexistent/input.avi";
    OptionsFromInputRecord(job, input, input.FileName);
  } catch (const std::exception&) {
  }
  try {
    TOutputOptions output;
    output.ExtOptions = texts[2];
    output.HookRanges = texts[0];
    output.FrameRate = texts[3];
    output.FrameSize = texts[4];
    output.VideoAspect = texts[5];
    texts[6].copy(output.Title, sizeof output.Title - 1);
    OptionsFromOutputRecord(job, output, "/nonexistent/output.avi");
  } catch (const std::exception&) {
  }
  AVUtilApi.av_log_set_level(AV_LOG_QUIET);
  return 0;
}
