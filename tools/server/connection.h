#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/server/packet_stream.h"

struct DeviceRecord;
struct StreamRecord;

// What a connection turned out to be, from its first message.
constexpr int32_t CONN_NEW = 0;     // nothing received yet
constexpr int32_t CONN_SIGNAL = 1;  // a device's signalling connection
constexpr int32_t CONN_MEDIA = 2;   // opened with CREATESTREAM: one stream's media

// Results of CConnection::Send and Flush.
constexpr int32_t SEND_DONE = 0;      // everything is on the wire
constexpr int32_t SEND_QUEUED = 1;    // some bytes wait for the socket to take them
constexpr int32_t SEND_FAILED = 2;    // the socket refused (peer gone)
constexpr int32_t SEND_OVERFLOW = 3;  // the peer reads too slowly: backlog limit reached

// Bytes a connection may have waiting to be sent before it is given up.
constexpr size_t CONN_MAX_BACKLOG = 8u * 1024u * 1024u;

// One accepted TCP connection: its descriptor, its receive stream and its
// unsent bytes. Owned by the server; touched only on the loop thread.
class CConnection {
 public:
  CConnection(uint64_t id, int fd, std::string peer);
  ~CConnection();
  CConnection(const CConnection&) = delete;
  CConnection& operator=(const CConnection&) = delete;

  // Sends at once what the socket takes and queues the rest (in order).
  int32_t Send(const uint8_t* p, size_t n);
  // Sends queued bytes: SEND_DONE when nothing is left, SEND_QUEUED, or SEND_FAILED.
  int32_t Flush();
  size_t Backlog() const { return out.size() - nOutOff; }
  // Closes the descriptor (once); with a reset when bResetOnClose is set.
  void CloseFd();

  const uint64_t nId;
  int fd;
  const std::string szPeer;
  std::string szLocalIp;  // the address the peer reached (this machine's end)
  int32_t nKind = CONN_NEW;
  bool bClosed = false;
  CPacketStream in;
  DeviceRecord* pDevice = nullptr;  // signalling: the device that logged in here
  StreamRecord* pStream = nullptr;  // media: the stream CREATESTREAM named
  uint64_t nPacketsIn = 0;
  uint64_t nBytesIn = 0;
  uint64_t nOpenedMs = 0;      // accepted (CEventLoop::NowMs)
  uint64_t nHeldSinceMs = 0;   // an unfinished packet is held since then; 0 when none
  size_t nHeldCounted = 0;     // bytes of in's buffer counted in the server's total
  bool bCloseWhenSent = false; // closes once the queued bytes are out; reads nothing more
  std::string szCloseReason;   // why, for the close that waits
  bool bGraceful = false;      // that close sends FIN and reads what the peer had sent first
  bool bResetOnClose = false;  // the close resets the connection (unsent bytes are lost)
  bool bReadPaused = false;    // nothing is read until resumed; the peer's sends back up
  bool bPeerGone = false;      // the peer closed or reset it (set before the close)
  // Answers waiting for their hold to end: hold number -> loop timer. The
  // close cancels them, so nothing is sent on a closed connection.
  std::map<uint64_t, uint64_t> heldAnswers;

 private:
  std::vector<uint8_t> out;
  size_t nOutOff = 0;
};
