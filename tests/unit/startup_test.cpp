#include <string>

#include "unit/scenario.h"

TEST(StartUp, RunsItsStepsInOrderAndShowsTheFirstRefresh) {
  ASSERT_TRUE(startMonitor("tolvane.exe 40000  \"C:\\srv\\my server.exe\" -opt  x"));
  EXPECT_STREQ(fake::trace(), "class network socket bind nonblock start window show refresh");
  EXPECT_STREQ(fake::lastCommand(), " \"C:\\srv\\my server.exe\" -opt  x");
  EXPECT_STREQ(program, "Program:  \"C:\\srv\\my server.exe\" -opt  x");
  EXPECT_EQ(port, 40000);
  EXPECT_TRUE(fake::windowShown());
  EXPECT_STREQ(fake::text(labelTotal), "Total: 0 min");
  EXPECT_STREQ(fake::text(labelCurrent), "Time: 0 min");
  EXPECT_STREQ(fake::text(labelMax), "Max: 0 min");
  EXPECT_STREQ(fake::text(labelAve), "Ave: 0 min");
  EXPECT_STREQ(fake::text(labelRestart), "Restarts: 0");
  EXPECT_STREQ(fake::text(labelNoresponse), "NoResponse: 0");
}

TEST(StartUp, BadCommandLinesStartNothingAndSayWhy) {
  const std::string tooLong = "tolvane.exe 40000 " + std::string(2048, 'x');
  const struct {
    const char* line;
    const char* why;
  } cases[] = {
      {"tolvane.exe", "no port and no command line"},
      {"tolvane.exe 40000", "nothing after the port"},
      {"tolvane.exe 40000 ", "nothing after the port"},
      {"tolvane.exe \t40000", "nothing after the port"},
      {"\"C:\\Program Files\\tolvane.exe 40000 srv.exe", "no port and no command line"},
      {tooLong.c_str(), "the server's command line is longer than 2047 characters"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    fake::reset(c.line);
    EXPECT_EQ(runMonitor(nullptr), Outcome::refusedCommandLine);
    EXPECT_STREQ(fake::refusal(), c.why);
    EXPECT_EQ(fake::startAttempts(), 0);
    EXPECT_FALSE(fake::windowShown());
    // A port word the platform refuses is the reason once there is a tail at all.
    fake::reset(c.line);
    fake::refusePorts("no port word");
    EXPECT_EQ(runMonitor(nullptr), Outcome::refusedCommandLine);
    EXPECT_STREQ(fake::refusal(), commandTail(c.line)[0] == '\0' ? c.why : "no port word");
  }
}

TEST(StartUp, EachFailingStepEndsStartUpBeforeTheNext) {
  const struct {
    const char* step;
    const char* trace;
    const char* why;
  } cases[] = {
      {"class", "class", "the window class could not be registered"},
      {"socket", "class network socket", "no UDP socket"},
      {"bind", "class network socket bind", "the UDP socket could not be bound to 127.0.0.1"},
      {"nonblock", "class network socket bind nonblock",
       "the UDP socket could not be made non-blocking"},
      {"window", "class network socket bind nonblock start window terminate",
       "no window could be made"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.step);
    fake::reset("tolvane.exe 40000 srv.exe");
    fake::failStep(c.step);
    EXPECT_FALSE(startUp(nullptr));
    EXPECT_STREQ(fake::trace(), c.trace);
    EXPECT_FALSE(fake::childRunning());  // no server is left without its monitor
    EXPECT_EQ(fake::openHandles(), 0);
    EXPECT_EQ(runMonitor(nullptr), Outcome::failedStartUp);
    EXPECT_STREQ(fake::refusal(), c.why);
  }
}

TEST(StartUp, AFirstWordThatIsNoNumberStillStartsTheChild) {
  ASSERT_TRUE(startMonitor("tolvane.exe srv.exe -port 40000"));
  EXPECT_EQ(port, 0);
  EXPECT_STREQ(fake::lastCommand(), "-port 40000");
  EXPECT_EQ(fake::starts(), 1);
}

TEST(StartUp, QuitTerminatesTheChildAndEndsTheRunAsAQuit) {
  fake::reset("tolvane.exe 40000 srv.exe");
  fake::quitAt(fake::now() + 5500);
  EXPECT_EQ(runMonitor(nullptr), Outcome::quit);
  EXPECT_EQ(fake::terminations(), 1);
  EXPECT_FALSE(fake::childRunning());
  EXPECT_EQ(fake::openHandles(), 0);
}
