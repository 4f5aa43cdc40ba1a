// What the supervisor needs from the operating system, and nothing more.
// The product links the win32_*.cpp files (posix_*.cpp on Linux), one concern each; the unit tests
// link a scripted fake with the same functions.
#pragma once

#include <cstdint>

using InstanceHandle = void*;
using ChildHandle = void*;
using SocketHandle = uintptr_t;

/// Milliseconds since the system started. Wraps to 0 after 2^32 ms (about 49.7 days), so
/// callers only ever take 32-bit unsigned differences of two readings.
uint32_t tickCount();

/// Milliseconds since 1970-01-01 00:00 UTC by the system's wall clock, for event lines.
uint64_t wallClockMs();

/// Decides, once at start-up, whether the operator reads event lines on standard output, and
/// readies it for them: always when `withWindow` is false; beside a window only when standard
/// output is a file or a pipe (a log), never a terminal or nothing at all.
void openEventLog(bool withWindow);

/// True when event lines are written, as openEventLog decided.
bool eventLinesWanted();

/// Writes one line (without its line break: the platform adds its own) whole and at once, or
/// drops it: supervision never waits for its log. False when the line was dropped because the
/// log cannot take it now (a pipe nobody reads, a full disk).
bool writeEventLine(const char* line);

/// Tells the operator, where one may be reading, why start-up was refused (`why`: "nothing after
/// the port"), before the program exits.
void reportRefusal(const char* why);

/// Ends the record: gives lines already taken a moment (a fraction of a second at most) to
/// reach the log before the program ends, and writes nothing after them.
void closeEventLog();

/// The process's whole command line as the system holds it, program name included.
const char* processCommandLine();

/// Why the port word that begins `tail` (all before its first space) is refused, in a few words
/// that name it; null when it is taken. Windows takes any word, as atoi reads it; Linux takes only
/// a whole number from 1 to 65535.
const char* portRefusal(const char* tail);

/// True while the system is ending the session (a shutdown, restart or log-off under way). After
/// the window was told of the session's end, a reading of false tells that the end was called off
/// (a user cancelled a shutdown that another program held up). Never true where sessions do not
/// end so (Linux).
bool sessionEndUnderWay();

/// Starts `commandLine` as a child process at normal priority, with this process's environment
/// and current directory. On success stores in `child` a handle that becomes signalled when the
/// child ends and returns true; on failure leaves `child` alone. The system may write into
/// `commandLine` while it parses it, so it must be writable. What the child starts in turn is
/// kept with it (a job on Windows, a process group on Linux) and ends with it below. While the
/// system is ending the session (Windows' shutdown, restart or log-off), starts nothing.
bool startChild(char* commandLine, ChildHandle* child);

/// After a successful startChild: what the child runs without that it should have, in a few
/// words ("a job of its own (error 5)": what it starts may then outlive it), or null.
const char* startedWithout();

/// Why the last failed startChild failed, in a few words ("not found", "not executable").
const char* startFailure();

/// The child's process id, as the system's own tools show it.
long childId(ChildHandle child);

/// How the child behind `child`, which has ended, ended, in a few words ("exit code 7",
/// "signal 9 (Killed)").
void describeEnd(ChildHandle child, char* text, int size);

/// Ends the child, and whatever it started, with exit code 0. Does not wait for them to be gone.
void terminateChild(ChildHandle child);

/// Gives the child's handle back to the system, once what was ended with it is gone (a second
/// at most). The handle must not be used afterwards.
void releaseChild(ChildHandle child);

enum class Wake { childEnded, input, timeout, failed };

/// Waits at most `ms` for the child behind `child` to end or for new input to this thread's
/// windows. With `child` null, waits for input alone. Before the child's end is reported,
/// whatever it left running is ended, so that a restart never runs beside an old server. An end
/// reported while the session is ending is not reported again until that end is called off.
Wake waitForChildOrInput(const ChildHandle* child, uint32_t ms);

enum class Pump { empty, dispatched, quit, report };

/// Takes one message off this thread's queue and hands it to its window. The quit message is
/// reported, not dispatched, and so is an operator's request for the current texts (report).
Pump pumpMessage();

/// Starts and stops the network library. Starting may fail silently: the socket calls then fail.
void startNetwork();
void stopNetwork();

/// The probe socket: a UDP socket bound to 127.0.0.1 at a port the system chooses, made
/// non-blocking. Each step reports its own failure. Bound to the loopback address alone, it
/// takes datagrams from this machine only: another host cannot pass for the server.
bool openSocket(SocketHandle* socket);
bool bindToLoopback(SocketHandle socket);
bool makeNonBlocking(SocketHandle socket);

/// Reads one waiting datagram into `buffer`. Returns its length, or -1 when none is waiting,
/// when the read failed, or when the datagram was longer than `size` (it is then dropped).
int receiveDatagram(SocketHandle socket, char* buffer, int size);

/// Sends one datagram to 127.0.0.1 at `port`. Failures are not reported.
void sendToLocalPort(SocketHandle socket, uint16_t port, const char* data, int size);
