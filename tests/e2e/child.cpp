// Test child for the end-to-end runs: a stand-in server whose every action is logged so the
// driver can tell what the watchdog really did (starts, command lines, probes received).
// Usage: child.exe LOGFILE PORT MODE [MS [ANY...]]
//   MODE = answer | silent | exit | crash | story | spawn | grandchild
// crash ends by an access violation after MS. story does the next step of a story at each start,
// counted by the start lines in LOGFILE: exit with 7 after 300 ms, crash after 300 ms, stay
// silent, then answer.
// spawn stands for a launcher: it starts `child.exe LOGFILE PORT grandchild`, the real server,
// which logs "grandchild pid=..." instead of "start pid=..." and then serves PORT silently; the
// launcher itself ends with 0 after MS (never when MS is 0 or missing).
// A port still taken is tried again for up to 2 s, each refusal logged ("bindfail err=..."), then
// "bound" once it is held. The start line carries the process's creation time as the system
// keeps it (created=, FILETIME), to be set against the exit times the inspector reads.
// Arguments after MS are ignored; they let a test check odd quoting through the logged cmdline.
#include <windows.h>
#include <winsock.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

static const char* logPath;
static HANDLE logMutex;

// Open, append, close for each line: several children (and restarts) share one file, and a
// TerminateProcess must never lose a line sitting in a buffer. The line and its newline go out
// in one write. Wine's append-only handles are not atomic between processes (a line written
// at the same moment by another child got overwritten), so a named mutex orders the writers;
// one left abandoned by a killed child is simply taken over.
static void logLine(const char* line) {
  size_t len = strlen(line);
  char* out = (char*)malloc(len + 1);
  if (!out) return;
  memcpy(out, line, len);
  out[len] = '\n';
  WaitForSingleObject(logMutex, 5000);
  for (int attempt = 0; attempt < 50; ++attempt) {
    HANDLE h = CreateFileA(logPath, FILE_APPEND_DATA,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      SetFilePointer(h, 0, NULL, FILE_END);
      WriteFile(h, out, (DWORD)len + 1, &written, NULL);
      CloseHandle(h);
      break;
    }
    Sleep(10);  // another process may hold it without sharing for a moment
  }
  ReleaseMutex(logMutex);
  free(out);
}

// Our own parser: msvcrt atoi wraps large values, which would turn a typo into a strange port.
static bool parseNumber(const char* s, unsigned long maxValue, unsigned long* out) {
  unsigned long v = 0;
  if (!*s) return false;
  for (; *s; ++s) {
    if (*s < '0' || *s > '9') return false;
    v = v * 10 + (unsigned long)(*s - '0');
    if (v > maxValue) return false;
  }
  *out = v;
  return true;
}

// QueryPerformanceCounter in microseconds: one clock for every process on the machine, so the
// benchmark can subtract one child's exit from the next child's start. Split before scaling so a
// counter of many days does not overflow.
static unsigned long long microseconds() {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  unsigned long long c = (unsigned long long)count.QuadPart;
  unsigned long long f = (unsigned long long)frequency.QuadPart;
  return c / f * 1000000ULL + c % f * 1000000ULL / f;
}

// The system's creation time of this process, in 100 ns units (0 if it cannot be read).
static unsigned long long creationTime() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  return (unsigned long long)created.dwHighDateTime << 32 | created.dwLowDateTime;
}

// Milliseconds left before the exit time, or INFINITE when there is none.
static DWORD msLeft(DWORD startTick, unsigned long lifeMs) {
  if (lifeMs == 0) return INFINITE;
  DWORD spent = GetTickCount() - startTick;
  return spent >= lifeMs ? 0 : (DWORD)(lifeMs - spent);
}

static void serve(SOCKET s, bool answer, DWORD startTick, unsigned long lifeMs) {
  static char buf[65536];
  static char line[65536 * 2 + 128];
  for (;;) {
    DWORD left = msLeft(startTick, lifeMs);
    if (left == 0) return;
    fd_set readSet;
    FD_ZERO(&readSet);
    FD_SET(s, &readSet);
    timeval tv;
    timeval* tvp = NULL;
    if (left != INFINITE) {
      tv.tv_sec = (long)(left / 1000);
      tv.tv_usec = (long)(left % 1000) * 1000;
      tvp = &tv;
    }
    int ready = select(0, &readSet, NULL, NULL, tvp);
    if (ready <= 0) {
      if (ready < 0) Sleep(50);  // don't spin if select itself keeps failing
      continue;
    }
    sockaddr_in from;
    int fromLen = sizeof(from);
    int n = recvfrom(s, buf, sizeof(buf), 0, (sockaddr*)&from, &fromLen);
    if (n < 0) {
      int err = WSAGetLastError();
      sprintf(line, "recverr tick=%lu err=%d", (unsigned long)GetTickCount(), err);
      logLine(line);
      continue;
    }
    const unsigned char* ip = (const unsigned char*)&from.sin_addr;
    int pos = sprintf(
        line, "recv tick=%lu len=%d from=%u.%u.%u.%u:%u hex=", (unsigned long)GetTickCount(), n,
        ip[0], ip[1], ip[2], ip[3], (unsigned)ntohs(from.sin_port));
    static const char digits[] = "0123456789abcdef";
    for (int i = 0; i < n; ++i) {
      line[pos++] = digits[(unsigned char)buf[i] >> 4];
      line[pos++] = digits[(unsigned char)buf[i] & 15];
    }
    line[pos] = 0;
    logLine(line);
    if (answer) sendto(s, buf, n, 0, (sockaddr*)&from, fromLen);
  }
}

// Binds 127.0.0.1:PORT. A port still taken is tried again for up to 2 s: under Wine a terminated
// server counts as ended before its sockets are closed, and a real server's start-up takes longer
// than that anyway. Every refusal is logged, and so is success.
static SOCKET bindPort(u_short port) {
  char line[128];
  WSADATA wsa;
  SOCKET s = INVALID_SOCKET;
  if (WSAStartup(MAKEWORD(1, 1), &wsa) == 0) s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in addr;
  memset(&addr, 0, sizeof(addr));
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = inet_addr("127.0.0.1");
  const DWORD firstTry = GetTickCount();
  for (;;) {
    if (s != INVALID_SOCKET && bind(s, (sockaddr*)&addr, sizeof(addr)) == 0) {
      sprintf(line, "bound tick=%lu", (unsigned long)GetTickCount());
      logLine(line);
      return s;
    }
    int err = WSAGetLastError();
    sprintf(line, "bindfail err=%d tick=%lu", err, (unsigned long)GetTickCount());
    logLine(line);
    if (s == INVALID_SOCKET || err != WSAEADDRINUSE || GetTickCount() - firstTry >= 2000) break;
    Sleep(100);
  }
  if (s != INVALID_SOCKET) closesocket(s);
  return INVALID_SOCKET;
}

// The grandchild is this same program, started the way a launcher starts its server.
static void startGrandchild(const char* log, const char* port) {
  char self[MAX_PATH];
  char cmd[2 * MAX_PATH + 40];
  GetModuleFileNameA(NULL, self, sizeof(self));
  sprintf(cmd, "\"%s\" %s %s grandchild", self, log, port);
  STARTUPINFOA si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi;
  if (!CreateProcessA(NULL, cmd, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) return;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
}

// This start's place in the story: the start lines earlier children left in the log.
static const char* storyStep() {
  static const char* const steps[] = {"exit", "crash", "silent", "answer"};
  int starts = 0;
  char line[1200];
  FILE* f = fopen(logPath, "r");
  while (f && fgets(line, sizeof line, f)) starts += strncmp(line, "start ", 6) == 0;
  if (f) fclose(f);
  return steps[starts > 3 ? 3 : starts];
}

int main(int argc, char** argv) {
  DWORD startTick = GetTickCount();
  unsigned long long startUs = microseconds();
  if (argc < 4) {
    fprintf(stderr, "usage: child.exe LOGFILE PORT answer|silent|exit [MS [ANY...]]\n");
    return 1;
  }
  logPath = argv[1];
  logMutex = CreateMutexA(NULL, FALSE, "tolvane-e2e-child-log");
  unsigned long port = 0, lifeMs = 0;
  if (!parseNumber(argv[2], 65535, &port) ||
      (argc >= 5 && !parseNumber(argv[4], 0x7fffffffUL, &lifeMs))) {
    fprintf(stderr, "child: bad number\n");
    return 1;
  }
  const char* mode = argv[3];
  if (strcmp(mode, "story") == 0) {
    mode = storyStep();
    lifeMs = strcmp(mode, "exit") == 0 || strcmp(mode, "crash") == 0 ? 300 : 0;
  }
  bool answer = strcmp(mode, "answer") == 0;
  bool grandchild = strcmp(mode, "grandchild") == 0;
  if (!answer && !grandchild && strcmp(mode, "silent") != 0 && strcmp(mode, "exit") != 0 &&
      strcmp(mode, "crash") != 0 && strcmp(mode, "spawn") != 0) {
    fprintf(stderr, "child: unknown mode %s\n", mode);
    return 1;
  }

  char line[1200];
  sprintf(line, "%s pid=%lu tick=%lu us=%llu created=%llu", grandchild ? "grandchild" : "start",
          (unsigned long)GetCurrentProcessId(), (unsigned long)startTick, startUs, creationTime());
  logLine(line);
  // The command line can be longer than any fixed buffer; write it in one piece, in UTF-8 as
  // the system holds it (the ANSI call would turn what its code page lacks into '?').
  const int size = WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, NULL, 0, NULL, NULL);
  char* cmdLine = (char*)malloc(size + 16);
  if (cmdLine) {
    strcpy(cmdLine, "cmdline=");
    WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, cmdLine + 8, size, NULL, NULL);
    logLine(cmdLine);
    free(cmdLine);
  }

  if (strcmp(mode, "spawn") == 0) {
    startGrandchild(argv[1], argv[2]);
    Sleep(lifeMs == 0 ? INFINITE : lifeMs);
    return 0;
  }
  if (strcmp(mode, "crash") == 0) {
    Sleep(lifeMs);
    logLine("crash");
    *(volatile int*)(ULONG_PTR)(lifeMs & 1) = 0;  // the address is 0 or 1: never writable
  }
  if (strcmp(mode, "exit") == 0) {
    Sleep(lifeMs);
    // The last act before the process ends: the gap to the next start line is the restart.
    sprintf(line, "exit us=%llu", microseconds());
    logLine(line);
    return 7;
  }

  SOCKET s = bindPort((u_short)port);
  if (s == INVALID_SOCKET) {
    if (lifeMs == 0)
      for (;;) Sleep(INFINITE);
    Sleep(msLeft(startTick, lifeMs));
    return 0;
  }
  serve(s, answer, startTick, lifeMs);
  closesocket(s);
  WSACleanup();
  return 0;
}
