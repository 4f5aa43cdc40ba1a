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
  EXPECT_EQ(what(1), "the server runs without a job of its own (error 5)");
  fake::childRunsFor(20);  // a crash loop, whose latest counts are not told yet
  fake::endChildAt(fake::now() + 20);
  runFor(5000);
  const int starts = fake::starts();
  const int probes = fake::probes();
  fake::windowCalls().sessionEnding();
  ASSERT_EQ(fake::eventLines(), 10);  // the lack, like each start, once; three ends in full
  EXPECT_EQ(what(8).substr(0, 28), "crash loop: ended by itself ");
  EXPECT_EQ(what(9), "session ending");
  runFor(60000);  // the server ends on its own notice; the system holds the window meanwhile
  fake::windowCalls().heldSecond();
  EXPECT_EQ(fake::starts(), starts);
  EXPECT_EQ(fake::probes(), probes);
  EXPECT_EQ(fake::terminations(), 0);
  EXPECT_EQ(fake::openHandles(), 0);  // the ended server let go: no wait on it spins
  EXPECT_EQ(fake::handleMisuse(), 0);
  fake::quitAt(fake::now());
  EXPECT_EQ(runLoop(), Outcome::quit);
  EXPECT_EQ(fake::eventLines(), 10);
}
