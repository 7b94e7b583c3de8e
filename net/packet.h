#pragma once
#include <json/value.h>

#include <cstdint>
#include <string>

class CMySocket;

// Payload types of the packet header.
constexpr int32_t NTYPE_SIGNAL = 0;
constexpr int32_t NTYPE_LIVE = 2;
constexpr int32_t NTYPE_DOWNLOAD = 3;
constexpr int32_t NTYPE_PLAYBACK = 4;
constexpr int32_t NTYPE_TALK = 5;

constexpr int32_t PACKET_HEAD_LEN = 12;
constexpr int32_t PACKET_MAGIC = 82;
constexpr int32_t PACKET_MAX_DATA_LEN = 6000000;
constexpr int32_t SIGNAL_PACKET_BUF = 8000;
constexpr int32_t SIGNAL_MAX_TEXT = SIGNAL_PACKET_BUF - PACKET_HEAD_LEN - 1;  // 7987

// What a packet header says; all five are filled before any check.
struct PacketInfo {
  int32_t nDataLen = 0;
  int32_t nHeadLen = 0;
  int32_t nPacketLen = 0;
  int32_t nType = 0;
  int32_t nChannel = 0;
};

// Reads the 12-byte header at p. True when it is acceptable (magic 82 at
// bytes 8-11 or byte 0 equal to 8, and a data length from 0 to 6000000); a
// refusal writes its "napi - " line. Reads only 12 bytes.
bool ParsePacketHead(const uint8_t* p, PacketInfo* info);

// Writes a 12-byte header: flag 0, type, channel (little-endian), data length
// (network order), magic 82.
void WritePacketHead(uint8_t* p, int32_t nType, int32_t nChannel, int32_t nDataLen);

// Builds one type-0 packet of value's compact text and its NUL into buf (at
// least SIGNAL_PACKET_BUF bytes). Returns the packet length, or 0 when the text
// is empty or longer than SIGNAL_MAX_TEXT. text receives the JSON text.
int32_t BuildSignalPacket(const Json::Value& value, uint8_t* buf, std::string* text);

// Sends value as one type-0 packet on sock in a single Send. bLog copies the
// text to the debug channel; bSendLine writes "send" before it (the media
// connection form). True when the socket accepted it; otherwise "dev - send
// data failed.". Safe from any thread.
bool SendSignalPacketOn(CMySocket& sock, const Json::Value& value, uint32_t timeoutMs, int bLog, bool bSendLine);

// Writes "dev - send data failed." and counts a send failure. Any thread.
void ReportSendFailed();

// The socket form: logs "send" and the text when bLog is set.
inline bool SendSignalPacket(CMySocket& sock, const Json::Value& value, uint32_t timeoutMs, int bLog) {
  return SendSignalPacketOn(sock, value, timeoutMs, bLog, true);
}
