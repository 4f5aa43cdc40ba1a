// Tolvane: keeps one server program running. Start-up, then the supervision loop.
#include "supervisor/monitor.h"

static bool openProbeSocket() {
  return openSocket(&asocket) && bindToLoopback(asocket) && makeNonBlocking(asocket);
}

// The start-up steps, in order. Any failure returns at once: the program then exits with 0,
// having shown nothing.
bool startUp(InstanceHandle instance) {
  if (!initClass(instance)) return false;
  openEventLog(windowAvailable());
  const char* tail = commandTail(processCommandLine());
  const char* command = childCommand(tail);
  if (command == nullptr) return false;
  formatProgramLabel(command);
  port = parsePort(tail);
  startNetwork();  // a failure shows when the socket is opened
  copyCommand(command);
  debugInfoOn = true;
  totalCount = tickCount();
  if (!openProbeSocket()) return false;
  startProcess();  // a failed first start is retried by the probe
  if (!createMainWindow(program, debugInfoOn)) {
    killProcess();  // never leave a server running without its monitor
    return false;
  }
  showMainWindow();
  updateWindow();
  return true;
}

static void onChildEnded() {
  noteChildEnded();
  startProcess();
  countUp(restarts);  // attempts count too: a restart that keeps failing shows here
  updateWindow();
}

static void onIdleSecond() {
  checkResponse();
  updateWindow();
}

static Wake waitOnce() {
  // A closed handle is never waited on: after a forced stop whose restart failed there is no
  // child to watch, and the probe retries the start.
  return waitForChildOrInput(childOpen ? &childProcess : nullptr, kWaitMs);
}

bool superviseOnce() {
  for (;;) {
    const Pump pumped = pumpMessage();
    if (pumped == Pump::quit) return false;
    if (pumped == Pump::report) writeEventNow("status");
    if (pumped == Pump::empty) break;
  }
  switch (waitOnce()) {
    case Wake::childEnded: onChildEnded(); break;
    case Wake::input: break;  // served by the next pass; no refresh
    case Wake::timeout: onIdleSecond(); break;
    case Wake::failed: updateWindow(); break;
  }
  return true;
}

int runLoop() {
  while (superviseOnce()) {
  }
  killProcess();
  if (eventLinesWanted()) writeQuitLines();
  closeEventLog();
  return 1;
}

int runMonitor(InstanceHandle instance) { return startUp(instance) ? runLoop() : 0; }

#ifdef _WIN32
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // A crashing server must end at once rather than wait behind an error box for a click. Its job
  // says so too; this covers a server that runs without one, since children inherit the mode.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  return runMonitor(instance);
}
#elif defined(TOLVANE_LINUX)
#include "platform/posix.h"

int main(int argc, char** argv) {
  preparePosixProcess(argc, argv);
  return runMonitor(nullptr);
}
#endif
