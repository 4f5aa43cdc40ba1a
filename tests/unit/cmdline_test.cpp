#include <climits>
#include <string>

#include "unit/scenario.h"

TEST(CommandLine, TailSkipsTheProgramName) {
  EXPECT_STREQ(commandTail("tolvane.exe 40000 srv.exe"), "40000 srv.exe");
  EXPECT_STREQ(commandTail("\"C:\\Program Files\\tolvane.exe\" 1 a"), "1 a");
  EXPECT_STREQ(commandTail("tol\"va ne\".exe 1 a"), "1 a");               // quotes inside the name
  EXPECT_STREQ(commandTail("tolvane.exe\t1 a"), "1 a");                   // a tab ends the name too
  EXPECT_STREQ(commandTail("\"C:\\Program Files\\tolvane.exe 1 a"), "");  // never closed
  EXPECT_STREQ(commandTail("tolvane.exe"), "");
  // The run after the name loses control characters, spaces and bytes from 128 up, but
  // only that run.
  EXPECT_STREQ(commandTail("t.exe \x01\x1f \x80\xe9\xff"
                           "40000 a\x01 \xe9"),
               "40000 a\x01 \xe9");
}

TEST(CommandLine, PortReadsLikeAtoiButHoldsAtTheLimits) {
  EXPECT_EQ(parsePort("40000 srv.exe"), 40000);
  EXPECT_EQ(parsePort(" \t\n\v\f\r+42x"), 42);
  EXPECT_EQ(parsePort("-1 a"), -1);
  EXPECT_EQ(parsePort("srv.exe 40000"), 0);
  EXPECT_EQ(parsePort("+-5"), 0);
  EXPECT_EQ(parsePort("0x1F"), 0);  // decimal only
  EXPECT_EQ(parsePort("2147483647"), INT_MAX);
  EXPECT_EQ(parsePort("2147483648"), INT_MAX);
  EXPECT_EQ(parsePort("99999999999999999999999 a"), INT_MAX);  // no wrap, however long
  EXPECT_EQ(parsePort("-2147483648"), INT_MIN);
  EXPECT_EQ(parsePort("-99999999999"), INT_MIN);
  EXPECT_EQ(static_cast<uint16_t>(parsePort("99999999999")), 65535);
  EXPECT_EQ(static_cast<uint16_t>(parsePort("-99999999999")), 0);
}

TEST(CommandLine, ChildCommandIsAllAfterTheFirstSpace) {
  EXPECT_EQ(childCommand("40000"), nullptr);
  EXPECT_EQ(childCommand(""), nullptr);
  EXPECT_EQ(childCommand("40000 "), nullptr);
  EXPECT_STREQ(childCommand("40000  srv.exe"), " srv.exe");
  EXPECT_STREQ(childCommand("40000\tsrv.exe -x"), "-x");  // a tab does not separate
  EXPECT_STREQ(childCommand("40000 \"C:\\a b\\srv.exe\"  -p \"x y\" "),
               "\"C:\\a b\\srv.exe\"  -p \"x y\" ");
}

TEST(CommandLine, LongCommandsFitWholeOrAreRefused) {
  const std::string fits = "1 " + std::string(2047, 'a');
  const std::string tooLong = "1 " + std::string(2048, 'a');
  EXPECT_NE(childCommand(fits.c_str()), nullptr);
  EXPECT_EQ(childCommand(tooLong.c_str()), nullptr);

  ASSERT_TRUE(startMonitor(("t.exe " + fits).c_str()));
  EXPECT_EQ(std::string(fake::lastCommand()), fits.substr(2));
  // The label shows what fits: 1023 characters, the command's first 1014.
  EXPECT_EQ(std::string(program), "Program: " + std::string(1014, 'a'));
  EXPECT_STREQ(fake::programLabel(), program);

  EXPECT_FALSE(startMonitor(("t.exe " + tooLong).c_str()));
  EXPECT_EQ(fake::startAttempts(), 0);
}
