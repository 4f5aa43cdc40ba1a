// The command line: "PORT COMMAND LINE...". Everything here reads text the operator wrote, so
// every copy is bounded by its buffer.
#include <cstdio>
#include <cstring>

#include "supervisor/monitor.h"

static bool isSkippedAfterName(unsigned char c) { return (c >= 1 && c <= 32) || c >= 128; }

// The command line without the program's own name. Computed here rather than taken from the
// C runtime, whose start-up code does not agree with the system on where the name ends.
const char* commandTail(const char* commandLine) {
  const char* p = commandLine;
  bool quoted = false;
  for (; *p != '\0'; ++p) {
    if (*p == '"') {
      quoted = !quoted;
    } else if (!quoted && (*p == ' ' || *p == '\t')) {
      break;
    }
  }
  while (isSkippedAfterName(static_cast<unsigned char>(*p))) ++p;
  return p;
}

static bool isAtoiSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Decimal, like atoi, but held at the 32-bit limits instead of wrapping.
int32_t parsePort(const char* text) {
  const char* p = text;
  while (isAtoiSpace(*p)) ++p;
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  const int64_t limit = negative ? 2147483648LL : 2147483647LL;
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > limit) value = limit;
  }
  return static_cast<int32_t>(negative ? -value : value);
}

// The child's command line: all that follows the first space. Null when there is none, when it
// is empty, or when it would not fit whole: a cut command line would start another program.
const char* childCommand(const char* tail) {
  const char* space = std::strchr(tail, ' ');
  if (space == nullptr || space[1] == '\0') return nullptr;
  const char* command = space + 1;
  if (std::strlen(command) >= sizeof process) return nullptr;
  return command;
}

// Why `tail` cannot be run, in the operator's words; null when it can. The port word is the
// system's to judge.
const char* commandRefusal(const char* tail) {
  if (tail[0] == '\0') return "no port and no command line";
  if (const char* why = portRefusal(tail)) return why;
  const char* space = std::strchr(tail, ' ');
  if (space == nullptr || space[1] == '\0') return "nothing after the port";
  if (childCommand(tail) == nullptr)
    return "the server's command line is longer than 2047 characters";
  return nullptr;
}

void copyCommand(const char* command) { std::snprintf(process, sizeof process, "%s", command); }

// The label shows at most 1023 characters, as the window's own formatter would.
void formatProgramLabel(const char* command) {
  std::snprintf(program, kLabelSize, "Program: %s", command);
}
