#include "tools/server/captured_packet.h"

#include <cstring>

#include "net/json_read.h"

std::string CapturedPacket::Operation() const { return JsonText(JsonMember(json, "OPERATION")); }

CapturedPacket CapturePacket(const PacketInfo& info, const uint8_t* packet, bool bKeepBytes) {
  CapturedPacket pkt;
  pkt.info = info;
  if (bKeepBytes) pkt.bytes.assign(packet, packet + info.nPacketLen);
  pkt.bBytesDropped = !bKeepBytes;
  if (info.nType != NTYPE_SIGNAL) return pkt;
  const char* text = reinterpret_cast<const char*>(packet) + info.nHeadLen;
  const void* nul = memchr(text, 0, static_cast<size_t>(info.nDataLen));
  size_t len = nul ? static_cast<size_t>(static_cast<const char*>(nul) - text) : static_cast<size_t>(info.nDataLen);
  pkt.szText.assign(text, len);
  pkt.bJsonOk = JsonParse(pkt.szText.data(), pkt.szText.data() + len, pkt.json, false);
  return pkt;
}
