#include "unit/alloc_counter.h"

#include <cstdlib>

static bool counting;
static long allocations;

void countAllocations(bool on) {
  if (on) allocations = 0;
  counting = on;
}

long allocationsCounted() { return allocations; }

#if defined(__SANITIZE_ADDRESS__)
bool allocationsCountable() { return false; }
#else
bool allocationsCountable() { return true; }

// glibc lets a program supply its own malloc; these forward to glibc's after counting.
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);

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
#endif
