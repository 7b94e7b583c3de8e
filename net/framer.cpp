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

// Delivers every whole frame at the front of the buffer with the given kind and
// moves the rest to the front. False refuses the stream; the buffer is then
// left as it is, since the connection is dropped. A callback may close or
// reopen the socket (its serial changes): framing stops at once, without
// touching the buffer again.
bool FrameBuffered(CMySocket& s, int32_t kind) {
  const uint32_t serial = s.nOpenSerial.load();
  int32_t pos = 0;
  while (s.bRunning.load() && s.nOpenSerial.load() == serial) {
    int32_t frameLen = 0;
    FrameStep step = FrameNext(kind, s.pBuffer + pos, s.nBuffered - pos, &frameLen);
    if (step == FRAME_STEP_STOP) break;
    if (step == FRAME_STEP_REFUSE) return false;
    if (step == FRAME_STEP_SKIP) {
      ++pos;
      continue;
    }
    // A frame of nothing or of more than is buffered can only be a framing
    // fault; refusing it keeps the loop from stalling or overrunning.
    if (frameLen < 1 || frameLen > s.nBuffered - pos) return false;
    Deliver(s, s.pBuffer + pos, frameLen);
    if (s.nOpenSerial.load() != serial || !s.pBuffer) return true;
    pos += frameLen;
    if (kind == FRAME_MVSP && s.nKind.load() != FRAME_MVSP) break;
  }
  if (s.nOpenSerial.load() != serial || !s.pBuffer || pos == 0) return true;
  int32_t rest = s.nBuffered - pos;
  if (rest > 0) memmove(s.pBuffer, s.pBuffer + pos, static_cast<size_t>(rest));
  s.nBuffered = rest;
  return true;
}

}  // namespace

// Detection runs once in the life of the object: a failed detection refuses
// this chunk and every later one. Kind 5 passes chunks through unbuffered.
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
  return FrameBuffered(*this, kind) ? 0 : 1;
}
