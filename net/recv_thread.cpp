#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <memory>

#include "net/my_socket.h"
#include "platform/debug_log.h"
#include "platform/sleep.h"

namespace {

void ServeUdp(CMySocket* s) {
  std::unique_ptr<uint8_t[]> buf(new uint8_t[UDP_RECV_SIZE + 1]);
  while (s->bRunning.load()) {
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    ssize_t n = recvfrom(s->hSocket.load(), buf.get(), UDP_RECV_SIZE, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n <= 0) {
      // Nothing there: look again after a while, or at once when Close is waiting.
      for (int i = 0; i < 100 && s->bRunning.load(); ++i) SleepMs(10);
      continue;
    }
    buf[static_cast<size_t>(n)] = 0;
    if (s->bRunning.load() && s->param.pfnCallback) {
      s->param.pfnCallback(s->param.pUser, buf.get(), static_cast<int32_t>(n), ntohl(from.sin_addr.s_addr),
                           ntohs(from.sin_port), SOCK_EVENT_DATA);
    }
  }
}

void ServeListen(CMySocket* s) {
  while (s->bRunning.load()) {
    pollfd p{s->hSocket.load(), POLLIN, 0};
    int rc = poll(&p, 1, 500);
    if (rc < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (rc > 0 && (p.revents & POLLIN) && s->bRunning.load() && s->param.pfnCallback) {
      s->param.pfnCallback(s->param.pUser, nullptr, 0, 0, 0, SOCK_EVENT_ACCEPT);
    }
    if (rc > 0 && (p.revents & (POLLERR | POLLNVAL))) break;
  }
}

}  // namespace

// Serves one listen-mode or UDP-mode socket until its owner clears bRunning.
int RecvThread(void* param) {
  auto* s = static_cast<CMySocket*>(param);
  s->bStopped.store(0);
  OutputDebugLine("CMySocket - recv thread start.");
  if (s->param.nMode == SOCK_MODE_UDP) ServeUdp(s);
  else ServeListen(s);
  OutputDebugLine("CMySocket - recv thread exit.");
  s->bStopped.store(1);
  return 0;
}
