#pragma once
// What "tavrelle-cli convert" shows while the batch runs: JSON events, live
// progress lines on a terminal, or a line as each task starts and ends. The
// component raises its events on worker threads; every call here is
// serialised.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "Src/QvAVConverter.h"

struct TTaskView {
  std::string Input;
  std::string Output;
  int64_t SourceDurationMs = -1;
  bool Started = false;
  bool Ended = false;
  bool Succeeded = false;
  std::string Status;  // the last progress text or the outcome
  std::chrono::steady_clock::time_point StartTime;
};

class TConvertReport {
 public:
  enum TMode { rmJson, rmTerminal, rmPlain };
  TConvertReport(TMode mode, FILE* out, FILE* err) : mode_(mode), out_(out), err_(err) {}

  // A file that could not be set up as a task.
  void SetupFailure(const std::string& file, const std::string& message);
  void AddTask(const TTaskView& task);
  // The batch starts with that many tasks at once (0 or less: one).
  void BatchStarts(int startCount);

  void Progress(int index, int frameNumber, int fps, int currentDuration, float quality,
                float bitRate, int64_t currentSize, int totalOutputDuration);
  void Log(int index, TLogLevel level, const std::string& message);
  void Terminate(int index, bool finished, bool exception, const std::string& message,
                 bool stopping);

  bool AnyFailed() const { return anyFailed_; }

 private:
  void StartTask(int index);
  void ShowStarted(int index);
  void ShowEnded(int index, const std::string& message);
  void PrintMessage(const std::string& text);
  void RedrawTerminal();
  std::string ProgressText(const TTaskView& task, int currentDuration, int totalDuration,
                           int fps) const;

  const TMode mode_;
  FILE* const out_;
  FILE* const err_;
  std::mutex mutex_;
  std::vector<TTaskView> tasks_;
  int drawnLines_ = 0;
  bool anyFailed_ = false;
};
