// The platform layer on Win32 and Winsock 1.1.
#include <windows.h>
#include <winsock.h>

#include "platform/platform.h"

static STARTUPINFOA si;
static PROCESS_INFORMATION pi;

uint32_t tickCount() { return GetTickCount(); }

const char* processCommandLine() { return GetCommandLineA(); }

bool startChild(char* commandLine, ChildHandle* child) {
  si.cb = sizeof si;
  si.lpReserved = nullptr;
  si.lpReserved2 = nullptr;
  si.cbReserved2 = 0;
  si.lpDesktop = nullptr;
  si.dwFlags = 0;
  if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                      nullptr, &si, &pi)) {
    return false;
  }
  CloseHandle(pi.hThread);  // never used; keeping it would leak one handle per restart
  *child = pi.hProcess;
  return true;
}

void terminateChild(ChildHandle child) { TerminateProcess(child, 0); }

void releaseChild(ChildHandle child) { CloseHandle(child); }

Wake waitForChildOrInput(const ChildHandle* child, uint32_t ms) {
  const DWORD count = child != nullptr ? 1 : 0;
  // 0xFF: QS_KEY through QS_HOTKEY, without the later raw-input and pointer flags.
  const DWORD result =
      MsgWaitForMultipleObjects(count, const_cast<HANDLE*>(child), FALSE, ms, 0xFF);
  if (result == WAIT_TIMEOUT) return Wake::timeout;
  if (result == WAIT_OBJECT_0 + count) return Wake::input;
  if (count == 1 && result == WAIT_OBJECT_0) return Wake::childEnded;
  return Wake::failed;
}

Pump pumpMessage() {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return Pump::empty;
  if (msg.message == WM_QUIT) return Pump::quit;
  DispatchMessageA(&msg);
  return Pump::dispatched;
}

void startNetwork() {
  WSADATA stWSAData;
  WSAStartup(0x101, &stWSAData);
}

void stopNetwork() { WSACleanup(); }

bool openSocket(SocketHandle* socketOut) {
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  if (s == INVALID_SOCKET) return false;
  *socketOut = s;
  return true;
}

bool bindToLoopback(SocketHandle s) {
  sockaddr_in socketAddress = {};
  socketAddress.sin_family = AF_INET;
  socketAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socketAddress.sin_port = 0;
  return bind(s, reinterpret_cast<sockaddr*>(&socketAddress), sizeof socketAddress) == 0;
}

bool makeNonBlocking(SocketHandle s) {
  u_long notblock = 1;
  return ioctlsocket(s, FIONBIO, &notblock) == 0;
}

// A datagram longer than the buffer fails with WSAEMSGSIZE and is dropped: not a reply.
int receiveDatagram(SocketHandle s, char* buffer, int size) {
  sockaddr sa;
  int addrLen = sizeof sa;
  const int bytesRead = recvfrom(s, buffer, size, 0, &sa, &addrLen);
  return bytesRead == SOCKET_ERROR ? -1 : bytesRead;
}

void sendToLocalPort(SocketHandle s, uint16_t port, const char* data, int size) {
  sockaddr_in ipAddr = {};
  ipAddr.sin_family = AF_INET;
  ipAddr.sin_port = htons(port);
  ipAddr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sendto(s, data, size, 0, reinterpret_cast<sockaddr*>(&ipAddr), sizeof ipAddr);
}
