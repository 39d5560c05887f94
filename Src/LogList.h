#pragma once
// Library log text collected into complete lines, one pending partial line
// per thread that has logged.
#include <cstdarg>
#include <memory>
#include <string>
#include <vector>

#include "platform/Thread.h"

class TLogList {
 public:
  struct TLogItem {
    TThreadId ThreadId = 0;  // 0 marks the first item as free
    std::string Pending;     // text logged since the thread's last line feed
    std::unique_ptr<TLogItem> Next;
  };

  TLogList() = default;
  ~TLogList() { Clear(); }
  TLogList(const TLogList&) = delete;
  TLogList& operator=(const TLogList&) = delete;

  // That thread's item, made when the thread has none yet.
  TLogItem& FindOrAdd(TThreadId threadId);
  // Drops every pending partial line.
  void Clear();

 private:
  TLogItem first_;
};

// Size of the buffer in which one library message is assembled: the
// thread's pending text, a prefix and the formatted message. Text that does
// not fit is cut.
inline constexpr size_t LogBufferSize = 2048;

// Assembles one library message in a buffer of LogBufferSize bytes:
// the pending text, or at the start of a line the "[name @ ADDRESS]" prefix
// when the message names its object, then the formatted message. Returns the
// complete lines (line feeds dropped) and leaves the rest in pending; a full
// buffer is one line, cut where it ends.
std::vector<std::string> AssembleLogLines(std::string& pending, const char* objectName,
                                          const void* classAddress, const char* format,
                                          va_list arguments);
