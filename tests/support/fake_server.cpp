// The fake server's serving thread: listening, accepting, reading, cutting and
// recording packets, automatic answers and flushing queued bytes.
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
#include "tests/support/fake_server_conn.h"

namespace {
constexpr size_t kMaxQueued = 64u << 20;  // bytes waiting to be sent on one connection
constexpr size_t kReadChunk = 65536;
constexpr int kReadsPerPass = 16;  // keeps one busy connection from starving the others
constexpr int kPollMs = 200;

int64_t SteadyMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
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
