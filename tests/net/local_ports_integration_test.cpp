// Outgoing connections against a real loopback server: consecutive
// connections get consecutive windows of the port range, and every one still
// connects on a port of its own.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <memory>
#include <set>
#include <vector>

#include "net/my_socket.h"
#include "tests/support/packet_builder.h"
#include "tests/support/socket_probe.h"
#include "tools/server/test_server.h"

namespace {
constexpr int kWait = 5000;
}  // namespace

namespace {

TEST(SocketLocalPortTest, ManyConnectionsEachGetAPortOfTheirOwn) {
  CTestServer server;
  ASSERT_TRUE(server.Start());
  constexpr int kCount = 64;
  std::vector<std::unique_ptr<CMySocket>> socks;
  std::vector<std::unique_ptr<CSocketProbe>> probes;
  for (int i = 0; i < kCount; ++i) {
    socks.push_back(std::make_unique<CMySocket>());
    probes.push_back(std::make_unique<CSocketProbe>());
    ASSERT_EQ(socks.back()->Open(probes.back()->ConnectParam(server.Port())), 0);
  }
  std::set<uint16_t> ports;
  for (int i = 0; i < kCount; ++i) {
    ASSERT_TRUE(probes[static_cast<size_t>(i)]->WaitFor(SOCK_EVENT_CONNECTED, 1, kWait));
    sockaddr_in local{};
    socklen_t len = sizeof local;
    ASSERT_EQ(getsockname(socks[static_cast<size_t>(i)]->Handle(), reinterpret_cast<sockaddr*>(&local), &len), 0);
    ports.insert(ntohs(local.sin_port));
  }
  EXPECT_EQ(ports.size(), static_cast<size_t>(kCount));
  EXPECT_TRUE(server.WaitForConnections(kCount, kWait));
  for (auto& s : socks) s->Close();
  server.Stop();
}

}  // namespace
