#pragma once
#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "net/packet.h"

// Packet building for tests. Unlike the system's own builders these accept
// any length (robustness tests need over-long texts and corrupt headers) and
// never write to the debug channel, so tests that count debug lines see only
// the lines of the code under test.

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
