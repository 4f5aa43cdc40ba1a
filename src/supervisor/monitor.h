// The monitor's state: program-wide, zero at program start unless noted, alive for the whole run.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "window/window.h"

constexpr int kCommandSize = 2048;          // the child's command line and the program label
constexpr int kLabelSize = 1024;            // the label holds at most 1023 characters
constexpr int kTextSize = kStatusTextSize;  // one status text
constexpr int kDatagramSize = 256;          // a reply; a longer datagram is not a reply
constexpr uint32_t kProbePeriod = 8000;     // ms
constexpr uint32_t kSilentPeriodsAllowed = 5;
constexpr uint32_t kWaitMs = 1000;
constexpr uint32_t kRowsPeriod = 100;  // ms; the window is handed its rows at most this often
constexpr uint32_t kNoRowsDue = UINT32_MAX;
constexpr uint32_t kMinute = 60000;       // ms
constexpr int32_t kNoValue = 2147483647;  // maxTime before any run was measured

// Command line.
extern char process[kCommandSize];  // the child's command line exactly as written
extern char program[kCommandSize];  // "Program: " and the child's command line, cut to fit a label
extern int32_t port;      // the command line's leading number; its low 16 bits are the UDP port
extern bool debugInfoOn;  // the statistics rows exist and are refreshed

// Child control.
extern ChildHandle childProcess;  // meaningful only while childOpen
extern bool childOpen;  // childProcess is open: the child runs, or ended and is not yet replaced
extern int32_t numHandles;  // 0 until the first successful start, then 1 for good
extern bool sessionEnded;   // the session ends: the server is the system's to end; nothing starts

// After the session's end: the child's end, if it came, is kept to be told if the session goes
// on, which it does once the system has said on this many idle seconds in a row that no end is
// under way. Not one reading alone: the monitor cannot know how soon after its notice the system
// shows the end, nor whether a reading of the moment holds. Five seconds are long enough for a
// real end to have ended the process (Windows ends a program that has answered at once), and
// short beside the 41 s a silent server waits to be replaced, so a cancelled shutdown costs
// little: under Wine, whose flag always reads 0, the monitor resumes 5 s after the end.
constexpr int32_t kSessionGoesOnSeconds = 5;
extern bool endWhileEnding;        // the child ended after the session's end
extern int32_t secondsWithoutEnd;  // idle seconds in a row, since the end, with none under way

// Restart counters; they wrap like unsigned 32-bit numbers.
extern int32_t restarts;    // restarts and restart attempts after the child ended by itself
extern int32_t noresponse;  // forced restarts after six silent probe periods

// Clocks, in whole minutes plus the milliseconds carried toward the next minute.
extern uint32_t totalTime, totalTicks,
    totalCount;                               // since start-up; totalCount = tick at last refresh
extern uint32_t curTime, curTicks, curCount;  // since the current child started
extern int32_t maxTime;                       // longest run so far; kNoValue before any child ran

// The statistics rows' texts as of the last refresh, which event lines carry; empty before the
// first refresh. The window gets them at most once a kRowsPeriod.
extern char statusTexts[kStatusLabels][kTextSize];
extern char shownTexts[kStatusLabels][kTextSize];  // as last handed to the window
extern uint32_t rowsShownAt;                       // tick of that hand-over
// statusTexts hold a change the window has not been handed yet: what comparing the texts would
// tell, kept so that each wait need not compare them.
extern bool rowsWaiting;

// Event lines, for an operator who reads a log rather than a window.
constexpr int kEventSize = 224;  // what happened, without the time and the texts
constexpr int kMaxPendingEvents = 4;
extern char pendingEvents[kMaxPendingEvents][kEventSize];  // written after the next refresh
extern int pendingEventCount;
extern char reportedFailure[kEventSize];  // the failed start last written; empty after a success
extern char restartFailure[kEventSize];   // a failed restart after an end, until it is retried
extern bool endReported;                  // the current child's end has been noted
extern uint32_t droppedLines;             // lines the log could not take since the last one it took
extern char toldWithout[kEventSize];      // what the server runs without, as last written; "": all

// A server that keeps ending soon after its start: its first few ends are written in full, then
// one summary line at most every kLoopSummaryPeriod while the loop lasts.
constexpr uint32_t kSteadyRun = 10000;  // ms; a run at least this long is not part of a loop
constexpr int kQuickEndsInFull = 3;
constexpr uint32_t kLoopSummaryPeriod = 10000;  // ms
extern uint32_t runStartTick;                   // tick at the current child's start
extern int quickEnds;          // ends in a row after short runs; past kQuickEndsInFull: a loop
extern uint32_t loopLineTick;  // tick of the loop's last line
extern int32_t loopEnds, loopStarts;  // counted, not written, since the loop's last line
extern int32_t loopFailures;  // retried failed restarts counted, not written, since the last line
extern char loopLastEnd[64];  // how the current child's, or else the last, end happened

// Liveness probe.
extern SocketHandle asocket;
extern uint32_t sendCount;     // probe periods ended since the last reply or forced restart
extern uint32_t lastSendTime;  // tick of the last period's end or of the last reply

// How a run ended. Each entry point makes it its system's exit code.
enum class Outcome {
  quit,                // the loop ended: Quit, the window closed, a stop signal
  refusedCommandLine,  // start-up refused what the operator wrote
  failedStartUp,       // start-up failed for any other reason
};

// Start-up (steps 1 to 15), then the loop.
Outcome runMonitor(InstanceHandle instance);
bool startUp(InstanceHandle instance);
extern const char* refusal;  // why start-up refused to go on; null until it does
bool superviseOnce();        // false once the quit message arrived
Outcome runLoop();

// Command line.
const char* commandTail(const char* commandLine);
int32_t parsePort(const char* text);
const char* childCommand(const char* tail);
const char* commandRefusal(const char* tail);
void copyCommand(const char* command);
void formatProgramLabel(const char* command);

// Child control.
bool startProcess();
void killProcess();
void tellWhatTheServerLacks();  // a line, when what the server runs without has changed

// Clocks and texts.
void updateWindow();
void advanceClocks();
uint32_t averageRun();
void showStatus();       // hands the window all six rows, in order, when any of their texts changed
uint32_t rowsDueIn();    // ms until rows the window has not been handed are due; kNoRowsDue: none
void showWaitingRows();  // hands the window the rows it has not been handed, if any
// Whole minutes as "D day H hr M min", "H hr M min" or "M min". The text lives in one static
// buffer: each call overwrites the previous result.
const char* formatTime(uint32_t minutes);

// Probe.
void checkResponse();

// Event lines. Each note becomes one line, written after the refresh that shows its effect.
void noteChildStarted();
void noteStartFailed();
void noteChildEnded();  // the current child's end; once per child however often it is retried
void noteReplaced();
void noteProbedPort();  // which port is probed, and for what: the record's first line
void noteSessionGoesOn();
void writePendingEvents();
void writeEventNow(const char* what);   // at once, with the texts as last shown
void writeLastLines(const char* what);  // what is not told yet, then the run's last line
void formatUtc(uint64_t msSinceEpoch, char* text, int size);

inline void countUp(int32_t& counter) {
  counter = static_cast<int32_t>(static_cast<uint32_t>(counter) + 1u);
}
