// Starting and stopping the one child.
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
