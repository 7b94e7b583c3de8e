#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tools/server/captured_packet.h"
#include "tools/server/connection.h"

// Connection id meaning "any connection" in the look-ups that take one.
constexpr int32_t CONN_ANY = -1;

// What the log knows of one accepted connection.
struct ConnInfo {
  int32_t nConn = 0;              // the server's connection id: 1, 2, 3 ... in accept order
  std::string szPeer;             // the peer's "IP:PORT"
  bool bOpen = false;             // the server still holds it
  bool bClosedByPeer = false;     // the peer closed or reset it
  bool bDroppedByServer = false;  // the server closed it (a test's action, a refusal, its own rules, its stop)
  int32_t nRole = CONN_NEW;       // CONN_SIGNAL: its first message was CONNECT; CONN_MEDIA: CREATESTREAM
  std::string szDsno;             // CONNECT's PARAMETER.DSNO (signalling)
  std::string szStreamName;       // CREATESTREAM's PARAMETER.STREAMNAME (media)
  int64_t nPackets = 0;           // whole packets received
  int64_t nBytesIn = 0;           // bytes received
  std::map<int32_t, int64_t> packetsByType;  // nType -> packets received
};

// Everything a server received, for tests: its connections in accept order
// and every whole packet in arrival order. Type-0 packets keep their bytes;
// media packets keep theirs until the byte budget is spent, later ones are
// recorded without them. The server feeds it and tests read it on the loop
// thread (or once the loop has ended).
class CPacketLog {
 public:
  // fn runs after every change (on the loop thread), so that waiters look again.
  void SetChangeHandler(std::function<void()> fn) { onChange = std::move(fn); }
  // Bytes of media packets kept from now on. Default 256 MiB.
  void SetRecordLimit(int64_t nBytes) { nRecordLimit = nBytes; }
  // Forgets every connection and packet (the server starts again from id 1).
  void Clear();

  // --- fed by the server ---
  void OnAccepted(uint64_t nConn, const std::string& peer);
  void OnBytes(uint64_t nConn, int64_t n);
  void OnPacket(uint64_t nConn, const PacketInfo& info, const uint8_t* packet);
  void OnClosed(uint64_t nConn, bool bByPeer);

  // --- read by tests (nConn may be CONN_ANY where noted) ---
  std::vector<CapturedPacket> Packets(int32_t nConn) const;  // CONN_ANY: all
  std::vector<std::string> Operations(int32_t nConn) const;  // of type-0 packets, in order; CONN_ANY: all
  const ConnInfo* Connection(int32_t nConn) const;           // nullptr when never accepted
  int32_t ConnectionCount() const { return static_cast<int32_t>(conns.size()); }
  int32_t OperationCount(int32_t nConn, const std::string& op) const;  // CONN_ANY: all
  // The newest connection of nRole whose DSNO (CONN_SIGNAL) or stream name
  // (CONN_MEDIA) is key; -1 when none.
  int32_t FindNewest(int32_t nRole, const std::string& key) const;
  // The first packet from index *pNext on for which pred holds; *pNext moves
  // past the packets looked at, so that each is offered to pred once.
  bool FindPacket(const std::function<bool(const CapturedPacket&)>& pred, size_t* pNext, CapturedPacket* out) const;

 private:
  struct Entry {
    ConnInfo info;
    std::vector<size_t> packetIdx;  // into packets
    std::map<std::string, int32_t> opCounts;
  };
  Entry* Find(uint64_t nConn);
  void NoteFirstMessage(ConnInfo& info, const CapturedPacket& pkt) const;
  void Changed() const {
    if (onChange) onChange();
  }

  std::vector<Entry> conns;  // index = id - 1
  std::vector<CapturedPacket> packets;
  int64_t nRecordLimit = 256LL << 20;
  int64_t nRecorded = 0;
  uint64_t nStartMs = 0;
  std::function<void()> onChange;
};
