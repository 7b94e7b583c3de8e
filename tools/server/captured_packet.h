#pragma once
#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "net/packet.h"

// One whole packet a server received, as its packet log keeps it.
struct CapturedPacket {
  int32_t nConn = -1;          // the connection it arrived on
  int64_t nRecvMs = 0;         // milliseconds since the log was started
  PacketInfo info;             // the decoded header
  std::vector<uint8_t> bytes;  // header and payload (empty when not kept, see bBytesDropped)
  bool bBytesDropped = false;  // the log's byte budget was spent
  std::string szText;          // type 0: the payload up to its first NUL
  Json::Value json;            // type 0: what the reader made of szText
  bool bJsonOk = false;        // type 0: szText parsed completely

  // The OPERATION string of a type-0 packet, else "".
  std::string Operation() const;
};

// The packet of info.nPacketLen bytes at packet, with its text and JSON when
// it is type 0; its bytes are copied only when bKeepBytes. Pure function.
CapturedPacket CapturePacket(const PacketInfo& info, const uint8_t* packet, bool bKeepBytes);
