// Run-time clocks. Refreshes come at irregular times, so milliseconds short of a whole minute
// are carried over rather than rounded away.
#include "supervisor/monitor.h"

static void carryMinutes(uint32_t& ticks, uint32_t& minutes) {
  const uint32_t whole = ticks / kMinute;
  ticks -= whole * kMinute;
  minutes += whole;
}

void advanceClocks() {
  const uint32_t now = tickCount();
  totalTicks += now - totalCount;  // modular: a wrap of the tick counter costs nothing
  totalCount = now;
  carryMinutes(totalTicks, totalTime);
  if (numHandles == 0) return;  // no child has run yet: no current run to measure
  curTicks += now - curCount;
  curCount = now;
  carryMinutes(curTicks, curTime);
  if (maxTime == kNoValue || static_cast<int32_t>(curTime) > maxTime) {
    maxTime = static_cast<int32_t>(curTime);
  }
}

// Total time over the number of runs so far. The divisor wraps to 0 only when the true count is
// 2^32, and then every 32-bit total divides to 0.
uint32_t averageRun() {
  const uint32_t runs = static_cast<uint32_t>(restarts) + static_cast<uint32_t>(noresponse) + 1u;
  return runs == 0 ? 0 : totalTime / runs;
}

void updateWindow() {
  advanceClocks();
  if (debugInfoOn) showStatus();
  writePendingEvents();
  tellWhatTheServerLacks();
}
