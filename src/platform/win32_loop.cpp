// The wait on Win32: the monitor's one blocking call, on its child's end and the window's input;
// the pump; and the clocks.
#include <windows.h>

#include "platform/platform.h"
#include "platform/win32_internal.h"

uint32_t tickCount() { return GetTickCount(); }

// Read through the W call and handed to the core as UTF-8: through the ANSI code page a character
// it lacks becomes '?' (or, by best fit, another one: a different program). UTF-8 keeps ASCII as
// it is, so the port and the first space are found as before. 3 bytes at most per UTF-16 unit.
const char* processCommandLine() {
  static char text[3 * 32768];
  if (!WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, text, sizeof text, nullptr,
                           nullptr)) {
    text[0] = '\0';
  }
  return text;
}

// Windows keeps its documented rule: any word is a port, read as atoi reads it.
const char* portRefusal(const char*) { return nullptr; }

uint64_t wallClockMs() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t since1601 = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return (since1601 - 116444736000000000ULL) / 10000;  // 100 ns steps from 1601 to ms from 1970
}

Wake waitForChildOrInput(const ChildHandle* child, uint32_t ms) {
  if (child != nullptr && *child == endToldInShutdown) {
    if (sessionEndUnderWay()) {
      child = nullptr;
    } else {
      endToldInShutdown = nullptr;
    }
  }
  const DWORD count = child != nullptr ? 1 : 0;
  // 0xFF: QS_KEY through QS_HOTKEY, without the later raw-input and pointer flags.
  const DWORD result =
      MsgWaitForMultipleObjects(count, const_cast<HANDLE*>(child), FALSE, ms, 0xFF);
  if (result == WAIT_TIMEOUT) return Wake::timeout;
  if (result == WAIT_OBJECT_0 + count) return Wake::input;
  if (count == 1 && result == WAIT_OBJECT_0) {
    endLeftovers(*child);
    if (sessionEndUnderWay()) endToldInShutdown = *child;
    return Wake::childEnded;
  }
  return Wake::failed;
}

Pump pumpMessage() {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return Pump::empty;
  if (msg.message == WM_QUIT) return Pump::quit;
  DispatchMessageA(&msg);
  return Pump::dispatched;
}
