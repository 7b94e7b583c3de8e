// The receive framer of every framing kind a stream can select (and detection
// itself) over a byte stream cut into chunks at positions taken from the
// input. Every delivered frame must be non-empty and lie inside the receive
// buffer, frames of one chunk must follow each other, the buffer must stay
// below its limit, and kinds that neither skip nor convert bytes must hand out
// the stream itself, frame after frame.
//
// With bit 3 of byte 3 set the stream goes through FeedPackets instead (the
// in-place framing of a receiver of many connections): every packet must be
// the stream's next bytes, lie inside the fed chunk or the held copy, and be
// a whole packet the header check accepts; the held bytes never pass one
// packet.
//
// Input: byte 0 the kind (0 detection, then 1, 3, 4, 11 and a value outside
// the table), byte 1-2 the buffer limit, byte 3 the number of times the
// stream is fed (so that short inputs still fill and grow the buffer) and the
// FeedPackets bit, bytes 4-7 the seed of the chunk cutter, the rest the
// stream.
#include <cstdint>
#include <cstring>
#include <memory>

#include "net/framer.h"
#include "net/packet.h"
#include "platform/debug_log.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

constexpr size_t kControlBytes = 8;

struct FramerRun {
  CFramer* pFramer = nullptr;
  int32_t nLimit = 0;
  const uint8_t* pStream = nullptr;  // one copy of the stream
  size_t nStreamLen = 0;
  uint64_t nDelivered = 0;           // stream bytes handed out so far (contiguous kinds)
  const uint8_t* pLastEnd = nullptr;  // end of the previous frame of this chunk
  const uint8_t* pChunk = nullptr;    // FeedPackets: the chunk being fed
  size_t nChunkLen = 0;
};

uint32_t NextRandom(uint32_t& s) {
  s ^= s << 13;
  s ^= s >> 17;
  s ^= s << 5;
  return s;
}

int32_t ChooseKind(uint8_t b) {
  static const int32_t kKinds[] = {FRAME_DETECT, FRAME_NAPI, FRAME_TAGGED, FRAME_99DC, FRAME_7E, 99};
  return kKinds[b % 6];
}

int32_t ChooseLimit(uint8_t b1, uint8_t b2) {
  switch (b1 & 3) {
    case 0: return 60000;
    case 1: return 600000;
    default: return 2 + ((b1 >> 2) << 8 | b2);
  }
}

void CheckStreamBytes(FramerRun& run, const uint8_t* data, int32_t len) {
  for (int32_t i = 0; i < len; ++i) {
    FUZZ_CHECK(data[i] == run.pStream[(run.nDelivered + static_cast<uint64_t>(i)) % run.nStreamLen]);
  }
  run.nDelivered += static_cast<uint64_t>(len);
}

bool OnFrame(void* ctx, uint8_t* data, int32_t len) {
  auto& run = *static_cast<FramerRun*>(ctx);
  const CFramer& f = *run.pFramer;
  FUZZ_CHECK(data != nullptr && len >= 1);
  FUZZ_CHECK(f.Data() != nullptr && data >= f.Data() && len <= f.Buffered());
  FUZZ_CHECK(data + len <= f.Data() + f.Buffered());
  FUZZ_CHECK(run.pLastEnd == nullptr || data >= run.pLastEnd);
  run.pLastEnd = data + len;
  const int32_t kind = f.Kind();
  if (kind == FRAME_NAPI || kind == FRAME_99DC) CheckStreamBytes(run, data, len);
  if (kind == FRAME_NAPI) {
    PacketInfo info;
    FUZZ_CHECK(len >= PACKET_HEAD_LEN && ParsePacketHead(data, &info) && info.nPacketLen == len);
  }
  // The owner may change the frame's bytes.
  data[0] ^= 0x5A;
  data[len - 1] ^= 0xA5;
  return true;
}

bool OnPacket(void* ctx, const PacketInfo& info, const uint8_t* packet) {
  auto& run = *static_cast<FramerRun*>(ctx);
  const size_t len = static_cast<size_t>(info.nPacketLen);
  FUZZ_CHECK(packet != nullptr && len >= static_cast<size_t>(PACKET_HEAD_LEN) && len <= FRAMER_MAX_PACKET);
  bool bInChunk = packet >= run.pChunk && packet + len <= run.pChunk + run.nChunkLen;
  FUZZ_CHECK(bInChunk || run.pFramer->Held() == len);
  PacketInfo again;
  FUZZ_CHECK(ParsePacketHead(packet, &again) && again.nPacketLen == info.nPacketLen);
  CheckStreamBytes(run, packet, info.nPacketLen);
  return true;
}

// FeedPackets with one chunk (an exactly sized copy). False when the stream
// was refused.
bool FeedPacketChunk(FramerRun& run, const uint8_t* bytes, size_t len) {
  CFramer& f = *run.pFramer;
  std::unique_ptr<uint8_t[]> chunk(new uint8_t[len]);
  memcpy(chunk.get(), bytes, len);
  run.pChunk = chunk.get();
  run.nChunkLen = len;
  const int32_t rc = f.FeedPackets(chunk.get(), len, &OnPacket, &run);
  FUZZ_CHECK(rc == FEED_OK || rc == FEED_BAD);
  if (rc == FEED_BAD) {
    FUZZ_CHECK(!f.RefusedBytes().empty() && f.RefusedBytes().size() <= FRAMER_REFUSED_SHOWN + 1);
    return false;
  }
  FUZZ_CHECK(f.Held() < static_cast<size_t>(FRAMER_MAX_PACKET));
  return true;
}

// Feeds one chunk (an exactly sized copy, so reading past it is caught).
// False when the framer drops the connection.
bool FeedChunk(FramerRun& run, const uint8_t* bytes, int32_t len) {
  CFramer& f = *run.pFramer;
  std::unique_ptr<uint8_t[]> chunk(new uint8_t[static_cast<size_t>(len)]);
  memcpy(chunk.get(), bytes, static_cast<size_t>(len));
  run.pLastEnd = nullptr;
  const int rc = f.Write(chunk.get(), len, &OnFrame, &run);
  FUZZ_CHECK(rc == 0 || rc == 1);
  if (rc != 0) return false;
  FUZZ_CHECK(f.Buffered() >= 0 && f.Buffered() < run.nLimit && f.Buffered() <= f.Capacity());
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetDebugEnabled(false);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size <= kControlBytes) return 0;
  FramerRun run;
  run.nLimit = ChooseLimit(data[1], data[2]);
  CFramer framer(run.nLimit, ChooseKind(data[0]));
  run.pFramer = &framer;
  run.pStream = data + kControlBytes;
  run.nStreamLen = size - kControlBytes;
  const int repeats = 1 + (data[3] & 7);
  const bool bPackets = (data[3] & 8) != 0;
  uint32_t seed = (uint32_t{data[4]} | uint32_t{data[5]} << 8 | uint32_t{data[6]} << 16 | uint32_t{data[7]} << 24);
  if (seed == 0) seed = 0x9E3779B9u;

  for (int r = 0; r < repeats; ++r) {
    for (size_t pos = 0; pos < run.nStreamLen;) {
      uint32_t x = NextRandom(seed);
      size_t want = (x & 0x300) == 0 ? 1 + (x >> 12) % 4096 : 1 + (x >> 12) % 32;
      size_t n = want < run.nStreamLen - pos ? want : run.nStreamLen - pos;
      bool bGoOn = bPackets ? FeedPacketChunk(run, run.pStream + pos, n)
                            : FeedChunk(run, run.pStream + pos, static_cast<int32_t>(n));
      if (!bGoOn) return 0;
      pos += n;
    }
  }
  return 0;
}
