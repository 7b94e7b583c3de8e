#include "net/packet.h"

#include <cstring>

#include "net/json_writer.h"
#include "net/load_counters.h"
#include "net/my_socket.h"
#include "platform/debug_log.h"

namespace {
uint32_t ReadBe32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
uint32_t ReadLe32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
}  // namespace

bool ParsePacketHead(const uint8_t* p, PacketInfo* info) {
  info->nDataLen = static_cast<int32_t>(ReadBe32(p + 4));
  info->nHeadLen = PACKET_HEAD_LEN + 4 * (p[0] >> 4);
  info->nPacketLen = static_cast<int32_t>(static_cast<uint32_t>(info->nHeadLen) + static_cast<uint32_t>(info->nDataLen));
  info->nType = static_cast<int8_t>(p[1]);
  info->nChannel = static_cast<int16_t>(static_cast<uint16_t>(p[2] | (p[3] << 8)));
  if (ReadLe32(p + 8) != static_cast<uint32_t>(PACKET_MAGIC) && p[0] != 8) {
    DebugPrintf("napi - network data error, packet len = %d, nType = %d", info->nPacketLen, info->nType);
    return false;
  }
  if (info->nDataLen < 0 || info->nDataLen > PACKET_MAX_DATA_LEN) {
    DebugPrintf("napi - data length error, data len = %d", info->nDataLen);
    return false;
  }
  return true;
}

void WritePacketHead(uint8_t* p, int32_t nType, int32_t nChannel, int32_t nDataLen) {
  uint32_t len = static_cast<uint32_t>(nDataLen);
  p[0] = 0;
  p[1] = static_cast<uint8_t>(nType);
  p[2] = static_cast<uint8_t>(nChannel & 0xFF);
  p[3] = static_cast<uint8_t>((nChannel >> 8) & 0xFF);
  p[4] = static_cast<uint8_t>(len >> 24);
  p[5] = static_cast<uint8_t>(len >> 16);
  p[6] = static_cast<uint8_t>(len >> 8);
  p[7] = static_cast<uint8_t>(len);
  p[8] = static_cast<uint8_t>(PACKET_MAGIC);
  p[9] = 0;
  p[10] = 0;
  p[11] = 0;
}

int32_t BuildSignalPacket(const Json::Value& value, uint8_t* buf, std::string* text) {
  text->clear();
  AppendCompactJson(*text, value);
  if (text->empty() || text->size() > static_cast<size_t>(SIGNAL_MAX_TEXT)) return 0;
  int32_t textLen = static_cast<int32_t>(text->size());
  WritePacketHead(buf, NTYPE_SIGNAL, 0, textLen + 1);
  memcpy(buf + PACKET_HEAD_LEN, text->data(), text->size());
  buf[PACKET_HEAD_LEN + textLen] = 0;
  return PACKET_HEAD_LEN + textLen + 1;
}

void ReportSendFailed() {
  OutputDebugLine("dev - send data failed.");
  CountFailure(FAIL_SEND);
}

bool SendSignalPacketOn(CMySocket& sock, const Json::Value& value, uint32_t timeoutMs, int bLog, bool bSendLine) {
  uint8_t buf[SIGNAL_PACKET_BUF];
  thread_local std::string text;
  int32_t len = BuildSignalPacket(value, buf, &text);
  if (len == 0) {
    // An empty text sends nothing; an over-long one cannot be framed.
    if (!text.empty()) ReportSendFailed();
    return false;
  }
  if (bLog) {
    if (bSendLine) OutputDebugLine("send");
    OutputDebugLine(text);
  }
  if (sock.Send(buf, len, timeoutMs) > 0) return true;
  ReportSendFailed();
  return false;
}
