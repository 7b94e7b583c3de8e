#include "tests/support/packet_builder.h"

#include <cstring>

#include "net/json_writer.h"

Bytes BuildRawHead(uint8_t nHeadFlag, int32_t nType, int32_t nChannel, int32_t nDataLen, uint32_t nMagic) {
  Bytes head(PACKET_HEAD_LEN);
  WritePacketHead(head.data(), nType, nChannel, nDataLen);
  head[0] = nHeadFlag;
  for (int i = 0; i < 4; ++i) head[8 + i] = static_cast<uint8_t>(nMagic >> (8 * i));
  return head;
}

Bytes BuildPacket(int32_t nType, int32_t nChannel, const void* payload, size_t len) {
  Bytes out(PACKET_HEAD_LEN + len);
  WritePacketHead(out.data(), nType, nChannel, static_cast<int32_t>(len));
  if (len > 0) memcpy(out.data() + PACKET_HEAD_LEN, payload, len);
  return out;
}

Bytes BuildPacket(int32_t nType, int32_t nChannel, std::string_view payload) {
  return BuildPacket(nType, nChannel, payload.data(), payload.size());
}

Bytes BuildTextPacket(std::string_view text) {
  std::string withNul(text);
  withNul.push_back('\0');
  return BuildPacket(NTYPE_SIGNAL, 0, withNul);
}

Bytes BuildJsonPacket(const Json::Value& value) { return BuildTextPacket(WriteCompactJson(value)); }

Bytes BuildMediaPacket(int32_t nType, int32_t nChannel, const Bytes& payload) {
  return BuildPacket(nType, nChannel, payload.data(), payload.size());
}
