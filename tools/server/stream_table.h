#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "net/packet.h"
#include "tools/server/chunk_probe.h"

// Kinds of stream, as the request that made it.
constexpr int32_t SKIND_UNKNOWN = -1;  // not made by a request
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

// One media stream: made by a request of the console and fed by its media
// connection.
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
  uint64_t nRequestedMs = 0;  // when the request went out (CEventLoop::NowMs)
  std::map<int32_t, ChannelStats> channels;
};

// Streams by name: the live ones (requested, or fed by a media connection)
// and the last STREAM_HISTORY_MAX that ended, for the listings. An ended
// stream leaves the live table, so the table follows what is going on, not
// how long the server has run. Addresses of live records stay valid until
// End. Loop thread only.
class CStreamTable {
 public:
  static constexpr size_t STREAM_HISTORY_MAX = 200;

  // A fresh name "s1", "s2" ... that no stream has had.
  std::string NewName();
  // A new live record of name (kind SKIND_UNKNOWN until the caller sets it);
  // an ended record of the same name stays in the history.
  StreamRecord& Create(const std::string& name);
  // The live record of name, or nullptr.
  StreamRecord* FindLive(const std::string& name);
  // The live record of name, else the latest ended one, or nullptr.
  const StreamRecord* Find(const std::string& name) const;
  // Moves the live record of name to the history (the oldest ended record
  // goes when it is full). Its address is no longer valid afterwards.
  void End(const std::string& name);
  // Ends live streams that were requested more than maxAgeMs before nowMs
  // and never got a media connection (the device refused or never came).
  // Returns their names.
  std::vector<std::string> ExpireUnconnected(uint64_t nowMs, uint64_t maxAgeMs);
  // The ended records (oldest first), then the live ones in the order they were made.
  std::vector<const StreamRecord*> InOrder() const;
  // Live records.
  size_t Size() const { return streams.size(); }
  size_t EndedSize() const { return ended.size(); }

 private:
  std::unordered_map<std::string, StreamRecord> streams;
  std::vector<std::string> order;  // live names in the order they were made
  std::deque<StreamRecord> ended;
  uint32_t nNextName = 1;
};

// Counts one media packet (any type but 0) against its stream and channel.
// Live packets are probed as frame-file chunks; the probe is returned.
ChunkProbe CountMediaPacket(StreamRecord& rec, const PacketInfo& info, const uint8_t* payload, uint64_t nowMs);

// One line: name, kind, device, state, counters, then each channel's counters.
std::string FormatStream(const StreamRecord& rec);
