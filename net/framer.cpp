#include <cstring>
#include <new>

#include "net/framer_kinds.h"
#include "net/my_socket.h"
#include "platform/debug_log.h"

namespace {

// Appends a chunk, growing the buffer as frames need and refusing to reach
// the limit. False drops the connection.
bool Append(CMySocket& s, const uint8_t* data, int32_t len) {
  int64_t total = int64_t{s.nBuffered} + len;
  if (total >= s.nLimit) {
    OutputDebugLine("CMySocket - buffer full, close socket!!!!!");
    return false;
  }
  if (total > s.nCapacity) {
    DebugPrintf("CMySocket - buffer small, realloc memory, size = %d", static_cast<int32_t>(total));
    auto* bigger = new (std::nothrow) uint8_t[static_cast<size_t>(total) + 2000];
    if (!bigger) return false;
    if (s.nBuffered > 0) memcpy(bigger, s.pBuffer, static_cast<size_t>(s.nBuffered));
    delete[] s.pBuffer;
    s.pBuffer = bigger;
    s.nCapacity = static_cast<int32_t>(total);
  }
  memcpy(s.pBuffer + s.nBuffered, data, static_cast<size_t>(len));
  s.nBuffered = static_cast<int32_t>(total);
  return true;
}

void Deliver(CMySocket& s, uint8_t* frame, int32_t len) {
  if (s.param.pfnCallback) s.param.pfnCallback(s.param.pUser, frame, len, 0, 0, SOCK_EVENT_DATA);
}

}  // namespace

int CMySocket::WriteToBuffer(const uint8_t* data, int32_t len) {
  if (!data || len <= 0) return 0;
  if (nKind.load() == FRAME_DETECT && !bDetected) {
    bDetected = 1;
    nKind.store(DetectFrameKind(data, len));
  }
  const int32_t kind = nKind.load();
  if (kind == FRAME_DETECT) return 1;
  if (kind == FRAME_RAW) {
    Deliver(*this, const_cast<uint8_t*>(data), len);
    return 0;
  }
  if (!pBuffer || !Append(*this, data, len)) return 1;

  // A callback may close or reopen this socket: stop at once when it did.
  const uint32_t serial = nOpenSerial.load();
  int32_t pos = 0;
  while (bRunning.load() && nOpenSerial.load() == serial) {
    int32_t frameLen = 0;
    FrameStep step = FrameNext(kind, pBuffer + pos, nBuffered - pos, &frameLen);
    if (step == FRAME_STEP_STOP) break;
    if (step == FRAME_STEP_REFUSE) return 1;
    if (step == FRAME_STEP_SKIP) {
      ++pos;
      continue;
    }
    Deliver(*this, pBuffer + pos, frameLen);
    if (nOpenSerial.load() != serial || !pBuffer) return 0;
    pos += frameLen;
    if (kind == FRAME_MVSP && nKind.load() != FRAME_MVSP) break;
  }
  if (nOpenSerial.load() != serial || !pBuffer) return 0;
  if (pos > 0) {
    int32_t rest = nBuffered - pos;
    if (rest > 0) memmove(pBuffer, pBuffer + pos, static_cast<size_t>(rest));
    nBuffered = rest;
  }
  return 0;
}
