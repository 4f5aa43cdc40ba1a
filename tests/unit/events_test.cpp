// Event lines: what an operator without a window reads in a service log.
#include <string>

#include "unit/scenario.h"

static std::string line(int index) { return fake::eventLine(index); }

// What a line says happened: between its time and its texts.
static std::string what(int index) {
  const std::string text = line(index);
  return text.size() < 25 ? "" : text.substr(25, text.find(" | ") - 25);
}

// A line without its time.
static std::string untimed(int index) { return line(index).substr(25); }

// Starts a monitor whose operator reads event lines.
static bool startLogged(const char* commandLine) {
  fake::reset(commandLine);
  fake::wantEventLines(true);
  return startUp(nullptr);
}

TEST(EventLines, TimesAreIsoUtcToTheMillisecond) {
  char text[32];
  formatUtc(0, text, sizeof text);
  EXPECT_STREQ(text, "1970-01-01T00:00:00.000Z");
  formatUtc(951868799999, text, sizeof text);
  EXPECT_STREQ(text, "2000-02-29T23:59:59.999Z");  // a leap day of a century year
  formatUtc(4107542400000, text, sizeof text);
  EXPECT_STREQ(text, "2100-03-01T00:00:00.000Z");  // 2100 has no 29 February
  formatUtc(253402300799000, text, sizeof text);
  EXPECT_STREQ(text, "9999-12-31T23:59:59.000Z");
}

TEST(EventLines, EachStartAndEndIsOneLineEndingWithTheTextsItCaused) {
  ASSERT_TRUE(startLogged("t.exe 40000 srv.exe"));
  ASSERT_EQ(fake::eventLines(), 1);
  EXPECT_EQ(
      line(0),
      "2026-12-01T00:01:40.000Z started, pid 1001 | Total: 0 min | Time: 0 min | Max: 0 min | "
      "Ave: 0 min | Restarts: 0 | NoResponse: 0");
  fake::childAnswers(true);
  fake::childExitsWith(7);
  fake::endChildAt(fake::now() + 61500);
  runFor(62000);
  ASSERT_EQ(fake::eventLines(), 3);
  EXPECT_EQ(line(1),
            "2026-12-01T00:02:41.500Z ended by itself, exit code 7 | Total: 1 min | Time: 0 min | "
            "Max: 1 min | Ave: 0 min | Restarts: 1 | NoResponse: 0");
  EXPECT_EQ(untimed(2),
            "started, pid 1002 | Total: 1 min | Time: 0 min | Max: 1 min | Ave: 0 min | "
            "Restarts: 1 | NoResponse: 0");
  fake::askForReport();
  superviseOnce();
  EXPECT_EQ(untimed(3),
            "status | Total: 1 min | Time: 0 min | Max: 1 min | Ave: 0 min | Restarts: 1 | "
            "NoResponse: 0");
  fake::quitAt(fake::now());
  EXPECT_EQ(runLoop(), 1);
  EXPECT_EQ(what(4), "quit");
  EXPECT_EQ(fake::eventLines(), 5);
}

TEST(EventLines, ARestartThatKeepsFailingWritesOnceUntilSomethingChanges) {
  ASSERT_TRUE(startLogged("t.exe 40000 srv.exe"));
  fake::endChildAt(fake::now() + 100);
  fake::failStarts(1000);
  for (int pass = 0; pass < 1000; ++pass) superviseOnce();
  EXPECT_EQ(restarts, 1000);
  ASSERT_EQ(fake::eventLines(), 3);
  EXPECT_EQ(what(1), "ended by itself, exit code 0");
  EXPECT_EQ(what(2), "start failed: not found");
  fake::failStartsBecause("not executable");  // something changed
  fake::failStarts(5);
  for (int pass = 0; pass < 6; ++pass) superviseOnce();
  ASSERT_EQ(fake::eventLines(), 5);
  EXPECT_EQ(what(3), "start failed: not executable");
  EXPECT_EQ(what(4), "started, pid 1002");
  fake::endChildAt(fake::now());
  fake::failStarts(3);
  for (int pass = 0; pass < 3; ++pass) superviseOnce();
  ASSERT_EQ(fake::eventLines(), 7);  // after a success the same failure is news again
  EXPECT_EQ(what(5), "ended by itself, exit code 0");
  EXPECT_EQ(what(6), "start failed: not executable");
}

TEST(EventLines, ReplacementsAndAProgramThatNeverStarts) {
  ASSERT_TRUE(startLogged("t.exe 40000 srv.exe"));
  runFor(41500);
  ASSERT_EQ(fake::eventLines(), 3);
  EXPECT_EQ(untimed(1),
            "replaced after six silent probe periods | Total: 0 min | Time: 0 min | Max: 0 min | "
            "Ave: 0 min | Restarts: 0 | NoResponse: 1");
  EXPECT_EQ(what(2), "started, pid 1002");

  fake::reset("t.exe 40000 missing.exe");
  fake::wantEventLines(true);
  fake::failStarts(-1);
  ASSERT_TRUE(startUp(nullptr));
  runFor(5 * 48000);  // the probe retries the start about every 48 s
  EXPECT_EQ(noresponse, 5);
  ASSERT_EQ(fake::eventLines(), 1);
  EXPECT_EQ(untimed(0),
            "start failed: not found | Total: 0 min | Time: 0 min | Max: ? | Ave: 0 min | "
            "Restarts: 0 | NoResponse: 0");
}

TEST(EventLines, AWindowedMonitorWritesOnlyWhatIsAskedFor) {
  ASSERT_TRUE(startMonitor("t.exe 40000 srv.exe"));
  fake::endChildAt(fake::now() + 100);
  runFor(45000);
  EXPECT_EQ(fake::eventLines(), 0);
  fake::askForReport();
  fake::inputAt(fake::now());  // queued behind the request: served in the same pass
  superviseOnce();
  ASSERT_EQ(fake::eventLines(), 1);
  EXPECT_EQ(what(0), "status");
  EXPECT_EQ(fake::dispatched(), 1);
}
