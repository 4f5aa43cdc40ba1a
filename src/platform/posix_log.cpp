// Event lines on standard output, on Linux. Supervision never waits for its log: a reader that
// stopped reading (a stuck journal, a stalled `| logger`) costs lines, never a restart.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix.h"

namespace {

// How a write is kept from blocking depends on what standard output is. Its open file is
// shared with the servers the monitor starts (they inherit it), so it is never made
// non-blocking itself: they would see writes fail that they expect to wait.
enum class Output {
  file,      // a regular file: a write never waits for a reader
  socket,    // a socket (the journal's): each send is told not to wait
  reopened,  // a pipe or a terminal, opened again for the monitor alone, non-blocking
  polled,    // could not be opened again: written only while poll says it has room
};

bool wanted;
Output output;
int fd = STDOUT_FILENO;
constexpr int kLineSize = 2048;
char unsent[kLineSize];  // the end of a line a socket or a full disk took only in part
size_t unsentLength;

bool isLog(const struct stat& st) {
  return S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
}

// Opening /proc/self/fd/1 makes a new open file of the same pipe or terminal, whose flags are
// the monitor's own.
void chooseOutput(const struct stat& st) {
  if (S_ISREG(st.st_mode)) {
    output = Output::file;
  } else if (S_ISSOCK(st.st_mode)) {
    output = Output::socket;
  } else {
    fd = open("/proc/self/fd/1", O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    output = fd >= 0 ? Output::reopened : Output::polled;
    if (fd < 0) fd = STDOUT_FILENO;
  }
}

// What went out at once: all of it (a pipe takes a line shorter than PIPE_BUF whole or not at
// all), a part (a socket, a nearly full disk), or nothing (-1 or 0).
ssize_t writeNow(const char* text, size_t length) {
  if (output == Output::socket) return send(fd, text, length, MSG_DONTWAIT | MSG_NOSIGNAL);
  if (output == Output::polled) {
    pollfd p = {fd, POLLOUT, 0};
    if (poll(&p, 1, 0) != 1 || (p.revents & POLLOUT) == 0) return -1;
  }
  return write(fd, text, length);
}

// A line is never cut in the log: what is left of one goes out before anything else.
bool sendUnsent() {
  if (unsentLength == 0) return true;
  const ssize_t written = writeNow(unsent, unsentLength);
  if (written <= 0) return false;
  unsentLength -= static_cast<size_t>(written);
  std::memmove(unsent, unsent + written, unsentLength);
  return unsentLength == 0;
}

}  // namespace

// A monitor that wants no lines still writes one when asked for its texts (SIGUSR1), so its
// output is readied all the same.
void openEventLog(bool withWindow) {
  struct stat st;
  if (fstat(STDOUT_FILENO, &st) != 0) return;
  wanted = !withWindow || isLog(st);
  chooseOutput(st);
}

bool eventLinesWanted() { return wanted; }

bool writeEventLine(const char* line) {
  if (!sendUnsent()) return false;
  char text[kLineSize];
  const int length = std::snprintf(text, sizeof text - 1, "%s", line);
  size_t used = length < 0 ? 0 : static_cast<size_t>(length);
  if (used > sizeof text - 2) used = sizeof text - 2;
  text[used++] = '\n';
  const ssize_t written = writeNow(text, used);
  if (written <= 0) return false;
  // Only what was not taken is kept: a line that went out whole leaves the buffer, and its page,
  // untouched.
  if (static_cast<size_t>(written) < used) {
    unsentLength = used - static_cast<size_t>(written);
    std::memcpy(unsent, text + written, unsentLength);
  }
  return true;
}

void closeEventLog() {}

// One line saying why, then the usage: the operator typed something the monitor cannot run.
void reportRefusal(const char* why) {
  char text[512];
  std::snprintf(text, sizeof text, "tolvane: %s\n%s", why, kUsage);
  sayNow(STDERR_FILENO, text);
}
