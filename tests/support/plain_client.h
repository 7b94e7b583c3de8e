#pragma once
#include <cstdint>

#include "tests/support/packet_builder.h"

// A blocking TCP client on 127.0.0.1 for tests that need a peer without the
// system's socket class. Closes its socket when destroyed. One thread at a time.
class CPlainClient {
 public:
  CPlainClient() = default;
  ~CPlainClient() { Close(); }
  CPlainClient(const CPlainClient&) = delete;
  CPlainClient& operator=(const CPlainClient&) = delete;

  // Connects to 127.0.0.1:port; false when refused.
  bool Connect(uint16_t port);
  bool SendAll(const Bytes& bytes);
  // Reads exactly n bytes (no more) and appends them to out; false on
  // time-out, close or error.
  bool RecvExactly(size_t n, int timeoutMs, Bytes* out);
  // Reads whatever arrives within timeoutMs (at least one byte); appends to
  // out. 0 when the peer closed, -1 on time-out or error.
  int RecvSome(int timeoutMs, Bytes* out);
  // Until the peer closes or resets the connection (pending data is read and
  // discarded). True when it did within timeoutMs.
  bool WaitClosed(int timeoutMs);
  // One receive of at most max bytes, as RecvSome.
  int RecvUpTo(size_t max, int timeoutMs, Bytes* out);
  void Close();
  int Fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// A loopback port on which nothing listens (bound to a socket then released).
uint16_t UnusedLoopbackPort();
