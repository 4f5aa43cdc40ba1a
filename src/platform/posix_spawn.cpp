// Spawning a server on Linux: a process group of its own, and every signal as a fresh shell
// leaves it.
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include "platform/posix_internal.h"

// The C library keeps the first real-time signals for itself (32 and 33 in glibc): sigfillset
// leaves them out, and glibc's spawn then leaves them ignored in the child, a state no shell
// passes on. Its sets are bit masks, so they are put in by hand.
static void addLibcSignals(sigset_t* set) {
#ifdef __GLIBC__
  constexpr int kBitsPerWord = 8 * sizeof set->__val[0];
  for (int signal = __SIGRTMIN; signal < SIGRTMIN; ++signal) {
    set->__val[(signal - 1) / kBitsPerWord] |= 1UL << ((signal - 1) % kBitsPerWord);
  }
#else
  (void)set;
#endif
}

// Spawned, not forked: nothing of the monitor's memory is copied for a process that replaces
// itself at once, which keeps a restart as quick as the system's own start of a program. The
// spawn returns only once the program runs, or with the reason it could not: that is the
// verdict on the start, with no waiting. The child gets a process group of its own, before it
// runs, so that terminating it ends whatever it started too. It starts as if from a fresh shell:
// no signal ignored or blocked, whatever the monitor's starter ignored (QUIT for a background
// job, HUP under nohup); the monitor's own handlers end at the exec anyway.
int spawnChild(pid_t* pid, const char* path, char* const argv[], bool searchPath) {
  sigset_t all, none;
  sigfillset(&all);
  addLibcSignals(&all);
  sigemptyset(&none);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setsigmask(&attributes, &none);
  const int error = searchPath ? posix_spawnp(pid, path, nullptr, &attributes, argv, environ)
                               : posix_spawn(pid, path, nullptr, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  return error;
}
