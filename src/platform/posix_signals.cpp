// Signals on Linux: the ones taken as Quit or as a request for the texts, and the pipes through
// which they wake the monitor's wait.
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix_internal.h"

int sigchldPipe[2] = {-1, -1};
int signalPipe[2] = {-1, -1};       // wakes the wait when a stop or report signal arrives
volatile sig_atomic_t stopAsked;    // SIGTERM, SIGINT or SIGHUP: quit as by the Quit button
volatile sig_atomic_t reportAsked;  // SIGUSR1: write the current texts

namespace {

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

}  // namespace

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
