// The floor for a Linux supervisor's restart speed: start the command the way the monitor does
// (its own process group, /bin/sh -c 'exec COMMAND'), wait for its end, start it again at once,
// for SECONDS. The monitor's restart rate is read against this one.
// Usage: bare-linux SECONDS COMMAND
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

static double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
  const double seconds = argc == 3 ? std::atof(argv[1]) : 0;
  if (seconds <= 0) {
    std::fprintf(stderr, "usage: bare-linux SECONDS COMMAND\n");
    return 2;
  }
  const std::string command = std::string("exec ") + argv[2];
  unsigned long starts = 0, failures = 0;
  for (const double end = now() + seconds; now() < end;) {
    const pid_t pid = fork();
    if (pid == 0) {
      setpgid(0, 0);
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pid < 0 || waitpid(pid, nullptr, 0) != pid) {
      ++failures;
      continue;
    }
    ++starts;
  }
  std::printf("starts=%lu failures=%lu\n", starts, failures);
  return failures == 0 ? 0 : 1;
}
