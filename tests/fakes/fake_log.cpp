// Standard output as a log: whether it is one, and the lines it took.
#include <cstdio>

#include "fakes/fake.h"
#include "fakes/fake_internal.h"
#include "supervisor/monitor.h"

constexpr int kKeptLines = 64;
static char lines[kKeptLines][1024];
static int lineCount;
static bool isLog;
static bool wanted;
static int refusals;
static char refusalText[256];

void fakeLogReset() {
  lineCount = refusals = 0;
  isLog = wanted = false;
  refusalText[0] = '\0';
}

void reportRefusal(const char* why) { std::snprintf(refusalText, sizeof refusalText, "%s", why); }

void openEventLog(bool withWindow) { wanted = isLog || !withWindow; }

bool eventLinesWanted() { return wanted; }

bool writeEventLine(const char* line) {
  if (refusals > 0) {
    --refusals;
    return false;
  }
  std::snprintf(lines[lineCount++ % kKeptLines], sizeof lines[0], "%s", line);
  return true;
}

void closeEventLog() {}

namespace fake {
void wantEventLines(bool yes) { isLog = wanted = yes; }
void refuseEventLines(int count) { refusals = count; }
int eventLines() { return lineCount; }
const char* refusal() { return refusalText; }
const char* eventLine(int i) {
  return i >= 0 && i < lineCount && i >= lineCount - kKeptLines ? lines[i % kKeptLines] : "";
}
}  // namespace fake
