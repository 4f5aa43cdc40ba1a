// Helpers that let a test read as a scenario over the real monitor and the fakes.
#pragma once

#include <gtest/gtest.h>

#include "fakes/fake.h"
#include "supervisor/monitor.h"

// Starts the monitor as if launched with `commandLine` on a machine up `bootTicks` ms.
inline bool startMonitor(const char* commandLine, uint64_t bootTicks = 100000) {
  fake::reset(commandLine, bootTicks);
  return startUp(nullptr);
}

// Runs the loop until the clock reaches `until`, the quit message ends it, or `maxPasses`
// passes went by (a restart that keeps failing loops without time passing).
inline void runUntil(uint64_t until, long maxPasses = 10000000) {
  while (fake::now() < until && maxPasses-- > 0 && superviseOnce()) {
  }
}

inline void runFor(uint64_t ms) { runUntil(fake::now() + ms); }
