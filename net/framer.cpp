#include "net/framer.h"

#include <cstring>
#include <new>

#include "platform/debug_log.h"

// Appends a chunk, growing the buffer as frames need and refusing to reach
// the limit. False drops the connection.
bool CFramer::Append(const uint8_t* data, int32_t len) {
  int64_t total = int64_t{nBuffered_} + len;
  if (total >= nLimit_) {
    OutputDebugLine("CMySocket - buffer full, close socket!!!!!");
    return false;
  }
  if (!buf_) {
    buf_.reset(new (std::nothrow) uint8_t[static_cast<size_t>(nCapacity_) + 2000]);
    if (!buf_) return false;
  }
  if (total > nCapacity_) {
    DebugPrintf("CMySocket - buffer small, realloc memory, size = %d", static_cast<int32_t>(total));
    std::unique_ptr<uint8_t[]> bigger(new (std::nothrow) uint8_t[static_cast<size_t>(total) + 2000]);
    if (!bigger) return false;
    if (nBuffered_ > 0) memcpy(bigger.get(), buf_.get(), static_cast<size_t>(nBuffered_));
    buf_ = std::move(bigger);
    nCapacity_ = static_cast<int32_t>(total);
  }
  memcpy(buf_.get() + nBuffered_, data, static_cast<size_t>(len));
  nBuffered_ = static_cast<int32_t>(total);
  return true;
}

// Delivers every whole frame at the front of the buffer and moves the rest to
// the front. False refuses the stream; the buffer is then left as it is, since
// the connection is dropped.
bool CFramer::FrameBuffered(FrameSink sink, void* ctx) {
  int32_t pos = 0;
  for (;;) {
    int32_t frameLen = 0;
    FrameStep step = FrameNext(nKind_, buf_.get() + pos, nBuffered_ - pos, &frameLen);
    if (step == FRAME_STEP_STOP) break;
    if (step == FRAME_STEP_REFUSE) return false;
    if (step == FRAME_STEP_SKIP) {
      ++pos;
      continue;
    }
    // A frame of nothing or of more than is buffered can only be a framing
    // fault; refusing it keeps the loop from stalling or overrunning.
    if (frameLen < 1 || frameLen > nBuffered_ - pos) return false;
    if (sink && !sink(ctx, buf_.get() + pos, frameLen)) return true;
    pos += frameLen;
  }
  if (pos == 0) return true;
  int32_t rest = nBuffered_ - pos;
  if (rest > 0) memmove(buf_.get(), buf_.get() + pos, static_cast<size_t>(rest));
  nBuffered_ = rest;
  return true;
}

// Detection waits for a whole header, so that a first reply arriving in short
// pieces is framed like any other.
int CFramer::Write(const uint8_t* data, int32_t len, FrameSink sink, void* ctx) {
  if (!data || len <= 0) return 0;
  if (!Append(data, len)) return 1;
  if (nKind_ == FRAME_DETECT) {
    if (nBuffered_ < FRAME_DETECT_BYTES) return 0;
    nKind_ = DetectFrameKind(buf_.get(), nBuffered_);
    if (nKind_ == FRAME_DETECT) return 1;
  }
  return FrameBuffered(sink, ctx) ? 0 : 1;
}
