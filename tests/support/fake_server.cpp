#include "tests/support/fake_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "net/json_read.h"
#include "net/json_writer.h"

namespace {
constexpr size_t kMaxQueued = 64u << 20;  // bytes waiting to be sent on one connection
constexpr size_t kReadChunk = 65536;
constexpr int kReadsPerPass = 16;  // keeps one busy connection from starving the others
constexpr int kPollMs = 200;

int64_t SteadyMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::chrono::steady_clock::time_point Deadline(int timeoutMs) {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
}

Json::Value AnswerOf(const char* op, int32_t nErrorCode) {
  Json::Value v(Json::objectValue);
  v["MODULE"] = "CERTIFICATE";
  v["OPERATION"] = op;
  v["RESPONSE"]["ERRORCODE"] = nErrorCode;
  v["SESSION"] = "";
  return v;
}
}  // namespace

struct CFakeServer::Conn {
  int fd = -1;
  FakeConnInfo info;
  CPacketStream stream;
  Bytes out;          // queued bytes not yet handed to the kernel
  size_t outPos = 0;  // first unsent byte of out
  bool bCloseAfterFlush = false;
  int64_t nJsonCount = 0;
  std::vector<size_t> packetIdx;  // indices into packets_
  std::map<std::string, int32_t> opCounts;
};

CFakeServer::CFakeServer() = default;

CFakeServer::~CFakeServer() { Stop(); }

bool CFakeServer::Start() {
  std::lock_guard<std::mutex> lock(mu_);
  if (bRunning_) return false;
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  nPort_ = 0;
  if (wakeFd_ < 0 || !Listen()) {
    if (wakeFd_ >= 0) close(wakeFd_);
    wakeFd_ = -1;
    return false;
  }
  nStartMs_ = SteadyMs();
  bStop_.store(0);
  bRunning_ = true;
  thread_ = std::thread([this] { Serve(); });
  return true;
}

uint16_t CFakeServer::Port() const {
  std::lock_guard<std::mutex> lock(mu_);
  return nPort_;
}

void CFakeServer::Stop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!bRunning_) return;
    bStop_.store(1);
    Wake();
  }
  thread_.join();
  std::lock_guard<std::mutex> lock(mu_);
  for (auto& c : conns_) {
    if (c->fd < 0) continue;
    c->info.bDroppedByServer = true;
    CloseConnLocked(*c, true);
  }
  if (listenFd_ >= 0) close(listenFd_);
  listenFd_ = -1;
  close(wakeFd_);
  wakeFd_ = -1;
  bRunning_ = false;
  changed_.notify_all();
}

// Makes the listener on 127.0.0.1:nPort_ (0 lets the system choose, and the
// chosen port is kept for Restart). Runs under mu_.
bool CFakeServer::Listen() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (nRecvBuf_ > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &nRecvBuf_, sizeof nRecvBuf_);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(nPort_);
  socklen_t len = sizeof addr;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, SOMAXCONN) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    close(fd);
    return false;
  }
  nPort_ = ntohs(addr.sin_port);
  listenFd_ = fd;
  return true;
}

void CFakeServer::Wake() const {
  uint64_t one = 1;
  if (wakeFd_ >= 0) {
    ssize_t n = write(wakeFd_, &one, sizeof one);
    (void)n;
  }
}

void CFakeServer::Serve() {
  while (!bStop_.load()) ServeOnce();
  std::lock_guard<std::mutex> lock(mu_);
  ++nPasses_;
  passed_.notify_all();
}

// A descriptor closed while the serving thread sleeps in poll stays open in
// the kernel until that poll returns (the poll holds a reference): a closed
// listener would still accept and its port stay taken, a dropped connection
// would not yet be reset. Waking the thread and waiting for its next pass
// makes such closes take effect before the caller goes on.
void CFakeServer::AwaitPassLocked(std::unique_lock<std::mutex>& lock) {
  if (!bRunning_ || bStop_.load()) return;
  uint64_t start = nPasses_;
  Wake();
  passed_.wait_for(lock, std::chrono::seconds(2), [&] { return nPasses_ != start; });
}

// One pass: poll the wake-up descriptor, the listener and every open
// connection without the lock, then serve what is ready under it. Entries are
// matched back to connections by id and descriptor, so a connection closed by
// another thread during the poll is skipped.
void CFakeServer::ServeOnce() {
  std::vector<pollfd> fds;
  std::vector<int32_t> ids;
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++nPasses_;
    passed_.notify_all();
    fds.push_back(pollfd{wakeFd_, POLLIN, 0});
    fds.push_back(pollfd{listenFd_, POLLIN, 0});
    for (auto& c : conns_) {
      if (c->fd < 0) continue;
      short ev = c->info.bReading ? POLLIN : 0;
      if (c->outPos < c->out.size()) ev |= POLLOUT;
      fds.push_back(pollfd{c->fd, ev, 0});
      ids.push_back(c->info.nConn);
    }
  }
  int rc = poll(fds.data(), fds.size(), kPollMs);
  if (rc <= 0) return;
  std::lock_guard<std::mutex> lock(mu_);
  if (fds[0].revents) {
    uint64_t v;
    ssize_t n = read(wakeFd_, &v, sizeof v);
    (void)n;
  }
  if (fds[1].revents && listenFd_ >= 0 && listenFd_ == fds[1].fd) AcceptAll();
  for (size_t k = 0; k < ids.size(); ++k) {
    const pollfd& p = fds[k + 2];
    Conn* c = FindLocked(ids[k]);
    if (!p.revents || !c || c->fd != p.fd) continue;
    if ((p.revents & POLLOUT) && c->fd >= 0) FlushConn(*c);
    if (c->fd >= 0 && c->info.bReading && (p.revents & (POLLIN | POLLERR | POLLHUP))) ReadConn(*c);
    if (c->fd >= 0 && !c->info.bReading && (p.revents & (POLLERR | POLLHUP))) {
      c->info.bClosedByPeer = true;  // reset while paused: nothing more can be read
      CloseConnLocked(*c, false);
    }
  }
  changed_.notify_all();
}

void CFakeServer::AcceptAll() {
  for (;;) {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    int fd = accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR) continue;
      // Out of descriptors: the listener stays readable, so pause instead of spinning.
      if (errno == EMFILE || errno == ENFILE) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      return;
    }
    if (nRecvBuf_ > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &nRecvBuf_, sizeof nRecvBuf_);
    auto c = std::make_unique<Conn>();
    c->fd = fd;
    c->info.nConn = static_cast<int32_t>(conns_.size()) + 1;
    c->info.bOpen = true;
    c->info.nPeerPort = ntohs(peer.sin_port);
    c->info.bReading = !bPauseNew_;
    if (bRefuse_) {
      c->info.bRefused = true;
      CloseConnLocked(*c, false);
    }
    conns_.push_back(std::move(c));
  }
}

void CFakeServer::ReadConn(Conn& c) {
  static thread_local Bytes buf(kReadChunk);
  for (int i = 0; i < kReadsPerPass && c.fd >= 0 && c.info.bReading; ++i) {
    ssize_t n = recv(c.fd, buf.data(), buf.size(), MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n <= 0) {
      c.info.bClosedByPeer = true;
      CloseConnLocked(c, false);
      return;
    }
    c.info.nBytesIn += n;
    c.stream.Feed(buf.data(), static_cast<size_t>(n));
    c.info.bStreamBroken = c.stream.Broken();
    CapturedPacket pkt;
    while (c.stream.Next(&pkt)) OnPacket(c, std::move(pkt));
  }
}

void CFakeServer::FlushConn(Conn& c) {
  while (c.fd >= 0 && c.outPos < c.out.size()) {
    ssize_t n = send(c.fd, c.out.data() + c.outPos, c.out.size() - c.outPos, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n < 0) {
      c.info.bClosedByPeer = true;
      CloseConnLocked(c, false);
      return;
    }
    c.outPos += static_cast<size_t>(n);
    c.info.nBytesOut += n;
  }
  if (c.fd < 0) return;
  c.out.clear();
  c.outPos = 0;
  if (c.bCloseAfterFlush) CloseGracefully(c);
}

// Sends FIN, takes in what the peer had already sent (so that close does not
// turn into a reset over unread bytes), then closes.
void CFakeServer::CloseGracefully(Conn& c) {
  c.info.bDroppedByServer = true;
  shutdown(c.fd, SHUT_WR);
  if (c.info.bReading) ReadConn(c);
  if (c.fd >= 0) CloseConnLocked(c, false);
}

void CFakeServer::OnPacket(Conn& c, CapturedPacket&& pkt) {
  pkt.nConn = c.info.nConn;
  pkt.nSeq = packets_.size() + 1;
  pkt.nRecvMs = SteadyMs() - nStartMs_;
  ++c.info.nPackets;
  ++c.info.packetsByType[pkt.info.nType];
  if (pkt.info.nType == NTYPE_SIGNAL) {
    std::string op = pkt.Operation();
    ++c.opCounts[op];
    if (c.nJsonCount++ == 0) {
      const Json::Value& param = JsonMember(pkt.json, "PARAMETER");
      if (op == "CONNECT") {
        c.info.nRole = FAKE_ROLE_SIGNAL;
        c.info.szDsno = JsonText(JsonMember(param, "DSNO"));
      } else if (op == "CREATESTREAM") {
        c.info.nRole = FAKE_ROLE_MEDIA;
        c.info.szStreamName = JsonText(JsonMember(param, "STREAMNAME"));
      }
    }
  } else if (nRecordedBytes_ + static_cast<int64_t>(pkt.bytes.size()) > nRecordLimit_) {
    pkt.bytes.clear();
    pkt.bytes.shrink_to_fit();
    pkt.bBytesDropped = true;
  }
  nRecordedBytes_ += static_cast<int64_t>(pkt.bytes.size());
  AutoAnswer(c, pkt);
  c.packetIdx.push_back(packets_.size());
  packets_.push_back(std::move(pkt));
}

void CFakeServer::AutoAnswer(Conn& c, const CapturedPacket& pkt) {
  if (bSilent_ || pkt.info.nType != NTYPE_SIGNAL) return;
  std::string op = pkt.Operation();
  if (op == "CONNECT" && bAnswerConnect_) {
    QueueLocked(c.info.nConn, BuildJsonPacket(AnswerOf("CONNECT", nConnectError_)));
  } else if (op == "CREATESTREAM" && c.info.nRole == FAKE_ROLE_MEDIA && bAnswerCreate_) {
    QueueLocked(c.info.nConn, BuildJsonPacket(AnswerOf("CREATESTREAM", 0)));
  }
}

void CFakeServer::CloseConnLocked(Conn& c, bool bReset) {
  if (c.fd >= 0) {
    if (bReset) {
      linger lg{1, 0};
      setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    }
    close(c.fd);
  }
  c.fd = -1;
  c.info.bOpen = false;
  c.out.clear();
  c.out.shrink_to_fit();
  c.outPos = 0;
  c.stream = CPacketStream();
  changed_.notify_all();
}

CFakeServer::Conn* CFakeServer::FindLocked(int32_t nConn) const {
  if (nConn < 1 || static_cast<size_t>(nConn) > conns_.size()) return nullptr;
  return conns_[static_cast<size_t>(nConn) - 1].get();
}

// Queues bytes and hands as many as the kernel takes at once, so that answers
// leave during the pass that produced them.
bool CFakeServer::QueueLocked(int32_t nConn, const Bytes& bytes) {
  Conn* c = FindLocked(nConn);
  if (!c || c->fd < 0 || c->bCloseAfterFlush) return false;
  if (c->out.size() - c->outPos + bytes.size() > kMaxQueued) return false;
  c->out.insert(c->out.end(), bytes.begin(), bytes.end());
  FlushConn(*c);
  Wake();
  return true;
}

// --- switches ---

void CFakeServer::SetAnswerConnect(bool bOn) {
  std::lock_guard<std::mutex> lock(mu_);
  bAnswerConnect_ = bOn;
}

void CFakeServer::SetConnectErrorCode(int32_t nErrorCode) {
  std::lock_guard<std::mutex> lock(mu_);
  nConnectError_ = nErrorCode;
}

void CFakeServer::SetAnswerCreateStream(bool bOn) {
  std::lock_guard<std::mutex> lock(mu_);
  bAnswerCreate_ = bOn;
}

void CFakeServer::SetSilent(bool bOn) {
  std::lock_guard<std::mutex> lock(mu_);
  bSilent_ = bOn;
}

void CFakeServer::SetRefuse(bool bOn) {
  std::lock_guard<std::mutex> lock(mu_);
  bRefuse_ = bOn;
}

void CFakeServer::SetReceiveBuffer(int32_t nBytes) {
  std::lock_guard<std::mutex> lock(mu_);
  nRecvBuf_ = nBytes;
  if (listenFd_ >= 0 && nBytes > 0) setsockopt(listenFd_, SOL_SOCKET, SO_RCVBUF, &nBytes, sizeof nBytes);
}

void CFakeServer::SetReading(int32_t nConn, bool bOn) {
  std::lock_guard<std::mutex> lock(mu_);
  if (Conn* c = FindLocked(nConn)) c->info.bReading = bOn;
  Wake();
}

void CFakeServer::SetPauseNewConnections(bool bOn) {
  std::lock_guard<std::mutex> lock(mu_);
  bPauseNew_ = bOn;
}

void CFakeServer::SetRecordLimit(int64_t nBytes) {
  std::lock_guard<std::mutex> lock(mu_);
  nRecordLimit_ = nBytes;
}

// --- actions ---

bool CFakeServer::SendJson(int32_t nConn, const Json::Value& value) {
  return SendJsonText(nConn, WriteCompactJson(value));
}

bool CFakeServer::SendJsonText(int32_t nConn, std::string_view text) { return SendRaw(nConn, BuildTextPacket(text)); }

bool CFakeServer::SendPacket(int32_t nConn, int32_t nType, int32_t nChannel, const Bytes& payload) {
  return SendRaw(nConn, BuildPacket(nType, nChannel, payload.data(), payload.size()));
}

bool CFakeServer::SendRaw(int32_t nConn, const Bytes& bytes) {
  std::lock_guard<std::mutex> lock(mu_);
  return QueueLocked(nConn, bytes);
}

bool CFakeServer::Drop(int32_t nConn) {
  std::unique_lock<std::mutex> lock(mu_);
  Conn* c = FindLocked(nConn);
  if (!c || c->fd < 0) return false;
  c->info.bDroppedByServer = true;
  CloseConnLocked(*c, true);
  AwaitPassLocked(lock);
  return true;
}

void CFakeServer::DropAll() {
  std::unique_lock<std::mutex> lock(mu_);
  for (auto& c : conns_) {
    if (c->fd < 0) continue;
    c->info.bDroppedByServer = true;
    CloseConnLocked(*c, true);
  }
  AwaitPassLocked(lock);
}

bool CFakeServer::CloseConn(int32_t nConn) {
  std::unique_lock<std::mutex> lock(mu_);
  Conn* c = FindLocked(nConn);
  if (!c || c->fd < 0) return false;
  c->bCloseAfterFlush = true;
  FlushConn(*c);
  AwaitPassLocked(lock);
  return true;
}

void CFakeServer::CloseListener() {
  std::unique_lock<std::mutex> lock(mu_);
  if (listenFd_ >= 0) close(listenFd_);
  listenFd_ = -1;
  AwaitPassLocked(lock);
}

bool CFakeServer::Restart() {
  std::unique_lock<std::mutex> lock(mu_);
  if (!bRunning_) return false;
  if (listenFd_ >= 0) {
    close(listenFd_);
    listenFd_ = -1;
    AwaitPassLocked(lock);  // frees the port before it is bound again
  }
  bool ok = Listen();
  Wake();
  return ok;
}

bool CFakeServer::IsListening() const {
  std::lock_guard<std::mutex> lock(mu_);
  return listenFd_ >= 0;
}

// --- records ---

std::vector<CapturedPacket> CFakeServer::Packets(int32_t nConn) const {
  std::lock_guard<std::mutex> lock(mu_);
  if (nConn == FAKE_ANY_CONN) return packets_;
  std::vector<CapturedPacket> out;
  if (Conn* c = FindLocked(nConn)) {
    for (size_t i : c->packetIdx) out.push_back(packets_[i]);
  }
  return out;
}

std::vector<CapturedPacket> CFakeServer::AllPackets() const { return Packets(FAKE_ANY_CONN); }

std::vector<Json::Value> CFakeServer::JsonMessages(int32_t nConn) const {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<Json::Value> out;
  for (const auto& p : packets_) {
    if (p.info.nType == NTYPE_SIGNAL && (nConn == FAKE_ANY_CONN || p.nConn == nConn)) out.push_back(p.json);
  }
  return out;
}

std::vector<std::string> CFakeServer::Operations(int32_t nConn) const {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<std::string> out;
  for (const auto& p : packets_) {
    if (p.info.nType == NTYPE_SIGNAL && (nConn == FAKE_ANY_CONN || p.nConn == nConn)) out.push_back(p.Operation());
  }
  return out;
}

FakeConnInfo CFakeServer::InfoLocked(const Conn& c) const { return c.info; }

std::vector<FakeConnInfo> CFakeServer::Connections() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<FakeConnInfo> out;
  for (const auto& c : conns_) out.push_back(InfoLocked(*c));
  return out;
}

bool CFakeServer::Connection(int32_t nConn, FakeConnInfo* out) const {
  std::lock_guard<std::mutex> lock(mu_);
  Conn* c = FindLocked(nConn);
  if (!c) return false;
  *out = InfoLocked(*c);
  return true;
}

int32_t CFakeServer::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(mu_);
  return static_cast<int32_t>(conns_.size());
}

int32_t CFakeServer::OperationCount(int32_t nConn, const std::string& op) const {
  std::lock_guard<std::mutex> lock(mu_);
  return OperationCountLocked(nConn, op);
}

int32_t CFakeServer::OperationCountLocked(int32_t nConn, const std::string& op) const {
  int32_t n = 0;
  for (const auto& c : conns_) {
    if (nConn != FAKE_ANY_CONN && c->info.nConn != nConn) continue;
    auto it = c->opCounts.find(op);
    if (it != c->opCounts.end()) n += it->second;
  }
  return n;
}

std::map<std::string, int32_t> CFakeServer::OperationCounts(int32_t nConn) const {
  std::lock_guard<std::mutex> lock(mu_);
  std::map<std::string, int32_t> out;
  for (const auto& c : conns_) {
    if (nConn != FAKE_ANY_CONN && c->info.nConn != nConn) continue;
    for (const auto& [op, n] : c->opCounts) out[op] += n;
  }
  return out;
}

// --- waiting ---

bool CFakeServer::WaitForConnections(int32_t n, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mu_);
  return changed_.wait_until(lock, Deadline(timeoutMs), [&] { return static_cast<int32_t>(conns_.size()) >= n; });
}

bool CFakeServer::WaitForPacket(const std::function<bool(const CapturedPacket&)>& pred, int timeoutMs,
                                CapturedPacket* out) const {
  auto deadline = Deadline(timeoutMs);
  std::unique_lock<std::mutex> lock(mu_);
  size_t next = 0;
  for (;;) {
    for (; next < packets_.size(); ++next) {
      if (!pred(packets_[next])) continue;
      if (out) *out = packets_[next];
      return true;
    }
    if (changed_.wait_until(lock, deadline) == std::cv_status::timeout && next == packets_.size()) return false;
  }
}

bool CFakeServer::WaitForOperation(int32_t nConn, const std::string& op, int32_t count, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mu_);
  return changed_.wait_until(lock, Deadline(timeoutMs), [&] { return OperationCountLocked(nConn, op) >= count; });
}

bool CFakeServer::WaitForClosed(int32_t nConn, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mu_);
  return changed_.wait_until(lock, Deadline(timeoutMs), [&] {
    Conn* c = FindLocked(nConn);
    return c && c->fd < 0;
  });
}

bool CFakeServer::WaitForBytes(int32_t nConn, int64_t nBytes, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mu_);
  return changed_.wait_until(lock, Deadline(timeoutMs), [&] {
    Conn* c = FindLocked(nConn);
    return c && c->info.nBytesIn >= nBytes;
  });
}

// --- device look-ups ---

int32_t CFakeServer::FindNewestLocked(int32_t nRole, const std::string& key) const {
  for (auto it = conns_.rbegin(); it != conns_.rend(); ++it) {
    const FakeConnInfo& i = (*it)->info;
    if (i.nRole != nRole) continue;
    if ((nRole == FAKE_ROLE_SIGNAL ? i.szDsno : i.szStreamName) == key) return i.nConn;
  }
  return -1;
}

int32_t CFakeServer::FindDeviceConnection(const std::string& dsno) const {
  std::lock_guard<std::mutex> lock(mu_);
  return FindNewestLocked(FAKE_ROLE_SIGNAL, dsno);
}

int32_t CFakeServer::FindStreamConnection(const std::string& streamName) const {
  std::lock_guard<std::mutex> lock(mu_);
  return FindNewestLocked(FAKE_ROLE_MEDIA, streamName);
}

int32_t CFakeServer::WaitForDevice(const std::string& dsno, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mu_);
  int32_t id = -1;
  changed_.wait_until(lock, Deadline(timeoutMs), [&] { return (id = FindNewestLocked(FAKE_ROLE_SIGNAL, dsno)) >= 0; });
  return id;
}

int32_t CFakeServer::WaitForStream(const std::string& streamName, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mu_);
  int32_t id = -1;
  changed_.wait_until(lock, Deadline(timeoutMs), [&] { return (id = FindNewestLocked(FAKE_ROLE_MEDIA, streamName)) >= 0; });
  return id;
}
