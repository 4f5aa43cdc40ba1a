// A server's command line on Linux: the words of a plain command as the shell would read them,
// where exec finds its program, the shell for everything else, and why a start failed.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix_internal.h"

namespace {

constexpr int kMaxFailure = 160;
char failure[kMaxFailure];  // why the last start failed, and the program it named
char shellCommand[kMaxCommand + 8];
// A plain command's words, quotes removed, each ended by 0, and pointers to them, then null.
// The pointers follow the text on one page boundary, so that a short command's words and their
// pointers share one page.
struct alignas(4096) Words {
  char text[kMaxCommand + 8];
  char* list[kMaxCommand / 2 + 2];
} words;

}  // namespace

// The words of a command that needs no shell, as the shell would read them, in `words`; false
// when it needs one. Only quotes and backslashes are read here: anything the shell would expand,
// redirect, join or glob (and a line break) sends the command to the shell, which remains the
// reference, whichever shell /bin/sh is: braces (bash expands a{b,c}), and a first word that
// begins with '-' (an option to `exec` in some shells) go there too. The first word is then run
// as `exec` runs it, found where the shell would look.
static bool splitPlainCommand(const char* command) {
  static const char kShellOnly[] = "|&;<>()$`*?[~#{}\n";
  if (std::strlen(command) >= kMaxCommand) return false;  // more words than the arrays hold
  char* out = words.text;
  int count = 0;
  for (const char* p = command;;) {
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '\0') break;
    words.list[count++] = out;
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
  words.list[count] = nullptr;
  return count > 0 && words.list[0][0] != '-';
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
pid_t spawnCommand(const char* command) {
  pid_t pid = -1;
  if (isBlank(command)) {
    std::snprintf(failure, sizeof failure, "the command is blank");
    return -1;
  }
  int error = ENOEXEC;
  if (splitPlainCommand(command)) error = spawnProgram(&pid, words.list);
  if (error == ENOEXEC) {
    static char sh[] = "sh";
    static char dashC[] = "-c";
    std::snprintf(shellCommand, sizeof shellCommand, "exec %s", command);
    char* argv[] = {sh, dashC, shellCommand, nullptr};
    error = spawnChild(&pid, "/bin/sh", argv, false);
    if (error != 0) noteStartError(error, "/bin/sh");
  } else if (error != 0) {
    noteStartError(error, words.list[0]);
  }
  return error == 0 ? pid : -1;
}

void setStartFailure(const char* text) { std::snprintf(failure, sizeof failure, "%s", text); }

const char* startFailure() { return failure; }
