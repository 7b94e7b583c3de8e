#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/framer_kinds.h"

struct PacketInfo;

constexpr int32_t FRAMER_INITIAL_CAPACITY = 20000;
// The largest packet the header check lets through (a 72-byte header and
// 6000000 data bytes): the most FeedPackets ever holds.
constexpr int32_t FRAMER_MAX_PACKET = 6000072;

// Receives one whole frame, in place in the framer's buffer (valid until it
// returns). False when the connection was released meanwhile: framing stops
// at once and the buffer is never looked at again.
using FrameSink = bool (*)(void* ctx, uint8_t* frame, int32_t len);

// Receives one whole packet of the signalling header, read into info, either
// straight from the fed bytes or from the framer's held copy; valid until it
// returns, and not to be changed. False stops framing at once.
using PacketSink = bool (*)(void* ctx, const PacketInfo& info, const uint8_t* packet);

// Results of CFramer::FeedPackets.
constexpr int32_t FEED_OK = 0;    // every byte taken; an unfinished packet may be held
constexpr int32_t FEED_BAD = 1;   // a refused header; RefusedBytes() shows it
constexpr int32_t FEED_STOP = 2;  // the sink asked to stop
// Bytes of a refused stream worth showing in a report.
constexpr size_t FRAMER_REFUSED_SHOWN = 24;

// The receive framer of one connection: appends each received chunk to its
// buffer, cuts every whole frame off the front, hands it to the sink and keeps
// the rest. The framing kind is decided afresh for every connection, from its
// first whole header; a stream that no kind fits, or that its kind refuses,
// ends the connection (Write returns 1). The buffer grows as frames need, in
// steps that leave 2000 bytes of slack, and never reaches nLimit bytes. One
// thread at a time (the connection's share thread).
//
// FeedPackets frames the same packets for a receiver of many connections that
// keeps no buffer per connection: packets whole in the fed bytes are handed
// over from there, and only an unfinished packet is copied and held, growing
// as its bytes arrive (at most one packet, FRAMER_MAX_PACKET bytes; nLimit,
// detection and the other kinds belong to Write). An idle connection holds
// nothing. A connection uses Write or FeedPackets, never both.
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

  // One received chunk of signalling-header packets: FEED_OK, FEED_BAD (the
  // connection is to be dropped) or FEED_STOP.
  int32_t FeedPackets(const uint8_t* data, size_t len, PacketSink sink, void* ctx);
  // Bytes of the unfinished packet held by FeedPackets, and the memory they take.
  size_t Held() const { return held_.size(); }
  size_t HeldCapacity() const { return held_.capacity(); }
  // After FEED_BAD: the received bytes from the refused header on, at most
  // FRAMER_REFUSED_SHOWN + 1 of them (one more tells that more followed).
  const std::string& RefusedBytes() const { return refused_; }

 private:
  bool Append(const uint8_t* data, int32_t len);
  bool FrameBuffered(FrameSink sink, void* ctx);
  FrameStep FillHeld(const uint8_t* data, size_t len, size_t* pUsed, PacketInfo* info);
  void KeepRefused(const uint8_t* a, size_t aLen, const uint8_t* b, size_t bLen);
  void ReleaseHeld();

  std::unique_ptr<uint8_t[]> buf_;  // made with the first chunk
  int32_t nBuffered_ = 0;
  int32_t nCapacity_ = FRAMER_INITIAL_CAPACITY;
  int32_t nLimit_;
  int32_t nKind_;
  std::vector<uint8_t> held_;  // FeedPackets: the unfinished packet
  std::string refused_;        // FeedPackets: the start of a refused header
};
