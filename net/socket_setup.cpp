#include "net/socket_setup.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

int OpenTcpSocket() { return socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0); }

bool SetNoDelay(int fd) {
  int one = 1;
  return setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) == 0;
}

bool SetResetOnClose(int fd) {
  linger lg{1, 0};
  return setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg) == 0;
}

bool SetReceiveBuffer(int fd, int32_t bytes) {
  if (bytes <= 0) return true;
  return setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0;
}

int OpenListener(const std::string& ip, uint16_t port, std::string* error, bool bReusePort) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (inet_pton(AF_INET, ip.c_str(), &addr.sin_addr) != 1) {
    *error = "not an IPv4 address: " + ip;
    return -1;
  }
  int fd = OpenTcpSocket();
  if (fd < 0) {
    *error = std::string("socket: ") + strerror(errno);
    return -1;
  }
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bReusePort && setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one) != 0) {
    *error = std::string("SO_REUSEPORT: ") + strerror(errno);
    close(fd);
    return -1;
  }
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, SOMAXCONN) != 0) {
    *error = std::string("bind/listen: ") + strerror(errno);
    close(fd);
    return -1;
  }
  return fd;
}

int AcceptConnection(int listenFd, std::string* peer) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  int fd = accept4(listenFd, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return -1;
  SetNoDelay(fd);
  char text[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
  if (peer) *peer = std::string(text) + ":" + std::to_string(ntohs(addr.sin_port));
  return fd;
}

uint16_t LocalPort(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  return ntohs(addr.sin_port);
}

std::string LocalIp(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return std::string();
  char text[INET_ADDRSTRLEN] = "";
  if (!inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text)) return std::string();
  return text;
}

ssize_t RecvNoWait(int fd, void* buf, size_t len) {
  ssize_t n;
  do {
    n = recv(fd, buf, len, MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  return n;
}

ssize_t SendNoWait(int fd, const void* data, size_t len) {
  ssize_t n;
  do {
    n = send(fd, data, len, MSG_NOSIGNAL | MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  return n;
}

bool WouldBlock(int err) { return err == EAGAIN || err == EWOULDBLOCK; }
