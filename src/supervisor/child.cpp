// Starting and stopping the one child.
#include <cstdio>
#include <cstring>

#include "supervisor/monitor.h"

bool startProcess() {
  ChildHandle started;
  if (startChild(process, &started)) {
    // The previous child has ended by now; its handle stayed open only so a failed restart
    // could be retried at once.
    if (childOpen) releaseChild(childProcess);
    childProcess = started;
    childOpen = true;
    numHandles = 1;
    curTime = 0;
    curTicks = 0;
    curCount = tickCount();
    noteChildStarted();
  } else {
    noteStartFailed();
  }
  return numHandles != 0;
}

void killProcess() {
  if (!childOpen) return;
  terminateChild(childProcess);
  releaseChild(childProcess);
  childOpen = false;
}

// What the server runs without (no job of its own) is told after the start's own line, once, and
// again only when it changes: every restart would otherwise repeat it.
void tellWhatTheServerLacks() {
  if (!eventLinesWanted()) return;
  const char* lacking = startedWithout();
  if (lacking == nullptr) lacking = "";
  if (std::strcmp(lacking, toldWithout) == 0) return;
  std::snprintf(toldWithout, sizeof toldWithout, "%s", lacking);
  if (lacking[0] == '\0') return;
  char what[kEventSize];
  std::snprintf(what, sizeof what, "the server runs without %s", lacking);
  writeEventNow(what);
}
