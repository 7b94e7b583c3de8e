#pragma once
#include <cstddef>
#include <cstdint>

// What a live media payload holds: one chunk of a frame file, in one of three
// layouts: the 24-byte H264 chunk ("0dc"/"1dc" then "H264"/"A264"), the
// 12-byte AVAPI chunk (type digit '2' to '6' then "dc") or the 8-byte audio
// chunk ("wb" at bytes 2-3).
struct ChunkProbe {
  bool bChunk = false;     // a known header whose payload lies inside the bytes given
  bool bVideo = false;
  bool bKeyFrame = false;  // "0dc", or AVAPI type '2' / '5'
  size_t nPayloadOff = 0;  // from the chunk start: 24 + extension (H264), 12 + extension (AVAPI), 8 (audio)
  size_t nPayloadLen = 0;
};

// Classifies the len bytes at p; reads nothing outside them.
ChunkProbe ProbeChunk(const uint8_t* p, size_t len);
