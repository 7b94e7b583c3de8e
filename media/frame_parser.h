#pragma once
#include <cstdint>

// Chunks of a frame file. Three layouts share one file and are told apart by
// the tag at bytes 1-3 (or 2-3) of a chunk; multi-byte numbers are little-endian.
//   AVAPI: 12-byte header, channel byte, type digit '2'..'6', "dc", 24-bit
//          payload and extension lengths, extension records, payload.
//   H264:  24-byte header, channel digit, "0dc"/"1dc", "H264"/"A264",
//          32-bit payload length, 16-bit extension length, 64-bit time stamp in µs.
//   Audio: 8-byte header, channel digit, "wb" at bytes 2-3, 16-bit payload length at 6-7.

// Results of the parsers.
constexpr int32_t CHUNK_OK = 0;    // a whole valid chunk starts at the position
constexpr int32_t CHUNK_SKIP = 1;  // no valid chunk starts there
constexpr int32_t CHUNK_MORE = 2;  // a chunk starts there but more bytes are needed

constexpr int32_t FRAME_AVAPI_HEAD_LEN = 12;
constexpr int32_t FRAME_H264_HEAD_LEN = 24;
constexpr int32_t FRAME_AUDIO_HEAD_LEN = 8;
constexpr int32_t FRAME_AVAPI_MAX_VIDEO = 1400000;  // whole chunk, header included
constexpr int32_t FRAME_AVAPI_MAX_AUDIO = 8000;
constexpr int32_t FRAME_H264_MAX_VIDEO = 1500000;
constexpr int32_t FRAME_H264_MAX_AUDIO = 1000;
constexpr int32_t FRAME_EXT_MAX_RECORD = 100000;   // longest AVAPI extension record
constexpr int32_t FRAME_MAX_CHUNK = FRAME_H264_MAX_VIDEO;  // no valid chunk is longer

// Description of one recognised chunk. Only a CHUNK_OK result fills it
// completely; after CHUNK_SKIP or CHUNK_MORE it holds whatever was read before
// the decision (pPayload stays null).
struct FrameInfo {
  int32_t nTotalLen;     // whole chunk length, header included
  int32_t nTimestampMs;  // 0 when the chunk carries none
  int32_t bKeyFrame;
  int32_t bVideo;        // 1 video, 0 audio
  int32_t nWidth;        // AVAPI type 1 record, else 0
  int32_t nHeight;
  const uint8_t* pPayload;  // inside the caller's buffer
  int32_t nPayloadLen;
  int32_t nChunkChannel;  // AVAPI: byte 0 as a number; H264 and audio: byte 0 minus '0'
  int32_t nVideoAttr;     // attribute byte of the type 1 record, else 0
  int32_t nSecondOfDay;   // from the type 2 record, else 0
  int32_t bHasTime;       // 1 when a type 2 record was present
  int32_t nYear;
  int32_t nMonth;
  int32_t nDay;
  int32_t nHour;
  int32_t nMinute;
  int32_t nSecond;
};

// Recognises the chunk at `chunk`, of which `avail` bytes are present.
// With 12 or fewer bytes it returns CHUNK_MORE and leaves *info untouched;
// otherwise it clears *info and hands over to the layout parser the tag names.
// Never reads beyond `avail` bytes: when the fields a decision needs are not
// all present yet the answer is CHUNK_MORE. Writes nothing but *info; the two
// oversize video cases also write their line to the debug channel.
// Pure function, safe from any thread.
int32_t ParseFrame(const uint8_t* chunk, int32_t avail, FrameInfo* info);

// The AVAPI layout (tags "2dc" to "6dc"). CHUNK_MORE with fewer than 12 bytes.
// A video chunk above 1,400,000 bytes writes "avapi - invalid video data.";
// an audio chunk above 8,000 bytes and a malformed extension record (length
// below 4, past the extension area, above 100,000, or too short for its body)
// are skipped silently.
int32_t ParseAvapiFrame(const uint8_t* chunk, int32_t avail, FrameInfo* info);

// The H264 layout ("0dc"/"1dc" with codec mark "H264" or "A264") and the audio
// layout ("wb"). CHUNK_MORE with fewer than 8 bytes, and for video with fewer
// than the 14 bytes that hold the lengths. A video chunk above 1,500,000 bytes
// writes "invalid video data."; an audio chunk above 1,000 bytes is skipped
// silently. Lengths are summed in 64 bits, so no header wraps to a small size.
int32_t ParseH264Frame(const uint8_t* chunk, int32_t avail, FrameInfo* info);
