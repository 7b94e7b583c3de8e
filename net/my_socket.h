#pragma once
#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/pub_call.h"

// Socket modes of SocketParam::nMode.
constexpr int32_t SOCK_MODE_LISTEN = 1;
constexpr int32_t SOCK_MODE_CONNECT = 2;
constexpr int32_t SOCK_MODE_NONE = 3;
constexpr int32_t SOCK_MODE_UDP = 4;

// Event codes of SocketCallback.
constexpr int32_t SOCK_EVENT_DATA = 0;
constexpr int32_t SOCK_EVENT_CLOSED = 1;
constexpr int32_t SOCK_EVENT_CONNECTED = 2;
constexpr int32_t SOCK_EVENT_ACCEPT = 3;

// Framing kinds of CMySocket::nKind.
constexpr int32_t FRAME_DETECT = 0;
constexpr int32_t FRAME_NAPI = 1;
constexpr int32_t FRAME_TRANS = 2;
constexpr int32_t FRAME_TAGGED = 3;
constexpr int32_t FRAME_99DC = 4;
constexpr int32_t FRAME_RAW = 5;
constexpr int32_t FRAME_RTSP = 6;
constexpr int32_t FRAME_TRAIN = 7;
constexpr int32_t FRAME_MVSP = 8;
constexpr int32_t FRAME_HEAD26 = 9;
constexpr int32_t FRAME_CD = 10;
constexpr int32_t FRAME_7E = 11;
constexpr int32_t FRAME_S17 = 12;
constexpr int32_t FRAME_RSP = 13;
constexpr int32_t FRAME_CHUNK = 14;

constexpr int32_t SHARE_GROUPS = 300;
constexpr int32_t SHARE_GROUP_SIZE = 64;
constexpr int32_t SOCKET_INITIAL_CAPACITY = 20000;
constexpr int32_t SHARE_RECV_SIZE = 60000;
constexpr int32_t UDP_RECV_SIZE = 66000;

// Called with the owner's pUser, the data (event 0), its length, the peer's
// address and port in host order (datagrams only) and the event code.
using SocketCallback = int (*)(void* pUser, uint8_t* data, int32_t len, uint32_t ip, int32_t port,
                               int32_t event);

// Argument of CMySocket::Open; the caller zero-fills it and sets what it needs.
struct SocketParam {
  int32_t nMode = 0;
  int32_t nMaxBuf = 0;
  uint32_t nLocalIp = 0;   // host order, 0 = any
  uint32_t nRemoteIp = 0;  // host order
  int32_t bNoDelay = 0;
  uint16_t nLocalPort = 0;
  uint16_t nRemotePort = 0;
  SocketCallback pfnCallback = nullptr;
  void* pUser = nullptr;
};

// The one network endpoint class. Connect-mode sockets are served by the
// process-wide share table: one share thread polls up to 64 of them, reports
// the connection, reads and frames what arrives (WriteToBuffer) and calls the
// owner back. Listen and UDP sockets have a receive thread of their own.
class CMySocket {
 public:
  CMySocket();
  // Closes the socket if the owner has not (waits for its serving thread).
  ~CMySocket();
  CMySocket(const CMySocket&) = delete;
  CMySocket& operator=(const CMySocket&) = delete;

  // Opens according to param; 0 on success, 1 on failure. The object must be
  // closed (or new). Safe from any thread, including a share thread (but not
  // for a socket of the calling callback itself).
  int Open(const SocketParam& param);

  // Sends len bytes in one call; timeoutMs 0 sends at once, otherwise waits up
  // to timeoutMs for writability. Returns what the send call returned, 0 on a
  // time-out, -1 without socket or data. bMore tells the system that another
  // packet follows at once, so it may hold these bytes and put both packets
  // in one segment (the bytes and their order are the same); the sender then
  // ends the burst with a Send without bMore, or with Flush (left alone, held
  // bytes wait for the system's cork time, about 200 ms). Safe from any
  // thread.
  int Send(const void* data, int32_t len, uint32_t timeoutMs, bool bMore = false);

  // Puts out at once whatever a Send with bMore left waiting. Safe from any
  // thread; does nothing without a connection.
  void Flush();

  // Stops service, waits for the serving thread to release the socket, closes
  // the handle and frees the buffer. Always 0; safe on a closed object. Safe
  // from any thread; from a share thread it releases sockets of its own group
  // at once instead of waiting for itself.
  int Close();

  // Shuts the connection down in both directions without closing the handle:
  // a Send waiting for writability and every later Send fail at once. The
  // owner still calls Close. Harmless on a closed object. Safe from any thread
  // (the handle cannot be closed, and its number reused, during the call).
  void Abort();

  // Waits until the peer has acknowledged everything sent (the send queue is
  // empty), at most timeoutMs, so that an owner can Close (which resets the
  // connection and drops what is still queued) without losing the tail of a
  // stream. True when the queue emptied. Call from the socket's only sender.
  bool WaitSent(uint32_t timeoutMs);

  // The receive framer: appends a received chunk, delivers every whole frame
  // to the callback as SOCK_EVENT_DATA and keeps the rest. 0 keeps the
  // connection, 1 drops it. Runs on the serving thread only.
  int WriteToBuffer(const uint8_t* data, int32_t len);

  // Prepares the receive buffer and parameters without any connection, so that
  // bytes from elsewhere (tests, fuzzing, tools) can be framed.
  int AttachFramer(const SocketParam& param);

  // --- state (names as the system uses them) ---
  std::atomic<int32_t> bConnected{0};
  int32_t bDetected = 0;  // the framer examined its first chunk; not reset by Open
  int32_t nBuffered = 0;
  std::atomic<int32_t> bRunning{1};
  int32_t nCapacity = 0;
  int32_t nLimit = 0;
  std::atomic<int32_t> bStopped{1};  // 1 while no share thread holds the socket
  std::atomic<int32_t> nKind{FRAME_DETECT};
  uint8_t* pBuffer = nullptr;
  std::atomic<int32_t> hSocket{-1};
  SocketParam param;
  sockaddr_in remoteAddr{};
  ThreadHandle thread;

  // --- service bookkeeping ---
  std::atomic<int32_t> nShareGroup{-1};  // group that holds the socket, -1 none
  std::atomic<uint32_t> nOpenSerial{0};  // advanced by every Open and Close
  int32_t bConnectFailed = 0;            // share thread only: attempt failed, never polled again

 private:
  int OpenStream();
  int OpenUdp();
  int StartConnect();
  bool WaitWritable(int fd, uint32_t timeoutMs);
  void WaitReleased();
  void CloseHandle();

  std::mutex sendLock_;  // keeps Close from closing the handle under a send
};

// Writes a host-order IPv4 address as "%d.%d.%d.%d", highest byte first.
void FormatIp(uint32_t ip, char* out, int outSize);

// Number of share threads running now (tests and statistics).
int32_t ShareThreadCount();

// Share-thread routine and listen/UDP receive routine (started by Open).
int ShareThread(void* groupIndex);
int RecvThread(void* socket);
