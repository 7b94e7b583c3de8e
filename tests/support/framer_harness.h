#pragma once
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "net/my_socket.h"

using Bytes = std::vector<uint8_t>;

// A socket with its receive framer attached and no connection: chunks fed to
// it are framed as if they had been received, and every delivered frame is
// copied into frames.
class FramerHarness {
 public:
  // kind 0 leaves the first chunk to decide the kind.
  explicit FramerHarness(int32_t nKind = FRAME_DETECT, int32_t nMaxBuf = 600000);
  FramerHarness(const FramerHarness&) = delete;
  FramerHarness& operator=(const FramerHarness&) = delete;

  // Hands one received chunk to the framer; its result (0 keep, 1 drop).
  int Feed(const Bytes& chunk) { return sock.WriteToBuffer(chunk.data(), static_cast<int32_t>(chunk.size())); }
  // The bytes held back for the next chunk.
  Bytes Buffered() const {
    const uint8_t* p = sock.BufferData();
    return p ? Bytes(p, p + sock.Buffered()) : Bytes();
  }

  CMySocket sock;
  const int32_t nMaxBuf;
  std::vector<Bytes> frames;
  // Called for each frame (after it is copied) with the frame in the buffer.
  std::function<void(uint8_t* data, int32_t len)> onFrame;

 private:
  static int OnEvent(void* pUser, uint8_t* data, int32_t len, uint32_t ip, int32_t port, int32_t event);
};

// The bytes of a text, without a terminating NUL.
Bytes TextBytes(std::string_view text);
// a followed by b.
Bytes Concat(const Bytes& a, const Bytes& b);
// A packet of the signalling header: flag byte, type, channel, payload (with
// 4 zero bytes per extension word announced by the flag's high nibble).
Bytes MakeNapiPacket(int32_t nType, int32_t nChannel, const Bytes& payload, uint8_t headFlag = 0);
// Little- and big-endian encodings of a 32-bit and a 16-bit value.
Bytes Le32Bytes(uint32_t v);
Bytes Be32Bytes(uint32_t v);
Bytes Le16Bytes(uint16_t v);
Bytes Be16Bytes(uint16_t v);
