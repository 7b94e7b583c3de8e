#pragma once
#include <json/value.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/server/command_runner.h"
#include "tools/server/connection.h"
#include "tools/server/device_registry.h"
#include "net/event_loop.h"
#include "net/metrics_server.h"
#include "net/stats_report.h"
#include "tools/server/media_handler.h"
#include "tools/server/pending_requests.h"
#include "tools/server/recorder.h"
#include "tools/server/server_options.h"
#include "tools/server/server_output.h"
#include "tools/server/server_stats.h"
#include "tools/server/server_switches.h"
#include "tools/server/signal_handler.h"
#include "tools/server/stream_table.h"

class CPacketLog;

// The test Register Server: one listening socket on which devices open their
// signalling connections and their media connections (a connection whose
// first message is CREATESTREAM). It owns every connection, the device and
// stream records and the pending requests. Every function runs on the loop
// thread (or before the loop runs / after it has returned).
class CServer {
 public:
  CServer(CEventLoop& loop, const ServerOptions& opt, COutput& out);
  ~CServer();
  CServer(const CServer&) = delete;
  CServer& operator=(const CServer&) = delete;

  // Binds and listens, prints "listening on IP:PORT", starts the periodic
  // timers. False with the reason in error.
  bool Start(std::string* error);
  // Closes every connection and the listener and prints the summary line.
  void Shutdown();
  // Stops accepting: new connection attempts are refused by the system;
  // open connections stay.
  void CloseListener();
  // Listens again on the port it had (replacing an open listener). False
  // with the reason in error.
  bool Listen(std::string* error);
  // Gives the listener the receive buffer of switches.nRecvBuf (new
  // connections take theirs from it during the handshake).
  void ApplyReceiveBuffer();
  // The listen address, "ip:port".
  const std::string& IpAndPort() const { return szIpAndPort; }
  uint16_t Port() const { return nPort; }
  // Where conn's device is told to open media connections (IPANDPORT): the
  // address its signalling connection reached (the listen address, or the
  // machine's address that a 0.0.0.0 listener answered on) with the listen
  // port, or with --reuse-port this process's own media port.
  std::string MediaAddressFor(const CConnection& conn) const;

  // Runs one console line; prints its output lines and returns them. "quit"
  // calls the quit handler.
  std::vector<std::string> Execute(const std::string& line);
  void SetQuitHandler(std::function<void()> fn) { onQuit = std::move(fn); }

  ServerStats Stats() const;
  // One stats line for the console (rates since the previous one).
  std::string StatsLine();
  const DeviceRecord* FindDevice(const std::string& id) const { return devices.Find(id); }
  const StreamRecord* FindStream(const std::string& name) const { return streams.Find(name); }

  // Services of the message handlers.
  CConnection* Conn(uint64_t id);
  // Sends (or queues) bytes; false when the connection had to be closed.
  bool SendPacket(CConnection& conn, const uint8_t* p, size_t n);
  // Sends msg as one signalling packet; false when it could not be sent.
  bool SendMessage(CConnection& conn, const Json::Value& msg);
  // Sends an automatic answer, or nothing while the server is silent; false
  // when it could not be sent.
  bool Answer(CConnection& conn, const Json::Value& msg);
  // Sends an answer through fn: at once (heldMs ANSWER_NOT_HELD) when delay
  // holds nothing, else after a hold drawn from delay, on a loop timer, and
  // only if conn is still open then (its close cancels the timer). fn does
  // what sending the answer means (records, the event line) and the send,
  // and returns true when the answer went out. Check conn.bClosed afterwards.
  using AnswerFn = std::function<bool(CConnection& conn, int64_t heldMs)>;
  void AnswerAfter(CConnection& conn, const AnswerDelay& delay, AnswerFn fn);
  // Closes conn; its device goes offline, its stream ends. The object lives
  // on until the current loop pass is over.
  void CloseConn(CConnection& conn, const std::string& why);
  // Closes conn once its queued bytes are sent; nothing more is read from it
  // (with conn.bGraceful: but what had arrived by then).
  void CloseWhenSent(CConnection& conn, const std::string& why);
  // Stops or resumes reading conn.
  void SetReading(CConnection& conn, bool bOn);
  // Counts a malformed input, prints the report line and closes conn.
  void ReportMalformed(CConnection& conn, const std::string& what, const std::string& sample);
  int32_t NextSerial() { return nNextSerial++; }

  CEventLoop& Loop() { return loop; }
  const ServerOptions& Options() const { return options; }
  COutput& Out() { return out; }
  ServerStats& Counters() { return counters; }
  CDeviceRegistry& Devices() { return devices; }
  CStreamTable& Streams() { return streams; }
  CPendingRequests& Pending() { return pending; }
  CRecorder& Recorder() { return recorder; }
  ServerSwitches& Switches() { return switches; }
  // Where every connection and packet is logged for tests; null (the
  // default) logs nothing. Set before Start.
  void SetPacketLog(CPacketLog* log) { pLog = log; }

 private:
  void OnAcceptable(int listenFd);
  bool WatchListener(int fd, std::string* error);
  void PauseAccepting(int err);
  void OnConnEvent(uint64_t id, uint32_t events);
  void ReadConn(CConnection& conn);
  // What ReadConn hands its connection's framer for the packet sink.
  struct FeedTarget {
    CServer* pServer;
    CConnection* pConn;
  };
  static bool OnFramed(void* ctx, const PacketInfo& info, const uint8_t* packet);
  static std::string RefusedSample(const CFramer& framer);
  bool OnPacket(CConnection& conn, const PacketInfo& info, const uint8_t* packet);
  bool OnSignalPacket(CConnection& conn, const PacketInfo& info, const uint8_t* packet);
  void WantWrite(CConnection& conn, bool bWant);
  void FinishClose(CConnection& conn);
  bool CountHeld(CConnection& conn);
  void CloseIdle();
  void StartTimers();
  std::string MetricsHost() const;

  CEventLoop& loop;
  const ServerOptions options;
  ServerSwitches switches;
  CPacketLog* pLog = nullptr;
  COutput& out;
  int nListenFd = -1;
  int nMediaListenFd = -1;  // --reuse-port: this process's own port for media connections
  uint16_t nPort = 0;
  uint16_t nMediaPort = 0;
  std::string szIpAndPort;
  uint64_t nNextConnId = 1;
  int32_t nNextSerial = 1;
  uint64_t nLastAcceptReportMs = 0;
  size_t nHeldTotal = 0;  // memory of all unfinished packets
  std::unordered_map<uint64_t, std::unique_ptr<CConnection>> conns;
  std::vector<std::unique_ptr<CConnection>> closedConns;  // freed after the pass
  std::vector<uint8_t> scratch;                           // receive buffer shared by all connections
  std::vector<uint64_t> timerIds;
  uint64_t nNextHold = 1;  // numbers the held answers (CConnection::heldAnswers)
  std::mt19937 holdRng{std::random_device{}()};  // draws holds with jitter
  ServerStats counters;
  CStatsReport periodicStats;  // --stats lines and the --stats-file rows
  CStatsReport consoleStats;   // the "stats" command
  double startSec = 0;         // when Start began listening (seconds since 1970)
  CMetricsServer metrics;
  CDeviceRegistry devices;
  CStreamTable streams;
  CPendingRequests pending;
  CRecorder recorder;
  CSignalHandler signal;
  CMediaHandler media;
  CCommandRunner commands;
  std::function<void()> onQuit;
  bool bStarted = false;
  bool bShutdown = false;
};
