#pragma once
// Process-wide state of the components: the list of live components, the
// log list of the library log relay, and the thread's event depth.
#include "LogList.h"
#include "platform/Lock.h"

class TCustomFFmpegVCL;

// Every live component not being designed. Its lock also guards LogList()
// while a library message is assembled and delivered.
TThreadList<TCustomFFmpegVCL*>& ComponentList();
// Partial library log lines per thread; use it only under the
// ComponentList() lock.
TLogList& LogList();
// Drops every pending partial log line, under the ComponentList() lock.
void ClearLogList();
// Routes the libraries' log messages to the live components.
void InstallLibraryLogCallback();

// True while the calling thread runs inside an event handler of a component.
bool InsideEvent();
class TEventScope {
 public:
  TEventScope();
  ~TEventScope();
  TEventScope(const TEventScope&) = delete;
  TEventScope& operator=(const TEventScope&) = delete;
};
