// Test child for the Linux monitor: a UDP responder that logs what happens to it.
// Usage: child LOGFILE PORT answer|silent|exit|spawn|grandchild|detach [MS [NAME]]
//   answer: answers every datagram to 127.0.0.1:PORT; silent: only logs them;
//   exit: ends with code 7 after MS ms (answer and silent end with 0 after MS ms when MS > 0);
//   spawn: a launcher: starts `child LOGFILE PORT grandchild`, the real server, which logs a
//   grandchild line instead of a start line and serves PORT silently; the launcher itself ends
//   with 0 after MS ms (never when MS is 0 or missing).
//   detach NAME: starts a helper named NAME that leaves the session and ends its main thread
//   while another runs on (a zombie, to /proc); the launcher itself ends with 3 after MS ms.
// Log lines (appended whole, so children sharing a log never mix lines):
//   start pid=<pid> ms=<monotonic ms>   (grandchild pid=... for the grandchild)
//   args=<the arguments after the program, joined by '|'>
//   recv ms=<monotonic ms> len=<n> from=<a.b.c.d:port> hex=<bytes>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

static int logFd = -1;

static long long nowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

static void logLine(const char* line) {
  char text[2100];
  const int n = std::snprintf(text, sizeof text, "%s\n", line);
  (void)!write(logFd, text, n);
}

static void* sleepForever(void*) {
  for (;;) pause();
}

static void detachHelper(const char* name) {
  setsid();
  prctl(PR_SET_NAME, name);
  pthread_t thread;
  pthread_create(&thread, nullptr, sleepForever, nullptr);
  pthread_exit(nullptr);
}

static int openPort(int port) {
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    logLine("bindfail");
    return -1;
  }
  return s;
}

static void serve(int s, bool answer) {
  static char buffer[65536];
  sockaddr_in from = {};
  socklen_t fromLength = sizeof from;
  const ssize_t n =
      recvfrom(s, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
  if (n < 0) return;
  char line[512];
  int used = std::snprintf(line, sizeof line, "recv ms=%lld len=%zd from=%s:%u hex=", nowMs(), n,
                           inet_ntoa(from.sin_addr), ntohs(from.sin_port));
  for (ssize_t i = 0; i < n && used < 500; ++i) {
    used += std::snprintf(line + used, sizeof line - used, "%02x",
                          static_cast<unsigned char>(buffer[i]));
  }
  logLine(line);
  if (answer) sendto(s, buffer, n, 0, reinterpret_cast<sockaddr*>(&from), fromLength);
}

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: child LOGFILE PORT answer|silent|exit [MS]\n");
    return 1;
  }
  logFd = open(argv[1], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const char* mode = argv[3];
  const bool grandchild = std::strcmp(mode, "grandchild") == 0;
  const long long lifetime = argc > 4 ? std::atoll(argv[4]) : 0;
  char line[128];
  std::snprintf(line, sizeof line, "%s pid=%d ms=%lld", grandchild ? "grandchild" : "start",
                static_cast<int>(getpid()), nowMs());
  logLine(line);
  char args[2048] = "args=";
  for (int i = 1; i < argc; ++i) {
    std::strncat(args, i > 1 ? "|" : "", sizeof args - std::strlen(args) - 1);
    std::strncat(args, argv[i], sizeof args - std::strlen(args) - 1);
  }
  logLine(args);
  const long long end = nowMs() + lifetime;
  if (std::strcmp(mode, "spawn") == 0) {
    // The grandchild stays in this process group, as a launcher's server does.
    if (fork() == 0) {
      execl("/proc/self/exe", argv[0], argv[1], argv[2], "grandchild", static_cast<char*>(nullptr));
      _exit(127);
    }
    if (lifetime == 0) {
      for (;;) pause();
    }
    usleep(static_cast<useconds_t>(lifetime * 1000));
    return 0;
  }
  if (std::strcmp(mode, "detach") == 0) {
    if (fork() == 0) detachHelper(argc > 5 ? argv[5] : "helper");
    usleep(static_cast<useconds_t>(lifetime * 1000));
    return 3;
  }
  if (std::strcmp(mode, "exit") == 0) {
    if (lifetime > 0) usleep(static_cast<useconds_t>(lifetime * 1000));
    return 7;
  }
  const int s = openPort(std::atoi(argv[2]));
  for (;;) {
    const long long left = lifetime > 0 ? end - nowMs() : 1000;
    if (left <= 0) return 0;
    pollfd p = {s, POLLIN, 0};
    if (poll(&p, s >= 0 ? 1 : 0, static_cast<int>(left)) > 0)
      serve(s, std::strcmp(mode, "answer") == 0);
  }
}
