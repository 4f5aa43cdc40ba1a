// Before supervision begins on Linux: the process readied, its command line joined into one text,
// and the answers for whoever typed it.
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/posix.h"
#include "platform/posix_internal.h"
#include "version.h"

namespace {

char commandLine[4 * kMaxCommand];

}  // namespace

const char* processCommandLine() { return commandLine; }

// The command line as one text, as the monitor reads it everywhere: a program name, then the
// arguments joined by single spaces. Quote the server's command as one argument to keep its
// own spacing and quotes: tolvane 40000 'server -x "a b"'. A line too long to hold is cut, and
// start-up refuses what is left, for the reason it would give the whole: a server's command
// longer than the monitor takes, or a first word that is no port.
static void joinCommandLine(int argc, char** argv) {
  size_t used = std::snprintf(commandLine, sizeof commandLine, "tolvane");
  for (int i = 1; i < argc && used < sizeof commandLine; ++i) {
    used += std::snprintf(commandLine + used, sizeof commandLine - used, " %s", argv[i]);
  }
}

// Read as atoi reads it, a word that is no number would be port 0, where no server answers: the
// server would be replaced every 48 s for nothing. Leading zeros are harmless.
const char* portRefusal(const char* tail) {
  static char why[160];
  const size_t length = std::strcspn(tail, " ");
  long value = 0;
  size_t digits = 0;
  for (; digits < length && tail[digits] >= '0' && tail[digits] <= '9'; ++digits) {
    value = std::min(value * 10 + (tail[digits] - '0'), 65536L);
  }
  if (digits == length && value >= 1 && value <= 65535) return nullptr;
  constexpr int kShown = 64;  // of the word, which may be anything
  std::snprintf(why, sizeof why, "the port must be a whole number from 1 to 65535, not '%.*s%s'",
                static_cast<int>(std::min<size_t>(length, kShown)), tail,
                length > kShown ? "..." : "");
  return why;
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
    "TERM, INT and HUP quit as the window's Quit button does: the server is ended, exit code 0.\n"
    "USR1 writes the current texts. A command line it refuses: exit code 2, and why on standard\n"
    "error; any other failure to start: exit code 1. PORT is a whole number from 1 to 65535.\n"
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
