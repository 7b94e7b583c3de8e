#pragma once
#include <json/value.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/packet_builder.h"

// Connection id meaning "any connection" in the look-ups that take one.
constexpr int32_t FAKE_ANY_CONN = -1;

// What a connection turned out to be, by its first type-0 message.
constexpr int32_t FAKE_ROLE_UNKNOWN = 0;
constexpr int32_t FAKE_ROLE_SIGNAL = 1;  // first message CONNECT
constexpr int32_t FAKE_ROLE_MEDIA = 2;   // first message CREATESTREAM

// A snapshot of one accepted connection.
struct FakeConnInfo {
  int32_t nConn = 0;            // id, 1 for the first accepted connection, in accept order
  bool bOpen = false;           // the server still holds it
  bool bClosedByPeer = false;   // the peer closed or reset it
  bool bDroppedByServer = false;  // Drop, DropAll, CloseConn or Stop closed it
  bool bRefused = false;        // closed at once on accept (refuse mode)
  bool bReading = true;         // false while reading is paused
  bool bStreamBroken = false;   // a refused header stopped parsing its bytes
  uint16_t nPeerPort = 0;       // the client's port
  int32_t nRole = FAKE_ROLE_UNKNOWN;
  std::string szDsno;           // CONNECT's PARAMETER.DSNO (signalling)
  std::string szStreamName;     // first CREATESTREAM's PARAMETER.STREAMNAME (media)
  int64_t nPackets = 0;         // whole packets received
  int64_t nBytesIn = 0;         // bytes received
  int64_t nBytesOut = 0;        // bytes the server handed to the kernel
  std::map<int32_t, int64_t> packetsByType;  // nType -> packets received
};

// A fake Register Server on 127.0.0.1 with a port chosen by the system. One
// background thread serves every connection (signalling and media alike) with
// poll: it accepts, reads, cuts packets, records them, answers CONNECT and
// CREATESTREAM when told to, and flushes what the test queued for sending.
//
// Every public function is safe from any thread and may be called while the
// server runs, except from inside a WaitForPacket predicate (which runs under
// the server's lock). Accessors return copies.
class CFakeServer {
 public:
  CFakeServer();
  ~CFakeServer();  // Stop()
  CFakeServer(const CFakeServer&) = delete;
  CFakeServer& operator=(const CFakeServer&) = delete;

  // Listens on 127.0.0.1 port 0 and starts the serving thread. False when the
  // server already runs or the listener cannot be made.
  bool Start();
  // The listening port, kept across CloseListener and Restart (a Start after
  // Stop takes a new one); 0 before Start.
  uint16_t Port() const;
  // Closes every connection and the listener and joins the thread. Records
  // stay readable. Harmless when not running.
  void Stop();

  // --- behaviour switches (take effect for the next event) ---
  // Answer CONNECT with {"MODULE":"CERTIFICATE","OPERATION":"CONNECT",
  // "RESPONSE":{"ERRORCODE":n},"SESSION":""}. Default on, ERRORCODE 0.
  void SetAnswerConnect(bool bOn);
  void SetConnectErrorCode(int32_t nErrorCode);
  // Answer CREATESTREAM on a connection whose first message was CREATESTREAM
  // with ERRORCODE 0. Default on.
  void SetAnswerCreateStream(bool bOn);
  // Sends no automatic answer at all while set (explicit sends still go out).
  void SetSilent(bool bOn);
  // Closes every newly accepted connection at once while set.
  void SetRefuse(bool bOn);
  // Receive buffer (SO_RCVBUF) of connections accepted from now on; it is also
  // set on the listener, since the window is agreed during the handshake.
  // 0 leaves the system's choice for listeners made later.
  void SetReceiveBuffer(int32_t nBytes);
  // Stops or resumes reading one connection: unread bytes pile up in the
  // kernel until the peer's sends block or time out.
  void SetReading(int32_t nConn, bool bOn);
  // Connections accepted from now on start with reading paused.
  void SetPauseNewConnections(bool bOn);
  // Bytes of media packets kept in the records; beyond it later non-JSON
  // packets are recorded without their bytes. Default 256 MiB.
  void SetRecordLimit(int64_t nBytes);

  // --- actions ---
  // Queue bytes for the connection; false when it is not open or its queue
  // would pass 64 MiB. The serving thread delivers them in order.
  bool SendJson(int32_t nConn, const Json::Value& value);
  bool SendJsonText(int32_t nConn, std::string_view text);  // any length, text + NUL
  bool SendPacket(int32_t nConn, int32_t nType, int32_t nChannel, const Bytes& payload);
  bool SendRaw(int32_t nConn, const Bytes& bytes);
  // The closing actions below take effect before they return: the reset or
  // FIN is on its way and a closed listener refuses new attempts.
  // Closes with a reset (SO_LINGER 0); unsent queued bytes are lost.
  bool Drop(int32_t nConn);
  void DropAll();
  // Closes gracefully (FIN) once the queued bytes have been sent.
  bool CloseConn(int32_t nConn);
  // Stops accepting: new connection attempts are refused by the system.
  void CloseListener();
  // Listens again on the same port (closing the old listener if open).
  bool Restart();
  bool IsListening() const;

  // --- records (nConn may be FAKE_ANY_CONN where it is taken) ---
  std::vector<CapturedPacket> Packets(int32_t nConn) const;
  std::vector<CapturedPacket> AllPackets() const;
  std::vector<Json::Value> JsonMessages(int32_t nConn) const;
  std::vector<std::string> Operations(int32_t nConn) const;  // of type-0 packets, in order
  std::vector<FakeConnInfo> Connections() const;             // accept order
  bool Connection(int32_t nConn, FakeConnInfo* out) const;
  int32_t ConnectionCount() const;                           // accepted so far, refused included
  // Type-0 packets whose OPERATION is op, on nConn or FAKE_ANY_CONN.
  int32_t OperationCount(int32_t nConn, const std::string& op) const;
  std::map<std::string, int32_t> OperationCounts(int32_t nConn) const;

  // --- waiting (false on time-out) ---
  bool WaitForConnections(int32_t n, int timeoutMs) const;
  // The first packet in arrival order (recorded earlier or arriving in time)
  // for which pred holds. pred runs under the server's lock.
  bool WaitForPacket(const std::function<bool(const CapturedPacket&)>& pred, int timeoutMs,
                     CapturedPacket* out = nullptr) const;
  bool WaitForOperation(int32_t nConn, const std::string& op, int32_t count, int timeoutMs) const;
  // Until the connection is no longer open (closed by either side).
  bool WaitForClosed(int32_t nConn, int timeoutMs) const;
  // Until at least nBytes have arrived on the connection.
  bool WaitForBytes(int32_t nConn, int64_t nBytes, int timeoutMs) const;

  // --- finding a device's connections (-1 when none) ---
  // The newest signalling connection whose CONNECT carried this DSNO.
  int32_t FindDeviceConnection(const std::string& dsno) const;
  // The newest media connection whose CREATESTREAM named this stream.
  int32_t FindStreamConnection(const std::string& streamName) const;
  int32_t WaitForDevice(const std::string& dsno, int timeoutMs) const;
  int32_t WaitForStream(const std::string& streamName, int timeoutMs) const;


 private:
  struct Conn;  // serving state of one connection
  bool Listen();
  void Serve();
  void ServeOnce();
  void AcceptAll();
  void ReadConn(Conn& c);
  void FlushConn(Conn& c);
  void OnPacket(Conn& c, CapturedPacket&& pkt);
  void AutoAnswer(Conn& c, const CapturedPacket& pkt);
  void CloseConnLocked(Conn& c, bool bReset);
  void CloseGracefully(Conn& c);
  int32_t OperationCountLocked(int32_t nConn, const std::string& op) const;
  bool QueueLocked(int32_t nConn, const Bytes& bytes);
  Conn* FindLocked(int32_t nConn) const;
  void Wake() const;
  void AwaitPassLocked(std::unique_lock<std::mutex>& lock);
  FakeConnInfo InfoLocked(const Conn& c) const;
  int32_t FindNewestLocked(int32_t nRole, const std::string& key) const;

  mutable std::mutex mu_;
  mutable std::condition_variable changed_;
  std::condition_variable passed_;  // the serving thread began a pass
  uint64_t nPasses_ = 0;
  std::thread thread_;
  bool bRunning_ = false;
  std::atomic<int32_t> bStop_{0};
  int listenFd_ = -1;
  int wakeFd_ = -1;
  uint16_t nPort_ = 0;
  int64_t nStartMs_ = 0;

  bool bAnswerConnect_ = true;
  int32_t nConnectError_ = 0;
  bool bAnswerCreate_ = true;
  bool bSilent_ = false;
  bool bRefuse_ = false;
  int32_t nRecvBuf_ = 0;
  bool bPauseNew_ = false;
  int64_t nRecordLimit_ = 256LL << 20;
  int64_t nRecordedBytes_ = 0;

  std::vector<std::unique_ptr<Conn>> conns_;  // accept order; index = id - 1
  std::vector<CapturedPacket> packets_;       // arrival order
};
