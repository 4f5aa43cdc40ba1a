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

void writeEventNow(const char* what) {
  char line[kEventSize + 64 + kStatusLabels * (kTextSize + 3)];
  formatUtc(wallClockMs(), line, sizeof line);
  size_t used = std::strlen(line);
  used += std::snprintf(line + used, sizeof line - used, " %s", what);
  for (const char* text : statusTexts) {
    if (used >= sizeof line) break;
    used += std::snprintf(line + used, sizeof line - used, " | %s", text);
  }
  writeEventLine(line);
}

static void noteEvent(const char* what) {
  if (pendingEventCount == kMaxPendingEvents) writePendingEvents();  // never drop one
  std::snprintf(pendingEvents[pendingEventCount++], kEventSize, "%s", what);
}

void writePendingEvents() {
  for (int i = 0; i < pendingEventCount; ++i) writeEventNow(pendingEvents[i]);
  pendingEventCount = 0;
}

void noteChildStarted() {
  reportedFailure[0] = '\0';
  endReported = false;
  if (!eventLinesWanted()) return;
  char what[kEventSize];
  std::snprintf(what, sizeof what, "started, pid %ld", childId(childProcess));
  noteEvent(what);
}

// A start that keeps failing the same way is retried on every pass: one line says it all.
void noteStartFailed() {
  const char* reason = startFailure();
  if (!eventLinesWanted() || std::strcmp(reportedFailure, reason) == 0) return;
  std::snprintf(reportedFailure, sizeof reportedFailure, "%s", reason);
  char what[kEventSize];
  std::snprintf(what, sizeof what, "start failed: %s", reason);
  noteEvent(what);
}

// The loop reports an ended child again on every pass while its restart fails.
void noteChildEnded() {
  if (!eventLinesWanted() || endReported) return;
  endReported = true;
  char how[64];
  describeEnd(childProcess, how, sizeof how);
  char what[kEventSize];
  std::snprintf(what, sizeof what, "ended by itself, %s", how);
  noteEvent(what);
}

void noteReplaced() {
  if (eventLinesWanted()) noteEvent("replaced after six silent probe periods");
}
