#include "tests/support/plain_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <chrono>

namespace {
sockaddr_in Loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  return a;
}

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
}  // namespace

bool CPlainClient::Connect(uint16_t port) {
  Close();
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  sockaddr_in a = Loopback(port);
  if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    Close();
    return false;
  }
  return true;
}

bool CPlainClient::SendAll(const Bytes& bytes) {
  size_t done = 0;
  while (fd_ >= 0 && done < bytes.size()) {
    ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return fd_ >= 0;
}

int CPlainClient::RecvSome(int timeoutMs, Bytes* out) { return RecvUpTo(65536, timeoutMs, out); }

int CPlainClient::RecvUpTo(size_t max, int timeoutMs, Bytes* out) {
  if (fd_ < 0) return -1;
  pollfd p{fd_, POLLIN, 0};
  int rc = poll(&p, 1, timeoutMs);
  if (rc <= 0) return -1;
  uint8_t buf[65536];
  ssize_t n = recv(fd_, buf, std::min(max, sizeof buf), MSG_DONTWAIT);
  if (n == 0) return 0;
  if (n < 0) return errno == ECONNRESET ? 0 : -1;
  out->insert(out->end(), buf, buf + n);
  return static_cast<int>(n);
}

bool CPlainClient::RecvExactly(size_t n, int timeoutMs, Bytes* out) {
  int64_t deadline = NowMs() + timeoutMs;
  size_t got = 0;
  while (got < n) {
    int64_t left = deadline - NowMs();
    if (left <= 0) return false;
    int rc = RecvUpTo(n - got, static_cast<int>(left), out);
    if (rc <= 0) return false;
    got += static_cast<size_t>(rc);
  }
  return true;
}

bool CPlainClient::WaitClosed(int timeoutMs) {
  int64_t deadline = NowMs() + timeoutMs;
  Bytes sink;
  for (;;) {
    int64_t left = deadline - NowMs();
    if (left <= 0) return false;
    int rc = RecvSome(static_cast<int>(left), &sink);
    if (rc == 0) return true;
    if (rc < 0) return false;
    sink.clear();
  }
}

void CPlainClient::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

uint16_t UnusedLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in a = Loopback(0);
  socklen_t len = sizeof a;
  uint16_t port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    port = ntohs(a.sin_port);
  }
  close(fd);
  return port;
}
