#pragma once
#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/packet.h"

// Packet building and stream parsing for tests. Unlike the system's own
// builders these accept any length (robustness tests need over-long texts and
// corrupt headers) and never write to the debug channel, so tests that count
// debug lines see only the lines of the code under test.

using Bytes = std::vector<uint8_t>;

// A 12-byte header with every field chosen by the caller, corrupt values
// included: byte 0 nHeadFlag, byte 1 nType, bytes 2-3 nChannel (little-endian),
// bytes 4-7 nDataLen (big-endian), bytes 8-11 nMagic (little-endian).
Bytes BuildRawHead(uint8_t nHeadFlag, int32_t nType, int32_t nChannel, int32_t nDataLen,
                   uint32_t nMagic = PACKET_MAGIC);

// A well-formed packet: header (flag 0, magic 82) and payload.
Bytes BuildPacket(int32_t nType, int32_t nChannel, const void* payload, size_t len);
Bytes BuildPacket(int32_t nType, int32_t nChannel, std::string_view payload);

// A type-0 packet carrying text and one NUL, of any length (also beyond the
// 7987 bytes the system itself would send). The text need not be JSON.
Bytes BuildTextPacket(std::string_view text);

// A type-0 packet carrying the compact text of value and one NUL.
Bytes BuildJsonPacket(const Json::Value& value);

// A media packet of nType (NTYPE_LIVE ... NTYPE_TALK) for channel nChannel.
Bytes BuildMediaPacket(int32_t nType, int32_t nChannel, const Bytes& payload);

// Decodes the header at p (at least 12 bytes) exactly as the system's header
// check does, without writing anything. True when the header is acceptable.
bool ReadPacketHead(const uint8_t* p, PacketInfo* info);

// One whole packet taken from a byte stream.
struct CapturedPacket {
  int32_t nConn = -1;     // connection it arrived on (fake server), else -1
  uint64_t nSeq = 0;      // arrival order over the whole server, from 1
  int64_t nRecvMs = 0;    // steady milliseconds since the server started
  PacketInfo info;        // the decoded header
  Bytes bytes;            // header and payload (empty when not kept, see bBytesDropped)
  bool bBytesDropped = false;  // the server's recording limit was reached
  std::string szText;     // type 0: the payload up to its first NUL
  Json::Value json;       // type 0: what the reader made of szText
  bool bJsonOk = false;   // type 0: szText parsed completely

  // The OPERATION string of a type-0 packet, else "".
  std::string Operation() const;
};

// Fills the header-derived fields, and for type 0 the text and JSON, of a
// packet whose whole bytes are given.
CapturedPacket CapturePacket(const uint8_t* data, size_t len);

// Cuts a byte stream into packets as the receive framer does for signalling
// and media connections. A refused header breaks the stream for good: the
// rest is counted but never parsed. Input is bounded by the largest packet
// (72-byte header and 6000000 bytes of payload). Not thread-safe.
class CPacketStream {
 public:
  // Appends bytes and cuts every whole packet out of the buffer.
  void Feed(const uint8_t* data, size_t len);
  // Takes the oldest whole packet; false when there is none.
  bool Next(CapturedPacket* out);
  // All whole packets waiting, oldest first (and removes them).
  std::vector<CapturedPacket> TakeAll();

  bool Broken() const { return bBroken_; }
  // The refused header's decoded fields (valid when Broken()).
  const PacketInfo& BrokenHead() const { return brokenHead_; }
  // Bytes held that do not yet form a whole packet.
  size_t Pending() const { return buf_.size() - pos_; }
  // Bytes received after the stream broke (never parsed).
  uint64_t DiscardedBytes() const { return nDiscarded_; }

 private:
  void Cut();

  Bytes buf_;
  size_t pos_ = 0;
  std::vector<CapturedPacket> ready_;
  size_t readyPos_ = 0;
  bool bBroken_ = false;
  PacketInfo brokenHead_;
  uint64_t nDiscarded_ = 0;
};

// Cuts a captured stream (for example everything a client received) into
// packets. bBroken, when given, tells whether a refused header stopped it.
std::vector<CapturedPacket> ParsePacketStream(const uint8_t* data, size_t len, bool* bBroken = nullptr);
