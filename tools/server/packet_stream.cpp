#include "tools/server/packet_stream.h"

#include <algorithm>
#include <cstdio>

namespace {
constexpr size_t STREAM_KEEP_CAPACITY = 65536;  // larger held buffers are given back
}  // namespace

int32_t CutPacket(const uint8_t* p, size_t avail, PacketInfo* info) {
  if (avail < static_cast<size_t>(PACKET_HEAD_LEN)) return CUT_MORE;
  if (!ParsePacketHead(p, info)) return CUT_BAD;
  if (avail < static_cast<size_t>(info->nPacketLen)) return CUT_MORE;
  return CUT_PACKET;
}

int32_t CPacketStream::FillHeld(const uint8_t* data, size_t len, size_t* pUsed, bool* pDone,
                                PacketInfo* info) {
  size_t off = 0;
  for (;;) {
    bool bHeaderKnown = held.size() >= static_cast<size_t>(PACKET_HEAD_LEN);
    if (bHeaderKnown && !ParsePacketHead(held.data(), info)) {
      std::vector<uint8_t> shown(held);
      shown.insert(shown.end(), data + off, data + std::min(len, off + 24));
      szBadSample = PrintableSample(shown.data(), shown.size(), 24);
      return FEED_BAD;
    }
    size_t need = bHeaderKnown ? static_cast<size_t>(info->nPacketLen) : static_cast<size_t>(PACKET_HEAD_LEN);
    size_t take = std::min(need - held.size(), len - off);
    held.insert(held.end(), data + off, data + off + take);
    off += take;
    *pUsed = off;
    if (held.size() < need) return FEED_OK;  // every byte taken, the packet still short
    if (bHeaderKnown) break;
    // The header has just become whole: read it and go on to the payload.
  }
  *pDone = true;
  return FEED_OK;
}

// Only what arrived is held: a header that announces megabytes costs
// nothing until the megabytes come.
void CPacketStream::KeepRest(const uint8_t* data, size_t len) { held.assign(data, data + len); }

void CPacketStream::ReleaseHeld() {
  held.clear();
  if (held.capacity() > STREAM_KEEP_CAPACITY) std::vector<uint8_t>().swap(held);
}

std::string PrintableSample(const uint8_t* p, size_t len, size_t maxBytes) {
  std::string out;
  size_t n = std::min(len, maxBytes);
  for (size_t i = 0; i < n; i++) {
    uint8_t c = p[i];
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  if (len > n) out += "...";
  return out;
}

std::string Printable(const std::string& text, size_t maxBytes) {
  return PrintableSample(reinterpret_cast<const uint8_t*>(text.data()), text.size(), maxBytes);
}
