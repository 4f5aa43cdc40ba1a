// Starting the server on Win32: around WOW64's redirection, suspended until it is in its job, never
// while the session ends; and the words for a failed start and for how a run ended.
#include <windows.h>

#include "platform/platform.h"
#include "platform/win32_internal.h"

static STARTUPINFOW si;
static PROCESS_INFORMATION pi;
static const char* startedCommandLine;  // the last command line startChild was given

// A 32-bit monitor on 64-bit Windows sees SysWOW64 where System32 is named or searched, and so
// would start the 32-bit cmd or powershell, or fail to find a 64-bit-only program. Around the
// start alone (the loader calls that follow may need the redirection) it is turned off, so the
// server runs as it would typed into the operator's command prompt. The calls exist only on
// systems that have WOW64, so they are looked up: null where the process does not run under it.
struct Redirection {
  BOOL(WINAPI* disable)(PVOID*);
  BOOL(WINAPI* revert)(PVOID);
};

static const Redirection* redirectionOfWow64() {
  static Redirection calls;
  static bool looked;
  if (looked) return calls.disable != nullptr ? &calls : nullptr;
  looked = true;
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  using IsWow64 = BOOL(WINAPI*)(HANDLE, PBOOL);
  const auto isWow64 = reinterpret_cast<IsWow64>(
      reinterpret_cast<void (*)()>(GetProcAddress(kernel, "IsWow64Process")));
  BOOL underWow64 = FALSE;
  if (isWow64 == nullptr || !isWow64(GetCurrentProcess(), &underWow64) || !underWow64) {
    return nullptr;
  }
  calls.disable = reinterpret_cast<BOOL(WINAPI*)(PVOID*)>(
      reinterpret_cast<void (*)()>(GetProcAddress(kernel, "Wow64DisableWow64FsRedirection")));
  calls.revert = reinterpret_cast<BOOL(WINAPI*)(PVOID)>(
      reinterpret_cast<void (*)()>(GetProcAddress(kernel, "Wow64RevertWow64FsRedirection")));
  if (calls.revert == nullptr) calls.disable = nullptr;
  return calls.disable != nullptr ? &calls : nullptr;
}

// The core's UTF-8 command line, as CreateProcessW takes it (and may write into).
static wchar_t wideCommand[2048];

static bool createSuspended(DWORD flags) {
  si.cb = sizeof si;
  si.lpReserved = nullptr;
  si.lpReserved2 = nullptr;
  si.cbReserved2 = 0;
  si.lpDesktop = nullptr;
  si.dwFlags = 0;
  const Redirection* wow64 = redirectionOfWow64();
  PVOID redirection = nullptr;
  const bool off = wow64 != nullptr && wow64->disable(&redirection);
  const BOOL created =
      CreateProcessW(nullptr, wideCommand, nullptr, nullptr, FALSE,
                     CREATE_SUSPENDED | NORMAL_PRIORITY_CLASS | flags, nullptr, nullptr, &si, &pi);
  const DWORD error = GetLastError();
  if (off) wow64->revert(redirection);
  SetLastError(error);
  return created != 0;
}

// What the last started child runs without that it should have; empty when nothing.
static char withoutJob[48];

static void discardSuspended() {
  TerminateProcess(pi.hProcess, 0);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
}

// Where the monitor itself runs in a job that allows no other (Windows 7; Task Scheduler, Run
// As, the Program Compatibility Assistant put programs in jobs), the child is started again
// outside it, which that job may allow. If it does not, the child runs in the monitor's job,
// as it would have without the second try. Nothing is asked of the monitor's job unless needed.
static bool startInJob() {
  if (!createSuspended(0)) return false;
  withoutJob[0] = '\0';
  if (placeInJob(pi.hProcess)) return true;
  DWORD error = GetLastError();
  if (error == ERROR_ACCESS_DENIED) {
    discardSuspended();
    if (createSuspended(CREATE_BREAKAWAY_FROM_JOB)) {
      if (placeInJob(pi.hProcess)) return true;
      error = GetLastError();
    } else if (!createSuspended(0)) {
      return false;
    }
  }
  wsprintfA(withoutJob, "a job of its own (error %lu)", error);
  return true;
}

// While the session ends (a shutdown, restart or log-off under way) nothing is started: a
// server that ended on its own notice of the end must not come back during it.
bool sessionEndUnderWay() { return GetSystemMetrics(SM_SHUTTINGDOWN) != 0; }

// A child whose end was reported while the session was ending: its refused restart is not
// tried again on every pass, as a failed one would be, but once the end is called off.
HANDLE endToldInShutdown;

bool startChild(char* commandLine, ChildHandle* child) {
  startedCommandLine = commandLine;  // startFailure names its program
  if (sessionEndUnderWay()) {
    SetLastError(ERROR_SHUTDOWN_IN_PROGRESS);
    return false;
  }
  // The system may write into the wide copy as it parses it, as it may into the core's.
  if (!MultiByteToWideChar(CP_UTF8, 0, commandLine, -1, wideCommand, 2048) || !startInJob()) {
    return false;
  }
  const bool resumed = ResumeThread(pi.hThread) != static_cast<DWORD>(-1);
  CloseHandle(pi.hThread);  // never used again; keeping it would leak one handle per restart
  // A child that can never run has not started.
  if (!resumed) {
    TerminateProcess(pi.hProcess, 0);
    releaseChild(pi.hProcess);
    return false;
  }
  *child = pi.hProcess;
  endToldInShutdown = nullptr;
  return true;
}

const char* startedWithout() { return withoutJob[0] != '\0' ? withoutJob : nullptr; }

// The failures an operator meets when a server is moved, locked down, replaced by a file of the
// wrong kind or named with what a path cannot hold, named; any other by its number alone.
static const char* startErrorName(DWORD code) {
  constexpr DWORD kElevationRequired = 740;  // ERROR_ELEVATION_REQUIRED, missing from MinGW
  switch (code) {
    case ERROR_FILE_NOT_FOUND: return "file not found";
    case ERROR_PATH_NOT_FOUND: return "path not found";
    case ERROR_ACCESS_DENIED: return "access denied";
    case ERROR_BAD_EXE_FORMAT: return "not a valid Windows program";
    case ERROR_INVALID_NAME: return "invalid name";
    case ERROR_EXE_MACHINE_TYPE_MISMATCH: return "not for this processor";
    case ERROR_DIRECTORY: return "invalid folder name";
    case kElevationRequired: return "needs elevation";
    default: return nullptr;
  }
}

// The program as the system read it: the first token, up to its closing quote when it begins
// with one, else up to the first blank. Cut to `size` - 1 characters.
static void copyProgramName(const char* commandLine, char* name, int size) {
  const char* p = commandLine;
  const bool quoted = *p == '"';
  if (quoted) ++p;
  int length = 0;
  for (; p[length] != '\0' && length < size - 1; ++length) {
    const char c = p[length];
    if (quoted ? c == '"' : c == ' ' || c == '\t') break;
  }
  lstrcpynA(name, p, length + 1);
}

// "file not found (error 2): server.exe"
const char* startFailure() {
  static char text[320];
  const DWORD code = GetLastError();
  char name[256];
  copyProgramName(startedCommandLine != nullptr ? startedCommandLine : "", name, sizeof name);
  const char* meaning = startErrorName(code);
  if (meaning != nullptr) {
    wsprintfA(text, "%s (error %lu): %s", meaning, code, name);
  } else {
    wsprintfA(text, "error %lu: %s", code, name);
  }
  return text;
}

long childId(ChildHandle child) { return static_cast<long>(GetProcessId(child)); }

// The exception codes a crashed program ends with, named as an operator looks them up.
static const char* exceptionName(DWORD code) {
  switch (code) {
    case 0xC0000005: return "access violation";
    case 0xC00000FD: return "stack overflow";
    case 0xC0000409: return "stack buffer overrun (fail fast)";
    case 0xC000001D: return "illegal instruction";
    case 0xC0000094: return "integer division by zero";
    case 0xC000013A: return "Ctrl+C exit";
    default: return nullptr;
  }
}

// Codes from 0x80000000 up are the system's status codes (warnings and errors, exceptions among
// them), read in hex; the decimal is given too, as some tools show it.
void describeEnd(ChildHandle child, char* text, int size) {
  DWORD code = 0;
  GetExitCodeProcess(child, &code);
  if (size < 64) {
    if (size > 0) text[0] = '\0';
    return;
  }
  const char* name = exceptionName(code);
  if (name != nullptr) {
    wsprintfA(text, "exception 0x%08lX (%s)", code, name);
  } else if (code >= 0x80000000) {
    wsprintfA(text, "exit code 0x%08lX (%lu)", code, code);
  } else {
    wsprintfA(text, "exit code %lu", code);
  }
}
