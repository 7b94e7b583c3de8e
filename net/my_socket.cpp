#include "net/my_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "net/local_ports.h"
#include "net/share_table.h"
#include "net/traffic_counters.h"
#include "platform/debug_log.h"
#include "platform/sleep.h"

namespace {
constexpr int32_t kCloseWaitMs = 15000;
constexpr uint32_t kSentPollMs = 5;

bool SetNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL, 0);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

sockaddr_in MakeAddr(uint32_t ip, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(ip);
  a.sin_port = htons(port);
  return a;
}
}  // namespace

void FormatIp(uint32_t ip, char* out, int outSize) {
  snprintf(out, static_cast<size_t>(outSize), "%d.%d.%d.%d", static_cast<int>((ip >> 24) & 255),
           static_cast<int>((ip >> 16) & 255), static_cast<int>((ip >> 8) & 255), static_cast<int>(ip & 255));
}

CMySocket::CMySocket() = default;

CMySocket::~CMySocket() { Close(); }

int CMySocket::AttachFramer(const SocketParam& p) {
  Close();
  param = p;
  nLimit = p.nMaxBuf;
  nCapacity = SOCKET_INITIAL_CAPACITY;
  nBuffered = 0;
  pBuffer = new (std::nothrow) uint8_t[static_cast<size_t>(nCapacity)];
  bRunning.store(1);
  return pBuffer ? 0 : 1;
}

int CMySocket::Open(const SocketParam& p) {
  bStopped.store(1);
  bRunning.store(1);
  bConnected.store(0);
  nBuffered = 0;
  pBuffer = nullptr;
  hSocket.store(-1);
  bConnectFailed = 0;
  nOpenSerial.fetch_add(1);
  param = p;
  nLimit = p.nMaxBuf;
  nCapacity = SOCKET_INITIAL_CAPACITY;
  if (p.nMode < SOCK_MODE_LISTEN || p.nMode > SOCK_MODE_UDP) return 1;
  if (p.nMode == SOCK_MODE_NONE) return 0;
  if (p.nMode == SOCK_MODE_UDP) return OpenUdp();
  return OpenStream();
}

int CMySocket::OpenStream() {
  char ipText[32];
  FormatIp(param.nRemoteIp, ipText, sizeof ipText);
  DebugPrintf("CMySocket - connect to %s:%u", ipText, static_cast<unsigned>(param.nRemotePort));
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 1;
  hSocket.store(fd);
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  // An outgoing connection bound to port 0 takes its port when it connects:
  // choosing it at bind time searches every bound port for conflicts, which
  // makes opening thousands of connections quadratic.
  if (param.nMode == SOCK_MODE_CONNECT && param.nLocalPort == 0)
    setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
  sockaddr_in local = MakeAddr(param.nLocalIp, param.nLocalPort);
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    Close();
    return 1;
  }
  if (param.nMode == SOCK_MODE_LISTEN) {
    if (listen(fd, 5) != 0 || CPubCall::StartThread(RecvThread, this, &thread) != 0) {
      Close();
      return 1;
    }
    return 0;
  }
  return StartConnect();
}

int CMySocket::StartConnect() {
  int fd = hSocket.load();
  remoteAddr = MakeAddr(param.nRemoteIp, param.nRemotePort);
  if (param.bNoDelay) {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  if (!SetNonBlocking(fd)) {
    Close();
    return 1;
  }
  pBuffer = new (std::nothrow) uint8_t[static_cast<size_t>(nCapacity)];
  if (!pBuffer) {
    Close();
    return 1;
  }
  bool bOwnPort = param.nLocalPort == 0;
  if (bOwnPort) SpreadLocalPort(fd);
  // The attempt completes later; only a full port window is looked at now.
  if (connect(fd, reinterpret_cast<sockaddr*>(&remoteAddr), sizeof remoteAddr) != 0 && errno == EADDRNOTAVAIL &&
      bOwnPort) {
    ClearLocalPortRange(fd);
    connect(fd, reinterpret_cast<sockaddr*>(&remoteAddr), sizeof remoteAddr);
  }
  int rc = ShareRegister(this);
  if (rc == 1) {
    OutputDebugLine("CMysocket - CreateThread failed.");
    return 1;
  }
  if (rc == 2) OutputDebugLine("CMysocket - not found valid node.");
  return 0;
}

int CMySocket::OpenUdp() {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 1;
  hSocket.store(fd);
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
  sockaddr_in local = MakeAddr(param.nLocalIp, param.nLocalPort);
  // UDP sends go to the remote address of the parameters.
  remoteAddr = MakeAddr(param.nRemoteIp, param.nRemotePort);
  if (!SetNonBlocking(fd) || bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    Close();
    return 1;
  }
  if (param.pfnCallback && CPubCall::StartThread(RecvThread, this, &thread) != 0) {
    Close();
    return 1;
  }
  return 0;
}

bool CMySocket::WaitWritable(int fd, uint32_t timeoutMs) {
  pollfd pfd{fd, POLLOUT, 0};
  for (;;) {
    int rc = poll(&pfd, 1, static_cast<int>(timeoutMs));
    if (rc > 0) return true;
    if (rc < 0 && errno == EINTR) continue;
    return false;
  }
}

int CMySocket::Send(const void* data, int32_t len, uint32_t timeoutMs, bool bMore) {
  int fd = hSocket.load();
  if (fd < 0 || !data || len <= 0) return -1;
  uint32_t serial = nOpenSerial.load();
  if (timeoutMs != 0 && !WaitWritable(fd, timeoutMs)) {
    OutputDebugLine("CMySocket - select timeout, send data failed.");
    return 0;
  }
  // The handle may have been closed (and its number reused) meanwhile: send
  // only while it is still the handle this object opened.
  std::lock_guard<std::mutex> lock(sendLock_);
  if (hSocket.load() != fd || nOpenSerial.load() != serial) return -1;
  ssize_t n;
  if (param.nMode == SOCK_MODE_UDP) {
    n = sendto(fd, data, static_cast<size_t>(len), MSG_NOSIGNAL | MSG_DONTWAIT,
               reinterpret_cast<const sockaddr*>(&remoteAddr), sizeof remoteAddr);
  } else {
    n = send(fd, data, static_cast<size_t>(len), MSG_NOSIGNAL | MSG_DONTWAIT | (bMore ? MSG_MORE : 0));
  }
  CountBytesSent(n);
  return static_cast<int>(n);
}

void CMySocket::Flush() {
  std::lock_guard<std::mutex> lock(sendLock_);
  int fd = hSocket.load();
  if (fd < 0 || param.nMode == SOCK_MODE_UDP) return;
  // Clearing the cork pushes every byte a MSG_MORE send left waiting.
  int zero = 0;
  setsockopt(fd, IPPROTO_TCP, TCP_CORK, &zero, sizeof zero);
}

void CMySocket::WaitReleased() {
  int32_t group = nShareGroup.load();
  if (group >= 0 && ShareIsOwnThread(group)) {
    ShareReleaseOwn(this);
    return;
  }
  if (bStopped.load()) return;
  bool released;
  if (group >= 0) {
    released = ShareWaitReleased(this, kCloseWaitMs);
  } else {
    for (int i = 0; i < kCloseWaitMs && !bStopped.load(); ++i) SleepMs(1);
    released = bStopped.load() != 0;
  }
  if (!released) OutputDebugLine("CMySocket - wait thread exit failed!");
}

void CMySocket::CloseHandle() {
  std::lock_guard<std::mutex> lock(sendLock_);
  int fd = hSocket.exchange(-1);
  nOpenSerial.fetch_add(1);
  if (fd < 0) return;
  linger lg{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
  shutdown(fd, SHUT_RDWR);
  close(fd);
}

void CMySocket::Abort() {
  std::lock_guard<std::mutex> lock(sendLock_);
  int fd = hSocket.load();
  if (fd >= 0) shutdown(fd, SHUT_RDWR);
}

bool CMySocket::WaitSent(uint32_t timeoutMs) {
  for (uint32_t waited = 0;; waited += kSentPollMs) {
    int queued = 0;
    {
      std::lock_guard<std::mutex> lock(sendLock_);
      int fd = hSocket.load();
      if (fd < 0 || ioctl(fd, SIOCOUTQ, &queued) != 0) return false;
    }
    if (queued == 0) return true;
    if (waited >= timeoutMs) return false;
    SleepMs(kSentPollMs);
  }
}

int CMySocket::Close() {
  bRunning.store(0);
  int fd = hSocket.load();
  // A listen or UDP receive thread notices bRunning within its wait; shutting
  // the handle down wakes it at once.
  if (thread.bHasThread && fd >= 0) shutdown(fd, SHUT_RDWR);
  bool ownThread = thread.bHasThread && pthread_equal(thread.hThread, pthread_self());
  CPubCall::StopThread(&thread, ownThread ? 0 : 15000);
  WaitReleased();
  if (!bStopped.load()) {
    // The serving thread still holds the socket: it may be inside
    // WriteToBuffer, so the buffer is left to leak rather than freed under it.
    CloseHandle();
    pBuffer = nullptr;
    return 0;
  }
  CloseHandle();
  delete[] pBuffer;
  pBuffer = nullptr;
  nBuffered = 0;
  return 0;
}
