// What devices do when their server misbehaves: restarts, corrupt packets.
#include "tests/device/device_test_util.h"
#include "tests/support/debug_capture.h"

namespace {

TEST(DeviceFaultTest, EveryDeviceLogsInAgainAfterTheServerRestarts) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  std::vector<std::unique_ptr<CDevQ5>> devs;
  for (int i = 0; i < 5; ++i) devs.push_back(LoggedInDevice(srv, ("RS-" + std::to_string(i)).c_str()));
  srv.CloseListener();
  srv.DropAll();
  for (auto& d : devs) ASSERT_TRUE(WaitUntil([&] { return !d->IsOnline(); }, 5000));
  // While the server is down, reconnection attempts fail and change nothing.
  PassTime(15001);
  for (auto& d : devs) d->Tick();
  ASSERT_TRUE(srv.Restart());
  PassTime(15001);
  for (auto& d : devs) d->Tick();
  for (auto& d : devs) EXPECT_TRUE(WaitUntil([&] { return d->IsOnline(); }, 5000));
  EXPECT_EQ(srv.OperationCount(CONN_ANY, "CONNECT"), 10);
  for (auto& d : devs) d->Shutdown();
}

TEST(DeviceFaultTest, CorruptHeaderDropsTheConnectionAndTheDeviceReconnects) {
  DebugCapture capture;
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  auto dev = LoggedInDevice(srv, "CORRUPT-1");
  int32_t conn = srv.FindDeviceConnection("CORRUPT-1");
  // A good packet, then a header whose magic is damaged, then a good one
  // again, all sent at once (the device drops the connection at the bad one).
  Bytes bytes = BuildTextPacket("{\"OPERATION\":\"GETCALENDAR\"}");
  Bytes bad = BuildRawHead(0, 0, 0, 5, 0x12345678);
  bytes.insert(bytes.end(), bad.begin(), bad.end());
  bytes.insert(bytes.end(), {'{', '}', 0, 0, 0});
  Bytes good = BuildTextPacket("{\"OPERATION\":\"GETDEVVERSIONINFO\"}");
  bytes.insert(bytes.end(), good.begin(), good.end());
  ASSERT_TRUE(srv.SendRaw(conn, bytes));
  ASSERT_TRUE(WaitUntil([&] { return !dev->IsOnline(); }, 5000));
  EXPECT_TRUE(capture.Has("CMySocket - WriteToBuffer failed.!!!!!!!!!!"));
  // The reply left before the drop but may still be on its way to the server.
  EXPECT_TRUE(srv.WaitForOperation(conn, "GETCALENDAR", 1, 5000));
  EXPECT_EQ(srv.OperationCount(conn, "GETCALENDAR"), 1);
  EXPECT_EQ(srv.OperationCount(conn, "GETDEVVERSIONINFO"), 0);
  PassTime(15001);
  dev->Tick();
  ASSERT_TRUE(srv.WaitForConnections(2, 5000));
  EXPECT_TRUE(WaitUntil([&] { return dev->IsOnline(); }, 5000));
  dev->Shutdown();
}

TEST(DeviceFaultTest, OversizedPacketClosesWithBufferFullAndTheDeviceReconnects) {
  DebugCapture capture;
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  auto dev = LoggedInDevice(srv, "BIG-1");
  int32_t conn = srv.FindDeviceConnection("BIG-1");
  ASSERT_TRUE(srv.SendJsonText(conn, std::string(70000, ' ') + "{}"));
  ASSERT_TRUE(WaitUntil([&] { return !dev->IsOnline(); }, 5000));
  EXPECT_TRUE(capture.Has("CMySocket - buffer full, close socket!!!!!"));
  PassTime(15001);
  dev->Tick();
  EXPECT_TRUE(WaitUntil([&] { return dev->IsOnline(); }, 5000));
  dev->Shutdown();
}

}  // namespace
