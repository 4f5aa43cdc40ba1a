// The floor for restart speed: the least a supervisor can do on this system. Starts the command,
// waits for its end, starts it again, with nothing in between, for SECONDS; then prints how many
// starts it made. The monitor's restart rate is read against this one.
// Usage: bare.exe SECONDS COMMAND LINE...   (the command line is passed on exactly as written)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

static char command[32768];  // CreateProcessA may write into it, so it is our own copy

// The part of our command line after the program name and SECONDS, as written.
static const char* commandTail(const char* line) {
  bool quoted = false;
  for (; *line && (quoted || (*line != ' ' && *line != '\t')); ++line)
    if (*line == '"') quoted = !quoted;
  while (*line == ' ' || *line == '\t') ++line;
  while (*line && *line != ' ' && *line != '\t') ++line;  // SECONDS
  return *line ? line + 1 : line;
}

// Starts the command once and waits for its end; false when it cannot be started.
static bool runOnce() {
  STARTUPINFOA si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi;
  // The monitor's own flags: no inherited handles, normal priority.
  if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, NORMAL_PRIORITY_CLASS, NULL, NULL, &si,
                      &pi))
    return false;
  WaitForSingleObject(pi.hProcess, INFINITE);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

int main(int argc, char** argv) {
  const char* tail = commandTail(GetCommandLineA());
  if (argc < 3 || atoi(argv[1]) <= 0 || strlen(tail) >= sizeof(command)) {
    fprintf(stderr, "usage: bare.exe SECONDS COMMAND LINE...\n");
    return 2;
  }
  strcpy(command, tail);
  DWORD lengthMs = (DWORD)atoi(argv[1]) * 1000;
  DWORD begin = GetTickCount();
  unsigned long starts = 0, failures = 0;
  while (GetTickCount() - begin < lengthMs) {
    if (runOnce())
      ++starts;
    else
      ++failures;
  }
  printf("starts=%lu failures=%lu seconds=%s\n", starts, failures, argv[1]);
  return failures == 0 ? 0 : 1;
}
