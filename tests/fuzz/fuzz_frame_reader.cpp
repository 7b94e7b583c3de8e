// The sequential frame file reader over the input written to a file: every
// chunk it yields must lie inside its window and inside the file, be the
// file's own bytes at the file offset it reports, and have its payload inside
// the chunk. Input byte 0 also decides whether the reader sees the whole file
// or stops at an offset limit (bytes 1-2), and which yielded chunks are left
// unconsumed (offered again).
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "media/frame_reader.h"
#include "platform/debug_log.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

constexpr int kSteps = 2000;

// One file name per process, written for every input and removed as soon as
// the reader has it open (the reader keeps reading its descriptor), so that
// nothing is left in /tmp even when a run ends in a crash.
const std::string& TempPath() {
  static const std::string path = "/tmp/zel-fuzz-frame-reader-" + std::to_string(getpid()) + ".bin";
  return path;
}

bool WriteTempFile(const uint8_t* data, size_t size) {
  int fd = open(TempPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  size_t off = 0;
  while (off < size) {
    ssize_t w = write(fd, data + off, size - off);
    if (w <= 0) break;
    off += static_cast<size_t>(w);
  }
  close(fd);
  return off == size;
}

// A yielded chunk: within the window and the visible file, the file's bytes
// at the reported offset, payload inside.
void CheckYield(const CFrameReader& reader, const FrameInfo& info, const uint8_t* file, int64_t visible) {
  FUZZ_CHECK(info.nTotalLen > 0 && info.nTotalLen <= reader.Available());
  const int64_t off = reader.FileOffset();
  FUZZ_CHECK(off >= 0 && off + info.nTotalLen <= visible);
  const uint8_t* chunk = reader.Chunk();
  FUZZ_CHECK(memcmp(chunk, file + off, static_cast<size_t>(info.nTotalLen)) == 0);
  FUZZ_CHECK(info.nPayloadLen >= 0 && info.pPayload >= chunk);
  FUZZ_CHECK(info.pPayload + info.nPayloadLen <= chunk + info.nTotalLen);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetDebugEnabled(false);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  FUZZ_CHECK(WriteTempFile(data, size));
  const bool bLimited = (data[0] & 1) != 0;
  const int32_t limit = bLimited && size >= 3 ? (data[1] | data[2] << 8) : INT32_MAX;
  const int64_t visible = limit < static_cast<int64_t>(size) ? limit : static_cast<int64_t>(size);
  const uint8_t keepMask = data[0] >> 1;

  CFrameReader reader(limit);
  const bool bOpened = reader.Open(TempPath().c_str());
  unlink(TempPath().c_str());
  FUZZ_CHECK(bOpened);
  int32_t yields = 0;
  int64_t pendingOffset = -1;  // a chunk left unconsumed that must come again
  int32_t pendingLen = 0;
  for (int step = 0; step < kSteps; ++step) {
    FrameInfo info;
    bool restarted = false;
    int32_t r = reader.Next(&info, &restarted);
    FUZZ_CHECK(r == CHUNK_OK || r == CHUNK_SKIP || r == CHUNK_MORE || r == CHUNK_IDLE);
    FUZZ_CHECK(reader.Available() >= 0 && reader.FileOffset() >= 0 && reader.FileOffset() <= visible);
    if (pendingOffset >= 0) {
      FUZZ_CHECK(r == CHUNK_OK && !restarted && reader.FileOffset() == pendingOffset);
      FUZZ_CHECK(info.nTotalLen == pendingLen);
      pendingOffset = -1;
    }
    if (r != CHUNK_OK) continue;
    CheckYield(reader, info, data, visible);
    // Leave some chunks unconsumed. While a full header's worth of bytes is
    // left in the window the next call must offer the same chunk again
    // (with fewer, it reads a fresh window or starts the file again).
    if ((keepMask >> (yields++ % 7)) & 1) {
      if (reader.Available() >= FRAME_MIN_AVAIL) {
        pendingOffset = reader.FileOffset();
        pendingLen = info.nTotalLen;
      }
      continue;
    }
    reader.Consume(info);
  }
  reader.Close();
  return 0;
}
