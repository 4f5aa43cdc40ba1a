// Event lines on standard output, on Windows: a monitor started with its output redirected to
// a file or a pipe (`tolvane.exe ... >> tolvane.log`, a scheduled task through `cmd /c`) writes
// them there, one per line, ended by CRLF. Supervision never waits for its log.
#include <windows.h>

#include "platform/platform.h"

namespace {

HANDLE output;
bool usable;  // standard output is a file or a pipe, and its writer runs
bool wanted;  // lines are written: openEventLog found a log, and closeEventLog has not ended it

// A pipe can stall for as long as its reader does, and a file on a network or USB drive for
// seconds at a time, so lines go through a ring and a thread of their own, which alone may wait.
// A line that finds no room in the ring is dropped. Making the pipe itself non-blocking would
// change it for every holder of the same handle, and is refused for some pipes (Wine's pipes to
// the host).
//
// The ring holds whole lines, each one piece: one that would not fit before the ring's end
// starts again at its beginning, the bytes it skipped there set to 0. A line holds no 0 byte and
// no line break but its closing one, so the writer finds the lines again, and hands each to the
// system in one write: never a line in two pieces that a reader could see apart (a monitor that
// ends between them, its reader stalled, would leave a cut line).
constexpr DWORD kRingSize = 4096;  // bytes: some 30 lines of the usual length
constexpr DWORD kLineSize = 1024;
constexpr DWORD kLastLinesMs = 200;  // how long the end waits for lines still in the ring
char ring[kRingSize];
volatile LONG queued;      // bytes put into the ring, ever (wrapping); only the monitor adds
volatile LONG written;     // bytes taken out of it; only the writer adds
volatile LONG readerGone;  // a write found the pipe's reader gone: nothing can reach it any more
HANDLE lineQueued;         // wakes the writer

DWORD waiting() { return static_cast<DWORD>(queued) - static_cast<DWORD>(written); }

// A write that fails (a full disk) leaves what it did not write at the ring's head: the rest of
// the line goes out first, when the next line wakes the writer, so the next never begins on the
// same line as a fragment. A pipe whose reader has gone stays broken for good.
bool writeLineAt(DWORD from) {
  DWORD end = from;
  while (ring[end] != '\n') ++end;
  const DWORD length = end + 1 - from;
  DWORD done = 0;
  const BOOL ok = WriteFile(output, ring + from, length, &done, nullptr);
  const DWORD error = ok ? 0 : GetLastError();
  InterlockedExchangeAdd(&written, static_cast<LONG>(done));
  if (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE) InterlockedExchange(&readerGone, 1);
  return ok && done != 0;
}

DWORD WINAPI writeQueuedLines(void*) {
  for (;;) {
    while (waiting() != 0) {
      const DWORD from = static_cast<DWORD>(written) % kRingSize;
      if (ring[from] == '\0') {
        InterlockedExchangeAdd(&written, static_cast<LONG>(kRingSize - from));  // skipped bytes
      } else if (!writeLineAt(from)) {
        break;
      }
    }
    WaitForSingleObject(lineQueued, INFINITE);
  }
}

// Once per run: standard output is looked at, and its writer started, when first needed.
void prepareOutput() {
  static bool prepared;
  if (prepared) return;
  prepared = true;
  output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
  const DWORD type = GetFileType(output);
  if (type != FILE_TYPE_DISK && type != FILE_TYPE_PIPE) return;
  lineQueued = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  // Without the writer a stalled reader would stall the monitor: then nothing is written.
  HANDLE writer = lineQueued != nullptr
                      ? CreateThread(nullptr, 64 * 1024, writeQueuedLines, nullptr,
                                     STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr)
                      : nullptr;
  if (writer == nullptr) return;
  CloseHandle(writer);
  usable = true;
}

// Line breaks inside would split the line, and a 0 byte would read as skipped ring space.
DWORD withLineEnd(const char* line, char* text) {
  DWORD length = 0;
  for (; line[length] != '\0' && length < kLineSize - 2; ++length) {
    const char c = line[length];
    text[length] = c == '\r' || c == '\n' ? ' ' : c;
  }
  text[length++] = '\r';
  text[length++] = '\n';
  return length;
}

bool queueLine(const char* line) {
  char text[kLineSize];
  const DWORD length = withLineEnd(line, text);
  const DWORD at = static_cast<DWORD>(queued) % kRingSize;
  const DWORD skipped = kRingSize - at < length ? kRingSize - at : 0;
  if (readerGone != 0 || kRingSize - waiting() < skipped + length) {
    SetEvent(lineQueued);  // a line left half written may go out now (a disk with room again)
    return false;
  }
  for (DWORD i = 0; i < skipped; ++i) ring[at + i] = '\0';
  for (DWORD i = 0; i < length; ++i) ring[(at + skipped + i) % kRingSize] = text[i];
  // A barrier: in place, then counted.
  InterlockedExchangeAdd(&queued, static_cast<LONG>(skipped + length));
  SetEvent(lineQueued);
  return true;
}

// What the ring still holds gets a moment to go out before the program ends.
void drainRing() {
  const DWORD start = GetTickCount();
  while (usable && waiting() != 0 && readerGone == 0 && GetTickCount() - start < kLastLinesMs) {
    Sleep(5);
  }
}

}  // namespace

// Started from Explorer or a shortcut, a window program has no standard output (no handle, or
// one of an unknown type); a console is no log either.
void openEventLog(bool) {
  prepareOutput();
  wanted = usable;
}

bool eventLinesWanted() { return wanted; }

// A line refused because the pipe's reader has gone counts as dropped like any other, though
// nobody will read the count: the core's tally stays true.
bool writeEventLine(const char* line) { return wanted && queueLine(line); }

// The record ends here: nothing is written after its last line.
void closeEventLog() {
  drainRing();
  wanted = false;
}

// Started from a command prompt or a task with its output redirected, a monitor that will not
// come up says why in the operator's log, where its window would have said nothing at all.
void reportRefusal(const char* why) {
  prepareOutput();
  if (!usable) return;
  char line[kLineSize];
  wsprintfA(line, "start-up refused: %.900s", why);
  queueLine(line);
  drainRing();
}
