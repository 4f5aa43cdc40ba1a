// The platform layer on Win32 and Winsock 1.1.
#include <windows.h>
#include <winsock.h>

#include "platform/platform.h"

static STARTUPINFOA si;
static PROCESS_INFORMATION pi;
static const char* startedCommandLine;  // the last command line startChild was given

// A child and the job it runs in: ending the job ends whatever the child started too.
struct Job {
  HANDLE process;  // the child's handle as the core holds it; null: a free slot
  HANDLE job;
};

constexpr int kJobSlots = 2;  // the running child, and an ended one until its successor starts
static Job jobs[kJobSlots];
constexpr DWORD kJobEndMs = 1000;  // the longest wait for a terminated job's processes to go

uint32_t tickCount() { return GetTickCount(); }

const char* processCommandLine() { return GetCommandLineA(); }

// The child's slot, or a free one for `process` null. A child without a slot has no job.
static Job* jobOf(HANDLE process) {
  for (Job& j : jobs) {
    if (j.process == process) return &j;
  }
  return nullptr;
}

// Kill-on-close: when the monitor itself is ended from outside, the system closes its handles,
// and the server's whole tree ends with the job instead of running on unsupervised. Die on an
// unhandled exception: a crashing server ends at once, to be restarted, instead of waiting
// behind the error box, unanswering, until the probe replaces it.
static HANDLE makeJob() {
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  if (job == nullptr) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
  if (SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    return job;
  }
  CloseHandle(job);
  return nullptr;
}

// The child is still suspended, so everything it starts will run in the job. False, with the
// system's error, when the job could not be made or joined: the child then runs without one and
// is ended alone, but a start never fails for want of it.
static bool placeInJob(HANDLE process) {
  Job* slot = jobOf(nullptr);
  HANDLE job = slot != nullptr ? makeJob() : nullptr;
  if (job == nullptr) return false;
  if (!AssignProcessToJobObject(job, process)) {
    const DWORD error = GetLastError();
    CloseHandle(job);  // nothing runs in it yet, so closing it ends nothing
    SetLastError(error);
    return false;
  }
  *slot = Job{process, job};
  return true;
}

// A process being ended, known by its id and its creation time: once it has gone, its id may
// name a new process.
struct Ending {
  DWORD id;
  FILETIME created;
};

constexpr int kEndingSlots = 32;  // beyond these, the job's count alone is waited for
static Ending ending[kEndingSlots];
static int endingCount;  // entries of `ending` not yet waited for

static void noteEnding(DWORD id) {
  if (endingCount == kEndingSlots || id == 0) return;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (process == nullptr) return;  // gone already, or not ours to watch
  FILETIME exited, kernel, user;
  Ending& e = ending[endingCount];
  if (GetProcessTimes(process, &e.created, &exited, &kernel, &user)) {
    e.id = id;
    ++endingCount;
  }
  CloseHandle(process);
}

// Notes the job's processes, but for `skip`, before they are terminated.
static void noteJobProcesses(HANDLE job, DWORD skip) {
  struct {
    JOBOBJECT_BASIC_PROCESS_ID_LIST list;
    ULONG_PTR more[kEndingSlots - 1];  // the list's own array holds one
  } ids = {};
  // With more processes than fit, the list holds the first ones: the job's count covers the rest.
  if (!QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids, sizeof ids, nullptr) &&
      GetLastError() != ERROR_MORE_DATA) {
    return;
  }
  for (DWORD i = 0; i < ids.list.NumberOfProcessIdsInList && i < kEndingSlots; ++i) {
    const DWORD id = static_cast<DWORD>(ids.list.ProcessIdList[i]);
    if (id != skip) noteEnding(id);
  }
}

// Ended, a process can still be found until its last handle is closed; under Wine it can also
// be found until its Unix process has gone, which may be half a second after its handle
// reported the end (a stopped process is killed only then). Until then it holds its sockets.
static bool stillThere(const Ending& e) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, e.id);
  if (process == nullptr) return false;
  FILETIME created, exited, kernel, user;
  const bool same = GetProcessTimes(process, &created, &exited, &kernel, &user) &&
                    CompareFileTime(&created, &e.created) == 0;
  CloseHandle(process);
  return same;
}

static bool anyStillThere() {
  for (int i = 0; i < endingCount; ++i) {
    if (stillThere(ending[i])) return true;
  }
  return false;
}

static DWORD processesIn(HANDLE job) {
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION counts = {};
  if (job == nullptr || !QueryInformationJobObject(job, JobObjectBasicAccountingInformation,
                                                   &counts, sizeof counts, nullptr)) {
    return 0;
  }
  return counts.ActiveProcesses;
}

// Terminating only starts the processes' end. The next start waits until the job counts none
// and the noted processes themselves have gone, a second at most: a new server must not start
// beside the old one, nor find its port still taken. Under Wine the job counts a process out,
// and its handle reports its end, before the process has gone.
static void awaitEnded(HANDLE job) {
  const DWORD start = GetTickCount();
  while ((processesIn(job) != 0 || anyStillThere()) && GetTickCount() - start < kJobEndMs) {
    Sleep(1);
  }
  endingCount = 0;
}

// A child that ended by itself may have left processes in its job (the real server, when the
// child was its launcher). They end before the restart, so two servers never run at once. The
// child itself is not waited for: its handle stays open until a restart succeeds.
static void endLeftovers(HANDLE process) {
  const Job* j = jobOf(process);
  if (j == nullptr) return;
  noteJobProcesses(j->job, GetProcessId(process));
  TerminateJobObject(j->job, 0);
  awaitEnded(j->job);
}

void releaseChild(ChildHandle child);

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

static bool createSuspended(char* commandLine, DWORD flags) {
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
      CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE,
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
static bool startInJob(char* commandLine) {
  if (!createSuspended(commandLine, 0)) return false;
  withoutJob[0] = '\0';
  if (placeInJob(pi.hProcess)) return true;
  DWORD error = GetLastError();
  if (error == ERROR_ACCESS_DENIED) {
    discardSuspended();
    if (createSuspended(commandLine, CREATE_BREAKAWAY_FROM_JOB)) {
      if (placeInJob(pi.hProcess)) return true;
      error = GetLastError();
    } else if (!createSuspended(commandLine, 0)) {
      return false;
    }
  }
  wsprintfA(withoutJob, "a job of its own (error %lu)", error);
  return true;
}

// While the session ends (a shutdown, restart or log-off under way) nothing is started: a
// server that ended on its own notice of the end must not come back during it.
static bool sessionEnding() { return GetSystemMetrics(SM_SHUTTINGDOWN) != 0; }

// A child whose end was reported while the session was ending: its refused restart is not
// tried again on every pass, as a failed one would be, but once the end is called off.
static HANDLE endToldInShutdown;

bool startChild(char* commandLine, ChildHandle* child) {
  startedCommandLine = commandLine;  // startFailure names its program
  if (sessionEnding()) {
    SetLastError(ERROR_SHUTDOWN_IN_PROGRESS);
    return false;
  }
  if (!startInJob(commandLine)) return false;
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

void terminateChild(ChildHandle child) {
  const Job* j = jobOf(child);
  if (j != nullptr) noteJobProcesses(j->job, 0);
  if (endingCount == 0) noteEnding(GetProcessId(child));  // no job, or its list unreadable
  if (j == nullptr || !TerminateJobObject(j->job, 0)) TerminateProcess(child, 0);
}

// The child's handle is closed before the wait: while it is open, an ended child can be found.
void releaseChild(ChildHandle child) {
  Job* j = jobOf(child);
  CloseHandle(child);
  awaitEnded(j != nullptr ? j->job : nullptr);
  if (j != nullptr) {
    CloseHandle(j->job);
    *j = Job{};
  }
}

Wake waitForChildOrInput(const ChildHandle* child, uint32_t ms) {
  if (child != nullptr && *child == endToldInShutdown) {
    if (sessionEnding()) {
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
    if (sessionEnding()) endToldInShutdown = *child;
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

void startNetwork() {
  WSADATA stWSAData;
  WSAStartup(0x101, &stWSAData);
}

void stopNetwork() { WSACleanup(); }

bool openSocket(SocketHandle* socketOut) {
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  if (s == INVALID_SOCKET) return false;
  *socketOut = s;
  return true;
}

bool bindToLoopback(SocketHandle s) {
  sockaddr_in socketAddress = {};
  socketAddress.sin_family = AF_INET;
  socketAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socketAddress.sin_port = 0;
  return bind(s, reinterpret_cast<sockaddr*>(&socketAddress), sizeof socketAddress) == 0;
}

bool makeNonBlocking(SocketHandle s) {
  u_long notblock = 1;
  return ioctlsocket(s, FIONBIO, &notblock) == 0;
}

// A datagram longer than the buffer fails with WSAEMSGSIZE and is dropped: not a reply.
int receiveDatagram(SocketHandle s, char* buffer, int size) {
  sockaddr sa;
  int addrLen = sizeof sa;
  const int bytesRead = recvfrom(s, buffer, size, 0, &sa, &addrLen);
  return bytesRead == SOCKET_ERROR ? -1 : bytesRead;
}

void sendToLocalPort(SocketHandle s, uint16_t port, const char* data, int size) {
  sockaddr_in ipAddr = {};
  ipAddr.sin_family = AF_INET;
  ipAddr.sin_port = htons(port);
  ipAddr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sendto(s, data, size, 0, reinterpret_cast<sockaddr*>(&ipAddr), sizeof ipAddr);
}

uint64_t wallClockMs() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t since1601 = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return (since1601 - 116444736000000000ULL) / 10000;  // 100 ns steps from 1601 to ms from 1970
}

// The failures an operator meets when a server is moved, locked down or replaced by a file of
// the wrong kind, named; any other by its number alone.
static const char* startErrorName(DWORD code) {
  constexpr DWORD kElevationRequired = 740;  // ERROR_ELEVATION_REQUIRED, missing from MinGW
  switch (code) {
    case ERROR_FILE_NOT_FOUND: return "file not found";
    case ERROR_PATH_NOT_FOUND: return "path not found";
    case ERROR_ACCESS_DENIED: return "access denied";
    case ERROR_BAD_EXE_FORMAT: return "not a valid Windows program";
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
