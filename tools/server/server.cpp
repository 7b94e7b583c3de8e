#include "tools/server/server.h"

#include <errno.h>
#include <sys/epoll.h>
#include <sys/socket.h>

#include <cstring>

#include "net/json_read.h"
#include "net/json_writer.h"
#include "net/packet.h"
#include "net/socket_setup.h"
#include "tools/server/packet_log.h"
#include "tools/server/printable.h"

namespace {
constexpr size_t SERVER_SCRATCH_BYTES = 256 * 1024;
constexpr int SERVER_READS_PER_EVENT = 4;      // then other connections get their turn
constexpr int SERVER_ACCEPTS_PER_EVENT = 256;
constexpr uint32_t SERVER_ACCEPT_PAUSE_MS = 100;
constexpr uint32_t PENDING_SWEEP_MS = 10000;
constexpr uint64_t PENDING_MAX_AGE_MS = 120000;
constexpr uint32_t EV_READ = EPOLLIN | EPOLLRDHUP;
constexpr uint32_t IDLE_SWEEP_MS = 1000;
}  // namespace

CServer::CServer(CEventLoop& loopIn, const ServerOptions& opt, COutput& outIn)
    : loop(loopIn), options(opt), out(outIn), recorder(opt.szRecordDir), signal(*this), media(*this),
      commands(*this) {
  switches.bAnswerConnect = !opt.bNoLoginAnswer;
}

CServer::~CServer() { Shutdown(); }

bool CServer::Start(std::string* error) {
  if (recorder.Enabled() && !recorder.PrepareDir(error)) return false;
  if (!Listen(error)) return false;
  if (!options.szStatsFile.empty() && !periodicStats.OpenFile(options.szStatsFile, options.szStatsFormat, error))
    return false;
  if (!options.szMetrics.empty() &&
      !metrics.Attach(loop, options.szMetrics, [this] { return PrometheusText(ServerFigures(Stats()), "zel_server_"); },
                      error))
    return false;
  startSec = UnixNow();
  periodicStats.StartAt(startSec);
  consoleStats.StartAt(startSec);
  szIpAndPort = options.szListenIp + ":" + std::to_string(nPort);
  scratch.resize(SERVER_SCRATCH_BYTES);
  StartTimers();
  bStarted = true;
  out.Line("listening on " + szIpAndPort);
  if (nMediaListenFd >= 0) out.Line("media connections on " + options.szListenIp + ":" + std::to_string(nMediaPort));
  if (metrics.Port() != 0) out.Line("metrics on http://" + MetricsHost() + ":" + std::to_string(metrics.Port()) + "/metrics");
  return true;
}

std::string CServer::MetricsHost() const {
  std::string host;
  uint16_t port = 0;
  std::string why;
  CMetricsServer::ParseAddress(options.szMetrics, &host, &port, &why);
  return host;
}

std::string CServer::StatsLine() { return consoleStats.Report(ServerFigures(Stats()), UnixNow()); }

// The first time on the configured port (0: the system picks one), later
// on the port picked then.
bool CServer::Listen(std::string* error) {
  CloseListener();
  int fd = OpenListener(options.szListenIp, nPort != 0 ? nPort : options.nPort, error, options.bReusePort);
  if (fd < 0 || !WatchListener(fd, error)) return false;
  nListenFd = fd;
  nPort = LocalPort(fd);
  if (options.bReusePort) {
    // The shared port may hand a device's media connection to another
    // process; this process's own port never does.
    int own = OpenListener(options.szListenIp, nMediaPort, error);
    if (own < 0 || !WatchListener(own, error)) {
      CloseListener();
      return false;
    }
    nMediaListenFd = own;
    nMediaPort = LocalPort(own);
  }
  ApplyReceiveBuffer();
  return true;
}

bool CServer::WatchListener(int fd, std::string* error) {
  if (loop.Watch(fd, EPOLLIN, [this, fd](uint32_t) { OnAcceptable(fd); })) return true;
  *error = std::string("epoll: ") + strerror(errno);
  close(fd);
  return false;
}

void CServer::CloseListener() {
  for (int* fd : {&nListenFd, &nMediaListenFd}) {
    if (*fd < 0) continue;
    loop.Unwatch(*fd);
    close(*fd);
    *fd = -1;
  }
}

void CServer::ApplyReceiveBuffer() {
  int32_t n = switches.nRecvBuf;
  for (int fd : {nListenFd, nMediaListenFd})
    if (fd >= 0) SetReceiveBuffer(fd, n);
}

std::string CServer::MediaAddressFor(const CConnection& conn) const {
  std::string ip = conn.szLocalIp.empty() ? options.szListenIp : conn.szLocalIp;
  return ip + ":" + std::to_string(nMediaListenFd >= 0 ? nMediaPort : nPort);
}

void CServer::StartTimers() {
  timerIds.push_back(loop.AddTimer(PENDING_SWEEP_MS, PENDING_SWEEP_MS, [this] {
    pending.Expire(CEventLoop::NowMs(), PENDING_MAX_AGE_MS);
    for (const std::string& name : streams.ExpireUnconnected(CEventLoop::NowMs(), PENDING_MAX_AGE_MS))
      out.Event("stream " + Printable(name) + " never got a media connection; forgotten");
  }));
  if (options.nIdleSeconds > 0) timerIds.push_back(loop.AddTimer(IDLE_SWEEP_MS, IDLE_SWEEP_MS, [this] { CloseIdle(); }));
  if (options.nStatsSeconds > 0) {
    uint32_t ms = static_cast<uint32_t>(options.nStatsSeconds) * 1000u;
    timerIds.push_back(loop.AddTimer(ms, ms, [this] { out.Line(periodicStats.Report(ServerFigures(Stats()), UnixNow())); }));
  }
}

void CServer::Shutdown() {
  if (bShutdown || !bStarted) return;
  bShutdown = true;
  for (uint64_t id : timerIds) loop.CancelTimer(id);
  std::vector<uint64_t> ids;
  for (const auto& kv : conns) ids.push_back(kv.first);
  for (uint64_t id : ids) {
    if (CConnection* c = Conn(id)) CloseConn(*c, "server stopping");
  }
  closedConns.clear();
  CloseListener();
  recorder.CloseAll();
  metrics.Stop();
  CStatsReport wholeRun;  // the summary's rates are over the whole run
  wholeRun.StartAt(startSec);
  out.Line("summary " + wholeRun.Report(ServerFigures(Stats()), UnixNow()));
}

ServerStats CServer::Stats() const {
  ServerStats s = counters;
  s.nConnections = conns.size();
  s.nDevices = devices.Size();
  s.nLoggedIn = devices.LoggedIn();
  s.nHeldBytes = nHeldTotal;
  return s;
}

std::vector<std::string> CServer::Execute(const std::string& line) {
  bool bQuit = false;
  std::vector<std::string> lines = commands.Execute(line, &bQuit);
  for (const std::string& l : lines) out.Line(l);
  if (bQuit && onQuit) onQuit();
  return lines;
}

CConnection* CServer::Conn(uint64_t id) {
  auto it = conns.find(id);
  return it == conns.end() ? nullptr : it->second.get();
}

void CServer::OnAcceptable(int listenFd) {
  for (int i = 0; i < SERVER_ACCEPTS_PER_EVENT; i++) {
    std::string peer;
    int fd = AcceptConnection(listenFd, &peer);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) PauseAccepting(errno);
      return;  // EAGAIN: none waiting; a failed handshake (ECONNABORTED ...) is simply skipped
    }
    uint64_t id = nNextConnId++;
    if (pLog) pLog->OnAccepted(id, peer);
    auto conn = std::make_unique<CConnection>(id, fd, peer);
    conn->szLocalIp = LocalIp(fd);
    conn->nOpenedMs = CEventLoop::NowMs();
    conn->bReadPaused = switches.bPauseNew;
    SetReceiveBuffer(fd, switches.nRecvBuf);
    bool bWatched = !switches.bRefuseNew &&
                    loop.Watch(fd, conn->bReadPaused ? 0 : EV_READ, [this, id](uint32_t ev) { OnConnEvent(id, ev); });
    if (!bWatched) {
      if (pLog) pLog->OnClosed(id, false);
      continue;  // the connection's destructor closes fd
    }
    conns.emplace(id, std::move(conn));
    counters.nAccepted++;
  }
}

// Out of descriptors: the pending connection stays in the backlog, and a
// level-triggered listener would report it again at once, so listening pauses
// briefly instead of spinning.
void CServer::PauseAccepting(int err) {
  uint64_t now = CEventLoop::NowMs();
  if (now - nLastAcceptReportMs >= 1000) {
    nLastAcceptReportMs = now;
    out.Line("accept failed: " + std::string(strerror(err)) + " (" + std::to_string(conns.size()) +
             " connections open); accepting again in 100 ms");
  }
  for (int fd : {nListenFd, nMediaListenFd})
    if (fd >= 0) loop.Modify(fd, 0);
  loop.AddTimer(SERVER_ACCEPT_PAUSE_MS, 0, [this] {
    if (bShutdown) return;
    for (int fd : {nListenFd, nMediaListenFd})
      if (fd >= 0) loop.Modify(fd, EPOLLIN);
  });
}

void CServer::OnConnEvent(uint64_t id, uint32_t events) {
  CConnection* conn = Conn(id);
  if (!conn) return;
  if (events & EPOLLOUT) {
    OutputResult r = conn->Flush();
    if (r == OUTPUT_FAILED) {
      conn->bPeerGone = true;
      CloseConn(*conn, "send failed");
      return;
    }
    if (r == OUTPUT_DRAINED && conn->bCloseWhenSent) return FinishClose(*conn);
    if (r == OUTPUT_DRAINED) WantWrite(*conn, false);
  }
  if (conn->bCloseWhenSent) return;
  if (conn->bReadPaused && (events & (EPOLLHUP | EPOLLERR))) {
    conn->bPeerGone = true;  // reset while not read: nothing more can come
    return CloseConn(*conn, "reset by peer");
  }
  if (!conn->bReadPaused && (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR))) ReadConn(*conn);
}

void CServer::ReadConn(CConnection& conn) {
  for (int round = 0; round < SERVER_READS_PER_EVENT; round++) {
    ssize_t n = RecvNoWait(conn.fd, scratch.data(), scratch.size());
    if (n < 0 && WouldBlock(errno)) return;
    if (n <= 0) {
      const char* why = n == 0 ? nullptr : strerror(errno);
      conn.bPeerGone = true;
      return CloseConn(conn, why ? std::string("receive failed: ") + why : std::string("closed by peer"));
    }
    counters.nBytesIn += static_cast<uint64_t>(n);
    conn.nBytesIn += static_cast<uint64_t>(n);
    if (pLog) pLog->OnBytes(conn.nId, n);
    FeedTarget target{this, &conn};
    int32_t r = conn.in.FeedPackets(scratch.data(), static_cast<size_t>(n), &CServer::OnFramed, &target);
    if (r == FEED_BAD) return ReportMalformed(conn, "refused packet header", RefusedSample(conn.in));
    if (conn.bClosed || r == FEED_STOP) return;
    if (!CountHeld(conn)) return;
    if (static_cast<size_t>(n) < scratch.size()) return;
  }
}

// Keeps the total of unfinished packets' memory and the time each one began.
// False when conn was closed because the total passed the bound.
bool CServer::CountHeld(CConnection& conn) {
  size_t now = conn.in.Held() > 0 ? conn.in.HeldCapacity() : 0;
  nHeldTotal = nHeldTotal - conn.nHeldCounted + now;
  conn.nHeldCounted = now;
  if (now == 0) {
    conn.nHeldSinceMs = 0;
    return true;
  }
  if (conn.nHeldSinceMs == 0) conn.nHeldSinceMs = CEventLoop::NowMs();
  if (nHeldTotal <= options.nHeldLimitBytes) return true;
  counters.nHeldOverLimit++;
  out.Line("connection " + conn.szPeer + " closed: unfinished packets of all connections passed " +
           std::to_string(options.nHeldLimitBytes) + " bytes");
  CloseConn(conn, "unfinished packets over the memory bound");
  return false;
}

// A peer that stops in the middle of a packet, or never completes its first
// one, holds memory and a descriptor for nothing.
void CServer::CloseIdle() {
  uint64_t now = CEventLoop::NowMs();
  uint64_t limit = static_cast<uint64_t>(options.nIdleSeconds) * 1000u;
  std::vector<CConnection*> idle;
  for (const auto& kv : conns) {
    CConnection& c = *kv.second;
    bool bHalfPacket = c.nHeldSinceMs != 0 && now - c.nHeldSinceMs > limit;
    bool bNothingYet = c.nPacketsIn == 0 && now - c.nOpenedMs > limit;
    if (bHalfPacket || bNothingYet) idle.push_back(&c);
  }
  for (CConnection* c : idle) {
    counters.nIdleClosed++;
    out.Event("connection " + c->szPeer + " closed: no whole packet in " + std::to_string(options.nIdleSeconds) + " s");
    CloseConn(*c, "idle in the middle of a packet");
  }
}

bool CServer::OnFramed(void* ctx, const PacketInfo& info, const uint8_t* packet) {
  auto* target = static_cast<FeedTarget*>(ctx);
  return target->pServer->OnPacket(*target->pConn, info, packet);
}

// The refused header as the report shows it, "..." when more had arrived.
std::string CServer::RefusedSample(const CFramer& framer) {
  const std::string& bytes = framer.RefusedBytes();
  return PrintableSample(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), FRAMER_REFUSED_SHOWN);
}

bool CServer::OnPacket(CConnection& conn, const PacketInfo& info, const uint8_t* packet) {
  counters.nPacketsIn++;
  conn.nPacketsIn++;
  if (pLog) pLog->OnPacket(conn.nId, info, packet);
  if (info.nType == NTYPE_SIGNAL) return OnSignalPacket(conn, info, packet);
  if (conn.nKind == CONN_MEDIA) return media.OnMedia(conn, info, packet);
  return true;  // media bytes on a connection that never announced a stream: ignored
}

bool CServer::OnSignalPacket(CConnection& conn, const PacketInfo& info, const uint8_t* packet) {
  const char* text = reinterpret_cast<const char*>(packet + info.nHeadLen);
  const char* end = static_cast<const char*>(memchr(text, 0, static_cast<size_t>(info.nDataLen)));
  if (!end) end = text + info.nDataLen;
  Json::Value msg;
  if (!JsonParse(text, end, msg, false) || !msg.isObject()) {
    ReportMalformed(conn, "JSON text that does not parse to an object",
                    PrintableSample(reinterpret_cast<const uint8_t*>(text), static_cast<size_t>(end - text), 60));
    return false;
  }
  if (conn.nKind == CONN_NEW) {
    conn.nKind = JsonIsString(JsonMember(msg, "OPERATION"), "CREATESTREAM") ? CONN_MEDIA : CONN_SIGNAL;
  }
  if (conn.nKind == CONN_MEDIA) return media.OnMessage(conn, msg);
  return signal.OnMessage(conn, msg);
}

void CServer::WantWrite(CConnection& conn, bool bWant) {
  uint32_t events = conn.bReadPaused ? 0u : EV_READ;
  loop.Modify(conn.fd, bWant ? events | EPOLLOUT : events);
}

void CServer::SetReading(CConnection& conn, bool bOn) {
  conn.bReadPaused = !bOn;
  if (!conn.bCloseWhenSent) WantWrite(conn, conn.Backlog() > 0);
}

bool CServer::SendPacket(CConnection& conn, const uint8_t* p, size_t n) {
  if (conn.bClosed) return false;
  bool bWasIdle = conn.Backlog() == 0;
  OutputResult r = conn.Send(p, n);
  if (r == OUTPUT_WOULD_BLOCK && bWasIdle) WantWrite(conn, true);
  if (r == OUTPUT_FAILED) {
    conn.bPeerGone = true;
    CloseConn(conn, "send failed");
  }
  if (r == OUTPUT_OVER_BOUND) CloseConn(conn, "peer reads too slowly (" + std::to_string(conn.Backlog()) + " bytes waiting)");
  return r == OUTPUT_DRAINED || r == OUTPUT_WOULD_BLOCK;
}

bool CServer::SendMessage(CConnection& conn, const Json::Value& msg) {
  uint8_t buf[SIGNAL_PACKET_BUF];
  std::string text;
  int32_t len = BuildSignalPacket(msg, buf, &text);
  if (len == 0) {
    out.Line("cannot frame a message of " + std::to_string(text.size()) + " bytes");
    return false;
  }
  return SendPacket(conn, buf, static_cast<size_t>(len));
}

bool CServer::Answer(CConnection& conn, const Json::Value& msg) {
  return switches.bSilent || SendMessage(conn, msg);
}

void CServer::AnswerAfter(CConnection& conn, const AnswerDelay& delay, AnswerFn fn) {
  if (!delay.Holds()) {
    fn(conn, ANSWER_NOT_HELD);
    return;
  }
  uint64_t key = nNextHold++;
  uint64_t connId = conn.nId;
  uint64_t startMs = CEventLoop::NowMs();
  conn.heldAnswers[key] = loop.AddTimer(DrawHold(delay, holdRng), 0, [this, connId, key, startMs, fn = std::move(fn)] {
    CConnection* c = Conn(connId);
    if (!c) return;
    c->heldAnswers.erase(key);
    if (c->bCloseWhenSent) return;  // closing: it says nothing more
    if (fn(*c, static_cast<int64_t>(CEventLoop::NowMs() - startMs))) counters.nAnswersHeld++;
  });
}

void CServer::CloseWhenSent(CConnection& conn, const std::string& why) {
  if (conn.bClosed) return;
  conn.bCloseWhenSent = true;
  conn.szCloseReason = why;
  if (conn.Backlog() == 0) return FinishClose(conn);
  loop.Modify(conn.fd, EPOLLOUT);
}

// A graceful close sends FIN and first takes in what the peer had already
// sent, so that closing does not turn into a reset over unread bytes.
void CServer::FinishClose(CConnection& conn) {
  if (conn.bGraceful) {
    shutdown(conn.fd, SHUT_WR);
    if (!conn.bReadPaused) ReadConn(conn);
  }
  if (!conn.bClosed) CloseConn(conn, conn.szCloseReason);
}

void CServer::CloseConn(CConnection& conn, const std::string& why) {
  if (conn.bClosed) return;
  conn.bClosed = true;
  for (const auto& held : conn.heldAnswers) loop.CancelTimer(held.second);
  conn.heldAnswers.clear();
  nHeldTotal -= conn.nHeldCounted;
  conn.nHeldCounted = 0;
  loop.Unwatch(conn.fd);
  conn.CloseFd();
  if (pLog) pLog->OnClosed(conn.nId, conn.bPeerGone);
  signal.OnClosed(conn, why);
  media.OnClosed(conn);
  auto it = conns.find(conn.nId);
  if (it == conns.end()) return;
  closedConns.push_back(std::move(it->second));
  conns.erase(it);
  if (closedConns.size() == 1) loop.Post([this] { closedConns.clear(); });
}

void CServer::ReportMalformed(CConnection& conn, const std::string& what, const std::string& sample) {
  counters.nMalformed++;
  std::string who = conn.pDevice ? " (" + Printable(conn.pDevice->szId) + ")" : "";
  out.Line("malformed input from " + conn.szPeer + who + ": " + what + ": \"" + sample + "\"; connection closed");
  CloseConn(conn, "malformed input");
}
