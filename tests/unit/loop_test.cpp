#include <string>
#include <vector>

#include "unit/scenario.h"

TEST(Loop, ChildEndRestartsCountsAndRefreshes) {
  ASSERT_TRUE(startMonitor("t.exe 40000 srv.exe"));
  const uint64_t t0 = fake::now();
  fake::endChildAt(t0 + 300);
  superviseOnce();
  EXPECT_EQ(fake::now(), t0 + 300);  // woken by the end, not by the time-out
  EXPECT_EQ(fake::starts(), 2);
  EXPECT_EQ(restarts, 1);
  EXPECT_STREQ(fake::text(labelRestart), "Restarts: 1");
  EXPECT_EQ(fake::openHandles(), 1);  // the ended child's handle went with its successor
}

TEST(Loop, InputIsServedWithoutRefreshOrProbe) {
  ASSERT_TRUE(startMonitor("t.exe 40000 srv.exe", 5000));  // too early for a first probe
  const uint64_t t0 = fake::now();
  for (int i = 0; i < 3; ++i) fake::inputAt(t0 + 200);
  fake::inputAt(t0 + 900);
  superviseOnce();  // woken by the three messages
  superviseOnce();  // serves all three at once, then is woken by the fourth
  EXPECT_EQ(fake::dispatched(), 3);
  EXPECT_EQ(fake::now(), t0 + 900);
  EXPECT_EQ(totalCount, static_cast<uint32_t>(t0));  // no refresh since start-up
  superviseOnce();                                   // serves the fourth; then a full second passes
  EXPECT_EQ(fake::dispatched(), 4);
  EXPECT_EQ(fake::now(), t0 + 1901);
  EXPECT_EQ(totalCount, static_cast<uint32_t>(t0 + 1901));
  EXPECT_EQ(restarts, 0);
  EXPECT_EQ(fake::probes(), 0);
}

TEST(Loop, IdleSecondsProbeAndRefreshHandingOverAllRowsOnlyWhenOneChanged) {
  ASSERT_TRUE(startMonitor("t.exe 40000 srv.exe"));
  const uint64_t t0 = fake::now();
  EXPECT_EQ(fake::textWrites(), 6);  // the first refresh replaces every caption
  fake::childAnswers(true);
  runFor(3000);
  EXPECT_EQ(fake::now(), t0 + 3003);
  EXPECT_EQ(totalCount, static_cast<uint32_t>(t0 + 3003));  // refreshed on each idle second
  EXPECT_EQ(fake::probes(), 1);
  EXPECT_EQ(fake::textWrites(), 6);
  // The rows overlap: whichever changed (a minute turning, a restart counted), all six go
  // again, in order, or a repainted row covers the start of the one beside it.
  fake::endChildAt(t0 + 30000);
  while (fake::now() < t0 + 10 * 60000) {
    const int before = fake::textWrites();
    superviseOnce();
    if (fake::textWrites() != before) ASSERT_STREQ(fake::refreshedRows(), "012345");
  }
  // A refresh for the restart, then two a minute: Total and Ave turn, then Time and Max.
  EXPECT_EQ(fake::textWrites(), 6 + 6 * (1 + 2 * 9 + 1));
  EXPECT_STREQ(fake::text(labelAve), "Ave: 5 min");  // ten minutes over two runs
  EXPECT_STREQ(fake::text(labelRestart), "Restarts: 1");
}

TEST(Loop, AFailedWaitOnlyRefreshes) {
  ASSERT_TRUE(startMonitor("t.exe 40000 srv.exe"));
  fake::advance(500);  // the window kept the loop busy
  fake::failWaits(1);
  superviseOnce();
  EXPECT_EQ(totalCount, static_cast<uint32_t>(fake::now()));
  EXPECT_EQ(fake::probes(), 0);
  EXPECT_EQ(restarts, 0);
}

TEST(Loop, AFailingRestartIsRetriedAtOnceAndEveryAttemptCounts) {
  ASSERT_TRUE(startMonitor("t.exe 40000 srv.exe"));
  fake::endChildAt(fake::now() + 100);
  fake::failStarts(3);
  for (int pass = 0; pass < 4; ++pass) superviseOnce();
  EXPECT_EQ(fake::startAttempts(), 5);
  EXPECT_EQ(fake::starts(), 2);
  EXPECT_EQ(restarts, 4);
  EXPECT_EQ(fake::openHandles(), 1);
  EXPECT_EQ(fake::handleMisuse(), 0);
  EXPECT_TRUE(fake::childRunning());
}

TEST(Loop, WithoutAChildInputIsServedNotCounted) {
  fake::reset("t.exe 40000 srv.exe");
  fake::failStarts(-1);
  ASSERT_TRUE(startUp(nullptr));
  EXPECT_EQ(numHandles, 0);
  for (int i = 1; i <= 5; ++i) fake::inputAt(fake::now() + i * 100);
  runFor(2000);
  EXPECT_EQ(fake::dispatched(), 5);
  EXPECT_EQ(restarts, 0);
  EXPECT_EQ(fake::startAttempts(), 1);
  EXPECT_EQ(fake::handleMisuse(), 0);
  EXPECT_STREQ(fake::text(labelMax), "Max: ?");
  EXPECT_STREQ(fake::text(labelCurrent), "Time: 0 min");

  fake::quitAt(fake::now() + 10);
  EXPECT_EQ(runLoop(), Outcome::quit);  // nothing to terminate, nothing misused
  EXPECT_EQ(fake::terminations(), 0);
  EXPECT_EQ(fake::handleMisuse(), 0);
}

TEST(Loop, AForcedStopWhoseRestartFailsWaitsOnInputAloneUntilTheProbeRetries) {
  ASSERT_TRUE(startMonitor("t.exe 40000 srv.exe"));
  const uint64_t t0 = fake::now();
  runUntil(t0 + 40000);  // five silent periods so far
  fake::failStarts(1);
  runUntil(t0 + 41500);  // the sixth: terminated, restart fails
  EXPECT_EQ(noresponse, 1);
  EXPECT_FALSE(childOpen);
  EXPECT_EQ(numHandles, 1);
  fake::inputAt(fake::now() + 300);
  runUntil(t0 + 90000);  // the next forced restart, 48 s later, starts it again
  EXPECT_EQ(noresponse, 2);
  EXPECT_TRUE(fake::childRunning());
  EXPECT_EQ(fake::dispatched(), 1);
  EXPECT_EQ(restarts, 0);
  EXPECT_EQ(fake::handleMisuse(), 0);
  EXPECT_EQ(fake::openHandles(), 1);
}

TEST(Loop, ALongCrashLoopHoldsOneHandle) {
  ASSERT_TRUE(startMonitor("t.exe 40000 srv.exe"));
  fake::childRunsFor(0);  // every later child ends the moment it starts
  fake::endChildAt(fake::now());
  for (int pass = 0; pass < 100000; ++pass) superviseOnce();
  EXPECT_EQ(fake::starts(), 100001);
  EXPECT_EQ(restarts, 100000);
  EXPECT_EQ(fake::openHandles(), 1);
  EXPECT_EQ(fake::handleMisuse(), 0);
}

// Restarts every 7 ms for 10 s: the window is handed its rows about ten times a second, never
// more, and the count it shows was the latest at most kRowsPeriod ago, also once the loop stops,
// and across the tick counter's wrap 3 s in.
TEST(Loop, ACrashLoopHandsTheWindowItsRowsTenTimesASecondTheLatestWithinAPeriod) {
  ASSERT_TRUE(startMonitor("t.exe 40000 srv.exe", (uint64_t{1} << 32) - 3000));
  const uint64_t t0 = fake::now();
  const int before = fake::textWrites();
  fake::childRunsFor(7);
  fake::endChildAt(t0 + 7);
  std::vector<uint64_t> replacedAt;  // by count: when the next count replaced it
  for (uint64_t look = t0; look < t0 + 11000; look += 30) fake::inputAt(look);  // a look each 30 ms
  while (fake::now() < t0 + 11000) {
    if (fake::now() >= t0 + 10000) fake::childRunsFor(fake::kNever);  // the loop stops
    superviseOnce();
    replacedAt.resize(restarts, fake::now());
    const int shown = std::stoi(std::string(fake::text(labelRestart)).substr(10));
    if (shown != restarts) ASSERT_LE(fake::now() - replacedAt[shown], kRowsPeriod);
  }
  EXPECT_GT(restarts, 1400);
  EXPECT_STREQ(fake::text(labelRestart), ("Restarts: " + std::to_string(restarts)).c_str());
  const int handedOver = (fake::textWrites() - before) / kStatusLabels;
  EXPECT_GE(handedOver, 95);
  EXPECT_LE(handedOver, 102);
}
