// Event lines, for an operator who reads a service log instead of a window: one line for each
// thing that happened to the server, stamped with the UTC time and closed by the six statistics
// texts as the window would show them. A note waits for the refresh that follows it, so its
// line shows the counters that include it.
#include <cstdio>
#include <cstring>

#include "supervisor/monitor.h"

// Days since 1970-01-01 to a date of the Gregorian calendar.
static void civilFromDays(uint64_t days, uint64_t* year, unsigned* month, unsigned* day) {
  const uint64_t shifted = days + 719468;  // from 0000-03-01, so leap days end a year
  const uint64_t era = shifted / 146097;
  const unsigned dayOfEra = static_cast<unsigned>(shifted - era * 146097);
  const unsigned yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
  *day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  *month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  *year = era * 400 + yearOfEra + (*month <= 2 ? 1 : 0);
}

// ISO 8601, UTC, to the millisecond: 2026-12-08T01:02:03.456Z.
void formatUtc(uint64_t msSinceEpoch, char* text, int size) {
  const uint64_t seconds = msSinceEpoch / 1000;
  uint64_t year;
  unsigned month, day;
  civilFromDays(seconds / 86400, &year, &month, &day);
  const unsigned daySeconds = static_cast<unsigned>(seconds % 86400);
  std::snprintf(text, size, "%04llu-%02u-%02uT%02u:%02u:%02u.%03uZ",
                static_cast<unsigned long long>(year), month, day, daySeconds / 3600,
                daySeconds / 60 % 60, daySeconds % 60, static_cast<unsigned>(msSinceEpoch % 1000));
}

// A line the log could not take is lost, but never silently: the next line it takes says how
// many went before it.
void writeEventNow(const char* what) {
  char line[kEventSize + 96 + kStatusLabels * (kTextSize + 3)];
  formatUtc(wallClockMs(), line, sizeof line);
  size_t used = std::strlen(line);
  used += std::snprintf(line + used, sizeof line - used, " %s", what);
  if (droppedLines != 0) {
    used += std::snprintf(line + used, sizeof line - used, " (%u %s dropped before this one)",
                          droppedLines, droppedLines == 1 ? "line" : "lines");
  }
  for (const char* text : statusTexts) {
    if (used >= sizeof line) break;
    used += std::snprintf(line + used, sizeof line - used, " | %s", text);
  }
  droppedLines = writeEventLine(line) ? 0 : droppedLines + 1;
}

static void writeNotedLines() {
  for (int i = 0; i < pendingEventCount; ++i) writeEventNow(pendingEvents[i]);
  pendingEventCount = 0;
}

static void noteEvent(const char* what) {
  if (pendingEventCount == kMaxPendingEvents) writeNotedLines();  // never drop one
  std::snprintf(pendingEvents[pendingEventCount++], kEventSize, "%s", what);
}

// --- crash loops: counted while they last, one line at most every kLoopSummaryPeriod ---

static bool inLoop() { return quickEnds > kQuickEndsInFull; }

// Every end, failed restart and start the lines leave out is counted in the next summary, so
// that the ends and failed starts all lines tell add up to the Restarts counter.
static void noteLoopCounts(const char* state) {
  char failed[48] = "";
  if (loopFailures != 0) {
    std::snprintf(failed, sizeof failed, "start failed %d times, ", static_cast<int>(loopFailures));
  }
  char what[kEventSize];
  std::snprintf(
      what, sizeof what,
      "%s: ended by itself %d times, %sstarted %d times since the last line; last end: %s", state,
      static_cast<int>(loopEnds), failed, static_cast<int>(loopStarts), loopLastEnd);
  noteEvent(what);
  loopEnds = loopStarts = loopFailures = 0;
  loopLineTick = tickCount();
}

static void summariseLoopIfDue() {
  if (tickCount() - loopLineTick >= kLoopSummaryPeriod) noteLoopCounts("crash loop");
}

// What the lines have not told yet: a loop's counts, or failed restarts beyond the first.
static void tellUntold(const char* state) {
  if (loopEnds != 0 || loopStarts != 0 || loopFailures != 0) noteLoopCounts(state);
}

// Something other than a quick end happened: what the lines have not told yet is told before
// it, and lines are written in full again.
static void leaveLoop(const char* state) {
  tellUntold(state);
  quickEnds = 0;
}

static void noteSteadyRun() {
  if (inLoop() && childOpen && tickCount() - runStartTick >= kSteadyRun) {
    noteLoopCounts("running steadily again");
    quickEnds = 0;
  }
}

void writePendingEvents() {
  if (eventLinesWanted()) noteSteadyRun();
  writeNotedLines();
}

void noteChildStarted() {
  reportedFailure[0] = restartFailure[0] = '\0';
  endReported = false;
  runStartTick = tickCount();
  if (!eventLinesWanted()) return;
  if (inLoop()) {
    countUp(loopStarts);
    summariseLoopIfDue();
    return;
  }
  tellUntold("crash loop");  // failed restarts come before the start that ended them
  char what[kEventSize];
  std::snprintf(what, sizeof what, "started, pid %ld", childId(childProcess));
  noteEvent(what);
}

// A start that keeps failing the same way is retried on every pass: one line says why, and the
// further attempts are counted for the next summary.
static void tellStartFailed(const char* reason) {
  leaveLoop("crash loop");
  std::snprintf(reportedFailure, sizeof reportedFailure, "%s", reason);
  char what[kEventSize];
  std::snprintf(what, sizeof what, "start failed: %.*s", kEventSize - 15, reason);  // as it fits
  noteEvent(what);
}

// A restart after an end that failed is counted under Restarts only when it is tried again, on
// the next pass, and so told then; one that never is (the run ended first, or the probe took it
// over) is neither. Any other failed start (the first, after a replacement, or the probe's
// retry) is counted under NoResponse, if at all, and told at once.
void noteStartFailed() {
  const char* reason = startFailure();
  if (!eventLinesWanted()) return;
  if (childOpen) {
    std::snprintf(restartFailure, sizeof restartFailure, "%s", reason);
  } else if (std::strcmp(reportedFailure, reason) != 0) {
    tellStartFailed(reason);
  }
}

static void noteRestartRetried() {
  if (std::strcmp(reportedFailure, restartFailure) == 0) {
    countUp(loopFailures);
  } else {
    tellStartFailed(restartFailure);
  }
  restartFailure[0] = '\0';
}

// The loop reports an ended child again on every pass while its restart fails: each such pass
// is a retry of the failed restart.
void noteChildEnded() {
  if (!eventLinesWanted()) return;
  if (endReported) {
    if (restartFailure[0] != '\0') noteRestartRetried();
    return;
  }
  endReported = true;
  char how[sizeof loopLastEnd];
  describeEnd(childProcess, how, sizeof how);
  if (tickCount() - runStartTick >= kSteadyRun) {
    leaveLoop("crash loop");
  } else if (!inLoop() && ++quickEnds > kQuickEndsInFull) {
    loopLineTick = tickCount();  // the loop begins: its first summary comes a period later
  }
  // The summaries that count this end, or the failed restarts after it, name it.
  std::snprintf(loopLastEnd, sizeof loopLastEnd, "%s", how);
  if (inLoop()) {
    countUp(loopEnds);
    return;
  }
  char what[kEventSize];
  std::snprintf(what, sizeof what, "ended by itself, %s", how);
  noteEvent(what);
}

// The record's first line: a typo in the port ("4o126") probes another port, and a healthy
// server is then replaced every 48 s; this line is where an operator sees which.
void noteProbedPort() {
  if (!eventLinesWanted()) return;
  const unsigned probed = static_cast<uint16_t>(port);
  char what[kEventSize];
  std::snprintf(what, sizeof what, "probing 127.0.0.1:%u%s for: %s", probed,
                probed == 0 ? ", on which no server can answer," : "", process);
  noteEvent(what);
}

// The session's end was called off: the record, closed at its end, goes on.
void noteSessionGoesOn() {
  if (eventLinesWanted()) noteEvent("session goes on");
}

void noteReplaced() {
  if (!eventLinesWanted()) return;
  leaveLoop("crash loop");
  noteEvent("replaced after six silent probe periods");
}

void writeLastLines(const char* what) {
  leaveLoop("crash loop");
  writeNotedLines();
  writeEventNow(what);
}
