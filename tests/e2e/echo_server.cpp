// Demo server for trying Tolvane out: answers every probe with the same bytes, so the watchdog
// sees a healthy server, and says so on stdout so a new user can watch the probes arrive.
// Usage: echo-server.exe PORT
#include <winsock.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  int port = argc == 2 ? atoi(argv[1]) : 0;
  if (port <= 0 || port > 65535) {
    fprintf(stderr, "usage: echo-server.exe PORT (1-65535)\n");
    return 2;
  }
  WSADATA wsa;
  SOCKET s =
      WSAStartup(MAKEWORD(1, 1), &wsa) == 0 ? socket(AF_INET, SOCK_DGRAM, 0) : INVALID_SOCKET;
  sockaddr_in addr;
  memset(&addr, 0, sizeof(addr));
  addr.sin_family = AF_INET;
  addr.sin_port = htons((u_short)port);
  addr.sin_addr.s_addr = inet_addr("127.0.0.1");
  if (s == INVALID_SOCKET || bind(s, (sockaddr*)&addr, sizeof(addr)) != 0) {
    fprintf(stderr, "echo-server: cannot use UDP 127.0.0.1:%d (error %d)\n", port,
            WSAGetLastError());
    return 2;
  }
  printf("echo-server: answering on 127.0.0.1:%d (pid %lu)\n", port,
         (unsigned long)GetCurrentProcessId());
  fflush(stdout);
  static char buf[65536];
  for (;;) {
    sockaddr_in from;
    int fromLen = sizeof(from);
    int n = recvfrom(s, buf, sizeof(buf), 0, (sockaddr*)&from, &fromLen);
    if (n < 0) {
      Sleep(10);  // e.g. WSAECONNRESET after answering a prober that has gone; keep serving
      continue;
    }
    sendto(s, buf, n, 0, (sockaddr*)&from, fromLen);
    printf("echo-server: probe from %s:%u (%d bytes)\n", inet_ntoa(from.sin_addr),
           (unsigned)ntohs(from.sin_port), n);
    fflush(stdout);
  }
}
