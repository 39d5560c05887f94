// Option text of any bytes on a freshly reset job: a bad line may raise,
// but nothing may crash, leak or touch memory it does not own.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "FuzzSupport.h"
#include "Src/FFmpeg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  LoadLibrariesOnce();
  TCustomFFmpeg job;
  job.Reset();
  job.OnJobLog = [](TCustomFFmpeg*, int, const std::string&) {};
  try {
    job.ApplyOptionText(std::string(reinterpret_cast<const char*>(data), size));
  } catch (const std::exception&) {
    // A rejected value ends the text; that is the expected outcome.
  }
  AVUtilApi.av_log_set_level(AV_LOG_QUIET);  // "v" and the debug options change it
  return 0;
}
