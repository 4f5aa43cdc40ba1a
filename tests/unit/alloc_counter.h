// Counts the heap allocations made anywhere in the process while counting is on.
#pragma once

void countAllocations(bool on);
long allocationsCounted();
// False in sanitizer builds: their runtime owns malloc, so nothing is counted there.
bool allocationsCountable();
