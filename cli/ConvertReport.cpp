#include "ConvertReport.h"

#include <algorithm>
#include <filesystem>

#include "Json.h"

namespace {
const char* LevelName(TLogLevel level) {
  static const char* const names[] = {"quiet", "error", "info", "debug", "all"};
  return names[level];
}

std::string Clock(int64_t seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  return text;
}

// The engine's opening messages already start with the file name.
std::string WithFileName(const std::string& file, const std::string& message) {
  return message.rfind(file, 0) == 0 ? message : file + ": " + message;
}

std::string ShortName(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}
}  // namespace

void TConvertReport::SetupFailure(const std::string& file, const std::string& message) {
  std::lock_guard lock(mutex_);
  anyFailed_ = true;
  if (mode_ == rmJson)
    std::fprintf(out_, "%s\n",
                 TJsonObject()
                     .Add("Event", "error")
                     .Add("File", file)
                     .Add("Message", message)
                     .Text()
                     .c_str());
  else
    std::fprintf(err_, "failed: %s\n", WithFileName(file, message).c_str());
  std::fflush(mode_ == rmJson ? out_ : err_);
}

void TConvertReport::AddTask(const TTaskView& task) {
  std::lock_guard lock(mutex_);
  tasks_.push_back(task);
}

void TConvertReport::BatchStarts(int startCount) {
  std::lock_guard lock(mutex_);
  const int count = std::min<int>(startCount > 0 ? startCount : 1, tasks_.size());
  for (int i = 0; i < count; ++i) StartTask(i);
  if (mode_ == rmTerminal) RedrawTerminal();
}

// Tasks start in index order, each when a running one ends, as the
// component launches them.
void TConvertReport::StartTask(int index) {
  TTaskView& task = tasks_[index];
  task.Started = true;
  task.StartTime = std::chrono::steady_clock::now();
  task.Status = "starting";
  ShowStarted(index);
}

void TConvertReport::ShowStarted(int index) {
  if (mode_ == rmPlain) {
    std::fprintf(err_, "converting: %s\n", tasks_[index].Input.c_str());
    std::fflush(err_);
  }
}

void TConvertReport::Progress(int index, int frameNumber, int fps, int currentDuration,
                              float quality, float bitRate, int64_t currentSize,
                              int totalOutputDuration) {
  std::lock_guard lock(mutex_);
  if (mode_ == rmJson) {
    std::fprintf(out_, "%s\n",
                 TJsonObject()
                     .Add("Event", "progress")
                     .Add("Index", index)
                     .Add("FrameNumber", frameNumber)
                     .Add("FPS", fps)
                     .Add("CurrentDuration", currentDuration)
                     .Add("Quality", static_cast<double>(quality))
                     .Add("BitRate", static_cast<double>(bitRate))
                     .Add("CurrentSize", currentSize)
                     .Add("TotalOutputDuration", totalOutputDuration)
                     .Text()
                     .c_str());
    std::fflush(out_);
    return;
  }
  if (index < 0 || index >= static_cast<int>(tasks_.size())) return;
  TTaskView& task = tasks_[index];
  if (!task.Started) StartTask(index);
  task.Status = ProgressText(task, currentDuration, totalOutputDuration, fps);
  if (mode_ == rmTerminal) RedrawTerminal();
}

std::string TConvertReport::ProgressText(const TTaskView& task, int currentDuration,
                                         int totalDuration, int fps) const {
  const int64_t total = totalDuration > 0 ? totalDuration : task.SourceDurationMs;
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - task.StartTime).count();
  std::string text;
  if (total > 0 && currentDuration >= 0) {
    const double done = std::min(1.0, static_cast<double>(currentDuration) / total);
    text = std::to_string(static_cast<int>(done * 100)) + "%";
    const std::string left = done > 0 ? Clock(static_cast<int64_t>(elapsed * (1 - done) / done))
                                      : std::string("--:--:--");
    text += "  " + std::to_string(fps) + " fps  " + Clock(static_cast<int64_t>(elapsed)) +
            " elapsed  " + left + " left";
  } else {
    text = std::to_string(fps) + " fps  " + Clock(static_cast<int64_t>(elapsed)) + " elapsed";
  }
  return text;
}

void TConvertReport::Log(int index, TLogLevel level, const std::string& message) {
  std::lock_guard lock(mutex_);
  if (mode_ == rmJson) {
    std::fprintf(out_, "%s\n",
                 TJsonObject()
                     .Add("Event", "log")
                     .Add("Index", index)
                     .Add("Level", LevelName(level))
                     .Add("Message", message)
                     .Text()
                     .c_str());
    std::fflush(out_);
    return;
  }
  PrintMessage(index >= 0 ? "[" + std::to_string(index + 1) + "] " + message : message);
}

void TConvertReport::Terminate(int index, bool finished, bool exception, const std::string& message,
                               bool stopping) {
  std::lock_guard lock(mutex_);
  const bool known = index >= 0 && index < static_cast<int>(tasks_.size());
  if (known) {
    TTaskView& task = tasks_[index];
    task.Ended = true;
    task.Succeeded = finished && !exception;
    if (!task.Succeeded && !stopping) anyFailed_ = true;
    task.Status = task.Succeeded           ? "done"
                  : exception || !stopping ? "failed: " + message
                                           : "stopped";
  }
  if (mode_ == rmJson) {
    TJsonObject json;
    json.Add("Event", "terminate")
        .Add("Index", index)
        .Add("Finished", finished)
        .Add("Exception", exception)
        .Add("Message", message);
    if (known) json.Add("Input", tasks_[index].Input).Add("Output", tasks_[index].Output);
    std::fprintf(out_, "%s\n", json.Text().c_str());
    std::fflush(out_);
  }
  if (!known) {
    if (mode_ == rmTerminal) {
      RedrawTerminal();
      for (int i = 0; i < static_cast<int>(tasks_.size()); ++i)
        if (tasks_[i].Succeeded) std::fprintf(out_, "%s\n", tasks_[i].Output.c_str());
      std::fflush(out_);
    }
    return;
  }
  ShowEnded(index, message);
  // The component launches the next pending task now.
  if (!stopping)
    for (int i = 0; i < static_cast<int>(tasks_.size()); ++i)
      if (!tasks_[i].Started) {
        StartTask(i);
        break;
      }
  if (mode_ == rmTerminal) RedrawTerminal();
}

void TConvertReport::ShowEnded(int index, const std::string& message) {
  if (mode_ != rmPlain) return;
  const TTaskView& task = tasks_[index];
  if (task.Succeeded) {
    std::fprintf(out_, "%s\n", task.Output.c_str());
    std::fflush(out_);
    std::fprintf(err_, "done: %s\n", task.Input.c_str());
  } else if (task.Status == "stopped") {
    std::fprintf(err_, "stopped: %s\n", task.Input.c_str());
  } else {
    std::fprintf(err_, "failed: %s\n", WithFileName(task.Input, message).c_str());
  }
  std::fflush(err_);
}

// On a terminal the last lines of the error stream are the tasks' lines;
// a message goes above them.
void TConvertReport::PrintMessage(const std::string& text) {
  if (mode_ == rmTerminal && drawnLines_ > 0) std::fprintf(err_, "\x1b[%dF\x1b[J", drawnLines_);
  std::fprintf(err_, "%s\n", text.c_str());
  drawnLines_ = 0;
  if (mode_ == rmTerminal) RedrawTerminal();
  std::fflush(err_);
}

void TConvertReport::RedrawTerminal() {
  if (drawnLines_ > 0) std::fprintf(err_, "\x1b[%dF\x1b[J", drawnLines_);
  for (const TTaskView& task : tasks_) {
    const std::string status = task.Started ? task.Status : "waiting";
    std::fprintf(err_, "%-40.40s %s\n", ShortName(task.Input).c_str(), status.c_str());
  }
  drawnLines_ = static_cast<int>(tasks_.size());
  std::fflush(err_);
}
