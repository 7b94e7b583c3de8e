#include "tests/support/framer_harness.h"

#include <gtest/gtest.h>

#include "net/packet.h"

FramerHarness::FramerHarness(int32_t nKind, int32_t nMaxBufIn) : nMaxBuf(nMaxBufIn) {
  SocketParam p;
  p.nMode = SOCK_MODE_CONNECT;
  p.nMaxBuf = nMaxBuf;
  p.pfnCallback = &FramerHarness::OnEvent;
  p.pUser = this;
  EXPECT_EQ(sock.AttachFramer(p, nKind), 0);
}

int FramerHarness::OnEvent(void* pUser, uint8_t* data, int32_t len, uint32_t ip, int32_t port, int32_t event) {
  auto* self = static_cast<FramerHarness*>(pUser);
  EXPECT_EQ(event, SOCK_EVENT_DATA);
  EXPECT_EQ(ip, 0u);
  EXPECT_EQ(port, 0);
  self->frames.emplace_back(data, data + len);
  if (self->onFrame) self->onFrame(data, len);
  return 0;
}

Bytes TextBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes Concat(const Bytes& a, const Bytes& b) {
  Bytes out = a;
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

Bytes MakeNapiPacket(int32_t nType, int32_t nChannel, const Bytes& payload, uint8_t headFlag) {
  size_t ext = 4u * (headFlag >> 4);
  Bytes out(PACKET_HEAD_LEN + ext);
  WritePacketHead(out.data(), nType, nChannel, static_cast<int32_t>(payload.size()));
  out[0] = headFlag;
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

Bytes Le32Bytes(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}
Bytes Be32Bytes(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
          static_cast<uint8_t>(v)};
}
Bytes Le16Bytes(uint16_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }
Bytes Be16Bytes(uint16_t v) { return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)}; }
