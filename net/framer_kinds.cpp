#include "net/framer_kinds.h"

#include <cstring>

#include "net/framer_steps.h"
#include "net/my_socket.h"
#include "net/packet.h"
#include "platform/debug_log.h"

namespace {
constexpr int64_t TRANS_MAX_LEN = 7000000;
constexpr int32_t TRANS_HEAD_LEN = 12;
constexpr int32_t TRAIN_HEAD_LEN = 5;
constexpr int32_t MVSP_HEAD_LEN = 16;
constexpr int32_t S17_HEAD_LEN = 12;
}  // namespace

int32_t DetectFrameKind(const uint8_t* data, int32_t len) {
  if (len >= 4 && static_cast<uint32_t>(FrameLe32(data)) == 0x15437638u) return FRAME_TAGGED;
  if (len >= 4 && memcmp(data, "99dc", 4) == 0) return FRAME_99DC;
  if (len >= 1 && data[0] == 0x7E) return FRAME_7E;
  if (len >= 12 && data[8] == 0x52) return FRAME_NAPI;
  return FRAME_DETECT;
}

FrameStep FrameNext(int32_t kind, uint8_t* p, int32_t avail, int32_t* frameLen) {
  switch (kind) {
    case FRAME_NAPI: return FrameNextNapi(p, avail, frameLen);
    case FRAME_TRANS: return FrameNextTrans(p, avail, frameLen);
    case FRAME_TAGGED: return FrameNextTagged(p, avail, frameLen);
    case FRAME_99DC: return FrameNext99dc(p, avail, frameLen);
    case FRAME_RTSP: return FrameNextRtsp(p, avail, frameLen);
    case FRAME_TRAIN: return FrameNextTrain(p, avail, frameLen);
    case FRAME_MVSP: return FrameNextMvsp(p, avail, frameLen);
    case FRAME_HEAD26: return FrameNextHead26(p, avail, frameLen);
    case FRAME_CD: return FrameNextCd(p, avail, frameLen);
    case FRAME_S17: return FrameNextS17(p, avail, frameLen);
    case FRAME_RSP: return FrameNextRsp(p, avail, frameLen);
    case FRAME_CHUNK: return FrameNextChunk(p, avail, frameLen);
    default: return FRAME_STEP_STOP;  // 11 and unknown kinds have no framing
  }
}

// Packets of the signalling header; a refused header ends the stream, there is
// no resynchronisation.
FrameStep FrameNextNapi(uint8_t* p, int32_t avail, int32_t* frameLen) {
  if (avail < PACKET_HEAD_LEN) return FRAME_STEP_STOP;
  PacketInfo info;
  if (!ParsePacketHead(p, &info)) return FRAME_STEP_REFUSE;
  return FrameWhenWhole(info.nPacketLen, avail, frameLen);
}

// The signed value at offset 0 is the whole frame length. A length shorter
// than the 12 bytes the kind looks at is as corrupt as an over-long one.
FrameStep FrameNextTrans(uint8_t* p, int32_t avail, int32_t* frameLen) {
  if (avail < TRANS_HEAD_LEN) return FRAME_STEP_STOP;
  int64_t len = FrameLe32(p);
  if (len < TRANS_HEAD_LEN || len > TRANS_MAX_LEN) {
    OutputDebugLine("CMySocket - trans data error.");
    return FRAME_STEP_REFUSE;
  }
  return FrameWhenWhole(len, avail, frameLen);
}

// Frames start with 0xFF; anything before one is skipped byte by byte.
FrameStep FrameNextTrain(uint8_t* p, int32_t avail, int32_t* frameLen) {
  if (avail < TRAIN_HEAD_LEN) return FRAME_STEP_STOP;
  if (p[0] != 0xFF) {
    OutputDebugLine("cmysocket - train network data error.");
    return FRAME_STEP_SKIP;
  }
  return FrameWhenWhole(TRAIN_HEAD_LEN + int64_t{FrameBe16(p + 2)}, avail, frameLen);
}

// "MVSP" and a payload length; a negative length is refused like a bad mark.
FrameStep FrameNextMvsp(uint8_t* p, int32_t avail, int32_t* frameLen) {
  if (avail < MVSP_HEAD_LEN) return FRAME_STEP_STOP;
  int64_t payload = FrameLe32(p + 4);
  if (memcmp(p, "MVSP", 4) != 0 || payload < 0) {
    OutputDebugLine("CMySocket - mvsp magic error...");
    return FRAME_STEP_REFUSE;
  }
  return FrameWhenWhole(MVSP_HEAD_LEN + payload, avail, frameLen);
}

// "$$" and a big-endian payload length; a negative length is refused like a bad mark.
FrameStep FrameNextS17(uint8_t* p, int32_t avail, int32_t* frameLen) {
  if (avail < S17_HEAD_LEN) return FRAME_STEP_STOP;
  int64_t payload = FrameBe32(p + 8);
  if (p[0] != '$' || p[1] != '$' || payload < 0) {
    OutputDebugLine("CMySocket - s17 flag error.");
    return FRAME_STEP_REFUSE;
  }
  return FrameWhenWhole(S17_HEAD_LEN + payload, avail, frameLen);
}
