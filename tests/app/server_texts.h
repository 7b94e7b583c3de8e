#pragma once
#include <string>

#include "tests/support/packet_builder.h"
#include "tests/support/wait.h"
#include "tools/server/test_server.h"

// Look-ups of the signalling texts a test server received, for fleet tests.

// "127.0.0.1:<port>", the REG text that reaches the server.
inline std::string ServerReg(const CTestServer& server) { return "127.0.0.1:" + std::to_string(server.Port()); }

// Number of received type-0 texts that contain part.
inline int CountTexts(const CTestServer& server, const std::string& part) {
  int n = 0;
  for (const CapturedPacket& p : server.AllPackets())
    if (p.info.nType == 0 && p.szText.find(part) != std::string::npos) ++n;
  return n;
}

// Waits until at least n received texts contain part.
inline bool WaitTexts(const CTestServer& server, const std::string& part, int n, int timeoutMs) {
  return WaitUntil([&] { return CountTexts(server, part) >= n; }, timeoutMs);
}
