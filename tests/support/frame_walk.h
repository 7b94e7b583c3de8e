#pragma once
// Drives a CFrameReader the way the live sender does (for media tests only;
// include it from tests linked with zel_media).
#include <cstdint>
#include <vector>

#include "media/frame_reader.h"

struct YieldedChunk {
  int32_t nOffset = 0;  // file offset of the chunk
  FrameInfo info{};     // info.pPayload pointed into the reader's window: use payload
  std::vector<uint8_t> payload;
  int32_t nLoop = 0;    // restarts seen before it
};

struct ReaderWalk {
  std::vector<YieldedChunk> chunks;
  int32_t nRestarts = 0;
  int32_t nIdle = 0;
  int64_t nCalls = 0;
};

// Calls Next until `restarts` restarts have been seen or maxCalls calls were
// made, consuming every yielded chunk at once. The call that reports the last
// restart ends the walk; a chunk it yields is neither recorded nor consumed.
inline ReaderWalk WalkReader(CFrameReader& reader, int32_t restarts, int64_t maxCalls) {
  ReaderWalk walk;
  while (walk.nRestarts < restarts && walk.nCalls < maxCalls) {
    FrameInfo fi{};
    bool restarted = false;
    int32_t r = reader.Next(&fi, &restarted);
    ++walk.nCalls;
    walk.nRestarts += restarted;
    walk.nIdle += r == CHUNK_IDLE;
    if (r != CHUNK_OK || walk.nRestarts >= restarts) continue;
    // A yielded chunk stays at the position until it is consumed.
    walk.chunks.push_back({reader.FileOffset(), fi, {fi.pPayload, fi.pPayload + fi.nPayloadLen}, walk.nRestarts});
    reader.Consume(fi);
  }
  return walk;
}
