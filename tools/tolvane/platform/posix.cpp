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

constexpr int kChildSlots = 4;  // the running child, and an ended one until it is replaced
Child children[kChildSlots];
int sigchldPipe[2] = {-1, -1};
int signalPipe[2] = {-1, -1};       // wakes the wait when a stop or report signal arrives
volatile sig_atomic_t stopAsked;    // SIGTERM, SIGINT or SIGHUP: quit as by the Quit button
volatile sig_atomic_t reportAsked;  // SIGUSR1: write the current texts
const char* failure = "";           // why the last start failed
constexpr int kMaxCommand = 2048;   // the longest child command line the monitor accepts, plus 1
char commandLine[4 * kMaxCommand];
char shellCommand[kMaxCommand + 8];
char wordText[kMaxCommand + 8];    // a plain command's words, quotes removed, each ended by 0
char* words[kMaxCommand / 2 + 2];  // pointers into wordText, then null

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
// A stop is not restarted past: it cuts short whatever call it arrives in.
void catchSignals() {
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

// Reaps every ended child: killed ones that took a moment to die, and the orphans of a child's
// own children, which the kernel hands to the monitor as their subreaper. A tracked child's end
// stays visible: its pidfd stays readable, and `ended` is set. A child that ended by itself may
// have left processes in its group (the real server, when it was a launcher): they are killed
// before it is reaped, while its pid still names the group and cannot name another.
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

// Kills every process the monitor holds as its child, but the child it supervises: ended
// servers' leftovers, and the orphans of their descendants, which the kernel hands to the
// monitor as their subreaper. It starts nothing else, so each of them descends from a server.
// An unreaped child's pid cannot name another process. Returns how many it found. A kernel
// built without its list of children lets none be found by pid: the monitor then only waits
// while it has a child at all, as the members of a killed group die.
int killHeldProcesses() {
  static char list[4096];
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/task/%d/children", static_cast<int>(getpid()));
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    siginfo_t info = {};
    return waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0 ? 1 : 0;
  }
  const ssize_t length = read(fd, list, sizeof list - 1);
  close(fd);
  int found = 0;
  list[length > 0 ? length : 0] = '\0';
  for (char* p = list; *p != '\0';) {
    char* end;
    const long pid = std::strtol(p, &end, 10);
    if (end == p || *end != ' ') break;  // each pid ends with a space; one cut short is no pid
    p = end;
    if (pid <= 0 || isRunningChild(static_cast<pid_t>(pid))) continue;
    kill(static_cast<pid_t>(pid), SIGKILL);
    ++found;
  }
  return found;
}

// Killed processes die within moments. Ending and reaping all an ended server left behind here
// (a second at most) means no leftover runs beside the next server, and none is left a zombie
// when the monitor exits right after a quit. A process that left the server's group or session
// is found all the same: it stays the monitor's descendant. No group is signalled here, since a
// reaped leader's pid may already name another process.
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
// reference. The first word is then run as `exec` runs it, by the system's path search.
static bool splitPlainCommand(const char* command) {
  static const char kShellOnly[] = "|&;<>()$`*?[~#\n";
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
  return count > 0;
}

// Why a start failed, in the words the shell's exit codes stood for before: 127, not found;
// 126, found but not run.
static const char* describeStartError(int error) {
  if (error == ENOENT || error == ENOTDIR) return "not found";
  if (error == EACCES || error == EPERM || error == EISDIR || error == ETXTBSY) {
    return "not executable";
  }
  return std::strerror(error);
}

// Spawned, not forked: nothing of the monitor's memory is copied for a process that replaces
// itself at once, which keeps a restart as quick as the system's own start of a program. The
// spawn returns only once the program runs, or with the reason it could not: that is the
// verdict on the start, with no waiting. The child gets a process group of its own, before it
// runs, so that terminating it ends whatever it started too.
static int spawnChild(pid_t* pid, const char* path, char* const argv[], bool searchPath) {
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  const int error = searchPath ? posix_spawnp(pid, path, nullptr, &attributes, argv, environ)
                               : posix_spawn(pid, path, nullptr, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  return error;
}

// A plain command runs directly, so a program that is missing or cannot run fails its start
// having run nothing and without a shell's complaint on stderr, as on Windows. Any other runs as
// `sh -c 'exec COMMAND'`, the text an operator would type. Its start is the shell's: what the
// shell then fails to run ends that run like any end of the server (status 127 or 126). A file
// without a #! line is left to the shell, which runs it as a script.
static pid_t spawnCommand(const char* command) {
  pid_t pid = -1;
  int error = ENOEXEC;
  if (splitPlainCommand(command)) error = spawnChild(&pid, words[0], words, true);
  if (error == ENOEXEC) {
    static char sh[] = "sh";
    static char dashC[] = "-c";
    std::snprintf(shellCommand, sizeof shellCommand, "exec %s", command);
    char* argv[] = {sh, dashC, shellCommand, nullptr};
    error = spawnChild(&pid, "/bin/sh", argv, false);
  }
  if (error != 0) failure = describeStartError(error);
  return error == 0 ? pid : -1;
}

bool startChild(char* command, ChildHandle* child) {
  Child* slot = freeSlot();
  if (slot == nullptr) {
    failure = "too many children still ending";
    return false;
  }
  const pid_t pid = spawnCommand(command);
  if (pid < 0) return false;
  *slot = Child{pid, childEndFd(pid), false, false, 0};
  *child = slot;
  return true;
}

const char* startFailure() { return failure != nullptr ? failure : ""; }

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

void preparePosixProcess(int argc, char** argv) {
  openClosedStandardFds();
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  catchSignals();
  joinCommandLine(argc, argv);
}

// A process group is always made with the child's start: it lacks nothing.
const char* startedWithout() { return nullptr; }
