// The packet header reader on any 12 bytes: it reads exactly those 12 (the
// copy is sized so that one more byte would be an overread), decodes every
// field the same way whether it accepts or refuses, accepts only what carries
// the mark and a length in range, and reads back what WritePacketHead wrote.
#include <cstdint>
#include <cstring>
#include <memory>

#include "net/packet.h"
#include "platform/debug_log.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

uint32_t Be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

void CheckDecoded(const uint8_t* p, const PacketInfo& info) {
  const int32_t nDataLen = static_cast<int32_t>(Be32(p + 4));
  FUZZ_CHECK(info.nDataLen == nDataLen);
  FUZZ_CHECK(info.nHeadLen == PACKET_HEAD_LEN + 4 * (p[0] >> 4));
  FUZZ_CHECK(info.nHeadLen >= 12 && info.nHeadLen <= 72);
  FUZZ_CHECK(info.nPacketLen == static_cast<int32_t>(static_cast<uint32_t>(info.nHeadLen) + Be32(p + 4)));
  FUZZ_CHECK(info.nType == static_cast<int8_t>(p[1]));
  FUZZ_CHECK(info.nChannel == static_cast<int16_t>(p[2] | (p[3] << 8)));
}

void CheckRewritten(const PacketInfo& info) {
  uint8_t head[PACKET_HEAD_LEN];
  WritePacketHead(head, info.nType, info.nChannel, info.nDataLen);
  PacketInfo again;
  FUZZ_CHECK(ParsePacketHead(head, &again));
  FUZZ_CHECK(again.nType == info.nType && again.nChannel == info.nChannel);
  FUZZ_CHECK(again.nDataLen == info.nDataLen && again.nHeadLen == PACKET_HEAD_LEN);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetDebugEnabled(false);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < PACKET_HEAD_LEN) return 0;
  std::unique_ptr<uint8_t[]> head(new uint8_t[PACKET_HEAD_LEN]);
  memcpy(head.get(), data, PACKET_HEAD_LEN);
  const uint8_t* p = head.get();

  PacketInfo info;
  info.nDataLen = info.nHeadLen = info.nPacketLen = info.nType = info.nChannel = -12345;
  const bool bAccepted = ParsePacketHead(p, &info);
  CheckDecoded(p, info);

  const bool bMarked = (p[8] == 82 && p[9] == 0 && p[10] == 0 && p[11] == 0) || p[0] == 8;
  const bool bLengthOk = info.nDataLen >= 0 && info.nDataLen <= PACKET_MAX_DATA_LEN;
  FUZZ_CHECK(bAccepted == (bMarked && bLengthOk));
  if (bAccepted) {
    FUZZ_CHECK(info.nPacketLen == info.nHeadLen + info.nDataLen);
    CheckRewritten(info);
  }
  return 0;
}
