#include "device/gps_track.h"
#include "tests/device/device_test_util.h"

namespace {

const Json::Value& Par(const CapturedPacket& p) { return p.json["PARAMETER"]; }

TEST(DeviceTickTest, FirstGpsUploadOfNewDevice) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  auto dev = LoggedInDevice(srv, "GPS-1");
  EditProperties(*dev, [](DeviceProperties& p) { p.bGps = 1; });
  PassTime(10001);
  dev->Tick();
  ASSERT_TRUE(srv.WaitForOperation(CONN_ANY, "SPI", 1, 5000));
  auto spi = MessagesOf(srv, "GPS-1", "SPI");
  ASSERT_EQ(spi.size(), 1u);
  const Json::Value& p = Par(spi[0])["P"];
  EXPECT_EQ(spi[0].json["MODULE"].asString(), "DEVEMM");
  EXPECT_EQ(Par(spi[0])["M"].asInt(), 1);
  EXPECT_EQ(p["J"].asString(), "113.5603");
  EXPECT_EQ(p["W"].asString(), "22.3312");
  EXPECT_EQ(p["S"].asInt(), 2200);
  EXPECT_EQ(p["C"].asInt(), 5050);
  EXPECT_EQ(p["V"].asInt(), 0);
  std::string t = p["T"].asString();
  EXPECT_EQ(t.size(), 14u);
  EXPECT_EQ(t.find_first_not_of("0123456789"), std::string::npos);
  EXPECT_EQ(dev->Counters().nGpsSent.load(), 1);
  dev->Shutdown();
}

TEST(DeviceTickTest, SpeedWrapsAfter140AndGpsOffStillMovesTheStamp) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  auto dev = LoggedInDevice(srv, "GPS-61");
  EditProperties(*dev, [](DeviceProperties& p) { p.bGps = 1; });
  for (int i = 0; i < 62; ++i) {
    PassTime(10001);
    dev->Tick();
  }
  ASSERT_TRUE(srv.WaitForOperation(CONN_ANY, "SPI", 62, 5000));
  auto spi = MessagesOf(srv, "GPS-61", "SPI");
  EXPECT_EQ(Par(spi[59])["P"]["S"].asInt(), 14000);
  EXPECT_EQ(Par(spi[60])["P"]["S"].asInt(), 0);
  EXPECT_EQ(Par(spi[61])["P"]["S"].asInt(), 200);
  // With GPS off nothing is sent and the position stays, but the stamp moves.
  EditProperties(*dev, [](DeviceProperties& p) { p.bGps = 0; });
  int32_t lon = dev->Schedule().Longitude();
  uint32_t before = dev->Schedule().LastGps();
  PassTime(10001);
  dev->Tick();
  EXPECT_EQ(dev->Schedule().Longitude(), lon);
  EXPECT_EQ(dev->Schedule().LastGps(), before + 10000u);
  dev->Shutdown();
}

// Periods run start to start whatever the ticks' timing: ticks 2.5 s apart
// (a driver whose passes run late) still give one GPS upload every 10 s and
// one keep-alive every 15 s, and a device back from a long absence uploads
// once, not once per missed period.
TEST(DeviceTickTest, RatesHoldWhenTicksComeLateAndNeverBurst) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  auto dev = LoggedInDevice(srv, "RATE-1");
  EditProperties(*dev, [](DeviceProperties& p) { p.bGps = 1; });
  EditProperties(*dev, [](DeviceProperties& p) { p.bAutoUpload = 0; });
  for (int i = 0; i < 47; ++i) {  // 117.5 s: GPS at 12.5, 22.5 ... 112.5; keep-alives at 17.5 ... 107.5
    PassTime(2500);
    dev->Tick();
  }
  ASSERT_TRUE(srv.WaitForOperation(CONN_ANY, "SPI", 11, 5000));
  ASSERT_TRUE(srv.WaitForOperation(CONN_ANY, "KEEPALIVE", 7, 5000));
  EXPECT_EQ(srv.OperationCount(CONN_ANY, "SPI"), 11);
  EXPECT_EQ(srv.OperationCount(CONN_ANY, "KEEPALIVE"), 7);
  PassTime(35000);
  dev->Tick();
  PassTime(2500);
  dev->Tick();
  ASSERT_TRUE(srv.WaitForOperation(CONN_ANY, "SPI", 12, 5000));
  ASSERT_TRUE(srv.WaitForOperation(CONN_ANY, "KEEPALIVE", 8, 5000));
  EXPECT_EQ(srv.OperationCount(CONN_ANY, "SPI"), 12);
  EXPECT_EQ(srv.OperationCount(CONN_ANY, "KEEPALIVE"), 8);
  dev->Shutdown();
}

// A device with a phase makes its first uploads that far into the period
// after its login instead of at once, then keeps the period.
TEST(DeviceTickTest, PhaseDelaysTheFirstUploadsAfterALogin) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  auto dev = std::make_unique<CDevQ5>();
  dev->Schedule().SetUploadPhase(4000);
  EditProperties(*dev, [](DeviceProperties& p) { p.bGps = 1; });
  dev->SetId("PHASE-1");
  dev->SetServer("127.0.0.1", srv.Port());
  PassTime(60000);  // every stamp is stale by the login
  dev->ConnectReg();
  ASSERT_TRUE(WaitUntil([&] { return dev->IsOnline(); }, 5000));
  int nSpi = 0;
  for (int i = 0; i < 8; ++i) {  // 0, 2, 4 ... 14 s after the login
    dev->Tick();
    if (i == 2 || i == 7) {
      ASSERT_TRUE(srv.WaitForOperation(CONN_ANY, "SPI", ++nSpi, 5000)) << i;
    }
    EXPECT_EQ(srv.OperationCount(CONN_ANY, "SPI"), nSpi) << i;
    PassTime(2000);
  }
  dev->Shutdown();
}

TEST(DeviceTickTest, GpsTrackRowsAlternateWhileSpeedFollowsTheDevice) {
  CGpsTrack& track = GlobalGpsTrack();
  track.Clear();
  track.Add("22.5431", 7, "114.0579", 8);
  track.Add("22.6000", 7, "114.1000", 8);
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  auto dev = LoggedInDevice(srv, "TRACK-1");
  EditProperties(*dev, [](DeviceProperties& p) { p.bGps = 1; });
  for (int i = 0; i < 3; ++i) {
    PassTime(10001);
    dev->Tick();
  }
  ASSERT_TRUE(srv.WaitForOperation(CONN_ANY, "SPI", 3, 5000));
  auto spi = MessagesOf(srv, "TRACK-1", "SPI");
  EXPECT_EQ(Par(spi[0])["P"]["W"].asString(), "22.5431");
  EXPECT_EQ(Par(spi[0])["P"]["J"].asString(), "114.0579");
  EXPECT_EQ(Par(spi[1])["P"]["W"].asString(), "22.6000");
  EXPECT_EQ(Par(spi[2])["P"]["J"].asString(), "114.0579");
  EXPECT_EQ(Par(spi[2])["P"]["S"].asInt(), 2600);
  track.Clear();
  dev->Shutdown();
}

TEST(DeviceTickTest, KeepAliveIs61BytesEvery15Seconds) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  auto dev = LoggedInDevice(srv, "KA-1");
  PassTime(15001);
  dev->Tick();
  dev->Tick();  // not due again
  ASSERT_TRUE(srv.WaitForOperation(CONN_ANY, "KEEPALIVE", 1, 5000));
  auto ka = MessagesOf(srv, "KA-1", "KEEPALIVE");
  ASSERT_EQ(ka.size(), 1u);
  EXPECT_EQ(ka[0].szText, "{\"MODULE\":\"CERTIFICATE\",\"OPERATION\":\"KEEPALIVE\",\"SESSION\":\"\"}");
  EXPECT_EQ(ka[0].szText.size(), 61u);
  dev->Shutdown();
}

TEST(DeviceTickTest, AutomaticOfflineClosesSilentlyAndReconnects15sLater) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  auto dev = LoggedInDevice(srv, "AUTO-1");
  EditProperties(*dev, [](DeviceProperties& p) { p.nAutoOffline = 60; });
  dev->Tick();
  EXPECT_TRUE(dev->IsOnline());
  PassTime(60001);
  size_t before = srv.AllPackets().size();
  dev->Tick();
  EXPECT_FALSE(dev->IsOnline());
  EXPECT_TRUE(dev->WantsOnline());
  ASSERT_TRUE(srv.WaitForClosed(srv.FindDeviceConnection("AUTO-1"), 5000));
  EXPECT_EQ(srv.AllPackets().size(), before);  // closed without a message
  dev->Tick();
  EXPECT_EQ(srv.ConnectionCount(), 1);
  PassTime(15001);
  dev->Tick();
  ASSERT_TRUE(srv.WaitForConnections(2, 5000));
  EXPECT_TRUE(WaitUntil([&] { return dev->IsOnline(); }, 5000));
  dev->Shutdown();
}

TEST(DeviceTickTest, TickWrapAloneMakesNothingDue) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  auto dev = LoggedInDevice(srv, "WRAP-1");
  EditProperties(*dev, [](DeviceProperties& p) { p.bGps = 1; });
  // Place "now" 5 ms after the wrap and the stamps 5 ms before it.
  SetTickOffset(0);
  SetTickOffset(5u - GetTickCount());
  uint32_t t = GetTickCount();
  dev->Schedule().SetStamps(t - 10, t - 10, t - 10);
  dev->Tick();
  EXPECT_EQ(dev->Counters().nGpsSent.load(), 0);
  // A stamp more than 2^31 ms in the past is due.
  dev->Schedule().SetStamps(t - 0x80000010u, t - 10, t - 10);
  dev->Tick();
  EXPECT_TRUE(srv.WaitForOperation(CONN_ANY, "SPI", 1, 5000));
  SetTickOffset(0);
  dev->Shutdown();
}

}  // namespace
