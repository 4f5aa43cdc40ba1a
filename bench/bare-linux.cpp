// The floor for a Linux supervisor's restart speed: start the command, wait for its end, start it
// again at once, for SECONDS. By default it starts it as the monitor does (its own process group,
// /bin/sh -c 'exec COMMAND') through fork; with --spawn it starts the command's own program with
// posix_spawn, in its own group, with no shell: the least a restart can cost. The monitor's
// restart rate is read against both.
// Usage: bare-linux [--spawn] SECONDS COMMAND   (with --spawn, COMMAND is split at spaces)
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

static double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

static pid_t forkShell(const std::string& command) {
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

static pid_t spawnDirect(const posix_spawnattr_t* attributes, char* const* argv) {
  pid_t pid;
  return posix_spawn(&pid, argv[0], nullptr, attributes, argv, environ) == 0 ? pid : -1;
}

int main(int argc, char** argv) {
  const bool spawn = argc == 4 && std::strcmp(argv[1], "--spawn") == 0;
  const double seconds = argc == 3 + spawn ? std::atof(argv[1 + spawn]) : 0;
  if (seconds <= 0) {
    std::fprintf(stderr, "usage: bare-linux [--spawn] SECONDS COMMAND\n");
    return 2;
  }
  const std::string command = std::string("exec ") + argv[2 + spawn];
  std::vector<char*> words;  // for --spawn: the command's words, cut in place
  for (char* w = std::strtok(argv[2 + spawn], " "); w != nullptr; w = std::strtok(nullptr, " "))
    words.push_back(w);
  words.push_back(nullptr);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);  // a group of its own
  posix_spawnattr_setpgroup(&attributes, 0);

  unsigned long starts = 0, failures = 0;
  for (const double end = now() + seconds; now() < end;) {
    const pid_t pid = spawn ? spawnDirect(&attributes, words.data()) : forkShell(command);
    if (pid < 0 || waitpid(pid, nullptr, 0) != pid) {
      ++failures;
      continue;
    }
    ++starts;
  }
  std::printf("starts=%lu failures=%lu\n", starts, failures);
  return failures == 0 ? 0 : 1;
}
