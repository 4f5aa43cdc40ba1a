// The platform as a script. Nothing here allocates, so a long run can count the monitor's own
// allocations.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "fakes/fake.h"
#include "fakes/fake_internal.h"
#include "supervisor/monitor.h"

namespace {

struct Handle {
  uintptr_t id;  // the value handed out; a slot is reused by a later id
  bool open;
  uint64_t endsAt;  // when the child behind it ends by itself, or was terminated
};

constexpr int kSlots = 256;
constexpr int kMaxScheduled = 4096;
constexpr int kMaxProbes = 4096;
constexpr int kMaxDatagrams = 1024;

uint64_t clock;
char commandLine[8192];
char command[kCommandSize];
char traceText[1024];
char failing[64];
char portWhy[64];  // what the platform says of any port word; "": it takes them all

Handle handles[kSlots];
uintptr_t nextId;
uintptr_t currentId;  // the last child started
int attempts, started, terminated, misuse, openCount;
uint64_t runsFor;
bool answers;
uint16_t listening;
int startsToFail;
int waitsToFail;
char lacking[64];  // what children run without
char failureReason[64];
int exitCode;  // how later children end by themselves
bool reportAsked;
bool endUnderWay;  // what the system says of the session's end

uint64_t scheduled[kMaxScheduled];  // arrival times of window messages, in order
bool scheduledQuit[kMaxScheduled];
int scheduledCount, scheduledNext;
int queuedMessages;
bool quitQueued;
bool unseenInput;  // input arrived since the queue was last looked at
int dispatchedCount;
int endsSeen;
uint64_t startedAt;

int datagrams[kMaxDatagrams];  // lengths, a ring
int datagramHead, datagramCount;

uint64_t probeTimes[kMaxProbes];
uint16_t probePorts[kMaxProbes];
int probeLengths[kMaxProbes];
char probeData[kMaxProbes][6];
int probeCount;

Handle* lookup(ChildHandle child) {
  const uintptr_t id = reinterpret_cast<uintptr_t>(child);
  Handle& h = handles[id % kSlots];
  return h.id == id && h.open ? &h : nullptr;
}

Handle* current() {
  Handle& h = handles[currentId % kSlots];
  return currentId != 0 && h.id == currentId ? &h : nullptr;
}

void schedule(uint64_t at, bool quit) {
  if (scheduledNext == scheduledCount) scheduledNext = scheduledCount = 0;  // all delivered
  if (scheduledCount == kMaxScheduled) return;
  int i = scheduledCount++;
  for (; i > scheduledNext && scheduled[i - 1] > at; --i) {
    scheduled[i] = scheduled[i - 1];
    scheduledQuit[i] = scheduledQuit[i - 1];
  }
  scheduled[i] = at;
  scheduledQuit[i] = quit;
}

void deliverDueMessages() {
  for (; scheduledNext < scheduledCount && scheduled[scheduledNext] <= clock; ++scheduledNext) {
    if (scheduledQuit[scheduledNext]) {
      quitQueued = true;
    } else {
      ++queuedMessages;
    }
    unseenInput = true;
  }
}

uint64_t nextMessageAt() {
  return scheduledNext < scheduledCount ? scheduled[scheduledNext] : fake::kNever;
}

void queueDatagram(int length) {
  if (datagramCount == kMaxDatagrams) return;
  datagrams[(datagramHead + datagramCount++) % kMaxDatagrams] = length;
}

}  // namespace

void fakeRecord(const char* event) {
  const size_t used = std::strlen(traceText);
  std::snprintf(traceText + used, sizeof traceText - used, "%s%s", used ? " " : "", event);
}

bool fakeTraceEndsWith(const char* event) {
  const size_t used = std::strlen(traceText);
  const size_t length = std::strlen(event);
  return used >= length && std::strcmp(traceText + used - length, event) == 0;
}

bool fakeStepFails(const char* step) { return std::strcmp(failing, step) == 0; }

// --- the platform ---

uint32_t tickCount() { return static_cast<uint32_t>(clock); }

uint64_t wallClockMs() { return fake::kWallClockAtZero + clock; }

const char* processCommandLine() { return commandLine; }

const char* portRefusal(const char*) { return portWhy[0] != '\0' ? portWhy : nullptr; }

bool sessionEndUnderWay() { return endUnderWay; }

bool startChild(char* line, ChildHandle* child) {
  ++attempts;
  fakeRecord("start");
  if (startsToFail != 0) {
    if (startsToFail > 0) --startsToFail;
    return false;
  }
  std::snprintf(command, sizeof command, "%s", line);
  const uintptr_t id = ++nextId;
  Handle& h = handles[id % kSlots];
  if (h.open) ++misuse;  // a handle this old still open: the monitor leaks them
  h = Handle{id, true, runsFor == fake::kNever ? fake::kNever : clock + runsFor};
  currentId = id;
  startedAt = clock;
  ++started;
  ++openCount;
  *child = reinterpret_cast<ChildHandle>(id);
  return true;
}

const char* startFailure() { return failureReason; }

const char* startedWithout() { return lacking[0] != '\0' ? lacking : nullptr; }

long childId(ChildHandle child) { return static_cast<long>(reinterpret_cast<uintptr_t>(child)); }

void describeEnd(ChildHandle child, char* text, int size) {
  const Handle* h = lookup(child);
  if (h == nullptr) ++misuse;
  std::snprintf(text, size, "exit code %d", exitCode);
}

void terminateChild(ChildHandle child) {
  Handle* h = lookup(child);
  if (h == nullptr) {
    ++misuse;
    return;
  }
  fakeRecord("terminate");
  ++terminated;
  if (h->endsAt > clock) h->endsAt = clock;
}

void releaseChild(ChildHandle child) {
  Handle* h = lookup(child);
  if (h == nullptr) {
    ++misuse;
    return;
  }
  h->open = false;
  --openCount;
}

Wake waitForChildOrInput(const ChildHandle* child, uint32_t ms) {
  const Handle* h = nullptr;
  if (child != nullptr && (h = lookup(*child)) == nullptr) {
    ++misuse;
    return Wake::failed;
  }
  if (waitsToFail > 0) {
    --waitsToFail;
    return Wake::failed;
  }
  deliverDueMessages();
  // As on the real system, a signalled handle wins over waiting input, only input that arrived
  // since the queue was last looked at ends the wait, and a time-out ends a little after the
  // time asked for (with exactly 1000 ms every probe period would last nine idle seconds
  // instead of eight).
  const uint64_t childEnds = h == nullptr ? fake::kNever : std::max(h->endsAt, clock);
  const uint64_t input = unseenInput ? clock : nextMessageAt();
  const uint64_t timeout = clock + ms + 1;
  Wake wake = Wake::timeout;
  if (childEnds <= timeout && childEnds <= input) {
    clock = childEnds;
    wake = Wake::childEnded;
    ++endsSeen;
  } else if (input < timeout) {
    clock = input;
    wake = Wake::input;
  } else {
    clock = timeout;
  }
  deliverDueMessages();
  unseenInput = false;  // this wait has looked at it
  return wake;
}

Pump pumpMessage() {
  deliverDueMessages();
  unseenInput = false;
  if (reportAsked) {
    reportAsked = false;
    return Pump::report;
  }
  if (queuedMessages > 0) {
    --queuedMessages;
    ++dispatchedCount;
    return Pump::dispatched;
  }
  if (quitQueued) {
    quitQueued = false;
    return Pump::quit;
  }
  return Pump::empty;
}

void startNetwork() { fakeRecord("network"); }
void stopNetwork() {}

bool openSocket(SocketHandle* socket) {
  fakeRecord("socket");
  *socket = 3;
  return !fakeStepFails("socket");
}

bool bindToLoopback(SocketHandle) {
  fakeRecord("bind");
  return !fakeStepFails("bind");
}

bool makeNonBlocking(SocketHandle) {
  fakeRecord("nonblock");
  return !fakeStepFails("nonblock");
}

int receiveDatagram(SocketHandle, char*, int size) {
  if (datagramCount == 0) return -1;
  const int length = datagrams[datagramHead];
  datagramHead = (datagramHead + 1) % kMaxDatagrams;
  --datagramCount;
  return length > size ? -1 : length;
}

void sendToLocalPort(SocketHandle, uint16_t toPort, const char* data, int size) {
  if (probeCount < kMaxProbes) {
    probeTimes[probeCount] = clock;
    probePorts[probeCount] = toPort;
    probeLengths[probeCount] = size;
    std::memcpy(probeData[probeCount], data, size < 6 ? size : 6);
    ++probeCount;
  }
  if (answers && toPort == listening && toPort != 0 && fake::childRunning()) queueDatagram(6);
}

// --- the script ---

namespace fake {

void reset(const char* line, uint64_t bootTicks) {
  clock = bootTicks;
  std::snprintf(commandLine, sizeof commandLine, "%s", line);
  command[0] = traceText[0] = failing[0] = portWhy[0] = '\0';
  for (Handle& h : handles) h = Handle{0, false, 0};
  nextId = 1000;  // handle values far from 0 and from any small number
  currentId = 0;
  attempts = started = terminated = misuse = openCount = 0;
  runsFor = kNever;
  answers = false;
  listening = 40000;
  startsToFail = waitsToFail = exitCode = 0;
  std::snprintf(failureReason, sizeof failureReason, "not found");
  lacking[0] = '\0';
  reportAsked = endUnderWay = false;
  scheduledCount = scheduledNext = queuedMessages = dispatchedCount = endsSeen = 0;
  startedAt = 0;
  quitQueued = unseenInput = false;
  datagramHead = datagramCount = 0;
  probeCount = 0;
  fakeWindowReset();
  fakeLogReset();
  resetMonitorState();
}

uint64_t now() { return clock; }
void advance(uint64_t ms) { clock += ms; }
void childRunsFor(uint64_t ms) { runsFor = ms; }
void childAnswers(bool yes) { answers = yes; }
void listenPort(uint16_t p) { listening = p; }
void failStarts(int count) { startsToFail = count; }
void refusePorts(const char* why) { std::snprintf(portWhy, sizeof portWhy, "%s", why); }

void failStartsBecause(const char* reason) {
  std::snprintf(failureReason, sizeof failureReason, "%s", reason);
}
void childExitsWith(int code) { exitCode = code; }
void startWithout(const char* what) { std::snprintf(lacking, sizeof lacking, "%s", what); }
void askForReport() { reportAsked = true; }
void sessionEndUnderWay(bool yes) { endUnderWay = yes; }

void endChildAt(uint64_t at) {
  if (Handle* h = current()) h->endsAt = at;
}

void failWaits(int count) { waitsToFail = count; }

void inputAt(uint64_t at) { schedule(at, false); }
void quitAt(uint64_t at) { schedule(at, true); }
void datagramArrives(int length) { queueDatagram(length); }
int datagramsWaiting() { return datagramCount; }
void failStep(const char* step) { std::snprintf(failing, sizeof failing, "%s", step); }

int startAttempts() { return attempts; }
int starts() { return started; }
int terminations() { return terminated; }
int openHandles() { return openCount; }
int handleMisuse() { return misuse; }

bool childRunning() {
  const Handle* h = current();
  return h != nullptr && h->endsAt > clock;
}

const char* lastCommand() { return command; }
int probes() { return probeCount; }
uint64_t probeAt(int i) { return probeTimes[i]; }
uint16_t probePort(int i) { return probePorts[i]; }
int probeLength(int i) { return probeLengths[i]; }
const char* probeBytes(int i) { return probeData[i]; }
int dispatched() { return dispatchedCount; }
int childEndsSeen() { return endsSeen; }
uint64_t lastStartAt() { return startedAt; }
const char* trace() { return traceText; }

}  // namespace fake

void resetMonitorState() {
  refusal = nullptr;
  process[0] = program[0] = '\0';
  port = 0;
  debugInfoOn = false;
  childProcess = nullptr;
  childOpen = false;
  numHandles = 0;
  sessionEnded = endWhileEnding = false;
  secondsWithoutEnd = 0;
  restarts = noresponse = 0;
  totalTime = totalTicks = totalCount = 0;
  curTime = curTicks = curCount = 0;
  maxTime = kNoValue;
  for (char* text : statusTexts) text[0] = '\0';
  for (char* text : shownTexts) text[0] = '\0';
  rowsShownAt = 0;
  rowsWaiting = false;
  pendingEventCount = 0;
  reportedFailure[0] = restartFailure[0] = '\0';
  endReported = false;
  droppedLines = 0;
  toldWithout[0] = '\0';
  runStartTick = loopLineTick = 0;
  quickEnds = loopEnds = loopStarts = loopFailures = 0;
  loopLastEnd[0] = '\0';
  asocket = 0;
  sendCount = lastSendTime = 0;
}
