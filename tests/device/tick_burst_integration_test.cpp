// A Tick's GPS upload and alarm cycle leave as one burst, whole and in
// order; the upload alone (no alarm cycle in that Tick, or the cycle switched
// off) leaves by itself; and a burst the connection refuses changes none of
// the device's counters.
#include "tests/device/device_test_util.h"
#include "tests/support/debug_capture.h"

namespace {

constexpr int kWait = 5000;

TEST(TickBurstTest, GpsAndTheAlarmCycleArriveTogetherInOrder) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  auto dev = LoggedInDevice(srv, "BURST-1");
  EditProperties(*dev, [](DeviceProperties& p) { p.bGps = 1; });
  EditProperties(*dev, [](DeviceProperties& p) { p.bAutoUpload = 1; });
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
  EditProperties(*dev, [](DeviceProperties& p) { p.bGps = 1; });
  EditProperties(*dev, [](DeviceProperties& p) { p.bAutoUpload = 0; });  // the alarm period falls due, but nothing is sent
  PassTime(10001);
  dev->Tick();
  EXPECT_TRUE(srv.WaitForOperation(CONN_ANY, "SPI", 1, kWait));
  // An alarm period longer than the GPS period: the next GPS Tick has no cycle.
  EditProperties(*dev, [](DeviceProperties& p) { p.bAutoUpload = 1; });
  EditProperties(*dev, [](DeviceProperties& p) { p.nUploadInterval = 60; });
  PassTime(10001);
  dev->Tick();
  EXPECT_TRUE(srv.WaitForOperation(CONN_ANY, "SPI", 2, kWait));
  EXPECT_EQ(srv.OperationCount(CONN_ANY, "SENDALARMINFO"), 0);
  dev->Shutdown();
}

TEST(TickBurstTest, RefusedBurstCountsNothingAndSaysSoForEachMessage) {
  DebugCapture capture;
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  auto dev = LoggedInDevice(srv, "BURST-3");
  EditProperties(*dev, [](DeviceProperties& p) { p.bGps = 1; });
  EditProperties(*dev, [](DeviceProperties& p) { p.bAutoUpload = 1; });
  uint32_t sosUid = dev->Counters().nSosUid.load();
  dev->Session().Socket().Close();  // the tick still believes it is online
  capture.Clear();
  PassTime(10001);
  dev->Tick();
  EXPECT_EQ(capture.Count("dev - send data failed."), 5);
  EXPECT_EQ(dev->Counters().nGpsSent.load(), 0);
  EXPECT_EQ(dev->Counters().nAlarmsSent.load(), 0);
  EXPECT_EQ(dev->Counters().nSosUid.load(), sosUid);  // the SOS number is tried again next cycle
  dev->Shutdown();
}

}  // namespace
