// Arbitrary process command lines through start-up: the command tail, the port, the split, the
// copies into the fixed buffers and the program label. The sanitizers catch any overflow or
// undefined behaviour; the checks below catch a wrong result.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fakes/fake.h"
#include "supervisor/monitor.h"

static void require(bool holds) {
  if (!holds) std::abort();
}

// What the port must be: strtoll reads the same blanks, sign and decimal digits, and saturates.
static int32_t expectedPort(const char* tail) {
  const long long value = std::strtoll(tail, nullptr, 10);
  return static_cast<int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The system's command line ends at its first NUL.
  const std::string line(reinterpret_cast<const char*>(data), std::min<size_t>(size, 8191));
  fake::reset(line.c_str());
  const bool started = startUp(nullptr);

  const char* tail = commandTail(line.c_str());
  const char* space = std::strchr(tail, ' ');
  const bool acceptable = space != nullptr && space[1] != '\0' && std::strlen(space + 1) < 2048;
  require(started == acceptable);
  if (!started) {
    require(fake::startAttempts() == 0);
    return 0;
  }
  require(std::strcmp(process, space + 1) == 0);
  require(std::strcmp(fake::lastCommand(), space + 1) == 0);
  require(std::string(program) == ("Program: " + std::string(space + 1)).substr(0, 1023));
  require(std::strcmp(fake::programLabel(), program) == 0);
  require(port == expectedPort(tail));
  return 0;
}
