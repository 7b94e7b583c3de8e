#include "net/sock_conn.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "net/local_ports.h"
#include "net/share_table.h"
#include "net/socket_setup.h"
#include "net/traffic_counters.h"
#include "platform/debug_log.h"
#include "platform/sleep.h"
#include "platform/tick.h"

namespace {
std::atomic<uint32_t> g_closeReportMs{15000};
constexpr uint32_t kSentPollMs = 5;

// Milliseconds left of a wait that began at start.
int RemainingMs(std::chrono::steady_clock::time_point start, uint32_t timeoutMs) {
  auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  return std::max<int>(0, static_cast<int>(timeoutMs) - static_cast<int>(spent.count()));
}
}  // namespace

void CSockConn::ConnectNow() {
  int f = fd.load();
  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_addr.s_addr = htonl(param.nRemoteIp);
  remote.sin_port = htons(param.nRemotePort);
  bool bOwnPort = param.nLocalPort == 0;
  if (bOwnPort) SpreadLocalPort(f);
  dwConnectStartUs.store(GetMicroTicks(), std::memory_order_relaxed);
  // The attempt completes later; only a full port window is looked at now.
  if (connect(f, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0 && errno == EADDRNOTAVAIL && bOwnPort) {
    ClearLocalPortRange(f);
    connect(f, reinterpret_cast<sockaddr*>(&remote), sizeof remote);
  }
}

void SetCloseReportMs(uint32_t ms) { g_closeReportMs.store(ms); }

uint32_t CloseReportMs() { return g_closeReportMs.load(); }

size_t SocketOutLimit(int32_t nMaxBuf) {
  return std::max<size_t>(256u * 1024u, static_cast<size_t>(std::max(nMaxBuf, 0)) * 8u);
}

CSockConn::CSockConn(const SocketParam& p, int fdIn)
    : param(p), framer(p.nMaxBuf), fd(fdIn), out(SocketOutLimit(p.nMaxBuf)) {}

CSockConn::~CSockConn() {
  int f = fd.exchange(-1);
  if (f >= 0) close(f);
}

// Off the loop thread a sender may wait for room, as its pacing; the loop
// thread never waits.
bool CSockConn::WaitRoom(int fdNow, uint32_t timeoutMs) {
  auto start = std::chrono::steady_clock::now();
  {
    std::unique_lock<std::mutex> lock(outLock);
    if (!outDrained.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [this] { return out.Empty() || fd.load() < 0; }))
      return false;
  }
  pollfd pfd{fdNow, POLLOUT, 0};
  for (;;) {
    int rc = poll(&pfd, 1, RemainingMs(start, timeoutMs));
    if (rc > 0) return true;
    if (rc < 0 && errno == EINTR) continue;
    return false;
  }
}

int CSockConn::Send(const void* data, int32_t len, uint32_t timeoutMs, bool bHandOver) {
  if (!data || len <= 0) return -1;
  return SendParts(data, len, nullptr, 0, timeoutMs, bHandOver);
}

int32_t CSockConn::Unsent() {
  std::lock_guard<std::mutex> lock(outLock);
  return static_cast<int32_t>(out.Pending());
}

int CSockConn::SendParts(const void* head, int32_t headLen, const void* body, int32_t bodyLen, uint32_t timeoutMs,
                         bool bHandOver) {
  int fdNow = fd.load();
  if (fdNow < 0 || !head || headLen <= 0 || bodyLen < 0 || (bodyLen > 0 && !body)) return -1;
  if (bodyLen > INT32_MAX - headLen) return -1;
  const int32_t len = headLen + bodyLen;
  if (timeoutMs != 0 && !ShareOnAnyLoop() && !WaitRoom(fdNow, timeoutMs)) {
    OutputDebugLine("CMySocket - select timeout, send data failed.");
    return 0;
  }
  std::unique_lock<std::mutex> lock(outLock);
  if (fd.load() < 0) return -1;
  const auto* h = static_cast<const uint8_t*>(head);
  const auto* b = static_cast<const uint8_t*>(body);
  size_t sent = 0;
  if (bHandOver && !Connected()) return -1;  // nothing is queued before the connection is up
  if (out.Empty() && (!bHandOver || ShareOnOwnLoop(*this))) {
    iovec parts[2] = {{const_cast<uint8_t*>(h), static_cast<size_t>(headLen)},
                      {const_cast<uint8_t*>(b), static_cast<size_t>(bodyLen)}};
    msghdr msg{};
    msg.msg_iov = parts;
    msg.msg_iovlen = bodyLen > 0 ? 2 : 1;
    ssize_t n = sendmsg(fd.load(), &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n == len) {
      CountBytesSent(n);
      return len;
    }
    // Before the connection is up nothing is queued: the attempt may fail.
    if (n < 0 && (errno != EAGAIN || !Connected())) return static_cast<int>(n);
    sent = n > 0 ? static_cast<size_t>(n) : 0;
  }
  bool bKept;
  if (sent < static_cast<size_t>(headLen)) {
    bKept = out.Append(h + sent, static_cast<size_t>(headLen) - sent, b, static_cast<size_t>(bodyLen));
  } else {
    size_t bodySent = sent - static_cast<size_t>(headLen);
    bKept = out.Append(b + bodySent, static_cast<size_t>(bodyLen) - bodySent);
  }
  if (!bKept) {
    lock.unlock();
    DropForBacklog();
    return 0;
  }
  CountBytesSent(len);
  bool bArm = !bWriteArmed;
  bWriteArmed = true;
  lock.unlock();
  if (bArm) ShareArmWrite(*this);
  return len;
}

// A peer that does not read while the device keeps sending is given up, as a
// recorder drops a viewer that stops reading.
void CSockConn::DropForBacklog() {
  OutputDebugLine("CMySocket - send buffer full, close socket!!!!!");
  CountSlowPeerDrop();
  Abort();
}

void CSockConn::Abort() {
  std::lock_guard<std::mutex> lock(outLock);
  int f = fd.load();
  if (f >= 0) shutdown(f, SHUT_RDWR);
}

bool CSockConn::WaitSent(uint32_t timeoutMs) {
  for (uint32_t waited = 0;; waited += kSentPollMs) {
    int queued = 0;
    {
      std::lock_guard<std::mutex> lock(outLock);
      int f = fd.load();
      if (f < 0 || ioctl(f, SIOCOUTQ, &queued) != 0) return false;
      queued += static_cast<int>(out.Pending());
    }
    if (queued == 0) return true;
    if (waited >= timeoutMs) return false;
    SleepMs(kSentPollMs);
  }
}

// Drained, or failed (the read side reports a failed connection): either way
// nothing is left to write.
bool CSockConn::FlushOutInLoop() {
  std::lock_guard<std::mutex> lock(outLock);
  int f = fd.load();
  if (f >= 0 && out.WriteTo(f) == OUTPUT_WOULD_BLOCK) return false;
  out.Clear();
  bWriteArmed = false;
  outDrained.notify_all();
  return true;
}

void CSockConn::CloseFdInLoop() {
  std::lock_guard<std::mutex> lock(outLock);
  int f = fd.exchange(-1);
  outDrained.notify_all();
  if (f < 0) return;
  SetResetOnClose(f);
  shutdown(f, SHUT_RDWR);
  close(f);
}

void CSockConn::MarkReleasedInLoop() {
  CloseFdInLoop();
  std::vector<std::function<void()>> done;
  {
    std::lock_guard<std::mutex> lock(releaseLock);
    nState.store(static_cast<int32_t>(State::RELEASED));
    releasedCv.notify_all();
    done.swap(whenReleased);
  }
  for (auto& f : done) f();
}

void CSockConn::WhenReleased(std::function<void()> done) {
  {
    std::lock_guard<std::mutex> lock(releaseLock);
    if (!Released()) {
      whenReleased.push_back(std::move(done));
      return;
    }
  }
  done();
}

void CSockConn::StopService() {
  int32_t s = nState.load();
  while (s != static_cast<int32_t>(State::RELEASED) &&
         !nState.compare_exchange_weak(s, static_cast<int32_t>(State::STOPPED))) {
  }
}

bool CSockConn::SetConnected() {
  int32_t s = static_cast<int32_t>(State::CONNECTING);
  return nState.compare_exchange_strong(s, static_cast<int32_t>(State::CONNECTED));
}

void CSockConn::SetAttemptFailed() {
  int32_t s = static_cast<int32_t>(State::CONNECTING);
  nState.compare_exchange_strong(s, static_cast<int32_t>(State::CONNECT_FAILED));
}

void CSockConn::Place(int32_t group, int32_t slot, void* run) {
  nGroup.store(group);
  nSlot.store(slot);
  pShareRun.store(run);
}

void CSockConn::WaitReleased() {
  std::unique_lock<std::mutex> lock(releaseLock);
  auto released = [this] { return Released(); };
  if (releasedCv.wait_for(lock, std::chrono::milliseconds(g_closeReportMs.load()), released)) return;
  // Freeing what the loop may still use would be worse than a late return.
  OutputDebugLine("CMySocket - wait thread exit failed!");
  releasedCv.wait(lock, released);
}
