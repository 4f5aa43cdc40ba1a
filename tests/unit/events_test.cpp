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
  ASSERT_EQ(fake::eventLines(), 2);
  EXPECT_EQ(
      line(1),
      "2026-12-01T00:01:40.000Z started, pid 1001 | Total: 0 min | Time: 0 min | Max: 0 min | "
      "Ave: 0 min | Restarts: 0 | NoResponse: 0");
  fake::childAnswers(true);
  fake::childExitsWith(7);
  fake::endChildAt(fake::now() + 61500);
  runFor(62000);
  ASSERT_EQ(fake::eventLines(), 4);
  EXPECT_EQ(line(2),
            "2026-12-01T00:02:41.500Z ended by itself, exit code 7 | Total: 1 min | Time: 0 min | "
            "Max: 1 min | Ave: 0 min | Restarts: 1 | NoResponse: 0");
  EXPECT_EQ(untimed(3),
            "started, pid 1002 | Total: 1 min | Time: 0 min | Max: 1 min | Ave: 0 min | "
            "Restarts: 1 | NoResponse: 0");
  fake::askForReport();
  superviseOnce();
  EXPECT_EQ(untimed(4),
            "status | Total: 1 min | Time: 0 min | Max: 1 min | Ave: 0 min | Restarts: 1 | "
            "NoResponse: 0");
  fake::quitAt(fake::now());
  EXPECT_EQ(runLoop(), Outcome::quit);
  EXPECT_EQ(what(5), "quit");
  EXPECT_EQ(fake::eventLines(), 6);
}

TEST(EventLines, ARestartThatKeepsFailingWritesOnceUntilSomethingChanges) {
  ASSERT_TRUE(startLogged("t.exe 40000 srv.exe"));
  fake::endChildAt(fake::now() + 100);
  fake::failStarts(1000);
  for (int pass = 0; pass < 1000; ++pass) superviseOnce();
  EXPECT_EQ(restarts, 1000);
  ASSERT_EQ(fake::eventLines(), 4);
  EXPECT_EQ(what(2), "ended by itself, exit code 0");
  EXPECT_EQ(what(3), "start failed: not found");
  fake::failStartsBecause("not executable");  // something changed
  fake::failStarts(5);
  for (int pass = 0; pass < 6; ++pass) superviseOnce();
  ASSERT_EQ(fake::eventLines(), 8);  // the retries so far are counted before what is new
  EXPECT_EQ(what(4).substr(0, 60), "crash loop: ended by itself 0 times, start failed 999 times,");
  EXPECT_EQ(what(5), "start failed: not executable");
  EXPECT_EQ(what(7), "started, pid 1002");
  fake::endChildAt(fake::now());
  fake::failStarts(3);
  for (int pass = 0; pass < 3; ++pass) superviseOnce();
  ASSERT_EQ(fake::eventLines(), 10);  // after a success the same failure is news again
  EXPECT_EQ(what(8), "ended by itself, exit code 0");
  EXPECT_EQ(what(9), "start failed: not executable");
}

TEST(EventLines, ReplacementsAndAProgramThatNeverStarts) {
  ASSERT_TRUE(startLogged("t.exe 40000 srv.exe"));
  runFor(41500);
  ASSERT_EQ(fake::eventLines(), 4);
  EXPECT_EQ(untimed(2),
            "replaced after six silent probe periods | Total: 0 min | Time: 0 min | Max: 0 min | "
            "Ave: 0 min | Restarts: 0 | NoResponse: 1");
  EXPECT_EQ(what(3), "started, pid 1002");

  fake::reset("t.exe 40000 missing.exe");
  fake::wantEventLines(true);
  fake::failStarts(-1);
  ASSERT_TRUE(startUp(nullptr));
  runFor(5 * 48000);  // the probe retries the start about every 48 s
  EXPECT_EQ(noresponse, 5);
  ASSERT_EQ(fake::eventLines(), 2);
  EXPECT_EQ(untimed(1),
            "start failed: not found | Total: 0 min | Time: 0 min | Max: ? | Ave: 0 min | "
            "Restarts: 0 | NoResponse: 0");
}

TEST(EventLines, AWindowedMonitorWritesOnlyWhatIsAskedFor) {
  ASSERT_TRUE(startMonitor("t.exe 40000 srv.exe"));
  fake::endChildAt(fake::now() + 100);
  fake::failStarts(3);
  runFor(45000);
  EXPECT_EQ(fake::eventLines(), 0);
  fake::askForReport();
  fake::inputAt(fake::now());  // queued behind the request: served in the same pass
  superviseOnce();
  ASSERT_EQ(fake::eventLines(), 1);
  EXPECT_EQ(what(0), "status");
  EXPECT_EQ(fake::dispatched(), 1);
  fake::quitAt(fake::now());
  EXPECT_EQ(runLoop(), Outcome::quit);
  EXPECT_EQ(fake::eventLines(), 1);

  fake::reset("t.exe 40000 srv.exe");
  fake::runWithoutDisplay();  // nothing else shows the texts
  ASSERT_TRUE(startUp(nullptr));
  EXPECT_EQ(what(1), "started, pid 1001");
}

TEST(EventLines, ALogThatCannotTakeALineCostsTheLineAndTheNextOneSaysSo) {
  ASSERT_TRUE(startLogged("t.exe 40000 srv.exe"));
  fake::refuseEventLines(3);
  fake::askForReport();
  superviseOnce();  // refused: the status line
  fake::endChildAt(fake::now());
  superviseOnce();  // refused: the end and the restart
  fake::askForReport();
  superviseOnce();
  ASSERT_EQ(fake::eventLines(), 3);
  EXPECT_EQ(what(2), "status (3 lines dropped before this one)");
  fake::askForReport();
  superviseOnce();
  EXPECT_EQ(what(3), "status");
  fake::refuseEventLines(1);
  fake::askForReport();
  superviseOnce();  // refused: one line
  fake::askForReport();
  superviseOnce();
  EXPECT_EQ(what(4), "status (1 line dropped before this one)");
}

// Sums what the lines say of ends by themselves, one for each full line.
static int endsTold() {
  int ends = 0;
  for (int i = 0; i < fake::eventLines(); ++i) {
    const std::string w = what(i);
    if (w.rfind("ended by itself, ", 0) == 0) ++ends;
    const size_t counted = w.find(": ended by itself ");
    if (counted != std::string::npos) ends += std::stoi(w.substr(counted + 18));
  }
  return ends;
}

TEST(EventLines, ACrashLoopIsWrittenInFullAtFirstThenSummedUpEveryTenSeconds) {
  ASSERT_TRUE(startLogged("t.exe 40000 srv.exe"));
  fake::childRunsFor(20);
  fake::childExitsWith(3);
  fake::endChildAt(fake::now() + 20);
  runFor(35000);
  EXPECT_GT(restarts, 1500);
  ASSERT_EQ(fake::eventLines(), 11);  // the first start, three ends and starts, three summaries
  EXPECT_EQ(what(6), "ended by itself, exit code 3");
  EXPECT_EQ(what(8).substr(0, 28), "crash loop: ended by itself ");
  EXPECT_NE(
      what(9).find(" 500 times, started 500 times since the last line; last end: exit code 3"),
      std::string::npos);
  fake::childRunsFor(fake::kNever);
  runFor(12000);
  ASSERT_EQ(fake::eventLines(), 12);
  EXPECT_EQ(what(11).substr(0, 40), "running steadily again: ended by itself ");
  EXPECT_EQ(endsTold(), restarts);  // each end told once, in full or in a count
  fake::endChildAt(fake::now());
  superviseOnce();
  EXPECT_EQ(what(12), "ended by itself, exit code 3");  // in full again

  ASSERT_TRUE(startLogged("t.exe 40000 srv.exe"));
  fake::childAnswers(true);
  fake::childRunsFor(30000);  // a slow loop: every line
  fake::endChildAt(fake::now() + 30000);
  runFor(300500);
  EXPECT_EQ(restarts, 10);
  EXPECT_EQ(fake::eventLines(), 22);
  EXPECT_EQ(endsTold(), restarts);
}

TEST(EventLines, WhatBreaksACrashLoopIsToldAfterTheCountsSoFar) {
  ASSERT_TRUE(startLogged("t.exe 40000 srv.exe"));
  fake::childRunsFor(20);
  fake::endChildAt(fake::now() + 20);
  runFor(5000);
  fake::failStarts(-1);
  for (int pass = 0; pass < 50; ++pass) superviseOnce();
  fake::quitAt(fake::now());
  EXPECT_EQ(runLoop(), Outcome::quit);
  ASSERT_EQ(fake::eventLines(), 12);
  EXPECT_EQ(what(8).substr(0, 28), "crash loop: ended by itself ");
  EXPECT_EQ(what(9), "start failed: not found");
  EXPECT_EQ(what(10).substr(0, 59), "crash loop: ended by itself 0 times, start failed 48 times,");
  EXPECT_EQ(what(11), "quit");
  EXPECT_EQ(endsTold(), restarts - 49);  // 49 failed restarts retried; the last was not
}
