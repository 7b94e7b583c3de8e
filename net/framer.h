#pragma once
#include <cstdint>
#include <memory>

#include "net/framer_kinds.h"

constexpr int32_t FRAMER_INITIAL_CAPACITY = 20000;

// Receives one whole frame, in place in the framer's buffer (valid until it
// returns). False when the connection was released meanwhile: framing stops
// at once and the buffer is never looked at again.
using FrameSink = bool (*)(void* ctx, uint8_t* frame, int32_t len);

// The receive framer of one connection: appends each received chunk to its
// buffer, cuts every whole frame off the front, hands it to the sink and keeps
// the rest. The framing kind is decided afresh for every connection, from its
// first whole header; a stream that no kind fits, or that its kind refuses,
// ends the connection (Write returns 1). The buffer grows as frames need, in
// steps that leave 2000 bytes of slack, and never reaches nLimit bytes. One
// thread at a time (the connection's share thread).
class CFramer {
 public:
  explicit CFramer(int32_t nLimit, int32_t nKind = FRAME_DETECT) : nLimit_(nLimit), nKind_(nKind) {}
  CFramer(const CFramer&) = delete;
  CFramer& operator=(const CFramer&) = delete;

  // One received chunk: 0 keeps the connection, 1 drops it.
  int Write(const uint8_t* data, int32_t len, FrameSink sink, void* ctx);

  // Sets the kind before any chunk (tests); FRAME_DETECT leaves it to the stream.
  void SetKind(int32_t nKind) { nKind_ = nKind; }
  int32_t Kind() const { return nKind_; }
  int32_t Buffered() const { return nBuffered_; }
  int32_t Capacity() const { return nCapacity_; }
  const uint8_t* Data() const { return buf_.get(); }

 private:
  bool Append(const uint8_t* data, int32_t len);
  bool FrameBuffered(FrameSink sink, void* ctx);

  std::unique_ptr<uint8_t[]> buf_;  // made with the first chunk
  int32_t nBuffered_ = 0;
  int32_t nCapacity_ = FRAMER_INITIAL_CAPACITY;
  int32_t nLimit_;
  int32_t nKind_;
};
