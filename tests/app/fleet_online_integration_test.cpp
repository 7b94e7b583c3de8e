// Online, Offline, the emergency alarm and free-form commands against a
// loopback server that answers logins. No driver thread runs here.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/fleet.h"
#include "platform/process_init.h"
#include "platform/tick.h"
#include "tests/support/debug_capture.h"
#include "tests/app/server_texts.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace {

constexpr int kWaitMs = 10000;

struct DeviceView {
  std::string ip;
  int32_t port = 0;
  int32_t bWantOnline = 0;
  int32_t bOnline = 0;
};

DeviceView View(const CFleet& fleet, int32_t row) {
  DeviceView v;
  fleet.WithDevice(row, [&](CDevQ5& d) {
    v.ip = d.GetServerIp();
    v.port = d.Settings()->nServerPort;
    v.bWantOnline = d.WantsOnline() ? 1 : 0;
    v.bOnline = d.IsOnline() ? 1 : 0;
  });
  return v;
}

bool AllOnline(const CFleet& fleet, const std::vector<int32_t>& rows) {
  for (int32_t r : rows)
    if (!View(fleet, r).bOnline) return false;
  return true;
}

class FleetOnlineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProcessStartup();
    ASSERT_TRUE(server.Start());
  }
  DebugCapture capture;
  CTestServer server;
  CTempDir dir;
  CFleet fleet{dir.Path()};
};

TEST_F(FleetOnlineTest, SelectedRowsAloneGetTheAddressAndLogIn) {
  fleet.AddDevices("O", 7);
  ASSERT_TRUE(fleet.ApplySettings(ServerReg(server), ""));
  ASSERT_TRUE(fleet.GoOnline({2, 5}));
  ASSERT_TRUE(WaitUntil([&] { return AllOnline(fleet, {2, 5}); }, kWaitMs));
  for (int32_t r = 0; r < 7; ++r) {
    DeviceView v = View(fleet, r);
    bool selected = r == 2 || r == 5;
    EXPECT_EQ(v.ip, selected ? "127.0.0.1" : "") << r;
    EXPECT_EQ(v.port, selected ? server.Port() : 0) << r;
    EXPECT_EQ(v.bWantOnline, selected ? 1 : 0) << r;
  }
  EXPECT_EQ(CountTexts(server, "\"OPERATION\":\"CONNECT\""), 2);
  EXPECT_EQ(CountTexts(server, "\"DSNO\":\"O-0003\""), 1);
  EXPECT_EQ(CountTexts(server, "\"DSNO\":\"O-0006\""), 1);
  EXPECT_EQ(fleet.Stats().nOnline, 2);

  // Nothing selected: every device, in row order.
  ASSERT_TRUE(fleet.GoOnline({}));
  ASSERT_TRUE(WaitUntil([&] { return AllOnline(fleet, {0, 1, 2, 3, 4, 5, 6}); }, kWaitMs));
  EXPECT_TRUE(WaitTexts(server, "\"OPERATION\":\"CONNECT\"", 9, kWaitMs));

  fleet.TakeOffline({});
  FleetStats st = fleet.Stats();
  EXPECT_EQ(st.nOnline, 0);
  EXPECT_EQ(st.nConnecting, 0);
  EXPECT_EQ(st.nOffline, 7);
}

// Offline of devices spread over several share groups: every connection is
// closed (the server sees each one go), none is reported as lost, and none of
// the closes had to give up waiting for its share thread.
TEST_F(FleetOnlineTest, OfflineOfManyDevicesClosesEveryConnectionWithoutEvents) {
  constexpr int32_t kCount = 150;  // three share groups
  fleet.AddDevices("M", kCount);
  ASSERT_TRUE(fleet.ApplySettings(ServerReg(server), ""));
  ASSERT_TRUE(fleet.GoOnline({}));
  ASSERT_TRUE(WaitUntil([&] { return fleet.Stats().nOnline == kCount; }, kWaitMs));
  fleet.TakeOffline({});
  FleetStats st = fleet.Stats();
  EXPECT_EQ(st.nOffline, kCount);
  for (int32_t c = 1; c <= kCount; ++c) EXPECT_TRUE(server.WaitForClosed(c, kWaitMs)) << c;
  EXPECT_FALSE(capture.Has("CMySocket - wait thread exit failed!"));
  // Offline devices stay offline: nothing reconnects them.
  for (int32_t r = 0; r < kCount; ++r) EXPECT_EQ(View(fleet, r).bWantOnline, 0) << r;
  EXPECT_EQ(CountTexts(server, "\"OPERATION\":\"CONNECT\""), kCount);
}

// A server that cannot be reached as written is refused with the reason;
// nothing silently connects to this machine instead (0.0.0.0).
TEST_F(FleetOnlineTest, RegThatCannotBeUsedConnectsNothingAndSaysWhy) {
  fleet.AddDevices("N", 3);
  const std::pair<const char*, const char*> refused[] = {
      {":5556", "the register server has no host"},
      {"no-such-host.invalid:5556", "the name no-such-host.invalid cannot be resolved"},
      {"0.0.0.0:5556", "0.0.0.0 is not a register server address"},
  };
  for (const auto& [reg, reason] : refused) {
    fleet.ApplySettings(reg, "");
    std::string why;
    EXPECT_FALSE(fleet.GoOnline({}, &why)) << reg;
    EXPECT_EQ(why.rfind(reason, 0), 0u) << why;
  }
  EXPECT_EQ(capture.Count("dev - register address error."), 3);
  EXPECT_EQ(capture.Count("dev - CDevQ5::ConnectReg"), 0);
  // A host name that resolves is as good as an address.
  fleet.ApplySettings("localhost:" + std::to_string(server.Port()), "");
  ASSERT_TRUE(fleet.GoOnline({0}));
  EXPECT_TRUE(server.WaitForConnections(1, kWaitMs));
}

TEST_F(FleetOnlineTest, RegWithoutColonConnectsNothingAndLogsTheError) {
  fleet.AddDevices("N", 3);
  fleet.ApplySettings("127.0.0.1", "");
  EXPECT_FALSE(fleet.GoOnline({}));
  EXPECT_EQ(capture.Count("dev - register address error."), 1);
  EXPECT_EQ(capture.Count("dev - CDevQ5::ConnectReg"), 0);
  for (int32_t r = 0; r < 3; ++r) {
    DeviceView v = View(fleet, r);
    EXPECT_EQ(v.ip, "");
    EXPECT_EQ(v.bWantOnline, 0);
  }
  EXPECT_EQ(server.ConnectionCount(), 0);
}

TEST_F(FleetOnlineTest, RegEndingInColonGivesPortZero) {
  fleet.AddDevices("Z", 2);
  fleet.ApplySettings("127.0.0.1:", "");
  EXPECT_TRUE(fleet.GoOnline({1}));
  DeviceView v = View(fleet, 1);
  EXPECT_EQ(v.ip, "127.0.0.1");
  EXPECT_EQ(v.port, 0);
  EXPECT_EQ(v.bWantOnline, 1);
  EXPECT_EQ(View(fleet, 0).bWantOnline, 0);
  EXPECT_EQ(fleet.Stats().nConnecting, 1);
  fleet.TakeOffline({1});
  EXPECT_EQ(View(fleet, 1).bWantOnline, 0);
}

TEST_F(FleetOnlineTest, AlarmAndCommandGoToTheFirstSelectedDeviceOnly) {
  fleet.AddDevices("A", 3);
  fleet.ApplySettings(ServerReg(server), "");
  fleet.GoOnline({});
  ASSERT_TRUE(WaitUntil([&] { return AllOnline(fleet, {0, 1, 2}); }, kWaitMs));

  EXPECT_EQ(fleet.SendEmergencyAlarm({2, 1}), FLEET_SENT);
  EXPECT_TRUE(WaitTexts(server, "\"ALARMNAME\":\"110\"", 1, kWaitMs));
  EXPECT_EQ(fleet.Stats().nAlarmsSent, 1);

  // Comments are collected, not sent; the text is logged.
  EXPECT_EQ(fleet.UploadCommand({1, 2}, "// note\n{\"OPERATION\":\"X\",\"N\":1}"), FLEET_SENT);
  EXPECT_EQ(fleet.UploadCommand({1}, "{\"OPERATION\":\"Y\" garbage"), FLEET_SENT);
  EXPECT_TRUE(WaitTexts(server, "{\"N\":1,\"OPERATION\":\"X\"}", 1, kWaitMs));
  // What the reader built before the error goes out.
  EXPECT_TRUE(WaitTexts(server, "{\"OPERATION\":\"Y\"}", 1, kWaitMs));
  // An empty command goes out as null, which the server refuses by closing
  // that device's connection: it goes to a device taken offline below.
  EXPECT_EQ(fleet.UploadCommand({2}, ""), FLEET_SENT);
  EXPECT_TRUE(WaitTexts(server, "null", 1, kWaitMs));
  EXPECT_TRUE(capture.Has("{\"N\":1,\"OPERATION\":\"X\"}"));
  EXPECT_GT(fleet.Stats().nBytesSent, 0u);

  fleet.TakeOffline({0, 2});
  EXPECT_EQ(View(fleet, 0).bOnline, 0);
  EXPECT_EQ(View(fleet, 1).bOnline, 1);
  EXPECT_EQ(View(fleet, 2).bOnline, 0);
  fleet.TakeOffline({});
}

TEST_F(FleetOnlineTest, StatisticsCountWhatTheSocketsAccepted) {
  fleet.AddDevices("C", 2);
  fleet.ApplySettings(ServerReg(server), "");
  fleet.GoOnline({0});
  ASSERT_TRUE(WaitUntil([&] { return AllOnline(fleet, {0}); }, kWaitMs));
  DeviceProperties all;
  all.bAutoUpload = 1;
  all.bGps = 1;
  fleet.ApplyProperties({0}, all);
  uint64_t bytesBefore = fleet.Stats().nBytesSent;
  // GPS and the alarm cycle fall due; one tick sends the GPS upload, the
  // speed alarm, the customised start and end and the video-lost alarm.
  AdvanceTickCount(11000);
  fleet.WithDevice(0, [](CDevQ5& d) { d.Tick(); });
  EXPECT_TRUE(WaitTexts(server, "\"OPERATION\":\"SENDALARMINFO\"", 4, kWaitMs));
  EXPECT_TRUE(WaitTexts(server, "\"OPERATION\":\"SPI\"", 1, kWaitMs));
  FleetStats st = fleet.Stats();
  EXPECT_EQ(st.nGpsSent, 1);
  EXPECT_EQ(st.nAlarmsSent, 4);
  EXPECT_GT(st.nBytesSent, bytesBefore + 5 * 12);
  EXPECT_EQ(st.nOnline, 1);
  EXPECT_EQ(st.nOffline, 1);
  EXPECT_EQ(fleet.StatusText(0), "online, gps: 1 alarm: 1");
  fleet.TakeOffline({});
}

// A ramp connects devices no faster than its rate, whatever the machine's
// speed: device i cannot log in before i / rate seconds. Devices deleted or
// taken offline while they wait are never connected afterwards.
TEST_F(FleetOnlineTest, RampSpreadsConnectsAndLetsGoOfWhatLeavesIt) {
  using Clock = std::chrono::steady_clock;
  auto secondsSince = [](Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); };
  fleet.AddDevices("R", 10);
  ASSERT_TRUE(fleet.ApplySettings(ServerReg(server), ""));
  Clock::time_point t0 = Clock::now();
  ASSERT_TRUE(fleet.GoOnline({}, nullptr, 4.0));  // due at 0, 0.25 ... 2.25 s
  double early = secondsSince(t0);
  EXPECT_GE(fleet.Stats().nRampPending, 9 - static_cast<int32_t>(early * 4)) << early;
  fleet.DeleteDevices({8, 9});
  bool deletedInTime = secondsSince(t0) < 1.9;
  ASSERT_TRUE(WaitUntil([&] { return fleet.Stats().nOnline == 8; }, kWaitMs));
  EXPECT_GE(secondsSince(t0), 1.75);  // the eighth was due at 1.75 s
  EXPECT_EQ(fleet.Stats().nRampPending, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(700));  // past the deleted rows' times
  if (deletedInTime) {  // a slow machine may have deleted them after they connected
    EXPECT_EQ(CountTexts(server, "\"DSNO\":\"R-0009\""), 0);
    EXPECT_EQ(CountTexts(server, "\"OPERATION\":\"CONNECT\""), 8);
  }

  fleet.TakeOffline({});
  ASSERT_TRUE(fleet.GoOnline({}, nullptr, 2.0));  // due at 0, 0.5 ... 3.5 s
  fleet.TakeOffline({});
  EXPECT_EQ(fleet.Stats().nRampPending, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  for (int32_t r = 0; r < 8; ++r) EXPECT_EQ(View(fleet, r).bWantOnline, 0) << r;
}

// Source addresses are given round robin and every connection really leaves
// from its device's address, as the server sees it.
TEST_F(FleetOnlineTest, SourceAddressesAreBoundRoundRobin) {
  fleet.AddDevices("SRC", 4);
  ASSERT_TRUE(fleet.ApplySettings(ServerReg(server), ""));
  fleet.SetSourceAddresses({0x7f000002, 0x7f000003});  // 127.0.0.2, 127.0.0.3
  ASSERT_TRUE(fleet.GoOnline({}));
  ASSERT_TRUE(WaitUntil([&] { return fleet.Stats().nOnline == 4; }, kWaitMs));
  for (int32_t r = 0; r < 4; ++r) {
    std::string dsno = "SRC-000" + std::to_string(r + 1);
    ConnInfo info;
    ASSERT_TRUE(server.Connection(server.FindDeviceConnection(dsno), &info)) << dsno;
    std::string expected = r % 2 == 0 ? "127.0.0.2:" : "127.0.0.3:";
    EXPECT_EQ(info.szPeer.rfind(expected, 0), 0u) << dsno << " from " << info.szPeer;
  }
  fleet.TakeOffline({});
}

// Two servers share one port (--reuse-port); the kernel spreads the logins
// over both, and each server's stream requests name a port of its own, so a
// device's media connection reaches the server that asked for the stream.
TEST_F(FleetOnlineTest, SharedPortServersEachGetTheirOwnStreams) {
  ServerOptions opt = CTestServer::TestOptions();
  opt.bReusePort = true;
  CTestServer first(opt);
  ASSERT_TRUE(first.Start());
  opt.nPort = first.Port();
  CTestServer second(opt);
  ASSERT_TRUE(second.Start());
  constexpr int32_t kCount = 32;  // all on one server: a chance of 2^-31
  fleet.AddDevices("RP", kCount);
  ASSERT_TRUE(fleet.ApplySettings(first.IpAndPort(), ""));
  ASSERT_TRUE(fleet.GoOnline({}));
  ASSERT_TRUE(WaitUntil([&] { return fleet.Stats().nOnline == kCount; }, kWaitMs));
  int32_t asked[2] = {0, 0};
  for (int32_t r = 0; r < kCount; ++r) {
    std::string id = "RP-00" + std::string(r + 1 < 10 ? "0" : "") + std::to_string(r + 1);
    for (int32_t k = 0; k < 2; ++k) {
      CTestServer& srv = k == 0 ? first : second;
      if (asked[k] >= 4 || srv.FindDeviceConnection(id) < 0) continue;
      std::vector<std::string> lines = srv.Command("live " + id + " 1");
      ASSERT_FALSE(lines.empty());
      size_t at = lines[0].find("STREAMNAME=");
      ASSERT_NE(at, std::string::npos) << lines[0];
      std::string name = lines[0].substr(at + 11, lines[0].find(':', at) - at - 11);
      EXPECT_GE(srv.WaitForStream(name, kWaitMs), 0) << id << " " << name << " at server " << k;
      ++asked[k];
    }
  }
  EXPECT_EQ(asked[0], 4);
  EXPECT_EQ(asked[1], 4);
  EXPECT_EQ(first.Stats().nStreamsRefused + second.Stats().nStreamsRefused, 0u);
  fleet.TakeOffline({});
}

}  // namespace
