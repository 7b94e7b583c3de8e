#include "media/frame_parser.h"

#include <cstring>

#include "platform/debug_log.h"

namespace {
uint32_t Le16(const uint8_t* p) { return uint32_t{p[0]} | (uint32_t{p[1]} << 8); }
uint32_t Le24(const uint8_t* p) { return Le16(p) | (uint32_t{p[2]} << 16); }
uint32_t Le32(const uint8_t* p) { return Le24(p) | (uint32_t{p[3]} << 24); }
uint64_t Le64(const uint8_t* p) { return uint64_t{Le32(p)} | (uint64_t{Le32(p + 4)} << 32); }

bool IsAvapiTag(const uint8_t* c) { return c[1] >= '2' && c[1] <= '6' && c[2] == 'd' && c[3] == 'c'; }
bool IsH264VideoTag(const uint8_t* c) { return (c[1] == '0' || c[1] == '1') && c[2] == 'd' && c[3] == 'c'; }
bool IsAudioTag(const uint8_t* c) { return c[2] == 'w' && c[3] == 'b'; }
bool IsCodecMark(const uint8_t* p) { return memcmp(p, "H264", 4) == 0 || memcmp(p, "A264", 4) == 0; }

// Body of one extension record; false when the record is too short for it.
bool ReadRecord(const uint8_t* rec, int32_t len, FrameInfo* info) {
  switch (rec[0]) {
    case 1: {
      if (len < 8) return false;
      uint32_t w = Le32(rec + 4);
      info->nWidth = static_cast<int32_t>(w & 0xFFF);
      info->nHeight = static_cast<int32_t>((w >> 12) & 0xFFF);
      info->nVideoAttr = static_cast<int32_t>(w >> 24);
      return true;
    }
    case 2:
      if (len < 10) return false;
      info->bHasTime = 1;
      info->nYear = 2000 + rec[4];
      info->nMonth = rec[5];
      info->nDay = rec[6];
      info->nHour = rec[7];
      info->nMinute = rec[8];
      info->nSecond = rec[9];
      info->nSecondOfDay = info->nHour * 3600 + info->nMinute * 60 + info->nSecond;
      return true;
    case 3:
      if (len < 8) return false;
      info->nTimestampMs = static_cast<int32_t>(Le32(rec + 4));
      return true;
    default:
      return true;  // unknown records are stepped over
  }
}

// Walks the extension records of an AVAPI chunk. Every record must lie inside
// the extension area and advance the walk, otherwise the chunk is malformed.
bool WalkExtension(const uint8_t* rec, int32_t remain, FrameInfo* info) {
  while (remain > 4) {
    if (rec[0] == 0) break;
    int32_t len = static_cast<int32_t>(Le24(rec + 1));
    if (len < 4 || len > remain || len > FRAME_EXT_MAX_RECORD) return false;
    if (!ReadRecord(rec, len, info)) return false;
    rec += len;
    remain -= len;
  }
  return true;
}

// Reads the lengths of an H264 video header into *whole; CHUNK_OK to go on.
int32_t ReadH264VideoHead(const uint8_t* chunk, int32_t avail, FrameInfo* info, int64_t* whole) {
  if (!IsCodecMark(chunk + 4)) return CHUNK_SKIP;
  if (avail < 14) return CHUNK_MORE;
  info->bKeyFrame = chunk[1] == '0';
  int64_t payload = Le32(chunk + 8);
  int64_t ext = Le16(chunk + 12);
  *whole = FRAME_H264_HEAD_LEN + ext + payload;
  if (*whole > FRAME_H264_MAX_VIDEO || *whole <= 0) {
    OutputDebugLine("invalid video data.");
    return CHUNK_SKIP;
  }
  info->nPayloadLen = static_cast<int32_t>(payload);
  info->bVideo = 1;
  return CHUNK_OK;
}
}  // namespace

int32_t ParseFrame(const uint8_t* chunk, int32_t avail, FrameInfo* info) {
  if (avail <= 12) return CHUNK_MORE;
  *info = FrameInfo{};
  if (IsAvapiTag(chunk)) return ParseAvapiFrame(chunk, avail, info);
  if (IsH264VideoTag(chunk) || IsAudioTag(chunk)) return ParseH264Frame(chunk, avail, info);
  return CHUNK_SKIP;
}

int32_t ParseAvapiFrame(const uint8_t* chunk, int32_t avail, FrameInfo* info) {
  if (avail < FRAME_AVAPI_HEAD_LEN) return CHUNK_MORE;
  *info = FrameInfo{};
  if (!IsAvapiTag(chunk)) return CHUNK_SKIP;
  info->bKeyFrame = chunk[1] == '2' || chunk[1] == '5';
  info->bVideo = chunk[1] != '4';
  int32_t payload = static_cast<int32_t>(Le32(chunk + 4) & 0xFFFFFF);
  int32_t ext = static_cast<int32_t>(Le32(chunk + 8) & 0xFFFFFF);
  int64_t whole = int64_t{FRAME_AVAPI_HEAD_LEN} + ext + payload;
  info->nPayloadLen = payload;
  if (info->bVideo && whole > FRAME_AVAPI_MAX_VIDEO) {
    OutputDebugLine("avapi - invalid video data.");
    return CHUNK_SKIP;
  }
  if (!info->bVideo && whole > FRAME_AVAPI_MAX_AUDIO) return CHUNK_SKIP;
  if (avail < whole) return CHUNK_MORE;
  if (!WalkExtension(chunk + FRAME_AVAPI_HEAD_LEN, ext, info)) return CHUNK_SKIP;
  info->pPayload = chunk + FRAME_AVAPI_HEAD_LEN + ext;
  info->nChunkChannel = chunk[0];
  info->nTotalLen = static_cast<int32_t>(whole);
  return CHUNK_OK;
}

int32_t ParseH264Frame(const uint8_t* chunk, int32_t avail, FrameInfo* info) {
  if (avail < FRAME_AUDIO_HEAD_LEN) return CHUNK_MORE;
  *info = FrameInfo{};
  int64_t whole = 0;
  if (IsH264VideoTag(chunk)) {
    int32_t r = ReadH264VideoHead(chunk, avail, info, &whole);
    if (r != CHUNK_OK) return r;
  } else if (IsAudioTag(chunk)) {
    info->nPayloadLen = static_cast<int32_t>(Le16(chunk + 6));
    whole = int64_t{info->nPayloadLen} + FRAME_AUDIO_HEAD_LEN;
    if (whole > FRAME_H264_MAX_AUDIO) return CHUNK_SKIP;
  } else {
    return CHUNK_SKIP;
  }
  if (avail < whole) return CHUNK_MORE;
  int32_t head = info->bVideo ? FRAME_H264_HEAD_LEN + static_cast<int32_t>(Le16(chunk + 12)) : FRAME_AUDIO_HEAD_LEN;
  // The whole chunk is present here, so the 24-byte video header is too.
  if (info->bVideo) info->nTimestampMs = static_cast<int32_t>(static_cast<uint32_t>(Le64(chunk + 16) / 1000));
  info->pPayload = chunk + head;
  info->nTotalLen = static_cast<int32_t>(whole);
  info->nChunkChannel = chunk[0] - '0';
  return CHUNK_OK;
}
