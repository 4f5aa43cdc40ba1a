// What the system does around the monitor: it gives the server less than asked for, and it ends
// the session.
#include <string>

#include "unit/scenario.h"

// What the line at `index` says happened: between its time and its texts.
static std::string what(int index) {
  const std::string text = fake::eventLine(index);
  return text.size() < 25 ? "" : text.substr(25, text.find(" | ") - 25);
}

TEST(System, AServerWithoutAJobIsToldOnceAndTheSessionsEndIsTheLastOfAnything) {
  fake::reset("t.exe 40000 srv.exe");
  fake::wantEventLines(true);
  fake::startWithout("a job of its own (error 5)");
  ASSERT_TRUE(startUp(nullptr));
  EXPECT_EQ(what(2), "the server runs without a job of its own (error 5)");
  fake::childRunsFor(20);  // a crash loop, whose latest counts are not told yet
  fake::endChildAt(fake::now() + 20);
  runFor(5000);
  const int starts = fake::starts();
  const int probes = fake::probes();
  const int ends = fake::childEndsSeen();
  fake::sessionEndUnderWay(true);
  fake::windowCalls().sessionEnding();
  ASSERT_EQ(fake::eventLines(), 11);  // the port; the lack, like each start, once; three ends
  EXPECT_EQ(what(9).substr(0, 28), "crash loop: ended by itself ");
  EXPECT_EQ(what(10), "session ending");
  runFor(60000);  // the server ends on its own notice; the system holds the window meanwhile
  fake::windowCalls().heldSecond();
  EXPECT_EQ(fake::starts(), starts);
  EXPECT_EQ(fake::probes(), probes);
  EXPECT_EQ(fake::terminations(), 0);
  EXPECT_EQ(fake::childEndsSeen(), ends + 1);  // the ended server is kept, but not waited on
  EXPECT_EQ(fake::handleMisuse(), 0);
  // A user cancels the shutdown: a few seconds later supervision resumes, the end told.
  fake::childRunsFor(fake::kNever);
  fake::sessionEndUnderWay(false);
  runFor(4000);
  EXPECT_EQ(fake::eventLines(), 11);
  runFor(2000);
  ASSERT_EQ(fake::eventLines(), 14);
  EXPECT_EQ(what(11), "session goes on");
  EXPECT_EQ(what(12), "ended by itself, exit code 0");
  EXPECT_EQ(what(13), "started, pid " + std::to_string(1001 + starts));
  // Told at once that the end was called off, the monitor resumes at once.
  fake::sessionEndUnderWay(true);
  fake::windowCalls().sessionEnding();
  fake::windowCalls().sessionGoesOn();
  fake::quitAt(fake::now());
  EXPECT_EQ(runLoop(), Outcome::quit);
  ASSERT_EQ(fake::eventLines(), 17);
  EXPECT_EQ(what(15), "session goes on");
  EXPECT_EQ(what(16), "quit");
  EXPECT_EQ(fake::openHandles(), 0);
}

TEST(System, AQuitAfterTheSessionsEndReopensTheRecordAndTellsAnEndSeenMeanwhile) {
  fake::reset("t.exe 40000 srv.exe");
  fake::wantEventLines(true);
  ASSERT_TRUE(startUp(nullptr));
  runFor(1000);
  fake::sessionEndUnderWay(true);
  fake::windowCalls().sessionEnding();
  fake::endChildAt(fake::now() + 100);  // on its own notice of the end
  runFor(1000);
  fake::quitAt(fake::now());  // an installer's close request: the session goes on
  EXPECT_EQ(runLoop(), Outcome::quit);
  ASSERT_EQ(fake::eventLines(), 6);
  EXPECT_EQ(what(2), "session ending");
  EXPECT_EQ(what(3), "session goes on");
  EXPECT_EQ(what(4), "ended by itself, exit code 0");
  EXPECT_EQ(what(5), "quit");
  EXPECT_EQ(fake::openHandles(), 0);
}
