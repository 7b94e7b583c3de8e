#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "net/my_socket.h"
#include "tests/support/packet_builder.h"

// One callback a CMySocket made.
struct ProbeEvent {
  int32_t nEvent = -1;
  Bytes data;        // a copy of the frame or datagram (event 0)
  bool bNulAfter = false;  // a NUL byte followed the data (datagrams)
  uint32_t nIp = 0;
  int32_t nPort = 0;
};

// Records the callbacks of CMySocket objects for tests. Put Callback and the
// probe into the socket's SocketParam (ConnectParam does). Safe from any
// thread; the hook runs on the socket's serving thread inside the callback,
// after the event has been recorded, without the probe's lock held.
class CSocketProbe {
 public:
  static int Callback(void* pUser, uint8_t* data, int32_t len, uint32_t ip, int32_t port, int32_t event);

  // Connect mode to 127.0.0.1:port, this probe as callback owner.
  SocketParam ConnectParam(uint16_t port, int32_t nMaxBuf = 60000);

  void SetHook(std::function<void(const ProbeEvent&)> hook);
  std::vector<ProbeEvent> Events() const;
  int32_t Count(int32_t nEvent) const;
  int32_t Total() const;
  // The data of every SOCK_EVENT_DATA, in order.
  std::vector<Bytes> Frames() const;
  // Until at least count events of that code have been recorded.
  bool WaitFor(int32_t nEvent, int32_t count, int timeoutMs) const;

 private:
  mutable std::mutex mu_;
  std::vector<ProbeEvent> events_;
  std::function<void(const ProbeEvent&)> hook_;
};
