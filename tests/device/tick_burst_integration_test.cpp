// A Tick's GPS upload and alarm cycle leave as one burst; the upload alone
// (no alarm cycle in that Tick, or the cycle switched off) must not be held
// back waiting for messages that never come.
#include "tests/device/device_test_util.h"

namespace {

constexpr int kWait = 5000;

TEST(TickBurstTest, GpsAndTheAlarmCycleArriveTogetherInOrder) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  auto dev = LoggedInDevice(srv, "BURST-1");
  dev->bGps.store(1);
  dev->bAutoUpload.store(1);
  PassTime(10001);
  dev->Tick();
  ASSERT_TRUE(srv.WaitForOperation(CONN_ANY, "SENDALARMINFO", 4, kWait));
  std::vector<CapturedPacket> pkts = srv.Packets(srv.FindDeviceConnection("BURST-1"));
  std::vector<int> types;
  for (const CapturedPacket& p : pkts) {
    if (p.Operation() == "SPI") types.push_back(-1);
    if (p.Operation() == "SENDALARMINFO") types.push_back(p.json["PARAMETER"]["ALARMTYPE"].asInt());
  }
  EXPECT_EQ(types, (std::vector<int>{-1, 8, 4, 4, 0}));
  dev->Shutdown();
}

TEST(TickBurstTest, GpsAloneIsNotHeldWhenNoAlarmFollows) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  auto dev = LoggedInDevice(srv, "BURST-2");
  dev->bGps.store(1);
  dev->bAutoUpload.store(0);  // the alarm period falls due, but nothing is sent
  PassTime(10001);
  dev->Tick();
  EXPECT_TRUE(srv.WaitForOperation(CONN_ANY, "SPI", 1, kWait));
  // An alarm period longer than the GPS period: the next GPS Tick has no cycle.
  dev->bAutoUpload.store(1);
  dev->nUploadInterval.store(60);
  PassTime(10001);
  dev->Tick();
  EXPECT_TRUE(srv.WaitForOperation(CONN_ANY, "SPI", 2, kWait));
  EXPECT_EQ(srv.OperationCount(CONN_ANY, "SENDALARMINFO"), 0);
  dev->Shutdown();
}

}  // namespace
