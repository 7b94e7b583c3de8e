#include "tests/support/packet_builder.h"

#include <cstring>

#include "net/json_read.h"
#include "net/json_writer.h"

namespace {
uint32_t ReadBe32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
uint32_t ReadLe32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
}  // namespace

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

bool ReadPacketHead(const uint8_t* p, PacketInfo* info) {
  info->nDataLen = static_cast<int32_t>(ReadBe32(p + 4));
  info->nHeadLen = PACKET_HEAD_LEN + 4 * (p[0] >> 4);
  info->nPacketLen = static_cast<int32_t>(static_cast<uint32_t>(info->nHeadLen) + static_cast<uint32_t>(info->nDataLen));
  info->nType = static_cast<int8_t>(p[1]);
  info->nChannel = static_cast<int16_t>(static_cast<uint16_t>(p[2] | (p[3] << 8)));
  if (ReadLe32(p + 8) != static_cast<uint32_t>(PACKET_MAGIC) && p[0] != 8) return false;
  return info->nDataLen >= 0 && info->nDataLen <= PACKET_MAX_DATA_LEN;
}

std::string CapturedPacket::Operation() const { return JsonText(JsonMember(json, "OPERATION")); }

CapturedPacket CapturePacket(const uint8_t* data, size_t len) {
  CapturedPacket pkt;
  pkt.bytes.assign(data, data + len);
  if (len < static_cast<size_t>(PACKET_HEAD_LEN)) return pkt;
  ReadPacketHead(data, &pkt.info);
  if (pkt.info.nType != NTYPE_SIGNAL || static_cast<size_t>(pkt.info.nHeadLen) > len) return pkt;
  const char* text = reinterpret_cast<const char*>(data) + pkt.info.nHeadLen;
  size_t avail = len - static_cast<size_t>(pkt.info.nHeadLen);
  if (pkt.info.nDataLen >= 0 && static_cast<size_t>(pkt.info.nDataLen) < avail) avail = static_cast<size_t>(pkt.info.nDataLen);
  const void* nul = memchr(text, 0, avail);
  size_t textLen = nul ? static_cast<size_t>(static_cast<const char*>(nul) - text) : avail;
  pkt.szText.assign(text, textLen);
  pkt.bJsonOk = JsonParse(pkt.szText.data(), pkt.szText.data() + pkt.szText.size(), pkt.json, false);
  return pkt;
}

void CPacketStream::Feed(const uint8_t* data, size_t len) {
  if (len == 0) return;
  if (bBroken_) {
    nDiscarded_ += len;
    return;
  }
  // Drop consumed bytes before growing, so the buffer holds at most one
  // incomplete packet and the new chunk.
  if (pos_ > 0) {
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(pos_));
    pos_ = 0;
  }
  buf_.insert(buf_.end(), data, data + len);
  Cut();
}

void CPacketStream::Cut() {
  while (Pending() >= static_cast<size_t>(PACKET_HEAD_LEN)) {
    PacketInfo info;
    const uint8_t* p = buf_.data() + pos_;
    if (!ReadPacketHead(p, &info)) {
      bBroken_ = true;
      brokenHead_ = info;
      nDiscarded_ += Pending();
      buf_.clear();
      pos_ = 0;
      return;
    }
    size_t need = static_cast<size_t>(static_cast<uint32_t>(info.nPacketLen));
    if (Pending() < need) return;
    ready_.push_back(CapturePacket(p, need));
    pos_ += need;
  }
}

bool CPacketStream::Next(CapturedPacket* out) {
  if (readyPos_ >= ready_.size()) return false;
  *out = std::move(ready_[readyPos_++]);
  if (readyPos_ == ready_.size()) {
    ready_.clear();
    readyPos_ = 0;
  }
  return true;
}

std::vector<CapturedPacket> CPacketStream::TakeAll() {
  std::vector<CapturedPacket> out;
  CapturedPacket pkt;
  while (Next(&pkt)) out.push_back(std::move(pkt));
  return out;
}

std::vector<CapturedPacket> ParsePacketStream(const uint8_t* data, size_t len, bool* bBroken) {
  CPacketStream stream;
  stream.Feed(data, len);
  if (bBroken) *bBroken = stream.Broken();
  return stream.TakeAll();
}
