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

#include <cerrno>
#include <cstdio>
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
      if (c.pid == info.si_pid) tracked = &c;
    }
    if (tracked != nullptr && !tracked->killed) kill(-tracked->pid, SIGKILL);
    int status = 0;
    if (waitpid(info.si_pid, &status, WNOHANG) <= 0) return;
    if (tracked == nullptr) continue;
    tracked->ended = true;
    tracked->status = status;
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

int64_t nowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

}  // namespace

uint32_t tickCount() { return static_cast<uint32_t>(nowMs()); }

uint64_t wallClockMs() {
  timespec t;
  clock_gettime(CLOCK_REALTIME, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000 + static_cast<uint64_t>(t.tv_nsec) / 1000000;
}

const char* processCommandLine() { return commandLine; }

// How the child ended, if it has, without reaping it: false while it runs.
static bool peekEnd(pid_t pid, siginfo_t* info) {
  *info = siginfo_t{};
  return waitid(P_PID, pid, info, WEXITED | WNOHANG | WNOWAIT) == 0 && info->si_pid == pid;
}

// The shell reports a command it cannot run within moments, with status 127 (not found) or 126
// (not executable). Such a start has failed, as it fails on Windows, where no shell stands
// between: the monitor then retries through the probe instead of restarting a missing program
// hundreds of times a second. A child still running after 100 ms has started. Returns why
// the shell could not run the command, or null.
static const char* shellCouldNotRun(const Child& c) {
  constexpr int kVerdictMs = 100;
  siginfo_t info;
  if (c.fd >= 0) {
    pollfd p = {c.fd, POLLIN, 0};
    poll(&p, 1, kVerdictMs);
  } else {
    for (int waited = 0; waited < kVerdictMs && !peekEnd(c.pid, &info); waited += 5) usleep(5000);
  }
  if (!peekEnd(c.pid, &info) || info.si_code != CLD_EXITED) return nullptr;
  if (info.si_status == 127) return "not found";
  if (info.si_status == 126) return "not executable";
  return nullptr;
}

void releaseChild(ChildHandle handle);

// The child runs under the shell so that COMMAND is the same text an operator would type, in a
// process group of its own so that terminating it ends whatever it started too. It is spawned,
// not forked: nothing of the monitor's memory is copied for a process that replaces itself at
// once, which keeps a restart as quick as the system's own start of a program.
static pid_t spawnShell(char* command) {
  static char sh[] = "sh";
  static char dashC[] = "-c";
  char* argv[] = {sh, dashC, command, nullptr};
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);  // a group of its own, before the shell runs
  pid_t pid = -1;
  const int error = posix_spawn(&pid, "/bin/sh", nullptr, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) failure = std::strerror(error);
  return error == 0 ? pid : -1;
}

bool startChild(char* command, ChildHandle* child) {
  Child* slot = freeSlot();
  if (slot == nullptr) {
    failure = "too many children still ending";
    return false;
  }
  std::snprintf(shellCommand, sizeof shellCommand, "exec %s", command);
  const pid_t pid = spawnShell(shellCommand);
  if (pid < 0) return false;
  *slot = Child{pid, childEndFd(pid), false, false, 0};
  failure = shellCouldNotRun(*slot);
  if (failure != nullptr) {
    releaseChild(slot);
    return false;
  }
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

void terminateChild(ChildHandle handle) {
  childOf(handle)->killed = true;
  kill(-childOf(handle)->pid, SIGKILL);
}

// Killed processes die within moments. Waiting for the whole group here (a second at most)
// leaves no zombie behind when the monitor exits right after a quit.
static void awaitGroupEnd(pid_t group) {
  const int64_t deadline = nowMs() + 1000;
  while (nowMs() < deadline) {
    reapAll();
    if (kill(-group, 0) != 0) return;
    usleep(1000);
  }
}

void endChildrenAndExit(int code) {
  for (const Child& c : children) {
    if (c.pid != 0) kill(-c.pid, SIGKILL);
  }
  _exit(code);
}

void releaseChild(ChildHandle handle) {
  Child& c = *childOf(handle);
  if (c.killed) awaitGroupEnd(c.pid);
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
      awaitGroupEnd(c->pid);  // its leftovers were killed when it was reaped
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
