#pragma once
#include <cstdint>

// Socket modes of SocketParam::nMode. Outgoing TCP connections are the only
// kind the system opens; the other values are refused by Open, except
// SOCK_MODE_NONE, which opens nothing.
constexpr int32_t SOCK_MODE_LISTEN = 1;
constexpr int32_t SOCK_MODE_CONNECT = 2;
constexpr int32_t SOCK_MODE_NONE = 3;
constexpr int32_t SOCK_MODE_UDP = 4;

// Event codes of SocketCallback.
constexpr int32_t SOCK_EVENT_DATA = 0;
constexpr int32_t SOCK_EVENT_CLOSED = 1;
constexpr int32_t SOCK_EVENT_CONNECTED = 2;
// The output buffer has been written out after a unit had to wait in it
// (only with SocketParam::bDrainedEvent): a sender that waits for room goes on.
constexpr int32_t SOCK_EVENT_DRAINED = 3;

// Called with the owner's pUser, the data (event 0: one whole frame, valid
// during the call), its length, address and port (always 0) and the event.
using SocketCallback = int (*)(void* pUser, uint8_t* data, int32_t len, uint32_t ip, int32_t port,
                               int32_t event);

// Argument of CMySocket::Open; the caller sets what it needs.
struct SocketParam {
  int32_t nMode = 0;
  int32_t nMaxBuf = 0;      // receive buffer limit
  uint32_t nLocalIp = 0;    // host order, 0 = any
  uint32_t nRemoteIp = 0;   // host order
  int32_t bNoDelay = 0;
  uint16_t nLocalPort = 0;
  uint16_t nRemotePort = 0;
  SocketCallback pfnCallback = nullptr;
  void* pUser = nullptr;
  // The connection attempt starts this long after Open, on the share thread's
  // timer (a pause that would otherwise hold the caller). 0: at once.
  uint32_t nConnectDelayMs = 0;
  // Serve the connection on the loop of this share group (the loop of the
  // device's signalling connection), beyond the group's table slots, when
  // that group runs; -1 (or a group that does not run): the first free slot.
  int32_t nShareGroup = -1;
  // Raise SOCK_EVENT_DRAINED whenever the output buffer has been emptied.
  int32_t bDrainedEvent = 0;
};
