#include "net/framer_kinds.h"

#include <cstring>

#include "net/framer_steps.h"
#include "net/packet.h"

int32_t DetectFrameKind(const uint8_t* data, int32_t len) {
  if (len >= 4 && static_cast<uint32_t>(FrameLe32(data)) == 0x15437638u) return FRAME_TAGGED;
  if (len >= 4 && memcmp(data, "99dc", 4) == 0) return FRAME_99DC;
  if (len >= 1 && data[0] == 0x7E) return FRAME_7E;
  if (len >= PACKET_HEAD_LEN && data[8] == 0x52) return FRAME_NAPI;
  return FRAME_DETECT;
}

FrameStep FrameNext(int32_t kind, const uint8_t* p, int32_t avail, int32_t* frameLen) {
  switch (kind) {
    case FRAME_NAPI: return FrameNextNapi(p, avail, frameLen);
    case FRAME_TAGGED: return FrameNextTagged(p, avail, frameLen);
    case FRAME_99DC: return FrameNext99dc(p, avail, frameLen);
    default: return FRAME_STEP_STOP;  // 11 and unknown kinds have no framing
  }
}

// Packets of the signalling header; a refused header ends the stream, there is
// no resynchronisation. The header check bounds a packet to FRAMER_MAX_PACKET
// bytes, and a packet is never shorter than its 12-byte header.
FrameStep FrameNextPacket(const uint8_t* p, int32_t avail, PacketInfo* info) {
  if (avail < PACKET_HEAD_LEN) return FRAME_STEP_STOP;
  if (!ParsePacketHead(p, info)) return FRAME_STEP_REFUSE;
  return info->nPacketLen > avail ? FRAME_STEP_STOP : FRAME_STEP_DELIVER;
}

FrameStep FrameNextNapi(const uint8_t* p, int32_t avail, int32_t* frameLen) {
  PacketInfo info;
  FrameStep step = FrameNextPacket(p, avail, &info);
  if (step == FRAME_STEP_DELIVER) *frameLen = info.nPacketLen;
  return step;
}
