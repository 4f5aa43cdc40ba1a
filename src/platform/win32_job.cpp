// The server's job on Win32: ending the server ends what it started, and nothing starts again
// until what was ended is gone.
#include <windows.h>

#include "platform/platform.h"
#include "platform/win32_internal.h"

// A child and the job it runs in: ending the job ends whatever the child started too.
struct Job {
  HANDLE process;  // the child's handle as the core holds it; null: a free slot
  HANDLE job;
};

constexpr int kJobSlots = 2;  // the running child, and an ended one until its successor starts
static Job jobs[kJobSlots];
constexpr DWORD kJobEndMs = 1000;  // the longest wait for a terminated job's processes to go

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
bool placeInJob(HANDLE process) {
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

// Whether the monitor runs under Wine, looked up once (by hand: a static initialised by a call
// would bring in the C++ runtime's thread-safe guard, some 90 KB of the exe). The test build that
// shows Windows' path under Wine (TOLVANE_AS_ON_WINDOWS) answers no.
static bool underWine() {
#ifdef TOLVANE_AS_ON_WINDOWS
  return false;
#else
  static int wine = -1;  // not looked up yet
  if (wine < 0) wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") ? 1 : 0;
  return wine == 1;
#endif
}

// On Windows a process's handles, its sockets among them, are closed before its own handle is
// signalled: signalled, it has gone as far as a new server can tell, though its object lives on
// while any program holds it open (Task Manager, Process Explorer, a security agent), with the
// same id and creation time. Under Wine (its own behaviour) a process can report its end half a
// second before its Unix process has gone and freed its sockets (a stopped process is killed
// only then): there, found with the same creation time, it is still there.
static bool stillThere(const Ending& e) {
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, e.id);
  if (process == nullptr) return false;
  FILETIME created, exited, kernel, user;
  bool there = GetProcessTimes(process, &created, &exited, &kernel, &user) &&
               CompareFileTime(&created, &e.created) == 0;
  if (there && !underWine()) there = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return there;
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
void endLeftovers(HANDLE process) {
  const Job* j = jobOf(process);
  if (j == nullptr) return;
  noteJobProcesses(j->job, GetProcessId(process));
  TerminateJobObject(j->job, 0);
  awaitEnded(j->job);
}

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
