#pragma once
#include <json/value.h>

#include <cstdint>
#include <string>

#include "net/packet.h"

// A plain blocking TCP client that speaks in packets, for tests that play a
// device against a server. Every wait has a deadline.
class CPacketClient {
 public:
  CPacketClient() = default;
  ~CPacketClient() { Close(); }
  CPacketClient(const CPacketClient&) = delete;
  CPacketClient& operator=(const CPacketClient&) = delete;

  // Connects to 127.0.0.1:port, or to "ip:port".
  bool Connect(uint16_t port);
  bool Connect(const std::string& ipAndPort);
  bool SendRaw(const void* p, size_t n);
  // One type-0 packet with the compact text of v.
  bool SendJson(const Json::Value& v);
  // One media packet of the given type and channel.
  bool SendMedia(int32_t nType, int32_t nChannel, const std::string& payload);
  // The next whole packet (payload without the header); false on time-out or close.
  bool ReadPacket(PacketInfo* info, std::string* payload, int timeoutMs);
  // The next type-0 packet, parsed (packets of other types are skipped).
  bool ReadJson(Json::Value* out, int timeoutMs);
  // True when the peer closes the connection within timeoutMs; data before it is dropped.
  bool WaitClosed(int timeoutMs);
  void Close();
  bool IsOpen() const { return fd >= 0; }

 private:
  // Reads more bytes into buf; false on time-out, error or close.
  bool Fill(int timeoutMs);

  int fd = -1;
  bool bPeerClosed = false;
  std::string buf;
};
