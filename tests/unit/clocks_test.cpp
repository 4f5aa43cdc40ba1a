#include "unit/scenario.h"

// Refreshes at chosen moments, as if the loop woke then.
static void refreshAt(uint64_t at) {
  fake::advance(at - fake::now());
  updateWindow();
}

TEST(Clocks, WholeMinutesWithMillisecondsCarriedOver) {
  ASSERT_TRUE(startMonitor("t.exe 40000 srv.exe"));
  const uint64_t t0 = fake::now();
  refreshAt(t0 + 59999);
  EXPECT_EQ(totalTime, 0u);
  EXPECT_STREQ(fake::text(labelTotal), "Total: 0 min");
  refreshAt(t0 + 60000);
  EXPECT_EQ(totalTime, 1u);
  EXPECT_EQ(curTime, 1u);
  for (int i = 1; i <= 9; ++i) refreshAt(t0 + 60000 + i * 40000);  // 6 minutes more
  EXPECT_EQ(totalTime, 7u);
  EXPECT_EQ(totalTicks, 0u);
  EXPECT_STREQ(fake::text(labelMax), "Max: 7 min");
}

TEST(Clocks, ATickWrapBetweenRefreshesNeitherLosesNorAddsTime) {
  const uint64_t wrap = uint64_t{1} << 32;
  ASSERT_TRUE(startMonitor("t.exe 40000 srv.exe", wrap - 30000));
  refreshAt(wrap + 29999);
  EXPECT_EQ(totalTime, 0u);
  refreshAt(wrap + 30000);
  EXPECT_EQ(totalTime, 1u);
  EXPECT_EQ(curTime, 1u);
  runFor(10 * 60000);  // the loop's own refreshes, across nothing special
  EXPECT_EQ(totalTime, 11u);
}

TEST(Clocks, CurrentRunRestartsWithEachSuccessfulStartOnly) {
  ASSERT_TRUE(startMonitor("t.exe 40000 srv.exe"));
  const uint64_t t0 = fake::now();
  fake::childAnswers(true);
  fake::endChildAt(t0 + 5 * 60000 + 500);
  fake::failStarts(2);  // two attempts fail; the third, at once, succeeds
  runUntil(t0 + 5 * 60000 + 600);
  EXPECT_EQ(restarts, 3);
  EXPECT_EQ(curTime, 0u);
  EXPECT_EQ(maxTime, 5);
  runUntil(t0 + 8 * 60000 + 600);
  EXPECT_EQ(curTime, 3u);
  EXPECT_EQ(maxTime, 5);  // the longest run is kept
  EXPECT_EQ(totalTime, 8u);
  runUntil(t0 + 11 * 60000 + 600);
  EXPECT_EQ(maxTime, 6);  // and follows the run in progress once it is longer
  EXPECT_STREQ(fake::text(labelCurrent), "Time: 6 min");
}

TEST(Clocks, WithoutAnyChildTheCurrentRunStaysAtZero) {
  fake::reset("t.exe 40000 srv.exe", 3 * 86400000ull);  // booted days ago
  fake::failStarts(-1);
  ASSERT_TRUE(startUp(nullptr));
  runFor(5 * 60000);
  EXPECT_EQ(curTime, 0u);
  EXPECT_EQ(totalTime, 5u);
  EXPECT_EQ(maxTime, kNoValue);
  EXPECT_STREQ(fake::text(labelMax), "Max: ?");
}

TEST(Clocks, AverageIsTotalOverRunsCutTowardZero) {
  ASSERT_TRUE(startMonitor("t.exe 40000 srv.exe"));
  totalTime = 8;
  EXPECT_EQ(averageRun(), 8u);
  restarts = 1;
  noresponse = 1;
  EXPECT_EQ(averageRun(), 2u);
  fake::advance(kRowsPeriod);  // the window takes its rows at most this often
  showStatus();
  EXPECT_STREQ(fake::text(labelAve), "Ave: 2 min");
  restarts = -1;  // both counters wrapped: 2^32 runs
  noresponse = 0;
  EXPECT_EQ(averageRun(), 0u);
  restarts = 2147483647;
  countUp(restarts);
  EXPECT_EQ(restarts, -2147483647 - 1);
}
