#include "media/media_senders.h"

#include "net/my_socket.h"

int32_t SendMediaPacket(CMySocket& sock, const uint8_t* data, int32_t len, uint32_t timeoutMs) {
  int n = sock.Send(data, len, timeoutMs);
  if (n <= 0 || n >= len) return n;
  int32_t sent = n;
  uint32_t tailWait = timeoutMs != 0 ? timeoutMs : MEDIA_TAIL_WAIT_MS;
  while (sent < len) {
    n = sock.Send(data + sent, len - sent, tailWait);
    if (n <= 0) {
      sock.Abort();
      return 0;
    }
    sent += n;
  }
  return len;
}
