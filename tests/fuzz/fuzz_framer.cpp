// The receive framer of every framing kind over a byte stream cut into chunks
// at positions taken from the input. Every delivered frame must be non-empty
// and lie inside the receive buffer (the raw kind: be the chunk itself), frames
// of one chunk must follow each other, the buffer must stay below its limit,
// and kinds that neither skip nor convert bytes must hand out the stream
// itself, frame after frame.
//
// Input: byte 0 the kind (0-14; 15 stands for a value outside the table),
// byte 1-2 the buffer limit, byte 3 the number of times the stream is fed
// (so that short inputs still fill and grow the buffer) and whether the
// callback switches the kind, bytes 4-7 the seed of the chunk cutter, the
// rest the stream.
#include <cstdint>
#include <cstring>
#include <memory>

#include "net/my_socket.h"
#include "net/packet.h"
#include "platform/debug_log.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

constexpr size_t kControlBytes = 8;

struct FramerRun {
  CMySocket* pSock = nullptr;
  const uint8_t* pStream = nullptr;  // one copy of the stream
  size_t nStreamLen = 0;
  uint64_t nDelivered = 0;           // stream bytes handed out so far (contiguous kinds)
  bool bSwitchKinds = false;
  int32_t nChunkKind = 0;            // kind the current chunk is framed with
  const uint8_t* pChunk = nullptr;
  int32_t nChunkLen = 0;
  const uint8_t* pLastEnd = nullptr;  // end of the previous frame of this chunk
};

uint32_t NextRandom(uint32_t& s) {
  s ^= s << 13;
  s ^= s >> 17;
  s ^= s << 5;
  return s;
}

int32_t ChooseKind(uint8_t b) {
  int32_t k = b % 16;
  return k == 15 ? 99 : k;
}

int32_t ChooseLimit(uint8_t b1, uint8_t b2) {
  switch (b1 & 3) {
    case 0: return 60000;
    case 1: return 600000;
    default: return 2 + ((b1 >> 2) << 8 | b2);
  }
}

// Kinds whose frames are the stream's bytes, in order, with nothing skipped
// and nothing converted in place.
bool IsContiguousKind(int32_t kind) {
  return kind == FRAME_RAW || kind == FRAME_NAPI || kind == FRAME_TRANS || kind == FRAME_99DC || kind == FRAME_RTSP ||
         kind == FRAME_MVSP || kind == FRAME_S17;
}

void CheckStreamBytes(FramerRun& run, const uint8_t* data, int32_t len) {
  for (int32_t i = 0; i < len; ++i) {
    FUZZ_CHECK(data[i] == run.pStream[(run.nDelivered + static_cast<uint64_t>(i)) % run.nStreamLen]);
  }
  run.nDelivered += static_cast<uint64_t>(len);
}

int OnFrame(void* pUser, uint8_t* data, int32_t len, uint32_t, int32_t, int32_t event) {
  auto& run = *static_cast<FramerRun*>(pUser);
  CMySocket& s = *run.pSock;
  FUZZ_CHECK(event == SOCK_EVENT_DATA);
  FUZZ_CHECK(data != nullptr && len >= 1);
  if (run.nChunkKind == FRAME_RAW) {
    FUZZ_CHECK(data == run.pChunk && len == run.nChunkLen);
  } else {
    FUZZ_CHECK(s.pBuffer != nullptr && data >= s.pBuffer && len <= s.nBuffered);
    FUZZ_CHECK(data + len <= s.pBuffer + s.nBuffered);
    FUZZ_CHECK(run.pLastEnd == nullptr || data >= run.pLastEnd);
    run.pLastEnd = data + len;
  }
  const int32_t kind = s.nKind.load();
  if (!run.bSwitchKinds && IsContiguousKind(kind)) CheckStreamBytes(run, data, len);
  if (kind == FRAME_NAPI && !run.bSwitchKinds) {
    PacketInfo info;
    FUZZ_CHECK(len >= PACKET_HEAD_LEN && ParsePacketHead(data, &info) && info.nPacketLen == len);
  }
  // The owner may change the frame's bytes and the socket's kind.
  data[0] ^= 0x5A;
  data[len - 1] ^= 0xA5;
  if (run.bSwitchKinds && (data[0] & 1)) s.nKind.store(data[len - 1] % 15);
  return 0;
}

// Feeds one chunk (an exactly sized copy, so reading past it is caught).
// False when the framer drops the connection.
bool FeedChunk(FramerRun& run, const uint8_t* bytes, int32_t len) {
  CMySocket& s = *run.pSock;
  std::unique_ptr<uint8_t[]> chunk(new uint8_t[static_cast<size_t>(len)]);
  memcpy(chunk.get(), bytes, static_cast<size_t>(len));
  const int32_t bufferedBefore = s.nBuffered;
  run.nChunkKind = s.nKind.load();
  run.pChunk = chunk.get();
  run.nChunkLen = len;
  run.pLastEnd = nullptr;
  const int rc = s.WriteToBuffer(chunk.get(), len);
  FUZZ_CHECK(rc == 0 || rc == 1);
  if (rc != 0) return false;
  FUZZ_CHECK(s.nBuffered >= 0 && s.nBuffered < s.nLimit && s.nBuffered <= s.nCapacity);
  if (run.nChunkKind == FRAME_RAW) FUZZ_CHECK(s.nBuffered == bufferedBefore);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetDebugEnabled(false);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size <= kControlBytes) return 0;
  CMySocket sock;
  FramerRun run;
  run.pSock = &sock;
  run.pStream = data + kControlBytes;
  run.nStreamLen = size - kControlBytes;
  run.bSwitchKinds = (data[3] & 8) != 0;
  const int repeats = 1 + (data[3] & 7);
  uint32_t seed = (uint32_t{data[4]} | uint32_t{data[5]} << 8 | uint32_t{data[6]} << 16 | uint32_t{data[7]} << 24);
  if (seed == 0) seed = 0x9E3779B9u;

  SocketParam p;
  p.nMaxBuf = ChooseLimit(data[1], data[2]);
  p.pfnCallback = &OnFrame;
  p.pUser = &run;
  FUZZ_CHECK(sock.AttachFramer(p) == 0);
  sock.nKind.store(ChooseKind(data[0]));

  for (int r = 0; r < repeats; ++r) {
    for (size_t pos = 0; pos < run.nStreamLen;) {
      uint32_t x = NextRandom(seed);
      size_t want = (x & 0x300) == 0 ? 1 + (x >> 12) % 4096 : 1 + (x >> 12) % 32;
      size_t n = want < run.nStreamLen - pos ? want : run.nStreamLen - pos;
      if (!FeedChunk(run, run.pStream + pos, static_cast<int32_t>(n))) return 0;
      pos += n;
    }
  }
  return 0;
}
