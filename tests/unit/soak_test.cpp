// A hundred simulated days of faults: children that crash, hang, answer and fail to start,
// strangers' datagrams (some too long to count), bursts of window input, and two wraps of the
// tick counter. The invariants are checked after every pass of the loop.
#include <algorithm>
#include <random>

#include "unit/alloc_counter.h"
#include "unit/scenario.h"

namespace {

constexpr uint64_t kDay = 86400000;
uint64_t t0;
int32_t longestSeen;
std::mt19937_64 rng(20261207);

uint64_t uniform(uint64_t low, uint64_t high) { return low + rng() % (high - low + 1); }

void injectFault() {
  const uint64_t now = fake::now();
  switch (uniform(0, 7)) {
    case 0: fake::endChildAt(now + uniform(0, 120000)); break;
    case 1: fake::childAnswers(false); break;  // hangs
    case 2: fake::childAnswers(true); break;
    case 3:
      for (uint64_t n = uniform(1, 5); n > 0; --n) fake::datagramArrives(uniform(0, 400));
      break;
    case 4: fake::failStarts(uniform(1, 4)); break;
    case 5: {
      const uint64_t spacing = uniform(1, 1500);
      for (uint64_t i = uniform(1, 200); i > 0; --i) fake::inputAt(now + i * spacing);
      break;
    }
    case 6: fake::childRunsFor(uniform(0, 1) ? fake::kNever : uniform(0, 2 * 3600000)); break;
    default: break;
  }
}

// The name of the first invariant that does not hold, or null.
const char* brokenInvariant() {
  // The clock at the last refresh: the last tick it read, placed on the 64-bit clock.
  const uint64_t refreshed = fake::now() - (static_cast<uint32_t>(fake::now()) - totalCount);
  if (uint64_t{totalTime} * kMinute + totalTicks != refreshed - t0) return "total time";
  if (fake::startAttempts() != 1 + restarts + noresponse) return "starts vs counters";
  if (restarts != fake::childEndsSeen()) return "restarts vs child ends";
  if (fake::openHandles() > 1 || fake::handleMisuse() != 0) return "handles";
  if (numHandles == 0) return maxTime == kNoValue && curTime == 0 ? nullptr : "no child yet";
  if (uint64_t{curTime} * kMinute + curTicks != refreshed - fake::lastStartAt()) {
    return "current run";
  }
  longestSeen = std::max(longestSeen, static_cast<int32_t>(curTime));
  return maxTime == longestSeen ? nullptr : "longest run";
}

}  // namespace

TEST(Soak, HundredDaysOfFaults) {
  ASSERT_TRUE(startMonitor("t.exe 40000 srv.exe", (uint64_t{1} << 32) - 3 * kDay));
  t0 = fake::now();
  longestSeen = 0;
  fake::childAnswers(true);
  countAllocations(true);
  const char* broken = nullptr;
  long passes = 0;
  while (fake::now() < t0 + 100 * kDay && broken == nullptr) {
    injectFault();
    const uint64_t until = std::min(fake::now() + uniform(1000, 3600000), t0 + 100 * kDay);
    while (fake::now() < until && broken == nullptr) {
      superviseOnce();
      ++passes;
      broken = brokenInvariant();
    }
  }
  countAllocations(false);
  ASSERT_EQ(broken, nullptr) << "broken after " << passes << " passes, at day "
                             << (fake::now() - t0) / kDay << ": " << broken;
  if (allocationsCountable()) {
    EXPECT_EQ(allocationsCounted(), 0);
  }
  EXPECT_EQ(totalTime, 100u * 1440);
  EXPECT_GT(restarts, 100);
  EXPECT_GT(noresponse, 100);
  EXPECT_GT(fake::dispatched(), 1000);
  std::printf("soak: %ld passes, %d restarts, %d forced restarts, %d starts, %d inputs\n", passes,
              restarts, noresponse, fake::starts(), fake::dispatched());
}
