// Tolvane: keeps one server program running. Start-up, then the supervision loop.
#include "supervisor/monitor.h"
#include "window/window.h"

static bool openProbeSocket() {
  return openSocket(&asocket) && bindToAnyPort(asocket) && makeNonBlocking(asocket);
}

// Every failure returns at once: the caller exits with 0, and nothing is shown.
bool startUp(InstanceHandle instance) {
  if (!initClass(instance)) return false;                     // 1
  const char* tail = commandTail(processCommandLine());
  const char* command = childCommand(tail);                   // 2
  if (command == nullptr) return false;
  formatProgramLabel(command);                                // 3
  port = parsePort(tail);                                     // 4
  startNetwork();                                             // 5
  copyCommand(command);                                       // 6
  debugInfoOn = true;                                         // 7
  totalCount = tickCount();                                   // 8
  if (!openProbeSocket()) return false;                       // 9 to 11
  startProcess();  // 12: a failed first start is retried by the probe
  if (!createMainWindow()) {                                  // 13
    killProcess();  // never leave a server running without its monitor
    return false;
  }
  showMainWindow();                                           // 14
  updateWindow();                                             // 15
  return true;
}

static void onChildEnded() {
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
  return 1;
}

int runMonitor(InstanceHandle instance) {
  return startUp(instance) ? runLoop() : 0;  // 16
}

#ifdef _WIN32
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  return runMonitor(instance);
}
#endif
