// The platform layer on Linux: processes, poll, the monotonic clock and UDP sockets.
#include "platform/posix.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/x11_events.h"
#include "version.h"

namespace {

// A child: its process (and process group) id and a descriptor that becomes readable when it
// ends: a pidfd, or the SIGCHLD pipe on kernels without pidfds.
struct Child {
  pid_t pid;
  int fd;
  bool ended;   // reaped already
  bool killed;  // terminated by the monitor
  int status;   // how it ended, as waitpid tells, once reaped
};

constexpr int kMaxFailure = 160;
constexpr int kChildSlots = 4;  // the running child, and an ended one until it is replaced
Child children[kChildSlots];
int sigchldPipe[2] = {-1, -1};
int signalPipe[2] = {-1, -1};       // wakes the wait when a stop or report signal arrives
volatile sig_atomic_t stopAsked;    // SIGTERM, SIGINT or SIGHUP: quit as by the Quit button
volatile sig_atomic_t reportAsked;  // SIGUSR1: write the current texts
char failure[kMaxFailure];          // why the last start failed, and the program it named
constexpr int kMaxCommand = 2048;   // the longest child command line the monitor accepts, plus 1
char commandLine[4 * kMaxCommand];
char shellCommand[kMaxCommand + 8];
char wordText[kMaxCommand + 8];    // a plain command's words, quotes removed, each ended by 0
char* words[kMaxCommand / 2 + 2];  // pointers into wordText, then null

// What every server's tree carries, so that the processes the monitor is handed can be told
// apart: each server is started with this monitor's mark in its environment, and what it starts
// inherits it. A process the monitor did not get from a server (one it held before, or, as the
// first process of a PID namespace, any orphan of the namespace) lacks it and is never signalled.
// Monitors running one another add their marks one after another, separated by spaces.
constexpr char kMarkName[] = "TOLVANE_SERVER_TREE";
char mark[48];  // "PID-NANOSECONDS": this monitor's, unlike any other's, also across namespaces

Child* childOf(ChildHandle handle) { return static_cast<Child*>(handle); }

Child* freeSlot() {
  for (Child& c : children) {
    if (c.pid == 0) return &c;
  }
  return nullptr;
}

// Signal handlers only note what happened and wake the wait through a pipe.
void wakeThrough(int fd) {
  const int saved = errno;
  const char byte = 0;
  (void)!write(fd, &byte, 1);
  errno = saved;
}

void onSigchld(int) { wakeThrough(sigchldPipe[1]); }

void onStopSignal(int) {
  stopAsked = 1;
  wakeThrough(signalPipe[1]);
}

void onReportSignal(int) {
  reportAsked = 1;
  wakeThrough(signalPipe[1]);
}

// A log reader that went away must cost a line, not the monitor: a write then fails instead.
void onBrokenPipe(int) {}

void catchSignal(int signal, void (*handler)(int), int flags) {
  struct sigaction action = {};
  action.sa_handler = handler;
  action.sa_flags = flags;
  sigaction(signal, &action, nullptr);
}

// On Linux a monitor is also stopped by signals (a service manager's TERM, Ctrl-C, a closed
// terminal). Each is taken as Quit, so the server is terminated rather than left unsupervised.
// USR1 asks for the current texts, and a closed log pipe must not end the monitor.
// A stop is not restarted past: it cuts short whatever call it arrives in. What the monitor's
// starter left blocked is unblocked first, or a stop would never arrive; and a SIGCHLD it left
// ignored is restored, or the kernel would reap the servers itself: their ends would read "not
// known", and a server's pid could name another process while its group is still to be killed.
void catchSignals() {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  catchSignal(SIGCHLD, SIG_DFL, 0);
  if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  catchSignal(SIGTERM, onStopSignal, 0);
  catchSignal(SIGINT, onStopSignal, 0);
  catchSignal(SIGHUP, onStopSignal, 0);
  catchSignal(SIGUSR1, onReportSignal, SA_RESTART);
  catchSignal(SIGPIPE, onBrokenPipe, SA_RESTART);
}

// Kernels before 5.3 have no pidfd: a SIGCHLD handler then wakes poll through a pipe.
int childEndFd([[maybe_unused]] pid_t pid) {
#ifndef TOLVANE_NO_PIDFD  // defined only to build the fallback for its own tests
  const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (fd >= 0) return fd;
#endif
  if (sigchldPipe[0] < 0 && pipe2(sigchldPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
    catchSignal(SIGCHLD, onSigchld, SA_NOCLDSTOP | SA_RESTART);
  }
  return -1;
}

// Reaps every ended child: killed ones that took a moment to die, the orphans of a server's
// descendants, and whatever else the kernel hands the monitor as a reaper (processes it held
// before it started, orphans of its PID namespace): reaping one signals nothing. A tracked
// child's end stays visible: its pidfd stays readable, and `ended` is set. A child that ended by
// itself may have left processes in its group (the real server, when it was a launcher): they
// are killed before it is reaped, while its pid still names the group and cannot name another.
void reapAll() {
  for (;;) {
    siginfo_t info = {};
    if (waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == 0) return;
    Child* tracked = nullptr;
    for (Child& c : children) {
      if (c.pid == info.si_pid && !c.ended) tracked = &c;
    }
    if (tracked != nullptr && !tracked->killed) kill(-tracked->pid, SIGKILL);
    int status = 0;
    if (waitpid(info.si_pid, &status, WNOHANG) <= 0) return;
    if (tracked == nullptr) continue;
    tracked->ended = true;
    tracked->status = status;
  }
}

int64_t nowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

bool isRunningChild(pid_t pid) {
  for (const Child& c : children) {
    if (c.pid == pid && !c.ended && !c.killed) return true;
  }
  return false;
}

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
// monitor's mark: its environment as it began (/proc/PID/environ), read in pieces. One the
// monitor may not read (another user's, a privileged one) counts as unmarked.
bool carriesMark(pid_t pid) {
  static char text[16384];
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/environ", static_cast<int>(pid));
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

// Where the kernel lists this process's children, if it keeps that list.
const char* childListPath() {
  static char path[64];
  std::snprintf(path, sizeof path, "/proc/self/task/%d/children", static_cast<int>(getpid()));
  return path;
}

// Whether the held process `pid` has ended or is ending: a zombie, or one whose memory is gone
// already (and with it the environment that would show its mark). It is waited for, since it
// may not have handed on its own children yet, and never signalled.
bool isEnding(pid_t pid) {
  static char text[1024];
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  if (!readProcFile(path, text, sizeof text)) return false;
  const char* fields = std::strrchr(text, ')');  // after the name, which may hold anything
  char state;
  unsigned long size;  // of its memory (vsize): 0 once it is released
  return fields != nullptr &&
         std::sscanf(fields + 1,
                     " %c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %*d %*d "
                     "%*u %lu",
                     &state, &size) == 2 &&
         (state == 'Z' || state == 'X' || size == 0);
}

// Kills every process the monitor holds as its child, but the server it supervises, that carries
// the mark: ended servers' leftovers, and their descendants that the kernel handed to the monitor
// as their subreaper. Nothing unmarked is signalled. An unreaped child's pid cannot name another
// process. Returns how many it found still there, those ending among them, which the next reap
// takes. Where the kernel does not list a process's children, none is found: only the group
// kill ends them.
int killHeldProcesses() {
  static char list[4096];
  if (!readProcFile(childListPath(), list, sizeof list)) return 0;
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
    const bool marked = carriesMark(pid);
    if (isEnding(pid)) {
      ++found;
    } else if (marked) {
      kill(pid, SIGKILL);
      ++found;
    }
  }
  return found;
}

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

// An ended child is reaped at once: its handle must stay signalled until a later start
// succeeds, and for a pidfd that holds after reaping too, so it need not linger as a zombie.
bool hasEnded(Child& c) {
  if (c.fd >= 0) {
    pollfd p = {c.fd, POLLIN, 0};
    if (poll(&p, 1, 0) != 1) return false;
  }
  reapAll();
  return c.fd >= 0 || c.ended;
}

}  // namespace

uint32_t tickCount() { return static_cast<uint32_t>(nowMs()); }

uint64_t wallClockMs() {
  timespec t;
  clock_gettime(CLOCK_REALTIME, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000 + static_cast<uint64_t>(t.tv_nsec) / 1000000;
}

const char* processCommandLine() { return commandLine; }

// The words of a command that needs no shell, as the shell would read them, in `words`; false
// when it needs one. Only quotes and backslashes are read here: anything the shell would expand,
// redirect, join or glob (and a line break) sends the command to the shell, which remains the
// reference, whichever shell /bin/sh is: braces (bash expands a{b,c}), and a first word that
// begins with '-' (an option to `exec` in some shells) go there too. The first word is then run
// as `exec` runs it, found where the shell would look.
static bool splitPlainCommand(const char* command) {
  static const char kShellOnly[] = "|&;<>()$`*?[~#{}\n";
  if (std::strlen(command) >= kMaxCommand) return false;  // more words than the arrays hold
  char* out = wordText;
  int count = 0;
  for (const char* p = command;;) {
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '\0') break;
    words[count++] = out;
    while (*p != '\0' && *p != ' ' && *p != '\t') {
      if (*p == '\'') {
        const char* close = std::strchr(p + 1, '\'');
        if (close == nullptr) return false;
        out = std::copy(p + 1, close, out);
        p = close + 1;
      } else if (*p == '"') {
        for (++p; *p != '"'; ++p) {
          if (*p == '\0' || *p == '$' || *p == '`') return false;
          if (*p == '\\' && p[1] == '\n') return false;
          if (*p == '\\' && (p[1] == '"' || p[1] == '\\')) ++p;
          *out++ = *p;
        }
        ++p;
      } else if (*p == '\\') {
        if (p[1] == '\0' || p[1] == '\n') return false;
        *out++ = p[1];
        p += 2;
      } else if (std::strchr(kShellOnly, *p) != nullptr) {
        return false;
      } else {
        *out++ = *p++;
      }
    }
    *out++ = '\0';
  }
  words[count] = nullptr;
  return count > 0 && words[0][0] != '-';
}

// A command of blanks alone names no program: the shell's `exec` would run nothing and succeed,
// which would make a loop of it.
static bool isBlank(const char* command) { return command[std::strspn(command, " \t\n")] == '\0'; }

// Why a start failed, in the words the shell's exit codes stood for before (127, not found; 126,
// found but not run), and the program it named.
static void noteStartError(int error, const char* program) {
  const char* why = std::strerror(error);
  if (error == ENOENT || error == ENOTDIR) why = "not found";
  if (error == EACCES || error == EPERM || error == EISDIR || error == ETXTBSY) {
    why = "not executable";
  }
  std::snprintf(failure, sizeof failure, "%s: %s", why, program);
}

// The C library keeps the first real-time signals for itself (32 and 33 in glibc): sigfillset
// leaves them out, and glibc's spawn then leaves them ignored in the child, a state no shell
// passes on. Its sets are bit masks, so they are put in by hand.
static void addLibcSignals(sigset_t* set) {
#ifdef __GLIBC__
  constexpr int kBitsPerWord = 8 * sizeof set->__val[0];
  for (int signal = __SIGRTMIN; signal < SIGRTMIN; ++signal) {
    set->__val[(signal - 1) / kBitsPerWord] |= 1UL << ((signal - 1) % kBitsPerWord);
  }
#else
  (void)set;
#endif
}

// Spawned, not forked: nothing of the monitor's memory is copied for a process that replaces
// itself at once, which keeps a restart as quick as the system's own start of a program. The
// spawn returns only once the program runs, or with the reason it could not: that is the
// verdict on the start, with no waiting. The child gets a process group of its own, before it
// runs, so that terminating it ends whatever it started too. It starts as if from a fresh shell:
// no signal ignored or blocked, whatever the monitor's starter ignored (QUIT for a background
// job, HUP under nohup); the monitor's own handlers end at the exec anyway.
static int spawnChild(pid_t* pid, const char* path, char* const argv[], bool searchPath) {
  sigset_t all, none;
  sigfillset(&all);
  addLibcSignals(&all);
  sigemptyset(&none);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setsigmask(&attributes, &none);
  const int error = searchPath ? posix_spawnp(pid, path, nullptr, &attributes, argv, environ)
                               : posix_spawn(pid, path, nullptr, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  return error;
}

// Where the shell's `exec` looks for a program when the environment has no PATH: a default of
// its own, which differs between shells (bash's ends with the current folder) and is not that
// of the C library. Asked of /bin/sh once, the first time it is needed.
static const char* shellSearchPath() {
  static char path[1024];
  static bool asked;
  if (asked) return path;
  asked = true;
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return path;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  static char sh[] = "sh", dashC[] = "-c", printPath[] = "printf %s \"$PATH\"";
  char* argv[] = {sh, dashC, printPath, nullptr};
  pid_t pid;
  const bool spawned = posix_spawn(&pid, "/bin/sh", &actions, nullptr, argv, environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  size_t used = 0;
  for (ssize_t n; spawned && (n = read(out[0], path + used, sizeof path - 1 - used)) > 0;) {
    used += static_cast<size_t>(n);
  }
  path[used] = '\0';
  close(out[0]);
  if (spawned) waitpid(pid, nullptr, 0);
  if (used == 0) std::snprintf(path, sizeof path, "/bin:/usr/bin");  // the C library's default
  return path;
}

// The search `exec` makes in a path list: the first folder that holds the program runs it; one
// that holds it but may not run it is passed over, and said if nothing else is found.
static int spawnFromPathList(pid_t* pid, const char* list, char* const argv[]) {
  static char candidate[4096 + kMaxCommand];
  int error = ENOENT;
  for (const char* dir = list;;) {
    const char* colon = std::strchr(dir, ':');
    const int length = static_cast<int>(colon != nullptr ? colon - dir : std::strlen(dir));
    std::snprintf(candidate, sizeof candidate, "%.*s/%s", length, length > 0 ? dir : ".", argv[0]);
    const int tried = spawnChild(pid, candidate, argv, false);
    if (tried == 0 || (tried != ENOENT && tried != ENOTDIR && tried != EACCES)) return tried;
    if (tried == EACCES) error = EACCES;
    if (colon == nullptr) return error;
    dir = colon + 1;
  }
}

static int spawnProgram(pid_t* pid, char* const argv[]) {
  if (std::strchr(argv[0], '/') != nullptr || std::getenv("PATH") != nullptr) {
    return spawnChild(pid, argv[0], argv, true);
  }
  return spawnFromPathList(pid, shellSearchPath(), argv);
}

// A plain command runs directly, so a program that is missing or cannot run fails its start
// having run nothing and without a shell's complaint on stderr, as on Windows. Any other runs as
// `sh -c 'exec COMMAND'`, the text an operator would type. Its start is the shell's: what the
// shell then fails to run ends that run like any end of the server (status 127 or 126). A file
// without a #! line is left to the shell, which runs it as a script.
static pid_t spawnCommand(const char* command) {
  pid_t pid = -1;
  if (isBlank(command)) {
    std::snprintf(failure, sizeof failure, "the command is blank");
    return -1;
  }
  int error = ENOEXEC;
  if (splitPlainCommand(command)) error = spawnProgram(&pid, words);
  if (error == ENOEXEC) {
    static char sh[] = "sh";
    static char dashC[] = "-c";
    std::snprintf(shellCommand, sizeof shellCommand, "exec %s", command);
    char* argv[] = {sh, dashC, shellCommand, nullptr};
    error = spawnChild(&pid, "/bin/sh", argv, false);
    if (error != 0) noteStartError(error, "/bin/sh");
  } else if (error != 0) {
    noteStartError(error, words[0]);
  }
  return error == 0 ? pid : -1;
}

// Said once, at the first start: where the kernel lists no process's children (a minimal chroot
// or container without /proc), what leaves the server's process group cannot be found.
static void checkChildList() {
  static bool checked;
  if (checked) return;
  checked = true;
  if (access(childListPath(), R_OK) == 0) return;
  static const char notice[] =
      "tolvane: no list of this process's children (/proc/self/task/PID/children): what leaves "
      "the server's process group is not ended with it\n";
  sayNow(STDERR_FILENO, notice);
}

bool startChild(char* command, ChildHandle* child) {
  checkChildList();
  Child* slot = freeSlot();
  if (slot == nullptr) {
    std::snprintf(failure, sizeof failure, "too many children still ending");
    return false;
  }
  const pid_t pid = spawnCommand(command);
  if (pid < 0) return false;
  *slot = Child{pid, childEndFd(pid), false, false, 0};
  *child = slot;
  return true;
}

const char* startFailure() { return failure; }

long childId(ChildHandle handle) { return childOf(handle)->pid; }

void describeEnd(ChildHandle handle, char* text, int size) {
  const Child& c = *childOf(handle);
  if (c.ended && WIFEXITED(c.status)) {
    std::snprintf(text, size, "exit code %d", WEXITSTATUS(c.status));
  } else if (c.ended && WIFSIGNALED(c.status)) {
    std::snprintf(text, size, "signal %d (%s)", WTERMSIG(c.status), strsignal(WTERMSIG(c.status)));
  } else {
    std::snprintf(text, size, "end not known");
  }
}

// Until a child is reaped its pid names its group and nothing else. A reaped one's group was
// ended when it was reaped, and its pid may since name an unrelated process group.
static void killGroup(Child& c) {
  c.killed = true;
  if (!c.ended) kill(-c.pid, SIGKILL);
}

void terminateChild(ChildHandle handle) { killGroup(*childOf(handle)); }

void endChildrenAndExit(int code) {
  for (Child& c : children) {
    if (c.pid != 0) killGroup(c);
  }
  endHeldProcesses();
  _exit(code);
}

void releaseChild(ChildHandle handle) {
  Child& c = *childOf(handle);
  if (c.killed) endHeldProcesses();
  if (c.fd >= 0) close(c.fd);
  reapAll();
  c = Child{0, -1, false, false, 0};
}

static void drain(int pipe) {
  char bytes[64];
  while (read(pipe, bytes, sizeof bytes) > 0) {
  }
}

Wake waitForChildOrInput(const ChildHandle* child, uint32_t ms) {
  reapAll();
  Child* c = child != nullptr ? childOf(*child) : nullptr;
  const int64_t deadline = nowMs() + ms;
  for (;;) {
    if (c != nullptr && hasEnded(*c)) {
      endHeldProcesses();  // its group was killed when it was reaped
      return Wake::childEnded;
    }
    if (stopAsked || reportAsked || windowEventPending()) return Wake::input;
    pollfd fds[3] = {{windowEventFd(), POLLIN, 0}, {signalPipe[0], POLLIN, 0}, {-1, POLLIN, 0}};
    if (c != nullptr) fds[2].fd = c->fd >= 0 ? c->fd : sigchldPipe[0];
    const int64_t left = deadline - nowMs();
    if (left <= 0) return Wake::timeout;
    const int ready = poll(fds, 3, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) return Wake::failed;
    // The flags say what the bytes were for; left in the pipe they would wake every poll.
    if (fds[1].revents & POLLIN) drain(signalPipe[0]);
    if (c != nullptr && c->fd < 0 && (fds[2].revents & POLLIN)) drain(sigchldPipe[0]);
  }
}

Pump pumpMessage() {
  if (stopAsked) {
    stopAsked = 0;
    stopNetwork();
    return Pump::quit;
  }
  if (reportAsked) {
    reportAsked = 0;
    return Pump::report;
  }
  if (takeQuitRequest()) return Pump::quit;
  if (!windowEventPending()) return Pump::empty;
  dispatchWindowEvent();
  return Pump::dispatched;
}

void startNetwork() {}
void stopNetwork() {}

bool openSocket(SocketHandle* socketOut) {
  const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) return false;
  *socketOut = static_cast<SocketHandle>(s);
  return true;
}

bool bindToLoopback(SocketHandle s) {
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  return bind(static_cast<int>(s), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

bool makeNonBlocking(SocketHandle s) {
  const int flags = fcntl(static_cast<int>(s), F_GETFL);
  return flags >= 0 && fcntl(static_cast<int>(s), F_SETFL, flags | O_NONBLOCK) == 0;
}

// MSG_TRUNC gives a datagram's true length, so one too long for the buffer can be refused
// like the Windows socket refuses it.
int receiveDatagram(SocketHandle s, char* buffer, int size) {
  const ssize_t length = recv(static_cast<int>(s), buffer, size, MSG_TRUNC);
  return length < 0 || length > size ? -1 : static_cast<int>(length);
}

void sendToLocalPort(SocketHandle s, uint16_t toPort, const char* data, int size) {
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(toPort);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sendto(static_cast<int>(s), data, size, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

// The command line as one text, as the monitor reads it everywhere: a program name, then the
// arguments joined by single spaces. Quote the server's command as one argument to keep its
// own spacing and quotes: tolvane 40000 'server -x "a b"'. A line too long to hold is dropped
// whole, so start-up refuses it instead of starting a cut command.
static void joinCommandLine(int argc, char** argv) {
  size_t used = std::snprintf(commandLine, sizeof commandLine, "tolvane");
  for (int i = 1; i < argc && used < sizeof commandLine; ++i) {
    used += std::snprintf(commandLine + used, sizeof commandLine - used, " %s", argv[i]);
  }
  if (used >= sizeof commandLine) commandLine[0] = '\0';
}

// A closed 0, 1 or 2 would be taken by the first file the monitor opens (its signal pipe), and
// its event lines would go into it: each closed one is opened on /dev/null first. open takes
// the lowest free number, which is the one found closed.
static void openClosedStandardFds() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) < 0) open("/dev/null", O_RDWR);
  }
}

// Before anything is started. Marks of monitors that run this one come first.
static void markServerTree() {
  timespec t;
  clock_gettime(CLOCK_REALTIME, &t);
  std::snprintf(mark, sizeof mark, "%d-%lld%09ld", static_cast<int>(getpid()),
                static_cast<long long>(t.tv_sec), t.tv_nsec);
  static char marks[4096];
  const char* outer = std::getenv(kMarkName);
  if (outer != nullptr && std::strlen(outer) + 1 + sizeof mark < sizeof marks) {
    std::snprintf(marks, sizeof marks, "%s %s", outer, mark);
  } else {
    std::snprintf(marks, sizeof marks, "%s", mark);
  }
  setenv(kMarkName, marks, 1);
}

void preparePosixProcess(int argc, char** argv) {
  openClosedStandardFds();
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  catchSignals();
  markServerTree();
  joinCommandLine(argc, argv);
}

void sayNow(int fd, const char* text) {
  pollfd p = {fd, POLLOUT, 0};
  if (poll(&p, 1, 0) == 1 && (p.revents & POLLOUT) != 0) {
    (void)!write(fd, text, std::strlen(text));
  }
}

const char kUsage[] = "usage: tolvane PORT COMMAND...\n";

static const char kHelp[] =
    "Keeps the server COMMAND running: starts it again whenever it ends, and replaces it when it\n"
    "has not answered a UDP probe to 127.0.0.1:PORT for six periods of 8 seconds. Quote COMMAND\n"
    "as one argument to keep its own spacing and quotes:\n"
    "  tolvane 40000 './server -port 40000 -config \"main.cfg\"'\n"
    "With a display it shows a status window; without one, or with TOLVANE_HEADLESS=1, it writes\n"
    "a line to standard output for each start, end, replacement and failed start of the server.\n"
    "TERM, INT and HUP quit as the window's Quit button does: the server is ended, exit code 1.\n"
    "USR1 writes the current texts. A command line it refuses: exit code 0, and why on standard\n"
    "error.\n"
    "  --help     this text\n"
    "  --version  the version\n";

bool answerInfoRequest(int argc, char** argv) {
  if (argc != 2) return false;
  if (std::strcmp(argv[1], "--version") == 0) {
    std::fputs("tolvane " TOLVANE_VERSION "\n", stdout);
  } else if (std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsage, stdout);
    std::fputs(kHelp, stdout);
  } else {
    return false;
  }
  return true;
}

// A process group is always made with the child's start: it lacks nothing.
const char* startedWithout() { return nullptr; }
