// Before supervision begins on Linux: the process readied, its command line joined into one text,
// and the answers for whoever typed it.
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

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
