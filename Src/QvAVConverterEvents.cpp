// The relays of the jobs' events and the libraries' log relay.
#include <cstdarg>

#include "ComponentRegistry.h"
#include "QvAVConverter.h"
#include "binding/AVUtilHlpr.h"
#include "binding/LogLevels.h"

namespace {
thread_local int EventDepth = 0;

// The libraries call this for every message, on the thread that logs. It
// must not let an exception pass back through their code.
void LibraryLogCallback(void* context, int level, const char* format, va_list arguments) noexcept {
  const int engineLevel = EngineLogLevel(level);
  if (LogFilterLevel < engineLevel) return;
  try {
    auto components = ComponentList().LockList();
    const AVClass* classRecord = context ? *static_cast<const AVClass* const*>(context) : nullptr;
    const char* objectName =
        classRecord && classRecord->item_name ? classRecord->item_name(context) : nullptr;
    const TThreadId threadId = CurrentThreadId();
    TLogList::TLogItem& item = LogList().FindOrAdd(threadId);
    const std::vector<std::string> lines =
        AssembleLogLines(item.Pending, objectName, classRecord, format, arguments);
    for (const std::string& line : lines)
      for (TCustomFFmpegVCL* component : *components)
        component->DeliverLog(threadId, engineLevel, line);
  } catch (...) {
    // A handler's failure ends with the line it was given.
  }
}
}  // namespace

TThreadList<TCustomFFmpegVCL*>& ComponentList() {
  static TThreadList<TCustomFFmpegVCL*> list;
  return list;
}

TLogList& LogList() {
  static TLogList list;
  return list;
}

void ClearLogList() {
  auto components = ComponentList().LockList();
  LogList().Clear();
}

void InstallLibraryLogCallback() {
  AVUtilApi.av_log_set_callback(LibraryLogCallback);
}

bool InsideEvent() {
  return EventDepth > 0;
}

TEventScope::TEventScope() {
  ++EventDepth;
}

TEventScope::~TEventScope() {
  --EventDepth;
}

TLogLevel LogLevelOfEngineLevel(int level) {
  if (level < 0) return llQuiet;
  if (level >= 3) return llAll;
  return static_cast<TLogLevel>(level + 1);
}

void TCustomFFmpegVCL::DeliverLog(TThreadId threadId, int level, const std::string& line) {
  if (!onLog_) return;
  TCriticalSectionGuard guard(lock_);
  DoLog(taskList_.FindByThreadId(threadId), level, line);
}

void TCustomFFmpegVCL::DoBeforeHook(TCustomFFmpeg* sender, int64_t pts, THookAction& hookAction) {
  if (!onBeforeHook_) return;
  TEventScope scope;
  onBeforeHook_(IndexOfSender(sender), pts, hookAction);
}

void TCustomFFmpegVCL::DoCustomHook(TCustomFFmpeg* sender, TBitmap24* bitmap, int frameNumber,
                                    int64_t pts, bool& update, bool& stopHook) {
  if (!onCustomHook_) return;
  TEventScope scope;
  onCustomHook_(IndexOfSender(sender), bitmap, frameNumber, pts, update, stopHook);
}

void TCustomFFmpegVCL::DoLog(TCustomFFmpeg* sender, int level, const std::string& message) {
  if (!onLog_) return;
  TCriticalSectionGuard guard(lock_);
  TEventScope scope;
  onLog_(IndexOfSender(sender), LogLevelOfEngineLevel(level), message);
}

void TCustomFFmpegVCL::DoProgress(TCustomFFmpeg* sender, int frameNumber, int fps,
                                  int currentDuration, float quality, float bitRate,
                                  int64_t currentSize, int totalOutputDuration) {
  if (!onProgress_) return;
  TCriticalSectionGuard guard(lock_);
  TEventScope scope;
  onProgress_(IndexOfSender(sender), frameNumber, fps, currentDuration, quality, bitRate,
              currentSize, totalOutputDuration);
}

void TCustomFFmpegVCL::DoTerminate(TCustomFFmpeg* sender) {
  auto& job = static_cast<TFFmpeg&>(*sender);
  std::exception_ptr handlerError;
  bool batchDone = false;
  {
    TCriticalSectionGuard guard(lock_);
    // A cleared or deleted task reports nothing any more.
    if (taskList_.IndexOf(&job) < 0) return;
    // The job has released its input by now; the probe must not describe it.
    job.Probe.Close();
    ++job.EventsInDelivery;
    if (onTerminate_) {
      TEventScope scope;
      try {
        onTerminate_(job.Index, job.Finished, job.HasError, job.ErrorMessage);
      } catch (...) {
        handlerError = std::current_exception();
      }
    }
    batchDone = CountTermination(job, handlerError);
    --job.EventsInDelivery;
  }
  if (batchDone) ClearLogList();
  LaunchFreeSlots();
  if (handlerError) std::rethrow_exception(handlerError);
}
