// Sockets of a share group coming and going: closes and reopens in a random
// order hand descriptor numbers and slots from one socket to another, and
// every socket open at any time must still hear its own data and nothing else.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "net/my_socket.h"
#include "net/share_table.h"
#include "tests/support/packet_builder.h"
#include "tests/support/socket_probe.h"
#include "tests/support/wait.h"
#include "tools/server/test_server.h"

namespace {

constexpr int kWait = 5000;
constexpr int kSockets = SHARE_GROUP_SIZE + 6;  // two groups

struct Member {
  CMySocket sock;
  std::unique_ptr<CSocketProbe> probe = std::make_unique<CSocketProbe>();
  int32_t nConn = 0;  // the server's number of the current connection
  int32_t nData = 0;  // data events expected so far on this probe
};

class SocketChurnTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server.Start()); }
  void TearDown() override {
    for (auto& m : members) m->sock.Close();
    server.Stop();
  }

  // Opens m on a fresh probe and waits until the server has the connection.
  void Open(Member& m) {
    m.probe = std::make_unique<CSocketProbe>();
    m.nData = 0;
    ASSERT_EQ(m.sock.Open(m.probe->ConnectParam(server.Port())), 0);
    ASSERT_TRUE(m.probe->WaitFor(SOCK_EVENT_CONNECTED, 1, kWait));
    m.nConn = ++nAccepted;
    ASSERT_TRUE(server.WaitForConnections(nAccepted, kWait));
  }

  // Sends one packet to every open member and checks that each one, and only
  // that one, hears it.
  void CheckEveryoneServed() {
    for (auto& m : members) {
      ASSERT_TRUE(server.SendRaw(m->nConn, BuildTextPacket("{\"N\":" + std::to_string(m->nConn) + "}")));
      ++m->nData;
    }
    for (auto& m : members) {
      ASSERT_TRUE(m->probe->WaitFor(SOCK_EVENT_DATA, m->nData, kWait)) << "connection " << m->nConn;
      EXPECT_EQ(m->probe->Count(SOCK_EVENT_DATA), m->nData);
      EXPECT_EQ(m->probe->Frames().back(), BuildTextPacket("{\"N\":" + std::to_string(m->nConn) + "}"));
      EXPECT_EQ(m->probe->Count(SOCK_EVENT_CLOSED), 0);
    }
  }

  CTestServer server;
  std::vector<std::unique_ptr<Member>> members;
  int32_t nAccepted = 0;
};

TEST_F(SocketChurnTest, ClosedAndReopenedSocketsInRandomOrderAreAllServed) {
  for (int i = 0; i < kSockets; ++i) {
    members.push_back(std::make_unique<Member>());
    Open(*members.back());
  }
  CheckEveryoneServed();
  std::mt19937 rng(20261208);
  for (int round = 0; round < 6; ++round) {
    std::vector<int> order(kSockets);
    for (int i = 0; i < kSockets; ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), rng);
    order.resize(17);
    // All of them go first, so that the reopened ones take each other's
    // descriptor numbers and slots, then they come back in another order.
    for (int i : order) members[i]->sock.Close();
    std::shuffle(order.begin(), order.end(), rng);
    for (int i : order) Open(*members[i]);
    CheckEveryoneServed();
  }
}

TEST_F(SocketChurnTest, PeerDropsInOneGroupLeaveTheOthersServed) {
  for (int i = 0; i < kSockets; ++i) {
    members.push_back(std::make_unique<Member>());
    Open(*members.back());
  }
  // Every third connection is reset by the server; its socket hears closed,
  // and reopening it serves the new connection.
  for (int i = 0; i < kSockets; i += 3) ASSERT_TRUE(server.Drop(members[i]->nConn));
  for (int i = 0; i < kSockets; i += 3) {
    ASSERT_TRUE(members[i]->probe->WaitFor(SOCK_EVENT_CLOSED, 1, kWait)) << i;
    members[i]->sock.Close();
    Open(*members[i]);
  }
  CheckEveryoneServed();
}

}  // namespace
