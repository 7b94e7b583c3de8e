#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "net/packet.h"
#include "tools/server/chunk_probe.h"

// Kinds of stream, as the request that made it.
constexpr int32_t SKIND_UNKNOWN = -1;  // named by a CREATESTREAM the server never asked for
constexpr int32_t SKIND_LIVE = 0;
constexpr int32_t SKIND_TALK = 1;
constexpr int32_t SKIND_DOWNLOAD = 2;
constexpr int32_t SKIND_PLAYBACK = 3;

const char* StreamKindName(int32_t nKind);

// Media received on one channel (the packet header's nChannel).
struct ChannelStats {
  uint64_t nPackets = 0;
  uint64_t nBytes = 0;       // payload bytes
  uint64_t nVideoFrames = 0;
  uint64_t nKeyFrames = 0;
  uint64_t nAudioChunks = 0;
  uint64_t nFirstVideoMs = 0;  // arrival of the first and last video chunk
  uint64_t nLastVideoMs = 0;
};

// Video frames a second between the first and last video chunk; 0 before two arrived.
double FrameRate(const ChannelStats& ch);

// One media stream: made by a request of the console (or by a CREATESTREAM
// naming a stream the server did not ask for) and fed by its media connection.
struct StreamRecord {
  std::string szName;
  int32_t nKind = SKIND_UNKNOWN;
  std::string szDevice;
  int32_t nSerial = 0;      // SERIAL of the request, 0 when none
  uint32_t nMask = 0;       // CHANNEL of the request
  bool bReplied = false;    // the device answered the request
  bool bCreated = false;    // a media connection announced it and was answered
  uint64_t nConnId = 0;     // its open media connection, 0 when none
  std::string szPeer;
  uint64_t nPackets = 0;
  uint64_t nBytes = 0;
  uint64_t nTalkSent = 0;   // audio packets the server sent
  uint64_t nTalkReceived = 0;
  uint64_t nTalkTimer = 0;  // the loop timer sending audio, 0 when none
  std::map<int32_t, ChannelStats> channels;
};

// Streams by name, kept for the server's life (listings show ended ones too).
// Record addresses stay valid. Loop thread only.
class CStreamTable {
 public:
  // A fresh name "s1", "s2" ... that no stream has yet.
  std::string NewName();
  // The record of name, created (kind SKIND_UNKNOWN) on first use.
  StreamRecord& Get(const std::string& name);
  StreamRecord* Find(const std::string& name);
  const StreamRecord* Find(const std::string& name) const;
  // Every record in the order they were made.
  std::vector<const StreamRecord*> InOrder() const;
  size_t Size() const { return streams.size(); }

 private:
  std::unordered_map<std::string, StreamRecord> streams;
  std::vector<std::string> order;
  uint32_t nNextName = 1;
};

// Counts one media packet (any type but 0) against its stream and channel.
// Live packets are probed as frame-file chunks; the probe is returned.
ChunkProbe CountMediaPacket(StreamRecord& rec, const PacketInfo& info, const uint8_t* payload, uint64_t nowMs);

// One line: name, kind, device, state, counters, then each channel's counters.
std::string FormatStream(const StreamRecord& rec);
