#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "net/framer.h"
#include "net/output_buffer.h"

struct DeviceRecord;
struct StreamRecord;

// What a connection turned out to be, from its first message.
constexpr int32_t CONN_NEW = 0;     // nothing received yet
constexpr int32_t CONN_SIGNAL = 1;  // a device's signalling connection
constexpr int32_t CONN_MEDIA = 2;   // opened with CREATESTREAM: one stream's media

// Bytes a connection may have waiting to be sent before it is given up.
constexpr size_t CONN_MAX_BACKLOG = 8u * 1024u * 1024u;

// One accepted TCP connection: its descriptor, its receive framer and its
// unsent bytes. Owned by the server; touched only on the loop thread.
class CConnection {
 public:
  CConnection(uint64_t id, int fd, std::string peer);
  ~CConnection();
  CConnection(const CConnection&) = delete;
  CConnection& operator=(const CConnection&) = delete;

  // Sends at once what the socket takes and queues the rest (in order):
  // OUTPUT_DRAINED, OUTPUT_WOULD_BLOCK (bytes queued), OUTPUT_FAILED or
  // OUTPUT_OVER_BOUND (the peer reads too slowly).
  OutputResult Send(const uint8_t* p, size_t n);
  // Sends queued bytes: OUTPUT_DRAINED, OUTPUT_WOULD_BLOCK or OUTPUT_FAILED.
  OutputResult Flush() { return out.WriteTo(fd); }
  size_t Backlog() const { return out.Pending(); }
  // Closes the descriptor (once); with a reset when bResetOnClose is set.
  void CloseFd();

  const uint64_t nId;
  int fd;
  const std::string szPeer;
  std::string szLocalIp;  // the address the peer reached (this machine's end)
  int32_t nKind = CONN_NEW;
  bool bClosed = false;
  CFramer in{FRAMER_MAX_PACKET + 1, FRAME_NAPI};  // fed with FeedPackets
  DeviceRecord* pDevice = nullptr;  // signalling: the device that logged in here
  StreamRecord* pStream = nullptr;  // media: the stream CREATESTREAM named
  uint64_t nPacketsIn = 0;
  uint64_t nBytesIn = 0;
  uint64_t nOpenedMs = 0;      // accepted (CEventLoop::NowMs)
  uint64_t nHeldSinceMs = 0;   // an unfinished packet is held since then; 0 when none
  size_t nHeldCounted = 0;     // bytes of in's held packet counted in the server's total
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
  COutputBuffer out{CONN_MAX_BACKLOG};
};
