#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "net/packet.h"

// What the bytes at the front of a stream hold.
constexpr int32_t CUT_MORE = 0;    // not yet a whole packet
constexpr int32_t CUT_PACKET = 1;  // a whole packet of info.nPacketLen bytes
constexpr int32_t CUT_BAD = 2;     // the header is refused (ParsePacketHead)

// Looks at avail bytes at p. Needs 12 bytes for the header and then the whole
// packet; a refused header is CUT_BAD at once, whatever follows it.
int32_t CutPacket(const uint8_t* p, size_t avail, PacketInfo* info);

// Results of CPacketStream::Feed.
constexpr int32_t FEED_OK = 0;    // every byte taken; a partial packet may be held
constexpr int32_t FEED_BAD = 1;   // a refused header; BadSample() shows it
constexpr int32_t FEED_STOP = 2;  // the packet handler asked to stop

// The receive side of one connection: bytes in, whole packets out. Packets are
// handed over straight from the caller's bytes when they are whole there; only
// an unfinished packet is copied and held, so an idle connection holds nothing.
// The held bytes never exceed one packet (at most 72 + 6000000 bytes, the
// largest header the packet check lets through), and grow only as the bytes
// arrive. One thread at a time.
class CPacketStream {
 public:
  // onPacket(const PacketInfo&, const uint8_t* packet) -> bool (false: stop).
  template <class F>
  int32_t Feed(const uint8_t* data, size_t len, F&& onPacket);

  size_t Held() const { return held.size(); }
  // Bytes of memory the held packet takes.
  size_t HeldCapacity() const { return held.capacity(); }
  const std::string& BadSample() const { return szBadSample; }

 private:
  // Moves bytes into the held packet; sets *pDone when it is whole.
  int32_t FillHeld(const uint8_t* data, size_t len, size_t* pUsed, bool* pDone, PacketInfo* info);
  void KeepRest(const uint8_t* data, size_t len);
  void ReleaseHeld();

  std::vector<uint8_t> held;
  std::string szBadSample;
};

// Up to maxBytes of p as text: printable ASCII as is, everything else as \xHH.
std::string PrintableSample(const uint8_t* p, size_t len, size_t maxBytes);
// The same for a text received from the network (device numbers, positions).
std::string Printable(const std::string& text, size_t maxBytes = 100);

template <class F>
int32_t CPacketStream::Feed(const uint8_t* data, size_t len, F&& onPacket) {
  size_t off = 0;
  PacketInfo info;
  if (!held.empty()) {
    bool bDone = false;
    int32_t r = FillHeld(data, len, &off, &bDone, &info);
    if (r != FEED_OK || !bDone) return r;
    bool bGoOn = onPacket(info, static_cast<const uint8_t*>(held.data()));
    ReleaseHeld();
    if (!bGoOn) return FEED_STOP;
  }
  while (off < len) {
    int32_t cut = CutPacket(data + off, len - off, &info);
    if (cut == CUT_BAD) {
      szBadSample = PrintableSample(data + off, len - off, 24);
      return FEED_BAD;
    }
    if (cut == CUT_MORE) {
      KeepRest(data + off, len - off);
      return FEED_OK;
    }
    if (!onPacket(info, data + off)) return FEED_STOP;
    off += static_cast<size_t>(info.nPacketLen);
  }
  return FEED_OK;
}
