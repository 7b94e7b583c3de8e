// The driver thread: it starts with LoadAll (with or without list.txt), its
// row images follow the devices' logins, the close does not wait out its
// pause, and devices can be deleted while it ticks them.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "app/fleet.h"
#include "platform/process_init.h"
#include "platform/tick.h"
#include "tests/app/fleet_test_listener.h"
#include "tests/support/debug_capture.h"
#include "tests/app/server_texts.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace {

constexpr int kWaitMs = 15000;

uint32_t DeviceNow(const CFleet& fleet, int32_t row) {
  uint32_t now = 0;
  fleet.WithDevice(row, [&](CDevQ5& d) { now = d.Schedule().Now(); });
  return now;
}

bool Online(const CFleet& fleet, int32_t row) {
  FleetRowInfo info;
  return fleet.RowInfo(row, info) && info.bOnline;
}

class FleetDriverTest : public ::testing::Test {
 protected:
  void SetUp() override { ProcessStartup(); }
  DebugCapture capture;
  CTempDir dir;
};

TEST_F(FleetDriverTest, StartsWithoutListFileAndTicksDevicesAddedLater) {
  CRecordingListener listener;
  CFleet fleet(dir.Path(), &listener);
  fleet.SetPassPause(20);
  EXPECT_EQ(fleet.LoadAll(), 0);
  EXPECT_EQ(fleet.Title(), "ZEL - 127.0.0.1:5556");
  EXPECT_EQ(fleet.StatusPane(0), "合计: 0");
  EXPECT_EQ(fleet.StatusPane(1), "gps: 0 alarm: 0");
  EXPECT_EQ(fleet.StatusPane(2), "");
  EXPECT_EQ(listener.Titles(), std::vector<std::string>{"ZEL - 127.0.0.1:5556"});
  EXPECT_EQ(listener.Panes().size(), 3u);

  fleet.AddDevices("T", 2);
  uint32_t before = DeviceNow(fleet, 1);
  AdvanceTickCount(5000);
  // Tick stamps dwNow: a stamp past the advance proves the device was ticked.
  EXPECT_TRUE(WaitUntil([&] { return static_cast<int32_t>(DeviceNow(fleet, 1) - before) >= 5000; }, kWaitMs));
  EXPECT_EQ(fleet.LoadAll(), -1);  // loads once
  EXPECT_EQ(fleet.RowCount(), 2);
  EXPECT_TRUE(fleet.SaveAndRelease());
  EXPECT_EQ(fleet.RowCount(), 0);
}

TEST_F(FleetDriverTest, RowImageFollowsLoginAndLogoutWithinAPass) {
  CTestServer server;
  ASSERT_TRUE(server.Start());
  CRecordingListener listener;
  CFleet fleet(dir.Path(), &listener);
  fleet.LoadAll();  // the ordinary 2-second pause
  fleet.ApplySettings(ServerReg(server), "");
  fleet.AddDevices("I", 3);
  fleet.GoOnline({1});
  ASSERT_TRUE(WaitUntil([&] { return Online(fleet, 1); }, kWaitMs));
  auto loggedIn = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitUntil([&] { return fleet.RowImage(1) == 1; }, kWaitMs));
  auto shown = std::chrono::steady_clock::now();
  // One pass pause plus the pass itself, with room for a slow machine.
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(shown - loggedIn).count(), 6000);
  EXPECT_TRUE(WaitUntil([&] { return listener.SawImage(1, 1); }, kWaitMs));
  EXPECT_EQ(fleet.RowImage(0), 0);
  EXPECT_EQ(fleet.RowImage(2), 0);

  fleet.TakeOffline({1});
  EXPECT_TRUE(WaitUntil([&] { return fleet.RowImage(1) == 0 && listener.SawImage(1, 0); }, kWaitMs));
  for (const auto& e : listener.Images()) EXPECT_EQ(e.first, 1);
  EXPECT_TRUE(fleet.SaveAndRelease());
}

TEST_F(FleetDriverTest, CloseDoesNotWaitOutThePause) {
  CFleet fleet(dir.Path());
  fleet.SetPassPause(600000);
  fleet.LoadAll();
  fleet.AddDevices("C", 3);
  ASSERT_TRUE(WaitUntil([&] { return fleet.Stats().nPasses >= 1; }, kWaitMs));
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(fleet.SaveAndRelease());
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(ms, 30000);  // a pause that cannot be interrupted would take ten minutes
}

// Deletes random batches while the driver ticks logged-in devices that send
// GPS and alarms; run under the address and thread sanitizers.
TEST_F(FleetDriverTest, DeletingWhileTheDriverTicksIsSafe) {
  CTestServer server;
  ASSERT_TRUE(server.Start());
  CFleet fleet(dir.Path());
  fleet.SetPassPause(1);
  fleet.LoadAll();
  fleet.ApplySettings(ServerReg(server), "");
  ASSERT_EQ(fleet.AddDevices("S", 500), 500);
  DeviceProperties busy;
  busy.bAutoUpload = 1;
  busy.nUploadInterval = 1;
  busy.bGps = 1;
  fleet.ApplyProperties({}, busy);
  ASSERT_TRUE(fleet.GoOnline({}));
  ASSERT_TRUE(WaitUntil([&] { return fleet.Stats().nOnline >= 450; }, 60000));

  std::mt19937 rng(20240607);
  int32_t added = 0;
  while (fleet.RowCount() > 0) {
    AdvanceTickCount(11000);  // GPS, alarms and keep-alives fall due
    // Let the driver complete a pass, so the next deletions meet it mid-pass.
    uint32_t passes = fleet.Stats().nPasses;
    ASSERT_TRUE(WaitUntil([&] { return fleet.Stats().nPasses > passes; }, kWaitMs));
    int32_t rows = fleet.RowCount();
    std::uniform_int_distribution<int32_t> pick(0, rows - 1);
    std::vector<int32_t> batch;
    for (int32_t k = std::uniform_int_distribution<int32_t>(1, 40)(rng); k > 0; --k) batch.push_back(pick(rng));
    fleet.DeleteDevices(batch);
    if (added < 3) {  // a few rows come and go as well
      added += fleet.AddDevices("L" + std::to_string(added), 5) > 0;
      fleet.GoOnline({fleet.RowCount() - 1});
    }
  }
  FleetStats st = fleet.Stats();
  EXPECT_EQ(st.nDevices, 0);
  EXPECT_GT(CountTexts(server, "\"OPERATION\":\"SPI\""), 0);
  EXPECT_TRUE(fleet.SaveAndRelease());
  EXPECT_EQ(dir.Read("list.txt"), std::string("{\"COUNT\":0}") + '\0');
}

}  // namespace
