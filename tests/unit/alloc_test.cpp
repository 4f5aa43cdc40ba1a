// The monitor allocates nothing once it runs: a heap that grows or fragments over months is a
// failure nobody sees until it is too late.
#include <cstdlib>

#include "unit/alloc_counter.h"
#include "unit/scenario.h"

TEST(Allocations, NoneInAMillionPassesWithRestartsAndProbes) {
  if (!allocationsCountable()) GTEST_SKIP() << "the sanitizer runtime owns malloc";
  ASSERT_TRUE(startMonitor("t.exe 40000 srv.exe"));
  fake::wantEventLines(true);      // the lines are made in fixed buffers too
  fake::childRunsFor(30 * 60000);  // later children end by themselves after half an hour
  fake::endChildAt(fake::now() + 100000);
  for (int i = 1; i <= 1000; ++i) fake::inputAt(fake::now() + i * 997);
  countAllocations(true);
  void* volatile probe = std::malloc(16);  // the counter itself works
  std::free(probe);
  ASSERT_EQ(allocationsCounted(), 1);
  countAllocations(true);
  for (int pass = 0; pass < 1000000; ++pass) {
    if (pass % 50000 == 0) fake::childAnswers(pass % 100000 == 0);
    if (pass % 7919 == 0) fake::datagramArrives(pass % 300);
    superviseOnce();
  }
  countAllocations(false);
  EXPECT_EQ(allocationsCounted(), 0);
  EXPECT_GT(restarts, 0);
  EXPECT_GT(noresponse, 0);
  EXPECT_GT(fake::probes(), 1000);
}
