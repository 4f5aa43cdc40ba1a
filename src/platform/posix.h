// What the Linux entry point needs of the platform before the monitor starts.
#pragma once

/// Readies this process to supervise: it becomes the reaper of everything its children leave
/// behind, takes TERM, INT and HUP as Quit, marks the environment its servers will inherit, and
/// joins `argv` into the command line that processCommandLine returns (the program's name, then
/// the arguments separated by spaces).
void preparePosixProcess(int argc, char** argv);

/// Answers `--help` (the usage) or `--version` on standard output when that is the only argument.
/// True when it did: the program then exits with 0 and starts nothing.
bool answerInfoRequest(int argc, char** argv);

/// The usage line, ended by a line break.
extern const char kUsage[];

/// Writes `text` to `fd` only if it can go at once: for notices that nobody may be reading.
void sayNow(int fd, const char* text);
