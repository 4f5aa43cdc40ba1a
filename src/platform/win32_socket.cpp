// The probe's UDP socket on Winsock 1.1.
#include <windows.h>
#include <winsock.h>

#include "platform/platform.h"

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
