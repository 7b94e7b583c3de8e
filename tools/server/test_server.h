#pragma once
#include <json/value.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "net/event_loop.h"
#include "tools/server/device_registry.h"
#include "tools/server/packet_log.h"
#include "tools/server/server_options.h"
#include "tools/server/server_output.h"
#include "tools/server/server_switches.h"
#include "tools/server/stream_table.h"

class CServer;
class CConnection;

// The server inside a test: its loop on a thread of its own, its lines kept
// instead of printed, every connection and packet logged, switches that make
// it misbehave and actions on single connections. Everything the server does
// stays on its loop thread: queries, actions and waits are posted there and
// wait for the answer. Start, Stop and the Set... switches are called from
// one controlling thread (the test); the other calls are safe from any thread
// but the loop's, and may be made before Start and after Stop (the log stays
// readable; actions then fail). The devices talk to it over real sockets.
class CTestServer {
 public:
  // Options for tests: 127.0.0.1, port 0 (the system picks one).
  static ServerOptions TestOptions();

  explicit CTestServer(const ServerOptions& opt = TestOptions());
  ~CTestServer();
  CTestServer(const CTestServer&) = delete;
  CTestServer& operator=(const CTestServer&) = delete;

  // Binds and starts the loop thread; false when the address cannot be bound
  // or the server runs already. The log of an earlier run is cleared.
  bool Start();
  // Closes every connection (the summary line is written) and waits for the loop thread.
  void Stop();

  uint16_t Port() const { return nPort; }
  std::string IpAndPort() const { return szIpAndPort; }

  // --- the console and the server's own records ---
  // Runs a console line on the loop thread and returns its output lines.
  std::vector<std::string> Command(const std::string& line);
  ServerStats Stats() const;
  // Copies of a device's or stream's record; false when there is none.
  bool Device(const std::string& id, DeviceRecord* out) const;
  bool Stream(const std::string& name, StreamRecord* out) const;
  // Every line the server has written so far.
  std::vector<std::string> Lines() const { return output.Lines(); }
  // Number of lines containing part.
  int CountLines(const std::string& part) const;

  // --- switches (ServerSwitches; they take effect for the next event) ---
  void SetAnswerConnect(bool bOn);
  void SetConnectErrorCode(int32_t nErrorCode);
  void SetAnswerCreateStream(bool bOn);
  void SetAcceptAnyStream(bool bOn);
  void SetSilent(bool bOn);
  void SetRefuse(bool bOn);
  void SetReceiveBuffer(int32_t nBytes);
  void SetPauseNewConnections(bool bOn);
  // Stops or resumes reading one connection: unread bytes pile up in the
  // kernel until the peer's sends block or time out.
  void SetReading(int32_t nConn, bool bOn);
  // Bytes of media packets the log keeps (CPacketLog::SetRecordLimit).
  void SetRecordLimit(int64_t nBytes);

  // --- actions; false when the connection is not open or, for the sends,
  // when the bytes would pass its bound of unsent bytes ---
  bool SendJson(int32_t nConn, const Json::Value& value);
  bool SendJsonText(int32_t nConn, std::string_view text);  // any length, text + NUL
  bool SendPacket(int32_t nConn, int32_t nType, int32_t nChannel, const std::vector<uint8_t>& payload);
  bool SendRaw(int32_t nConn, const std::vector<uint8_t>& bytes);
  // Closes with a reset; unsent bytes are lost.
  bool Drop(int32_t nConn);
  void DropAll();
  // Closes gracefully (FIN) once the queued bytes have been sent.
  bool CloseConn(int32_t nConn);
  // Stops accepting: new attempts are refused by the system.
  void CloseListener();
  // Listens again on the same port (replacing an open listener).
  bool Restart();

  // --- the log (nConn may be CONN_ANY where CPacketLog takes it) ---
  std::vector<CapturedPacket> Packets(int32_t nConn) const;
  std::vector<CapturedPacket> AllPackets() const { return Packets(CONN_ANY); }
  std::vector<std::string> Operations(int32_t nConn) const;
  bool Connection(int32_t nConn, ConnInfo* out) const;
  int32_t ConnectionCount() const;  // accepted so far, refused ones included
  int32_t OperationCount(int32_t nConn, const std::string& op) const;
  // The newest signalling connection whose CONNECT carried dsno, or media
  // connection whose CREATESTREAM named the stream; -1 when none.
  int32_t FindDeviceConnection(const std::string& dsno) const;
  int32_t FindStreamConnection(const std::string& streamName) const;

  // --- waiting (false or -1 on time-out) ---
  bool WaitForConnections(int32_t n, int timeoutMs) const;
  // The first packet in arrival order (logged earlier or arriving in time)
  // for which pred holds. pred runs on the loop thread and must not call this server.
  bool WaitForPacket(const std::function<bool(const CapturedPacket&)>& pred, int timeoutMs,
                     CapturedPacket* out = nullptr) const;
  bool WaitForOperation(int32_t nConn, const std::string& op, int32_t count, int timeoutMs) const;
  // Until the connection is no longer open (closed by either side).
  bool WaitForClosed(int32_t nConn, int timeoutMs) const;
  // Until at least nBytes have arrived on the connection.
  bool WaitForBytes(int32_t nConn, int64_t nBytes, int timeoutMs) const;
  int32_t WaitForDevice(const std::string& dsno, int timeoutMs) const;
  int32_t WaitForStream(const std::string& streamName, int timeoutMs) const;

 private:
  template <class F>
  auto OnLoop(F f) const -> decltype(f());
  // Runs fn on the open connection nConn on the loop thread; false when there is none.
  bool OnConn(int32_t nConn, const std::function<bool(CConnection&)>& fn) const;
  bool WaitOnLoop(const std::function<bool()>& cond, int timeoutMs) const;
  template <class T>
  void ChangeSwitch(T ServerSwitches::*field, T value);
  void Changed();

  ServerOptions options;
  ServerSwitches switches;  // the controlling thread's copy, handed to the server on every change
  COutput output;
  CPacketLog log;  // outlives the server, so that records stay readable after Stop
  std::unique_ptr<CEventLoop> loop;
  std::unique_ptr<CServer> server;
  std::thread worker;
  std::shared_future<void> finished;  // the worker has shut the server down
  uint16_t nPort = 0;
  std::string szIpAndPort;
  mutable std::mutex changeLock;
  mutable std::condition_variable changed;
  uint64_t nChanges = 0;  // guarded by changeLock; grows with every logged event
};

// Runs f on the loop thread and returns its result; runs it here when no loop
// thread runs (before Start, after Stop) or when called on the loop thread.
template <class F>
auto CTestServer::OnLoop(F f) const -> decltype(f()) {
  using R = decltype(f());
  if (!worker.joinable() || loop->IsInLoopThread()) return f();
  std::packaged_task<R()> task(std::move(f));
  std::future<R> result = task.get_future();
  if (!loop->Post([&task] { task(); })) {
    finished.wait();  // the loop has ended (quit): nothing else touches the server now
    task();
  }
  return result.get();
}
