#include "tools/server/connection.h"

#include <unistd.h>

#include <utility>

#include "net/socket_setup.h"

CConnection::CConnection(uint64_t id, int fdIn, std::string peer) : nId(id), fd(fdIn), szPeer(std::move(peer)) {}

CConnection::~CConnection() { CloseFd(); }

void CConnection::CloseFd() {
  if (fd >= 0 && bResetOnClose) SetResetOnClose(fd);
  if (fd >= 0) close(fd);
  fd = -1;
}

OutputResult CConnection::Send(const uint8_t* p, size_t n) {
  if (fd < 0) return OUTPUT_FAILED;
  return out.Send(fd, p, n);
}
