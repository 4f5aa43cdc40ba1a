// The probe's UDP socket on Linux.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/platform.h"

void startNetwork() {}
void stopNetwork() {}

bool openSocket(SocketHandle* socketOut) {
  const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) return false;
  *socketOut = static_cast<SocketHandle>(s);
  return true;
}

bool bindToLoopback(SocketHandle s) {
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  return bind(static_cast<int>(s), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

bool makeNonBlocking(SocketHandle s) {
  const int flags = fcntl(static_cast<int>(s), F_GETFL);
  return flags >= 0 && fcntl(static_cast<int>(s), F_SETFL, flags | O_NONBLOCK) == 0;
}

// MSG_TRUNC gives a datagram's true length, so one too long for the buffer can be refused
// like the Windows socket refuses it.
int receiveDatagram(SocketHandle s, char* buffer, int size) {
  const ssize_t length = recv(static_cast<int>(s), buffer, size, MSG_TRUNC);
  return length < 0 || length > size ? -1 : static_cast<int>(length);
}

void sendToLocalPort(SocketHandle s, uint16_t toPort, const char* data, int size) {
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(toPort);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sendto(static_cast<int>(s), data, size, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}
