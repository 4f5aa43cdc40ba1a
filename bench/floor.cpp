// The floor for the idle cost: the least a monitor's idle second can do under this system. Each
// pass is what the monitor's idle pass is made of and nothing more: one look at the message
// queue, one wait of 1000 ms for input, one read of a non-blocking UDP socket on 127.0.0.1. The
// monitor's idle wake-ups and CPU time are read against this one's, side by side.
// Usage: floor.exe plain|window SECONDS   (window: the same with an empty window shown, to tell
// what the monitor's own window costs)
#include <windows.h>
#include <winsock.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

static SOCKET openLoopbackSocket() {
  WSADATA data;
  WSAStartup(0x101, &data);
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  u_long nonBlocking = 1;
  if (s == INVALID_SOCKET || bind(s, (sockaddr*)&address, sizeof address) != 0 ||
      ioctlsocket(s, FIONBIO, &nonBlocking) != 0)
    return INVALID_SOCKET;
  return s;
}

// The monitor's window size and class style, with nothing in it.
static bool showEmptyWindow() {
  WNDCLASSA wc = {};
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(NULL);
  wc.hbrBackground = (HBRUSH)(COLOR_MENU + 1);
  wc.lpszClassName = "TolvaneFloor";
  if (!RegisterClassA(&wc)) return false;
  HWND window = CreateWindowExA(0, wc.lpszClassName, "floor", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 450, 130, NULL, NULL, wc.hInstance, NULL);
  if (window == NULL) return false;
  ShowWindow(window, SW_SHOW);
  return true;
}

int main(int argc, char** argv) {
  const bool window = argc == 3 && strcmp(argv[1], "window") == 0;
  const int seconds = argc == 3 ? atoi(argv[2]) : 0;
  if (seconds <= 0 || (!window && strcmp(argv[1], "plain") != 0)) {
    fprintf(stderr, "usage: floor.exe plain|window SECONDS\n");
    return 2;
  }
  SOCKET s = openLoopbackSocket();
  if (s == INVALID_SOCKET || (window && !showEmptyWindow())) {
    fprintf(stderr, "floor: no socket or no window\n");
    return 1;
  }
  const DWORD begin = GetTickCount();
  unsigned long passes = 0;
  while (GetTickCount() - begin < (DWORD)seconds * 1000) {
    // As the monitor does: on an idle second the queue is empty, and this is one PeekMessageA.
    MSG msg;
    bool quit = false;
    while (!quit && PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
      quit = msg.message == WM_QUIT;
      DispatchMessageA(&msg);
    }
    if (quit) break;
    MsgWaitForMultipleObjects(0, NULL, FALSE, 1000, 0xFF);  // the monitor's wake mask
    char buffer[256];
    sockaddr from;
    int fromLength = sizeof from;
    recvfrom(s, buffer, sizeof buffer, 0, &from, &fromLength);
    ++passes;
  }
  printf("passes=%lu seconds=%d\n", passes, seconds);
  return 0;
}
