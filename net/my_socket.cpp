#include "net/my_socket.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

#include "net/share_table.h"
#include "net/sock_conn.h"
#include "net/socket_setup.h"
#include "platform/debug_log.h"

namespace {

// A non-blocking TCP socket bound to the parameters' local address, or -1.
int MakeStreamSocket(const SocketParam& p) {
  int fd = OpenTcpSocket();
  if (fd < 0) return -1;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  // An outgoing connection bound to port 0 takes its port when it connects:
  // choosing it at bind time searches every bound port for conflicts, which
  // makes opening thousands of connections quadratic.
  if (p.nLocalPort == 0) setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(p.nLocalIp);
  local.sin_port = htons(p.nLocalPort);
  if (p.bNoDelay) SetNoDelay(fd);
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Framing-only sockets hand frames to their callback directly.
bool DeliverDirect(void* ctx, uint8_t* frame, int32_t len) {
  auto* c = static_cast<CSockConn*>(ctx);
  if (!c->Serving()) return false;
  if (c->param.pfnCallback) c->param.pfnCallback(c->param.pUser, frame, len, 0, 0, SOCK_EVENT_DATA);
  return c->Serving();
}

}  // namespace

void FormatIp(uint32_t ip, char* out, int outSize) {
  snprintf(out, static_cast<size_t>(outSize), "%d.%d.%d.%d", static_cast<int>((ip >> 24) & 255),
           static_cast<int>((ip >> 16) & 255), static_cast<int>((ip >> 8) & 255), static_cast<int>(ip & 255));
}

CMySocket::CMySocket() = default;

CMySocket::~CMySocket() { Close(); }

std::shared_ptr<CSockConn> CMySocket::Current() const {
  std::lock_guard<std::mutex> lock(lock_);
  return conn_;
}

int CMySocket::Open(const SocketParam& p) {
  Close();
  if (p.nMode == SOCK_MODE_NONE) return 0;
  if (p.nMode != SOCK_MODE_CONNECT) return 1;
  // 0.0.0.0 would reach this machine, never the server that was meant.
  if (p.nRemoteIp == 0) return 1;
  char ipText[32];
  FormatIp(p.nRemoteIp, ipText, sizeof ipText);
  DebugPrintf("CMySocket - connect to %s:%u", ipText, static_cast<unsigned>(p.nRemotePort));
  int fd = MakeStreamSocket(p);
  if (fd < 0) return 1;
  auto conn = std::make_shared<CSockConn>(p, fd);
  if (p.nConnectDelayMs == 0) conn->ConnectNow();
  {
    // Held before the share thread can report anything: its first callback
    // may already send on this socket.
    std::lock_guard<std::mutex> lock(lock_);
    conn_ = conn;
  }
  int rc = ShareRegister(conn);
  if (rc == 0) return 0;
  OutputDebugLine(rc == 1 ? "CMysocket - CreateThread failed." : "CMysocket - not found valid node.");
  std::lock_guard<std::mutex> lock(lock_);
  if (conn_ == conn) conn_.reset();
  return 1;
}

int CMySocket::Send(const void* data, int32_t len, uint32_t timeoutMs, int32_t nFlags) {
  std::shared_ptr<CSockConn> c = Current();
  if (!c) return -1;
  return c->Send(data, len, timeoutMs, (nFlags & SOCK_SEND_HAND_OVER) != 0);
}

int CMySocket::SendParts(const void* head, int32_t headLen, const void* body, int32_t bodyLen, uint32_t timeoutMs) {
  std::shared_ptr<CSockConn> c = Current();
  if (!c) return -1;
  return c->SendParts(head, headLen, body, bodyLen, timeoutMs);
}

int32_t CMySocket::Unsent() const {
  std::shared_ptr<CSockConn> c = Current();
  return c ? c->Unsent() : 0;
}

std::shared_ptr<CSockConn> CMySocket::TakeStopped() {
  std::shared_ptr<CSockConn> c;
  {
    std::lock_guard<std::mutex> lock(lock_);
    c.swap(conn_);
  }
  if (c) c->StopService();
  return c;
}

int CMySocket::Close() {
  if (std::shared_ptr<CSockConn> c = TakeStopped()) ShareRelease(c, true);
  return 0;
}

void CMySocket::Close(std::function<void()> done) {
  std::shared_ptr<CSockConn> c = TakeStopped();
  if (!c || c->Group() < 0) return done();  // nothing a loop holds
  c->WhenReleased(std::move(done));
  ShareRelease(c, false);
}

void CMySocket::Detach() {
  std::shared_ptr<CSockConn> c = Current();
  if (!c) return;
  c->StopService();
  ShareRelease(c, false);
}

void CMySocket::Abort() {
  if (std::shared_ptr<CSockConn> c = Current()) c->Abort();
}

bool CMySocket::WaitSent(uint32_t timeoutMs) {
  std::shared_ptr<CSockConn> c = Current();
  return c && c->WaitSent(timeoutMs);
}

int CMySocket::AttachFramer(const SocketParam& p, int32_t nKind) {
  Close();
  auto conn = std::make_shared<CSockConn>(p, -1);
  conn->framer.SetKind(nKind);
  std::lock_guard<std::mutex> lock(lock_);
  conn_ = std::move(conn);
  return 0;
}

int CMySocket::WriteToBuffer(const uint8_t* data, int32_t len) {
  std::shared_ptr<CSockConn> c = Current();
  if (!c) return 1;
  return c->framer.Write(data, len, &DeliverDirect, c.get());
}

bool CMySocket::IsOpen() const {
  std::shared_ptr<CSockConn> c = Current();
  return c && !c->Released();
}

bool CMySocket::IsConnected() const {
  std::shared_ptr<CSockConn> c = Current();
  return c && !c->Released() && c->Connected();
}

bool CMySocket::ConnectFailed() const {
  std::shared_ptr<CSockConn> c = Current();
  return c && !c->Released() && c->AttemptFailed();
}

int32_t CMySocket::FrameKind() const {
  std::shared_ptr<CSockConn> c = Current();
  return c ? c->framer.Kind() : FRAME_DETECT;
}

int32_t CMySocket::Buffered() const {
  std::shared_ptr<CSockConn> c = Current();
  return c ? c->framer.Buffered() : 0;
}

int32_t CMySocket::BufferCapacity() const {
  std::shared_ptr<CSockConn> c = Current();
  return c ? c->framer.Capacity() : 0;
}

int CMySocket::Handle() const {
  std::shared_ptr<CSockConn> c = Current();
  return c ? c->Fd() : -1;
}

int32_t CMySocket::ShareGroup() const {
  std::shared_ptr<CSockConn> c = Current();
  return c && !c->Released() ? c->Group() : -1;
}

const uint8_t* CMySocket::BufferData() const {
  std::shared_ptr<CSockConn> c = Current();
  return c ? c->framer.Data() : nullptr;
}
