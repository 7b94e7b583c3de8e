#include "media/h264_access_units.h"

namespace {
struct NalUnit {
  size_t nBegin;  // first byte of its start code
  size_t nHead;   // its NAL header byte (may equal the data length for an empty unit)
};

// Every NAL unit of data, in order. A four-byte start code counts as part of its unit.
std::vector<NalUnit> FindNalUnits(const uint8_t* d, size_t len) {
  std::vector<NalUnit> nals;
  size_t minBegin = 0;
  for (size_t i = 0; i + 3 <= len; ++i) {
    if (d[i] != 0 || d[i + 1] != 0 || d[i + 2] != 1) continue;
    size_t begin = (i > minBegin && d[i - 1] == 0) ? i - 1 : i;
    nals.push_back({begin, i + 3});
    minBegin = i + 3;
    i += 2;
  }
  return nals;
}

int NalType(const uint8_t* d, size_t len, const NalUnit& n) { return n.nHead < len ? d[n.nHead] & 0x1F : 0; }

bool IsSlice(int type) { return type >= 1 && type <= 5; }

// first_mb_in_slice is ue(v); its first bit is 1 exactly when the value is 0.
bool FirstMbIsZero(const uint8_t* d, size_t end, const NalUnit& n) { return n.nHead + 1 < end && (d[n.nHead + 1] & 0x80); }

bool StartsUnit(int type, bool bHasSlice, bool bFirstMb) {
  if (type == 9) return true;
  if (!bHasSlice) return false;
  if (type == 6 || type == 7 || type == 8 || (type >= 14 && type <= 18)) return true;
  return (type == 1 || type == 2 || type == 5) && bFirstMb;
}
}  // namespace

std::vector<AccessUnit> SplitAccessUnits(const uint8_t* data, size_t len, size_t* nLeading) {
  std::vector<NalUnit> nals = FindNalUnits(data, len);
  *nLeading = nals.empty() ? len : nals.front().nBegin;
  std::vector<AccessUnit> units;
  AccessUnit cur;
  bool bOpen = false;
  for (size_t k = 0; k < nals.size(); ++k) {
    size_t end = k + 1 < nals.size() ? nals[k + 1].nBegin : len;
    int type = NalType(data, len, nals[k]);
    if (bOpen && StartsUnit(type, cur.bPicture, FirstMbIsZero(data, end, nals[k]))) {
      units.push_back(cur);
      bOpen = false;
    }
    if (!bOpen) {
      cur = AccessUnit{};
      cur.nOffset = nals[k].nBegin;
      bOpen = true;
    }
    cur.nLen = end - cur.nOffset;
    cur.bPicture = cur.bPicture || IsSlice(type);
    cur.bKey = cur.bKey || type == 5;
  }
  if (bOpen) units.push_back(cur);
  return units;
}

void ConvertAccessUnits(const uint8_t* data, size_t len, int32_t nFps, CFrameFileWriter& out, ConvertResult* res) {
  *res = ConvertResult{};
  size_t leading = 0;
  std::vector<AccessUnit> units = SplitAccessUnits(data, len, &leading);
  res->nLeading = static_cast<int64_t>(leading);
  int64_t index = 0;
  for (const AccessUnit& u : units) {
    if (!u.bPicture) {
      ++res->nNoPicture;
      continue;
    }
    uint64_t ts = FrameTimeUs(index++, nFps);
    if (u.nLen > static_cast<size_t>(FRAME_H264_MAX_PAYLOAD)) {
      ++res->nOversize;
      continue;
    }
    AppendH264Chunk(out, 0, u.bKey, ts, data + u.nOffset, static_cast<uint32_t>(u.nLen));
    ++res->nChunks;
    res->nKeyFrames += u.bKey;
  }
}
