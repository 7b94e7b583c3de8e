#include "tools/server/connection.h"

#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <utility>

#include "tools/server/sock_util.h"

CConnection::CConnection(uint64_t id, int fdIn, std::string peer) : nId(id), fd(fdIn), szPeer(std::move(peer)) {}

CConnection::~CConnection() { CloseFd(); }

void CConnection::CloseFd() {
  if (fd >= 0 && bResetOnClose) {
    linger lg{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
  }
  if (fd >= 0) close(fd);
  fd = -1;
}

int32_t CConnection::Send(const uint8_t* p, size_t n) {
  if (fd < 0) return SEND_FAILED;
  size_t sent = 0;
  if (Backlog() == 0) {
    long w = SendSome(fd, p, n);
    if (w < 0 && !WouldBlock(errno)) return SEND_FAILED;
    sent = w > 0 ? static_cast<size_t>(w) : 0;
    if (sent == n) return SEND_DONE;
  }
  if (Backlog() + (n - sent) > CONN_MAX_BACKLOG) return SEND_OVERFLOW;
  if (nOutOff > 0 && nOutOff >= out.size() / 2) {  // drop what was sent before growing
    out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(nOutOff));
    nOutOff = 0;
  }
  out.insert(out.end(), p + sent, p + n);
  return SEND_QUEUED;
}

int32_t CConnection::Flush() {
  while (Backlog() > 0) {
    long w = SendSome(fd, out.data() + nOutOff, Backlog());
    if (w <= 0) return (w == 0 || WouldBlock(errno)) ? SEND_QUEUED : SEND_FAILED;
    nOutOff += static_cast<size_t>(w);
  }
  out.clear();
  if (out.capacity() > 65536) std::vector<uint8_t>().swap(out);
  nOutOff = 0;
  return SEND_DONE;
}
