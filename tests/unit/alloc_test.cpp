// The monitor allocates nothing once it runs: a heap that grows or fragments over months is a
// failure nobody sees until it is too late. Counts every malloc in the process while the loop runs.
#include <cstdlib>

#include "unit/scenario.h"

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);

static bool counting;
static long allocations;

extern "C" void* malloc(size_t size) {
  if (counting) ++allocations;
  return __libc_malloc(size);
}

extern "C" void* calloc(size_t count, size_t size) {
  if (counting) ++allocations;
  return __libc_calloc(count, size);
}

extern "C" void* realloc(void* block, size_t size) {
  if (counting) ++allocations;
  return __libc_realloc(block, size);
}

TEST(Allocations, NoneInAMillionPassesWithRestartsAndProbes) {
  ASSERT_TRUE(startMonitor("t.exe 27960 srv.exe"));
  fake::childRunsFor(30 * 60000);  // later children end by themselves after half an hour
  fake::endChildAt(fake::now() + 100000);
  for (int i = 1; i <= 1000; ++i) fake::inputAt(fake::now() + i * 997);
  counting = true;
  void* volatile probe = std::malloc(16);  // the counter itself works
  std::free(probe);
  ASSERT_EQ(allocations, 1);
  allocations = 0;
  for (int pass = 0; pass < 1000000; ++pass) {
    if (pass % 50000 == 0) fake::childAnswers(pass % 100000 == 0);
    if (pass % 7919 == 0) fake::datagramArrives(pass % 300);
    superviseOnce();
  }
  counting = false;
  EXPECT_EQ(allocations, 0);
  EXPECT_GT(restarts, 0);
  EXPECT_GT(noresponse, 0);
  EXPECT_GT(fake::probes(), 1000);
}
