// The wait on Linux: the monitor's one blocking call, on its child's end, the window's connection
// and the signals' pipe; what the pump takes from them; and the clocks.
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/posix_internal.h"
#include "window/x11_events.h"

int64_t nowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

uint32_t tickCount() { return static_cast<uint32_t>(nowMs()); }

// A Linux monitor is not told of a session's end: its service manager ends it with a signal.
bool sessionEndUnderWay() { return false; }

uint64_t wallClockMs() {
  timespec t;
  clock_gettime(CLOCK_REALTIME, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000 + static_cast<uint64_t>(t.tv_nsec) / 1000000;
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
