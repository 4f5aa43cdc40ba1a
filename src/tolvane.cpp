// Tolvane: keeps one server program running. Start-up, then the supervision loop.
#include "supervisor/monitor.h"

const char* refusal;
static Outcome refusedAs;  // what kind of refusal `refusal` is, once it is set

static bool refuse(const char* why, Outcome as = Outcome::failedStartUp) {
  refusal = why;
  refusedAs = as;
  return false;
}

static bool openProbeSocket() {
  if (!openSocket(&asocket)) return refuse("no UDP socket");
  if (!bindToLoopback(asocket)) return refuse("the UDP socket could not be bound to 127.0.0.1");
  if (!makeNonBlocking(asocket)) return refuse("the UDP socket could not be made non-blocking");
  return true;
}

static void onHeldSecond();
static void onSessionEnding();
static void onSessionGoesOn();
static void onDisplayLost();

// The start-up steps, in order. Any failure returns at once, saying why: the program then exits,
// having shown nothing.
bool startUp(InstanceHandle instance) {
  setWindowCalls(WindowCalls{onHeldSecond, onSessionEnding, onSessionGoesOn, onDisplayLost});
  if (!initClass(instance)) return refuse("the window class could not be registered");
  openEventLog(windowAvailable());
  const char* tail = commandTail(processCommandLine());
  if (const char* why = commandRefusal(tail)) return refuse(why, Outcome::refusedCommandLine);
  const char* command = childCommand(tail);
  formatProgramLabel(command);
  port = parsePort(tail);
  startNetwork();  // a failure shows when the socket is opened
  copyCommand(command);
  noteProbedPort();
  debugInfoOn = true;
  totalCount = tickCount();
  if (!openProbeSocket()) return false;
  startProcess();  // a failed first start is retried by the probe
  if (!createMainWindow(program, debugInfoOn)) {
    killProcess();  // never leave a server running without its monitor
    return refuse("no window could be made");
  }
  showMainWindow();
  updateWindow();
  return true;
}

// Once the session ends nothing starts again: an ended child is no longer waited for, so that
// the wait covers input alone, but kept, so that its end can be told if the session goes on.
static void onChildEnded() {
  if (sessionEnded) {
    endWhileEnding = true;
    return;
  }
  noteChildEnded();
  startProcess();
  countUp(restarts);  // attempts count too: a restart that keeps failing shows here
  updateWindow();
}

// The session's end was called off: the record, closed at the end, goes on.
static void reopenRecord() {
  sessionEnded = false;
  secondsWithoutEnd = 0;
  openEventLog(windowAvailable());
  noteSessionGoesOn();
}

// The session's end was called off: the record goes on, the probe starts afresh (the server had
// its own notice of the end, and may have paused for it), and a server that ended meanwhile is
// told and started again as after any end.
static void resumeSupervision() {
  reopenRecord();
  sendCount = 0;
  lastSendTime = tickCount();
  if (endWhileEnding) {
    endWhileEnding = false;
    onChildEnded();
  }
}

static void onSessionGoesOn() {
  if (sessionEnded) resumeSupervision();
  updateWindow();
}

// Once the session ends a silent server is not replaced: it may be saving its state.
static void onIdleSecond() {
  if (!sessionEnded) {
    checkResponse();
  } else if (sessionEndUnderWay()) {
    secondsWithoutEnd = 0;
  } else if (++secondsWithoutEnd >= kSessionGoesOnSeconds) {
    resumeSupervision();
  }
  updateWindow();
}

// A closed handle is never waited on: after a forced stop whose restart failed there is no child
// to watch, and the probe retries the start. Nor is a child that ended during the session's end.
// Rows the window has not been handed yet come due within a kRowsPeriod: the wait wakes for
// them, hands them over and waits out the rest of its time, so that this wake-up is no idle
// second.
static Wake waitOnce(uint32_t ms) {
  const uint32_t start = tickCount();
  for (;;) {
    const uint32_t waited = tickCount() - start;
    const uint32_t left = waited < ms ? ms - waited : 0;
    const uint32_t due = rowsDueIn();
    if (due == 0) {  // due now: a stream of input, which ends every wait at once, cannot hold it
      showWaitingRows();
      continue;
    }
    const ChildHandle* child = childOpen && !endWhileEnding ? &childProcess : nullptr;
    if (due >= left) return waitForChildOrInput(child, left);
    const Wake woken = waitForChildOrInput(child, due);
    if (woken != Wake::timeout) return woken;
    showWaitingRows();
  }
}

bool superviseOnce() {
  for (;;) {
    const Pump pumped = pumpMessage();
    if (pumped == Pump::quit) return false;
    if (pumped == Pump::report) writeEventNow("status");
    if (pumped == Pump::empty) break;
  }
  switch (waitOnce(kWaitMs)) {
    case Wake::childEnded: onChildEnded(); break;
    case Wake::input: break;  // served by the next pass; no refresh
    case Wake::timeout: onIdleSecond(); break;
    case Wake::failed: updateWindow(); break;
  }
  return true;
}

// The system holds the thread (a window moved, a menu open): the loop's own wait cannot run, so
// the child's end is looked for without waiting, and the second counts as an idle one.
static void onHeldSecond() {
  if (waitOnce(0) == Wake::childEnded) {
    onChildEnded();
  } else {
    onIdleSecond();
  }
}

// The record's end, however the run ends: what it has not told yet, then one last line.
static void endRecord(const char* lastLine) {
  if (eventLinesWanted()) writeLastLines(lastLine);
  closeEventLog();
}

// The session ends: the system ends the server itself, after the server's own notice. The
// process may end at any moment after this returns.
static void onSessionEnding() {
  sessionEnded = true;
  secondsWithoutEnd = 0;
  endRecord("session ending");
}

// The display can break in the middle of a refresh: the rows are refreshed once more (for the
// record alone) so that the last line shows every count.
static void onDisplayLost() {
  killProcess();
  updateWindow();
  endRecord("display lost");
}

Outcome runLoop() {
  while (superviseOnce()) {
  }
  // A quit after the session's end: the session went on after all (an installer's request to
  // close the program comes so), and the record says what happened since, as a quit's record does.
  if (sessionEnded) {
    reopenRecord();
    if (endWhileEnding) noteChildEnded();
  }
  killProcess();
  endRecord("quit");
  return Outcome::quit;
}

Outcome runMonitor(InstanceHandle instance) {
  if (startUp(instance)) return runLoop();
  reportRefusal(refusal);
  return refusedAs;
}

#ifdef _WIN32
#include <windows.h>

// Windows' own codes, which its operators' scripts know: 1 after a quit, 0 when start-up failed,
// whatever the reason.
static int exitCode(Outcome outcome) { return outcome == Outcome::quit ? 1 : 0; }

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // Told of the session's end after ordinary programs (0x280), and after any in the range of
  // those that ask to be told late (0x100 to 0x1FF): the server, at its own level, has had its
  // notice and saved its state before the monitor's end takes the server's job with it.
  SetProcessShutdownParameters(0x100, 0);
  // A crashing server must end at once rather than wait behind an error box for a click. Its job
  // says so too; this covers a server that runs without one, since children inherit the mode.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  return exitCode(runMonitor(instance));
}
#elif defined(TOLVANE_LINUX)
#include "platform/posix.h"

// Linux's conventions, which systemd and shells read: 0 after a quit; 2 for a command line that
// can never run, which a service manager should not retry; 1 for any other failure, which it
// may. A lost display exits with 1 from the window: supervision ended unasked.
static int exitCode(Outcome outcome) {
  switch (outcome) {
    case Outcome::quit: return 0;
    case Outcome::refusedCommandLine: return 2;
    case Outcome::failedStartUp: break;
  }
  return 1;
}

int main(int argc, char** argv) {
  if (answerInfoRequest(argc, argv)) return 0;
  preparePosixProcess(argc, argv);
  return exitCode(runMonitor(nullptr));
}
#endif
