#include "tests/device/device_test_util.h"

namespace {

const Json::Value& Par(const CapturedPacket& p) { return p.json["PARAMETER"]; }

std::vector<CapturedPacket> Alarms(const CTestServer& srv, const char* dsno) {
  return MessagesOf(srv, dsno, "SENDALARMINFO");
}

TEST(DeviceAlarmTest, OneCycleSendsFourMessagesInOrderWithCarriedMembers) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  auto dev = LoggedInDevice(srv, "ALM-1");
  EditProperties(*dev, [](DeviceProperties& p) { p.bGps = 1; });
  EditProperties(*dev, [](DeviceProperties& p) { p.bAutoUpload = 1; });
  uint32_t speedUid = dev->Schedule().SpeedAlarmUid();
  uint32_t sosUid = dev->Counters().nSosUid.load();
  PassTime(10001);
  dev->Tick();
  ASSERT_TRUE(srv.WaitForOperation(CONN_ANY, "SENDALARMINFO", 4, 5000));
  auto a = Alarms(srv, "ALM-1");
  ASSERT_EQ(a.size(), 4u);
  EXPECT_EQ(Par(a[0])["ALARMTYPE"].asInt(), 8);
  EXPECT_EQ(Par(a[0])["ALARMUID"].asUInt(), speedUid);
  EXPECT_EQ(Par(a[0])["ALARMNAME"].asString(), "TOO FAST");
  EXPECT_EQ(Par(a[0])["M"].asInt(), 1);            // carried from the GPS upload
  EXPECT_TRUE(Par(a[0])["P"].isMember("J"));
  EXPECT_EQ(Par(a[1])["ALARMTYPE"].asInt(), 4);
  EXPECT_EQ(Par(a[1])["CMDTYPE"].asInt(), 1);
  EXPECT_EQ(Par(a[1])["ALARMUID"].asUInt(), sosUid);
  EXPECT_EQ(Par(a[1])["CSP"].asInt(), 12000);      // carried from the speed alarm
  EXPECT_EQ(Par(a[2])["ALARMTYPE"].asInt(), 4);
  EXPECT_EQ(Par(a[2])["CMDTYPE"].asInt(), 0);
  EXPECT_EQ(Par(a[2])["ALARMUID"].asUInt(), sosUid);
  EXPECT_EQ(Par(a[3])["ALARMTYPE"].asInt(), 0);
  EXPECT_EQ(Par(a[3])["ALARMNAME"].asString(), "VIDEO LOST");
  EXPECT_EQ(Par(a[3])["SNO"].asInt(), 2);          // carried from the customised pair
  EXPECT_EQ(Par(a[3])["CHANNEL"].asInt(), 4);
  // All alarms of one cycle share the alarm time.
  EXPECT_EQ(Par(a[0])["CURRENTTIME"].asInt64(), Par(a[3])["CURRENTTIME"].asInt64());
  EXPECT_EQ(dev->Counters().nSosUid.load(), sosUid + 1);
  EXPECT_EQ(dev->Schedule().SpeedAlarmUid(), speedUid + 1);
  dev->Shutdown();
}

TEST(DeviceAlarmTest, AutoUploadOffSendsNoPeriodicAlarm) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  auto dev = LoggedInDevice(srv, "ALM-OFF");
  EditProperties(*dev, [](DeviceProperties& p) { p.bAutoUpload = 0; });
  uint32_t before = dev->Schedule().LastAlarm();
  PassTime(15001);
  dev->Tick();
  // The keep-alive of the same tick marks that the tick's messages arrived.
  ASSERT_TRUE(srv.WaitForOperation(CONN_ANY, "KEEPALIVE", 1, 5000));
  EXPECT_EQ(srv.OperationCount(CONN_ANY, "SENDALARMINFO"), 0);
  EXPECT_EQ(dev->Schedule().LastAlarm(), before + 10000u);  // the period moved on all the same
  dev->Shutdown();
}

TEST(DeviceAlarmTest, VideoLostAlternatesStartAndEndAndUidIsUnsigned) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  auto dev = LoggedInDevice(srv, "VL-1");
  EditProperties(*dev, [](DeviceProperties& p) { p.bAutoUpload = 1; });
  EditProperties(*dev, [](DeviceProperties& p) { p.bSpeedAlarm = 0; });
  EditProperties(*dev, [](DeviceProperties& p) { p.bCustomAlarm = 0; });
  dev->Schedule().SetVideoLostSeq(1001);
  for (int i = 0; i < 3; ++i) {
    PassTime(10001);
    dev->Tick();
  }
  dev->Schedule().SetVideoLostSeq(0x80000001u);
  PassTime(10001);
  dev->Tick();
  ASSERT_TRUE(srv.WaitForOperation(CONN_ANY, "SENDALARMINFO", 4, 5000));
  auto a = Alarms(srv, "VL-1");
  ASSERT_EQ(a.size(), 4u);
  EXPECT_EQ(Par(a[0])["ALARMUID"].asUInt(), 1001u);
  EXPECT_EQ(Par(a[0])["CMDTYPE"].asInt(), 1);
  EXPECT_EQ(Par(a[1])["ALARMUID"].asUInt(), 1001u);
  EXPECT_EQ(Par(a[1])["CMDTYPE"].asInt(), 0);
  EXPECT_EQ(Par(a[2])["ALARMUID"].asUInt(), 1003u);
  EXPECT_EQ(Par(a[2])["CMDTYPE"].asInt(), 1);
  EXPECT_NE(a[3].szText.find("\"ALARMUID\":2147483649,"), std::string::npos) << a[3].szText;
  dev->Shutdown();
}

TEST(DeviceAlarmTest, CustomisedStartThatCouldNotBeSentKeepsItsNumber) {
  CDevQ5 dev;  // never connected: every send fails
  dev.SetId("SOS-1");
  dev.Session().SetOnlineFlag(1);
  EditProperties(dev, [](DeviceProperties& p) { p.bAutoUpload = 1; });
  uint32_t sos = dev.Counters().nSosUid.load();
  uint32_t speed = dev.Schedule().SpeedAlarmUid();
  uint32_t lost = dev.Schedule().VideoLostSeq();
  PassTime(10001);
  dev.Tick();
  EXPECT_EQ(dev.Counters().nSosUid.load(), sos);
  EXPECT_EQ(dev.Schedule().SpeedAlarmUid(), speed + 1);
  EXPECT_EQ(dev.Schedule().VideoLostSeq(), lost + 1);
  // Once connected, the next cycle's pair uses the same number.
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  dev.SetServer("127.0.0.1", srv.Port());
  dev.ConnectReg();
  ASSERT_TRUE(WaitUntil([&] { return srv.FindDeviceConnection("SOS-1") >= 0; }, 5000));
  PassTime(10001);
  dev.Tick();
  ASSERT_TRUE(srv.WaitForOperation(CONN_ANY, "SENDALARMINFO", 4, 5000));
  auto a = Alarms(srv, "SOS-1");
  EXPECT_EQ(Par(a[1])["ALARMUID"].asUInt(), sos);
  EXPECT_EQ(dev.Counters().nSosUid.load(), sos + 1);
  dev.Shutdown();
}

TEST(DeviceAlarmTest, EmergencyCounterIsSharedAndUsedUpByFailedSends) {
  CTestServer srv;
  ASSERT_TRUE(srv.Start());
  auto a = LoggedInDevice(srv, "EM-A");
  auto b = LoggedInDevice(srv, "EM-B");
  CDevQ5 closed;
  int32_t first = EmergencyAlarmCounter().load();
  EXPECT_GE(first, 1);
  EXPECT_EQ(a->UploadEmergencyAlarm(), 0);
  EXPECT_EQ(closed.UploadEmergencyAlarm(), 1);  // fails and still takes a number
  EXPECT_EQ(b->UploadEmergencyAlarm(), 0);
  ASSERT_TRUE(srv.WaitForOperation(CONN_ANY, "SENDALARMINFO", 2, 5000));
  auto ea = Alarms(srv, "EM-A");
  auto eb = Alarms(srv, "EM-B");
  ASSERT_EQ(ea.size(), 1u);
  ASSERT_EQ(eb.size(), 1u);
  EXPECT_EQ(Par(ea[0])["ALARMUID"].asInt(), first);
  EXPECT_EQ(Par(eb[0])["ALARMUID"].asInt(), first + 2);
  EXPECT_EQ(Par(ea[0])["ALARMTYPE"].asInt(), 7);
  EXPECT_EQ(Par(ea[0])["ALARMNAME"].asString(), "110");
  EXPECT_EQ(Par(ea[0]).size(), 6u);  // nothing else in the emergency alarm
  a->Shutdown();
  b->Shutdown();
}

}  // namespace
