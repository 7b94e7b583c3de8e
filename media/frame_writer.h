#pragma once
#include <cstdint>
#include <cstdio>

// Writes a frame file: the chunk builders below append to it. Used by the frame
// file maker tool and by tests. One owner thread.
class CFrameFileWriter {
 public:
  CFrameFileWriter() = default;
  ~CFrameFileWriter();
  CFrameFileWriter(const CFrameFileWriter&) = delete;
  CFrameFileWriter& operator=(const CFrameFileWriter&) = delete;

  // Creates (or truncates) path. False when it cannot be created.
  bool Create(const char* path);
  // Appends len bytes. A failed write is remembered and reported by Close.
  void Append(const void* data, size_t len);
  // Flushes and closes; false when any write, the flush or the close failed.
  bool Close();

 private:
  FILE* pFile = nullptr;
  bool bFailed = false;
};

constexpr int32_t FRAME_H264_MAX_PAYLOAD = 1500000 - 24;  // biggest payload of a valid H264 chunk

// Fills the 24-byte header of an H264 video chunk: channel digit '0' + nChannel
// (0-9), "0dc" for a key frame or "1dc", codec mark "H264", payload length,
// no extension, time stamp in microseconds.
void WriteH264ChunkHead(uint8_t* head, int32_t nChannel, bool bKey, uint32_t nPayloadLen, uint64_t nTimeUs);

// Appends one H264 video chunk (header and payload) to out.
void AppendH264Chunk(CFrameFileWriter& out, int32_t nChannel, bool bKey, uint64_t nTimeUs, const uint8_t* payload,
                     uint32_t nPayloadLen);

// Time stamp of frame index at nFps frames a second, in microseconds, without drift.
inline uint64_t FrameTimeUs(int64_t index, int32_t nFps) {
  return static_cast<uint64_t>(index) * 1000000u / static_cast<uint64_t>(nFps);
}
