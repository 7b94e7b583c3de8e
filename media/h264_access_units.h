#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/frame_writer.h"

// Cutting an H.264 Annex-B elementary stream into access units, and turning
// them into a frame file of H264-layout chunks.

struct AccessUnit {
  size_t nOffset = 0;  // first byte of its first start code
  size_t nLen = 0;     // up to the next unit's first start code (or the end)
  bool bKey = false;   // holds an IDR slice (NAL type 5)
  bool bPicture = false;  // holds at least one slice (NAL types 1-5)
};

// Splits data at access unit boundaries: an access unit delimiter (type 9);
// a slice (types 1, 2, 5) whose first_mb_in_slice is 0 once the unit already
// holds a slice; SEI, SPS, PPS and types 14-18 once the unit already holds a
// slice. Parameter sets before a picture therefore belong to its unit. Bytes
// before the first start code are not part of any unit (*nLeading counts them).
std::vector<AccessUnit> SplitAccessUnits(const uint8_t* data, size_t len, size_t* nLeading);

struct ConvertResult {
  int64_t nChunks = 0;      // chunks written
  int64_t nKeyFrames = 0;
  int64_t nNoPicture = 0;   // units without a slice, left out
  int64_t nOversize = 0;    // units too big for one chunk, left out (their time slot stays empty)
  int64_t nLeading = 0;     // bytes before the first start code
};

// Writes one chunk per access unit with a picture: channel 0, key frames (units
// with an IDR slice) "0dc", others "1dc", the unit's bytes with their start
// codes as payload, time stamps index * 1e6 / nFps µs.
void ConvertAccessUnits(const uint8_t* data, size_t len, int32_t nFps, CFrameFileWriter& out, ConvertResult* res);
