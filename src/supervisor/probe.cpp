// The liveness probe: one step per idle second. Any datagram at all counts as a sign of life.
#include "supervisor/monitor.h"

static void sendProbe() {
  const char sendBuf[6] = {14, 0, 0, 0, 0, 0};
  sendToLocalPort(asocket, static_cast<uint16_t>(port), sendBuf, sizeof sendBuf);
}

void checkResponse() {
  char buffer[kDatagramSize];
  const uint32_t now = tickCount();
  if (receiveDatagram(asocket, buffer, sizeof buffer) >= 0) {
    sendCount = 0;
    lastSendTime = now;
  }
  if (now - lastSendTime <= kProbePeriod) return;  // modular: survives a wrap of the counter
  sendCount += 1;
  lastSendTime = now;
  if (sendCount > kSilentPeriodsAllowed) {
    countUp(noresponse);
    if (childOpen) noteReplaced();  // with no child held this is only another start attempt
    killProcess();
    startProcess();
    sendCount = 0;
    return;
  }
  sendProbe();
}
