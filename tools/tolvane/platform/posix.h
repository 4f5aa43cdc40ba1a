// What the Linux entry point needs of the platform before the monitor starts.
#pragma once

/// Readies this process to supervise: it becomes the reaper of everything its children leave
/// behind, takes TERM, INT and HUP as Quit, and joins `argv` into the command line that
/// processCommandLine returns (the program's name, then the arguments separated by spaces).
void preparePosixProcess(int argc, char** argv);
