// What the system does around the monitor: it ends the session, or gives the server less than
// the monitor asked for.
#include <string>

#include "unit/scenario.h"

// What the line at `index` says happened: between its time and its texts.
static std::string what(int index) {
  const std::string text = fake::eventLine(index);
  return text.size() < 25 ? "" : text.substr(25, text.find(" | ") - 25);
}

static bool startLogged(const char* commandLine) {
  fake::reset(commandLine);
  fake::wantEventLines(true);
  return startUp(nullptr);
}

TEST(System, AtTheSessionsEndTheRecordClosesAndNothingIsStartedProbedOrEndedAgain) {
  ASSERT_TRUE(startLogged("t.exe 40000 srv.exe"));
  fake::childRunsFor(20);  // a crash loop, whose latest counts are not told yet
  fake::endChildAt(fake::now() + 20);
  runFor(5000);
  const int starts = fake::starts();
  const int probes = fake::probes();
  fake::windowCalls().sessionEnding();
  const int lines = fake::eventLines();
  EXPECT_EQ(what(lines - 2).substr(0, 28), "crash loop: ended by itself ");
  EXPECT_EQ(what(lines - 1), "session ending");
  runFor(60000);  // the server ends on its own notice; the system holds the window meanwhile
  fake::windowCalls().heldSecond();
  EXPECT_EQ(fake::starts(), starts);
  EXPECT_EQ(fake::probes(), probes);
  EXPECT_EQ(fake::terminations(), 0);
  EXPECT_EQ(fake::openHandles(), 0);  // the ended server let go: no wait on it spins
  EXPECT_EQ(fake::handleMisuse(), 0);
  fake::quitAt(fake::now());
  EXPECT_EQ(runLoop(), 1);
  EXPECT_EQ(fake::eventLines(), lines);
}

TEST(System, WhatTheServerRunsWithoutIsToldAfterItsStartOnceUntilItChanges) {
  fake::reset("t.exe 40000 srv.exe");
  fake::wantEventLines(true);
  fake::startWithout("a job of its own (error 5)");
  ASSERT_TRUE(startUp(nullptr));
  EXPECT_EQ(what(1), "the server runs without a job of its own (error 5)");
  for (const char* lack : {"a job of its own (error 5)", "", "a job of its own (error 1)"}) {
    fake::startWithout(lack);
    fake::endChildAt(fake::now());
    superviseOnce();  // an end and a start, in a crash loop with no idle second between
  }
  ASSERT_EQ(fake::eventLines(), 9);  // the same lack again is no news; a new one is
  EXPECT_EQ(what(8), "the server runs without a job of its own (error 1)");
  fake::startWithout("a job of its own (error 2)");
  runFor(45000);  // silent: replaced
  ASSERT_EQ(fake::eventLines(), 12);
  EXPECT_EQ(what(9), "replaced after six silent probe periods");
  EXPECT_EQ(what(11), "the server runs without a job of its own (error 2)");
}
