#include "net/framer_kinds.h"

#include <cstring>

#include "net/my_socket.h"
#include "net/packet.h"

namespace {

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

FrameStep NextNapi(uint8_t* p, int32_t avail, int32_t* frameLen) {
  if (avail < PACKET_HEAD_LEN) return FRAME_STEP_STOP;
  PacketInfo info;
  if (!ParsePacketHead(p, &info)) return FRAME_STEP_REFUSE;
  if (avail < info.nPacketLen) return FRAME_STEP_STOP;
  *frameLen = info.nPacketLen;
  return FRAME_STEP_DELIVER;
}

}  // namespace

int32_t DetectFrameKind(const uint8_t* data, int32_t len) {
  if (len >= 4 && Le32(data) == 0x15437638u) return FRAME_TAGGED;
  if (len >= 4 && memcmp(data, "99dc", 4) == 0) return FRAME_99DC;
  if (len >= 1 && data[0] == 0x7E) return FRAME_7E;
  if (len >= 12 && data[8] == 0x52) return FRAME_NAPI;
  return FRAME_DETECT;
}

FrameStep FrameNext(int32_t kind, uint8_t* p, int32_t avail, int32_t* frameLen) {
  switch (kind) {
    case FRAME_NAPI: return NextNapi(p, avail, frameLen);
    default: return FRAME_STEP_STOP;
  }
}
