#include <string>

#include "unit/scenario.h"

TEST(Status, FormatTimeInDaysHoursAndMinutes) {
  EXPECT_STREQ(formatTime(0), "0 min");
  EXPECT_STREQ(formatTime(59), "59 min");
  EXPECT_STREQ(formatTime(60), "1 hr 0 min");
  EXPECT_STREQ(formatTime(1439), "23 hr 59 min");
  EXPECT_STREQ(formatTime(1440), "1 day 0 hr 0 min");
  EXPECT_STREQ(formatTime(2 * 1440 + 2 * 60 + 4), "2 day 2 hr 4 min");
  EXPECT_STREQ(formatTime(4294967295u), "2982616 day 4 hr 15 min");
}

TEST(Status, RowsShowClocksAndCounters) {
  ASSERT_TRUE(startMonitor("t.exe 40000 srv.exe"));
  totalTime = 3 * 1440 + 1;
  curTime = 61;
  maxTime = 1441;
  restarts = 4;
  noresponse = 2;
  fake::advance(kRowsPeriod);  // the window takes its rows at most this often
  showStatus();
  EXPECT_STREQ(fake::text(labelTotal), "Total: 3 day 0 hr 1 min");
  EXPECT_STREQ(fake::text(labelCurrent), "Time: 1 hr 1 min");
  EXPECT_STREQ(fake::text(labelMax), "Max: 1 day 0 hr 1 min");
  EXPECT_STREQ(fake::text(labelAve), "Ave: 10 hr 17 min");  // 4321 / 7 = 617.28...
  EXPECT_STREQ(fake::text(labelRestart), "Restarts: 4");
  EXPECT_STREQ(fake::text(labelNoresponse), "NoResponse: 2");
  restarts = -5;  // after a wrap the count shows as the window's signed number
  fake::advance(kRowsPeriod);
  showStatus();
  EXPECT_STREQ(fake::text(labelRestart), "Restarts: -5");
}
