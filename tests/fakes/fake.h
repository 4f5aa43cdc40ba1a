// Control of the fake platform and window: a scripted clock, child, socket and message queue.
// Tests read as scenarios: say what the world does, run the monitor, look at what it did.
#pragma once

#include <cstdint>

#include "window/window.h"

namespace fake {

constexpr uint64_t kNever = UINT64_MAX;
constexpr uint64_t kWallClockAtZero = 1796083200000;  // 2026-12-01T00:00:00Z when the tick is 0

// Everything back to a machine that has been up `bootTicks` ms, with this process command line.
void reset(const char* commandLine, uint64_t bootTicks = 100000);

// The clock. Ticks are its low 32 bits, so a clock started near 2^32 shows the counter's wrap.
uint64_t now();
void advance(uint64_t ms);  // time passes outside any wait (a busy window)

// Children started from now on: how long each runs (kNever: until stopped), whether it answers
// probes sent to `listenPort`, and how many of the next start attempts fail (-1: all of them).
void childRunsFor(uint64_t ms);
void childAnswers(bool answers);
void listenPort(uint16_t port);
void failStarts(int count);
void failStartsBecause(const char* reason);  // what the platform says of a failed start
void childExitsWith(int code);               // how children end by themselves
void startWithout(const char* what);         // what children run without ("": nothing)
void endChildAt(uint64_t at);                // the running child ends by itself at `at`
void failWaits(int count);                   // the next `count` waits fail
void sessionEndUnderWay(bool underWay);      // what the system says of the session's end

// The window's queue and the socket.
void inputAt(uint64_t at);
void quitAt(uint64_t at);
void datagramArrives(int length);  // from anyone, queued now
void askForReport();               // the operator asks for the current texts
int datagramsWaiting();

// Start-up steps that can be made to fail: "class", "socket", "bind", "nonblock", "window".
void failStep(const char* step);
void refusePorts(const char* why);  // the platform refuses every port word, saying `why`

// What happened.
int startAttempts();
int starts();
int terminations();
int openHandles();
int handleMisuse();  // waits, terminations or releases of handles that are not open
bool childRunning();
const char* lastCommand();  // the command line the last start was given
int probes();
uint64_t probeAt(int index);
uint16_t probePort(int index);
int probeLength(int index);
const char* probeBytes(int index);  // the first six bytes
int dispatched();
int childEndsSeen();     // waits that reported the child's end
uint64_t lastStartAt();  // clock at the last successful start
const char* trace();     // start-up and child events, in order, separated by spaces
const char* text(StatusLabel label);
const char* programLabel();
bool windowShown();
int textWrites();               // rows handed to the window so far
const char* refreshedRows();    // the rows the last refresh wrote, in order: "012345" for all six
void runWithoutDisplay();       // from the next start-up on, no window can be shown
void loseDisplayInRowUpdate();  // the next row handed to the window finds the display gone,
struct ProcessExited {};        // and the process exits after its last words: thrown then
const WindowCalls& windowCalls();  // what the monitor gave the window, to make those calls

// Standard output.
void wantEventLines(bool wanted);  // it is a log (a file or a pipe), not a terminal
void refuseEventLines(int count);  // the log cannot take the next `count` lines
const char* refusal();             // what start-up said when it refused, or ""
int eventLines();                  // written so far
const char* eventLine(int index);  // the last 64 are kept; earlier ones read as ""

}  // namespace fake

// The monitor's state back to program start.
void resetMonitorState();
