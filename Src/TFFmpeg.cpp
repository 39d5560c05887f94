#include "TFFmpeg.h"

namespace {
std::atomic<uint64_t> LastSerial{0};
}

TFFmpeg::TFFmpeg() : Serial(++LastSerial) {
  ResetInputOptions(InputOptions);
  ResetOutputOptions(OutputOptions);
}

TFFmpeg::~TFFmpeg() {
  // The worker may still be relaying through this object's members.
  StopAndWaitForWorker();
  Probe.Close();
}
