#include "tools/server/chunk_probe.h"

#include <cstring>

namespace {
uint32_t ReadLe32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
uint32_t ReadLe16(const uint8_t* p) { return uint32_t{p[0]} | (uint32_t{p[1]} << 8); }

// Fills the payload position when header, extension and payload fit in len.
ChunkProbe Fits(size_t headLen, uint64_t extLen, uint64_t payloadLen, size_t len) {
  ChunkProbe probe;
  if (headLen + extLen + payloadLen > len) return probe;
  probe.bChunk = true;
  probe.nPayloadOff = static_cast<size_t>(headLen + extLen);
  probe.nPayloadLen = static_cast<size_t>(payloadLen);
  return probe;
}

ChunkProbe ProbeH264(const uint8_t* p, size_t len) {
  if (len < 24 || (memcmp(p + 4, "H264", 4) != 0 && memcmp(p + 4, "A264", 4) != 0)) return {};
  ChunkProbe probe = Fits(24, ReadLe16(p + 12), ReadLe32(p + 8), len);
  probe.bVideo = probe.bChunk;
  probe.bKeyFrame = probe.bChunk && p[1] == '0';
  return probe;
}

ChunkProbe ProbeAvapi(const uint8_t* p, size_t len) {
  if (len < 12) return {};
  ChunkProbe probe = Fits(12, ReadLe32(p + 8) & 0xFFFFFFu, ReadLe32(p + 4) & 0xFFFFFFu, len);
  probe.bVideo = probe.bChunk && p[1] != '4';
  probe.bKeyFrame = probe.bChunk && (p[1] == '2' || p[1] == '5');
  return probe;
}
}  // namespace

ChunkProbe ProbeChunk(const uint8_t* p, size_t len) {
  if (len < 8) return {};
  if ((p[1] == '0' || p[1] == '1') && p[2] == 'd' && p[3] == 'c') return ProbeH264(p, len);
  if (p[1] >= '2' && p[1] <= '6' && p[2] == 'd' && p[3] == 'c') return ProbeAvapi(p, len);
  if (p[2] == 'w' && p[3] == 'b') return Fits(8, 0, ReadLe16(p + 6), len);
  return {};
}
