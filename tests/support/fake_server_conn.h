#pragma once
#include <map>
#include <string>
#include <vector>

#include "tests/support/fake_server.h"

// What the fake server keeps for one connection; guarded by the server's lock.
struct CFakeServer::Conn {
  int fd = -1;
  FakeConnInfo info;
  CPacketStream stream;
  Bytes out;          // queued bytes not yet handed to the kernel
  size_t outPos = 0;  // first unsent byte of out
  bool bCloseAfterFlush = false;
  int64_t nJsonCount = 0;
  std::vector<size_t> packetIdx;  // indices into packets_
  std::map<std::string, int32_t> opCounts;
};
