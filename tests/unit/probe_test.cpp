#include <cstring>
#include <vector>

#include "unit/scenario.h"

// Seconds since start-up at which each probe went out, rounded down.
static std::vector<uint64_t> probeSeconds(uint64_t t0) {
  std::vector<uint64_t> seconds;
  for (int i = 0; i < fake::probes(); ++i) seconds.push_back((fake::probeAt(i) - t0) / 1000);
  return seconds;
}

TEST(Probe, ASilentChildIsReplacedAfterSixSilentPeriods) {
  ASSERT_TRUE(startMonitor("t.exe 40000 srv.exe"));
  const uint64_t t0 = fake::now();
  runUntil(t0 + 41500);
  // The first probe goes out at the first idle second, then one per period just over 8 s.
  EXPECT_EQ(probeSeconds(t0), (std::vector<uint64_t>{1, 9, 17, 25, 33}));
  EXPECT_EQ(fake::probeLength(0), 6);
  EXPECT_EQ(0, std::memcmp(fake::probeBytes(0), "\x0e\x00\x00\x00\x00\x00", 6));
  EXPECT_EQ(fake::probePort(0), 40000);
  EXPECT_EQ(noresponse, 1);  // the sixth period's end, at 41 s, sent no probe but restarted
  EXPECT_EQ(fake::terminations(), 1);
  EXPECT_EQ(fake::starts(), 2);
  EXPECT_EQ(restarts, 0);
  runUntil(t0 + 41000 + 48500);
  EXPECT_EQ(noresponse, 2);
  EXPECT_EQ(fake::probes(), 10);
  EXPECT_STREQ(fake::text(labelNoresponse), "NoResponse: 2");
  EXPECT_STREQ(fake::text(labelRestart), "Restarts: 0");
  EXPECT_EQ(fake::openHandles(), 1);
}

TEST(Probe, AForcedRestartShowsInTheSamePass) {
  ASSERT_TRUE(startMonitor("t.exe 40000 srv.exe"));
  fake::childAnswers(true);
  runFor(2 * 60000);
  fake::childAnswers(false);  // hangs after two minutes
  for (int pass = 0; pass < 100 && noresponse == 0; ++pass) superviseOnce();
  EXPECT_STREQ(fake::text(labelNoresponse), "NoResponse: 1");
  EXPECT_STREQ(fake::text(labelCurrent), "Time: 0 min");
  EXPECT_STREQ(fake::text(labelMax), "Max: 2 min");
}

TEST(Probe, APeriodEndsOnlyAfterMoreThanEightSeconds) {
  ASSERT_TRUE(startMonitor("t.exe 40000 srv.exe"));
  fake::datagramArrives(6);
  checkResponse();  // the reply starts a period now
  fake::advance(8000);
  checkResponse();
  EXPECT_EQ(fake::probes(), 0);
  fake::advance(1);
  checkResponse();
  EXPECT_EQ(fake::probes(), 1);
}

TEST(Probe, AnAnsweringChildIsNeverReplaced) {
  ASSERT_TRUE(startMonitor("t.exe 40000 srv.exe"));
  fake::childAnswers(true);
  runFor(3600 * 1000);
  EXPECT_EQ(noresponse, 0);
  EXPECT_EQ(fake::starts(), 1);
  EXPECT_GE(fake::probes(), 390);  // one per 8 s after each reply
}

TEST(Probe, AnyDatagramFromAnyoneIsASignOfLifeButAnOversizedOneIsNot) {
  ASSERT_TRUE(startMonitor("t.exe 40000 srv.exe"));
  const uint64_t t0 = fake::now();
  runUntil(t0 + 40000);  // five silent periods
  fake::datagramArrives(0);
  runUntil(t0 + 42000);
  EXPECT_EQ(sendCount, 0u);
  EXPECT_EQ(noresponse, 0);
  runUntil(t0 + 80000);  // five more; then one too long to be a reply
  fake::datagramArrives(257);
  runUntil(t0 + 90000);
  EXPECT_EQ(noresponse, 1);
  runFor(9000);
  ASSERT_EQ(sendCount, 1u);
  fake::datagramArrives(256);  // the largest that still counts
  runFor(1000);
  EXPECT_EQ(sendCount, 0u);
}

TEST(Probe, WaitingRepliesAreReadOnePerIdleSecond) {
  ASSERT_TRUE(startMonitor("t.exe 40000 srv.exe"));
  for (int i = 0; i < 3; ++i) fake::datagramArrives(6);
  runFor(1000);
  EXPECT_EQ(fake::datagramsWaiting(), 2);
  runFor(2000);
  EXPECT_EQ(fake::datagramsWaiting(), 0);
  EXPECT_EQ(fake::probes(), 0);  // each reply started a new period
}

TEST(Probe, NobodyListeningMeansARestartEveryFortyEightSeconds) {
  for (const char* line : {"t.exe 0 srv.exe", "t.exe 27961 srv.exe"}) {
    SCOPED_TRACE(line);
    ASSERT_TRUE(startMonitor(line));
    fake::childAnswers(true);  // the child listens on 40000
    const uint64_t t0 = fake::now();
    runUntil(t0 + 41000 + 3 * 48000 + 500);
    EXPECT_EQ(noresponse, 4);
    EXPECT_EQ(fake::starts(), 5);
  }
}

TEST(Probe, ThePortsLowSixteenBitsAreUsed) {
  ASSERT_TRUE(startMonitor("t.exe 99999999999 srv.exe"));
  runFor(1000);
  ASSERT_EQ(fake::probes(), 1);
  EXPECT_EQ(fake::probePort(0), 65535);
}

TEST(Probe, AFailedFirstStartIsRetriedByTheProbe) {
  fake::reset("t.exe 40000 srv.exe");
  fake::failStarts(2);
  ASSERT_TRUE(startUp(nullptr));
  const uint64_t t0 = fake::now();
  runUntil(t0 + 41500);
  EXPECT_EQ(noresponse, 1);  // the second attempt, failed too
  EXPECT_EQ(fake::terminations(), 0);
  EXPECT_EQ(fake::handleMisuse(), 0);
  runUntil(t0 + 41000 + 48500);
  EXPECT_EQ(noresponse, 2);
  EXPECT_EQ(fake::startAttempts(), 3);
  EXPECT_TRUE(fake::childRunning());
  EXPECT_EQ(restarts, 0);
}

TEST(Probe, NoProbeBeforeTheTickCounterPassesEightSeconds) {
  ASSERT_TRUE(startMonitor("t.exe 40000 srv.exe", 2000));
  runUntil(7000);
  EXPECT_EQ(fake::probes(), 0);
  runUntil(9100);
  ASSERT_EQ(fake::probes(), 1);
  EXPECT_EQ(fake::probeAt(0), 2000u + 6 * 1001);  // the first idle second past 8000
}

TEST(Probe, PeriodsKeepTheirLengthAcrossATickWrap) {
  const uint64_t wrap = uint64_t{1} << 32;
  ASSERT_TRUE(startMonitor("t.exe 40000 srv.exe", wrap - 20000));
  const uint64_t t0 = fake::now();
  runUntil(t0 + 41500);
  EXPECT_EQ(probeSeconds(t0),
            (std::vector<uint64_t>{1, 9, 17, 25, 33}));  // 25 and 33 after the wrap
  EXPECT_EQ(noresponse, 1);
}
