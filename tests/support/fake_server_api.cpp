// The fake server's switches, actions, records and waits: everything a test
// calls. Each takes the server's lock; the serving loop is in fake_server.cpp.
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "net/json_writer.h"
#include "tests/support/fake_server.h"
#include "tests/support/fake_server_conn.h"

namespace {
std::chrono::steady_clock::time_point Deadline(int timeoutMs) {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
}
}  // namespace

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
