// What the Linux platform's files share among themselves. The core never sees this: platform.h
// is all it includes.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <cstdint>

#include "platform/platform.h"

// A child: its process (and process group) id and a descriptor that becomes readable when it
// ends: a pidfd, or the SIGCHLD pipe on kernels without pidfds.
struct Child {
  pid_t pid;
  int fd;
  bool ended;   // reaped already
  bool killed;  // terminated by the monitor
  int status;   // how it ended, as waitpid tells, once reaped
};

constexpr int kChildSlots = 4;  // the running child, and an ended one until it is replaced
extern Child children[kChildSlots];
constexpr int kMaxCommand = 2048;  // the longest child command line the monitor accepts, plus 1

// Signals (posix_signals.cpp). Handlers only set the flags and wake the wait through a pipe.
extern int sigchldPipe[2];
extern int signalPipe[2];                  // wakes the wait when a stop or report signal arrives
extern volatile sig_atomic_t stopAsked;    // SIGTERM, SIGINT or SIGHUP: quit as by the Quit button
extern volatile sig_atomic_t reportAsked;  // SIGUSR1: write the current texts
void catchSignals();
int childEndFd(pid_t pid);

// The servers started (posix_children.cpp).
Child* childOf(ChildHandle handle);
void reapAll();
bool isRunningChild(pid_t pid);
bool hasEnded(Child& c);

// The server's tree (posix_tree.cpp).
void markServerTree();
void checkChildList();
void endHeldProcesses();

// A command made a process (posix_command.cpp, posix_spawn.cpp). spawnCommand says why it failed
// in startFailure's text, and gives -1.
pid_t spawnCommand(const char* command);
void setStartFailure(const char* text);
int spawnChild(pid_t* pid, const char* path, char* const argv[], bool searchPath);

// The monotonic clock, in ms (posix_loop.cpp).
int64_t nowMs();
