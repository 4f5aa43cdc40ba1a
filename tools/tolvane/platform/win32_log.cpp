// Event lines on standard output, on Windows: a monitor started with its output redirected to
// a file or a pipe (`tolvane.exe ... >> tolvane.log`, a scheduled task through `cmd /c`) writes
// them there, one per line, ended by CRLF. Supervision never waits for its log.
#include <windows.h>

#include "platform/platform.h"

namespace {

HANDLE output;
bool wanted;

// A pipe can stall for as long as its reader does, so lines for a pipe go through a ring and a
// thread of their own, which alone may wait. A line that finds no room in the ring is dropped.
// Making the pipe itself non-blocking would change it for every holder of the same handle, and
// is refused for some pipes (Wine's pipes to the host).
constexpr DWORD kRingSize = 4096;  // bytes: some 30 lines of the usual length
constexpr DWORD kLineSize = 1024;
constexpr DWORD kLastLinesMs = 200;  // how long the end waits for lines still in the ring
char ring[kRingSize];
volatile LONG queued;   // bytes put into the ring, ever (wrapping); only the monitor adds
volatile LONG written;  // bytes taken out of it; only the writer adds
HANDLE lineQueued;      // wakes the writer
bool ringRunning;

DWORD waiting() { return static_cast<DWORD>(queued) - static_cast<DWORD>(written); }

DWORD WINAPI writeQueuedLines(void*) {
  for (;;) {
    while (waiting() != 0) {
      const DWORD from = static_cast<DWORD>(written) % kRingSize;
      const DWORD length = waiting() < kRingSize - from ? waiting() : kRingSize - from;
      DWORD done = 0;
      WriteFile(output, ring + from, length, &done, nullptr);  // what fails is lost
      InterlockedExchangeAdd(&written, static_cast<LONG>(length));
    }
    WaitForSingleObject(lineQueued, INFINITE);
  }
}

void startRing() {
  lineQueued = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE writer = lineQueued != nullptr
                      ? CreateThread(nullptr, 64 * 1024, writeQueuedLines, nullptr,
                                     STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr)
                      : nullptr;
  if (writer == nullptr) {
    wanted = false;  // without the writer a stalled reader would stall the monitor
    return;
  }
  CloseHandle(writer);
  ringRunning = true;
}

DWORD withLineEnd(const char* line, char* text) {
  DWORD length = 0;
  while (line[length] != '\0' && length < kLineSize - 2) {
    text[length] = line[length];
    ++length;
  }
  text[length++] = '\r';
  text[length++] = '\n';
  return length;
}

bool queueLine(const char* line) {
  char text[kLineSize];
  const DWORD length = withLineEnd(line, text);
  if (kRingSize - waiting() < length) return false;
  const DWORD at = static_cast<DWORD>(queued);
  for (DWORD i = 0; i < length; ++i) ring[(at + i) % kRingSize] = text[i];
  InterlockedExchangeAdd(&queued, static_cast<LONG>(length));  // a barrier: in place, then counted
  SetEvent(lineQueued);
  return true;
}

// A disk file takes a line at once, or fails at once (a full disk).
bool writeToFile(const char* line) {
  char text[kLineSize];
  const DWORD length = withLineEnd(line, text);
  DWORD done = 0;
  return WriteFile(output, text, length, &done, nullptr) && done == length;
}

}  // namespace

// Started from Explorer or a shortcut, a window program has no standard output (no handle, or
// one of an unknown type); a console is no log either.
void openEventLog(bool) {
  output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
  const DWORD type = GetFileType(output);
  wanted = type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE;
  if (type == FILE_TYPE_PIPE) startRing();
}

bool eventLinesWanted() { return wanted; }

bool writeEventLine(const char* line) {
  if (!wanted) return false;
  return ringRunning ? queueLine(line) : writeToFile(line);
}

void closeEventLog() {
  const DWORD start = GetTickCount();
  while (ringRunning && waiting() != 0 && GetTickCount() - start < kLastLinesMs) Sleep(5);
}

void reportRefusal(const char*) {}
