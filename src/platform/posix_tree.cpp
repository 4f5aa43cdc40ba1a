// The server's tree on Linux: the mark each server carries in its environment, and the processes
// the monitor holds as their reaper, found through /proc, killed when marked and waited for.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix.h"
#include "platform/posix_internal.h"

namespace {

// What every server's tree carries, so that the processes the monitor is handed can be told
// apart: each server is started with this monitor's mark in its environment, and what it starts
// inherits it. A process the monitor did not get from a server (one it held before, or, as the
// first process of a PID namespace, any orphan of the namespace) lacks it and is never signalled.
// Monitors running one another add their marks one after another, separated by spaces.
constexpr char kMarkName[] = "TOLVANE_SERVER_TREE";
char mark[48];  // "PID-NANOSECONDS": this monitor's, unlike any other's, also across namespaces

// One entry of an environment, `NAME=VALUE`: whether it is the mark's and lists this monitor's.
bool entryHasMark(const char* entry, size_t length) {
  const size_t name = sizeof kMarkName - 1;
  if (mark[0] == '\0' || length <= name || std::strncmp(entry, kMarkName, name) != 0 ||
      entry[name] != '=') {
    return false;
  }
  const size_t markLength = std::strlen(mark);
  for (const char* p = entry + name + 1; p + markLength <= entry + length; ++p) {
    const bool starts = p == entry + name + 1 || p[-1] == ' ';
    const bool ends = p + markLength == entry + length || p[markLength] == ' ';
    if (starts && ends && std::strncmp(p, mark, markLength) == 0) return true;
  }
  return false;
}

// Whether the process `pid`, which the monitor holds and has not reaped, was started with this
// monitor's mark: its environment as it began, read in pieces through its thread `tid`, which
// must still have the process's memory. One the monitor may not read (another user's, a
// privileged one) counts as unmarked.
bool carriesMark(pid_t pid, pid_t tid) {
  static char text[16384];
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/task/%d/environ", static_cast<int>(pid),
                static_cast<int>(tid));
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool found = false;
  bool skipping = false;  // inside an entry too long to be the mark
  size_t kept = 0;        // the start of an entry that the last piece cut off
  for (ssize_t length; !found && (length = read(fd, text + kept, sizeof text - kept)) > 0;) {
    const size_t end = kept + static_cast<size_t>(length);
    size_t entry = 0;
    for (size_t i = 0; i < end && !found; ++i) {
      if (text[i] != '\0') continue;
      found = !skipping && entryHasMark(text + entry, i - entry);
      skipping = false;
      entry = i + 1;
    }
    kept = end - entry;
    if (kept > sizeof text / 2) {
      kept = 0;
      skipping = true;
    }
    std::memmove(text, text + entry, kept);
  }
  close(fd);
  return found;
}

// What a file of /proc holds, at most `size` - 1 bytes, ended by 0; false when it cannot be
// opened (a process gone, or one the monitor may not look at).
bool readProcFile(const char* path, char* text, size_t size) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const ssize_t length = read(fd, text, size - 1);
  close(fd);
  text[length > 0 ? length : 0] = '\0';
  return true;
}

// The kernel's list of this process's children, "PID PID ... ", through one descriptor opened at
// the first start and read from its beginning again each time: a restart costs one read, not an
// open, a walk through /proc and a close. -1 where the kernel keeps no such list.
int childList = -1;

// What the list holds now, ended by 0; false where there is no list.
bool readChildList(char* text, size_t size) {
  if (childList < 0) return false;
  const ssize_t length = pread(childList, text, size - 1, 0);
  text[length > 0 ? length : 0] = '\0';
  return length >= 0;
}

// Whether the thread `tid` of the held process `pid` has ended or is ending: a zombie, or one
// whose memory is gone already (and with it the environment that would show its mark). Also
// tells how many threads the process has.
bool isEndingThread(pid_t pid, pid_t tid, long* threads) {
  static char text[1024];
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/task/%d/stat", static_cast<int>(pid),
                static_cast<int>(tid));
  *threads = 1;
  if (!readProcFile(path, text, sizeof text)) return false;
  const char* fields = std::strrchr(text, ')');  // after the name, which may hold anything
  char state;
  unsigned long size;  // of its memory (vsize): 0 once it is released
  return fields != nullptr &&
         std::sscanf(fields + 1,
                     " %c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %ld %*d "
                     "%*u %lu",
                     &state, threads, &size) == 3 &&
         (state == 'Z' || state == 'X' || size == 0);
}

// Another thread of `pid` than its main one, that still has the process's memory; 0 if none has.
// The list is read straight from the kernel: no heap.
pid_t otherLiveThread(pid_t pid) {
  static char entries[4096];
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/task", static_cast<int>(pid));
  const int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return 0;
  pid_t found = 0;
  for (ssize_t length; found == 0 && (length = getdents64(fd, entries, sizeof entries)) > 0;) {
    for (ssize_t at = 0; found == 0 && at < length;) {
      const dirent64* entry = reinterpret_cast<const dirent64*>(entries + at);
      at += entry->d_reclen;
      const pid_t tid = static_cast<pid_t>(std::atoi(entry->d_name));
      long threads;
      if (tid > 0 && tid != pid && !isEndingThread(pid, tid, &threads)) found = tid;
    }
  }
  close(fd);
  return found;
}

// The thread of the held process `pid` through which its memory, and so its mark, can still be
// read: its main thread; or, once that has ended while others run on (pthread_exit: /proc then
// shows the process as a zombie), another. 0 when none has it: the process has ended or is
// ending. Such a one is waited for, since it may not have handed on its own children yet, and
// never signalled.
pid_t liveThread(pid_t pid) {
  long threads;
  if (!isEndingThread(pid, pid, &threads)) return pid;
  return threads > 1 ? otherLiveThread(pid) : 0;
}

// Kills every process the monitor holds as its child, but the server it supervises, that carries
// the mark: ended servers' leftovers, and their descendants that the kernel handed to the monitor
// as their subreaper. Nothing unmarked is signalled. An unreaped child's pid cannot name another
// process. Returns how many it found still there, those ending among them, which the next reap
// takes. Where the kernel does not list a process's children, none is found: only the group
// kill ends them.
int killHeldProcesses() {
  static char list[4096];
  if (!readChildList(list, sizeof list)) return 0;
  int found = 0;
  for (char* p = list; *p != '\0';) {
    char* end;
    const long number = std::strtol(p, &end, 10);
    if (end == p || *end != ' ') break;  // each pid ends with a space; one cut short is no pid
    p = end;
    const pid_t pid = static_cast<pid_t>(number);
    if (pid <= 0 || isRunningChild(pid)) continue;
    // The mark first: one that loses its memory meanwhile (one just killed, on another core)
    // then shows as ending, where the other order would take it for unmarked and not wait.
    const pid_t reader = liveThread(pid);
    const bool marked = reader != 0 && carriesMark(pid, reader);
    if (liveThread(pid) == 0) {
      ++found;
    } else if (marked) {
      kill(pid, SIGKILL);
      ++found;
    }
  }
  return found;
}

}  // namespace

// Killed processes die within moments. Ending and reaping all an ended server left behind here
// (a second at most) means no leftover runs beside the next server, and none is left a zombie
// when the monitor exits right after a quit. A process that left the server's group or session
// is found all the same: it stays the monitor's descendant, and keeps the mark. No group is
// signalled here, since a reaped leader's pid may already name another process.
void endHeldProcesses() {
  const int64_t deadline = nowMs() + 1000;
  while (nowMs() < deadline) {
    reapAll();
    if (killHeldProcesses() == 0) return;
    usleep(1000);
  }
}

// At the first start the list is opened. Where the kernel lists no process's children (a minimal
// chroot or container without /proc), what leaves the server's process group cannot be found,
// and this says so once.
void checkChildList() {
  static bool checked;
  if (checked) return;
  checked = true;
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/task/%d/children", static_cast<int>(getpid()));
  childList = open(path, O_RDONLY | O_CLOEXEC);
  if (childList >= 0) return;
  static const char notice[] =
      "tolvane: no list of this process's children (/proc/self/task/PID/children): what leaves "
      "the server's process group is not ended with it\n";
  sayNow(STDERR_FILENO, notice);
}

// Before anything is started. Marks of monitors that run this one come first. The servers'
// environment is this process's own with the mark put in, made here rather than by setenv,
// whose copy would be the monitor's one use of the heap: its first page, and the allocator's
// state, kept for good. An environment of more entries than the copy holds goes to setenv.
void markServerTree() {
  timespec t;
  clock_gettime(CLOCK_REALTIME, &t);
  std::snprintf(mark, sizeof mark, "%d-%lld%09ld", static_cast<int>(getpid()),
                static_cast<long long>(t.tv_sec), t.tv_nsec);
  // NAME=marks. Outer marks are rare: the common entry is a short one, kept on one page with the
  // environment's first pointers; the long one's pages are touched only when it is needed.
  constexpr int kMaxEntries = 512;
  static struct alignas(4096) {
    char shortEntry[sizeof kMarkName + sizeof mark];
    char* list[kMaxEntries + 1];
  } environment;
  static char longEntry[sizeof kMarkName + 4096];
  const char* outer = std::getenv(kMarkName);
  char* entry = environment.shortEntry;
  if (outer != nullptr && std::strlen(outer) + 1 + sizeof mark < 4096) {
    entry = longEntry;
    std::snprintf(entry, sizeof longEntry, "%s=%s %s", kMarkName, outer, mark);
  } else {
    std::snprintf(entry, sizeof environment.shortEntry, "%s=%s", kMarkName, mark);
  }
  int count = 0;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, entry, sizeof kMarkName) == 0) continue;  // an outer mark: in `entry`
    if (count == kMaxEntries - 1) {
      setenv(kMarkName, entry + sizeof kMarkName, 1);
      return;
    }
    environment.list[count++] = *e;
  }
  environment.list[count++] = entry;
  environment.list[count] = nullptr;
  environ = environment.list;
}
