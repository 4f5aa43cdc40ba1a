// The servers the monitor started on Linux: their slots, starting and ending one, how it ended,
// and reaping whatever ends.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/posix_internal.h"

Child children[kChildSlots];

namespace {

Child* freeSlot() {
  for (Child& c : children) {
    if (c.pid == 0) return &c;
  }
  return nullptr;
}

}  // namespace

Child* childOf(ChildHandle handle) { return static_cast<Child*>(handle); }

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

bool isRunningChild(pid_t pid) {
  for (const Child& c : children) {
    if (c.pid == pid && !c.ended && !c.killed) return true;
  }
  return false;
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

bool startChild(char* command, ChildHandle* child) {
  checkChildList();
  Child* slot = freeSlot();
  if (slot == nullptr) {
    setStartFailure("too many children still ending");
    return false;
  }
  const pid_t pid = spawnCommand(command);
  if (pid < 0) return false;
  *slot = Child{pid, childEndFd(pid), false, false, 0};
  *child = slot;
  return true;
}

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

void releaseChild(ChildHandle handle) {
  Child& c = *childOf(handle);
  if (c.killed) endHeldProcesses();
  if (c.fd >= 0) close(c.fd);
  reapAll();
  c = Child{0, -1, false, false, 0};
}

// A process group is always made with the child's start: it lacks nothing.
const char* startedWithout() { return nullptr; }
