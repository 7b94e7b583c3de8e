#include "net/resolve.h"
#include "tests/device/device_test_util.h"

#include "tests/support/debug_capture.h"

namespace {

TEST(DeviceLoginTest, LoginIs133ByteTextIn146BytePacketWithMembersInOrder) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  auto dev = LoggedInDevice(srv, "A-0001");
  auto logins = MessagesOf(srv, "A-0001", "CONNECT");
  ASSERT_EQ(logins.size(), 1u);
  const CapturedPacket& p = logins[0];
  EXPECT_EQ(p.szText,
            "{\"MODULE\":\"CERTIFICATE\",\"OPERATION\":\"CONNECT\",\"PARAMETER\":{\"CARNUM\":\"A-0001\",\"CHANNEL\":16,"
            "\"DEVCLASS\":4,\"DSNO\":\"A-0001\"},\"SESSION\":\"\"}");
  EXPECT_EQ(p.szText.size(), 133u);
  EXPECT_EQ(p.bytes.size(), 146u);
  EXPECT_EQ(p.info.nDataLen, 134);
  EXPECT_EQ(p.bytes.back(), 0);
  EXPECT_TRUE(dev->WantsOnline());
  dev->Shutdown();
}

TEST(DeviceLoginTest, ConnectReplyWithErrorCodeStillLogsIn) {
  CTestServer srv;
  srv.SetConnectErrorCode(1);
  ASSERT_TRUE(srv.Start());
  uint32_t before = GetTickCount();
  auto dev = LoggedInDevice(srv, "ERR-1");
  EXPECT_TRUE(dev->IsOnline());
  EXPECT_GE(static_cast<int32_t>(dev->Session().LoginTime() - before), 0);
  dev->Shutdown();
}

TEST(DeviceLoginTest, LostConnectionGoesConnectingAndReconnectsAfter15s) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  auto dev = LoggedInDevice(srv, "LOST-1");
  int32_t conn = srv.FindDeviceConnection("LOST-1");
  ASSERT_TRUE(srv.Drop(conn));
  ASSERT_TRUE(WaitUntil([&] { return !dev->IsOnline(); }, 5000));
  EXPECT_TRUE(dev->WantsOnline());
  size_t packetsBefore = srv.AllPackets().size();
  dev->Tick();  // within 15 s of the last attempt: nothing happens
  EXPECT_EQ(srv.ConnectionCount(), 1);
  EXPECT_EQ(srv.AllPackets().size(), packetsBefore);
  PassTime(15001);
  dev->Tick();
  ASSERT_TRUE(srv.WaitForConnections(2, 5000));
  EXPECT_TRUE(WaitUntil([&] { return dev->IsOnline(); }, 5000));
  EXPECT_EQ(srv.OperationCount(CONN_ANY, "CONNECT"), 2);
  dev->Shutdown();
}

TEST(DeviceLoginTest, UnansweredLoginIsClosedAndRetriedEvery15s) {
  CTestServer srv;
  srv.SetAnswerConnect(false);
  ASSERT_TRUE(srv.Start());
  CDevQ5 dev;
  dev.SetId("MUTE-1");
  dev.SetServer("127.0.0.1", srv.Port());
  dev.ConnectReg();
  ASSERT_TRUE(srv.WaitForOperation(CONN_ANY, "CONNECT", 1, 5000));
  for (int attempt = 2; attempt <= 3; ++attempt) {
    dev.Tick();
    EXPECT_EQ(srv.ConnectionCount(), attempt - 1);
    PassTime(15001);
    dev.Tick();
    ASSERT_TRUE(srv.WaitForOperation(CONN_ANY, "CONNECT", attempt, 5000));
    EXPECT_TRUE(srv.WaitForClosed(attempt - 1, 5000));  // the old connection was closed
  }
  EXPECT_FALSE(dev.IsOnline());
  dev.Shutdown();
}

TEST(DeviceLoginTest, GoOfflineStopsEverything) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  auto dev = LoggedInDevice(srv, "OFF-1");
  EditProperties(*dev, [](DeviceProperties& p) { p.bGps = 1; });
  EditProperties(*dev, [](DeviceProperties& p) { p.bAutoUpload = 1; });
  dev->GoOffline();
  EXPECT_FALSE(dev->IsOnline());
  EXPECT_FALSE(dev->WantsOnline());
  ASSERT_TRUE(srv.WaitForClosed(srv.FindDeviceConnection("OFF-1"), 5000));
  size_t packets = srv.AllPackets().size();
  for (int i = 0; i < 5; ++i) {
    PassTime(20000);
    dev->Tick();
  }
  EXPECT_EQ(srv.AllPackets().size(), packets);
  EXPECT_EQ(srv.ConnectionCount(), 1);
  dev->Shutdown();
}

// A host that cannot be resolved never becomes 0.0.0.0 (which Linux would
// connect to this machine): the open fails and counts as a failed connect.
TEST(DeviceLoginTest, UnresolvableHostConnectsNowhereAndCountsAFailure) {
  DebugCapture capture;
  EXPECT_EQ(AddressTextToIp("127.0.0.1"), 0x7F000001u);
  EXPECT_EQ(AddressTextToIp("10.1"), 0x0A010000u);
  CDevQ5 dev;
  dev.SetId("HOST-1");
  dev.SetServer("no-such-host.invalid", 1);
  EXPECT_EQ(dev.Settings()->nServerAddr, 0u);
  EXPECT_EQ(dev.ConnectReg(), 0);
  EXPECT_TRUE(capture.Has("dev - create socket failed."));
  EXPECT_EQ(capture.CountContaining("CMySocket - connect to"), 0);
  EXPECT_EQ(dev.Counters().nConnectFailures.load(), 1);
  EXPECT_TRUE(dev.WantsOnline());  // the tick keeps trying
  dev.Shutdown();
  EXPECT_FALSE(dev.IsOnline());
}

}  // namespace
