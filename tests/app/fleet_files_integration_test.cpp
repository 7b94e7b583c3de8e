// LoadAll and SaveAndRelease with the three files (the driver thread runs).
#include <gtest/gtest.h>

#include <string>

#include "app/fleet.h"
#include "device/gps_track.h"
#include "tests/app/fleet_test_listener.h"
#include "tests/support/debug_capture.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string kList =
    std::string("{\"AD\":[0,1,1],\"AS\":[1,0,1],\"AT\":[600,0,0],\"COUNT\":3,\"DT\":[0,0,0],"
                "\"FREQ\":[30,10,-2],\"GPS\":[1,0,0],\"ID\":[\"BUS-0001\",\"\xe8\xbd\xa6\\\"q\",\"\"],"
                "\"REALCLOSE\":[0,45,0],\"UP\":[1,0,0]}") + '\0';

TEST(FleetFilesTest, LoadThenSaveGivesTheSameListFileByteForByte) {
  DebugCapture capture;
  CTempDir dir;
  ASSERT_TRUE(dir.Write("list.txt", kList));
  ASSERT_TRUE(dir.Write("devset.txt", std::string("{\"REG\":\"10.1.2.3:6000\",\"VF\":\"/f/a.264\",\"X\":7}") + '\0'));
  ASSERT_TRUE(dir.Write("gps.txt", "22.5431,114.0579,0,0,0\r\n22.6,114.1,0,0,0\r\n"));
  CRecordingListener listener;
  CFleet fleet(dir.Path(), &listener);
  ASSERT_EQ(fleet.LoadAll(), 3);
  EXPECT_TRUE(fleet.LoadNotices().empty());

  EXPECT_EQ(fleet.Title(), "ZEL - 10.1.2.3:6000");
  EXPECT_EQ(fleet.StatusPane(0), "合计: 3");
  EXPECT_EQ(fleet.StatusPane(1), "gps: 0 alarm: 0");
  EXPECT_EQ(GlobalGpsTrack().Count(), 2);
  EXPECT_STREQ(GlobalGpsTrack().Point(1).szLongitude, "114.1");
  ASSERT_EQ(fleet.RowCount(), 3);
  FleetRowInfo info;
  ASSERT_TRUE(fleet.RowInfo(1, info));
  EXPECT_EQ(info.label, "\xe8\xbd\xa6\"q");
  EXPECT_EQ(info.nImage, 0);
  DeviceProperties p0 = fleet.DialogProperties({0});
  EXPECT_EQ(p0.bAutoUpload, 1);
  EXPECT_EQ(p0.nUploadInterval, 30);
  EXPECT_EQ(p0.bGps, 1);
  EXPECT_EQ(p0.bCustomAlarm, 0);
  EXPECT_EQ(p0.nAutoOffline, 600);
  EXPECT_EQ(fleet.DialogProperties({1}).nLiveViewOff, 45);
  EXPECT_EQ(fleet.DialogProperties({2}).nUploadInterval, -2);
  for (int32_t r = 0; r < 3; ++r) {
    fleet.WithDevice(r, [](CDevQ5& d) {
      EXPECT_EQ(d.GetFramePath(), "/f/a.264");
      EXPECT_FALSE(d.WantsOnline());
    });
  }

  EXPECT_TRUE(fleet.SaveAndRelease());
  EXPECT_EQ(dir.Read("list.txt"), kList);
  EXPECT_EQ(fleet.RowCount(), 0);
  // The fleet is closed: no further rows, and a second close keeps list.txt.
  EXPECT_EQ(fleet.AddDevices("LATE", 1), 0);
  EXPECT_TRUE(fleet.SaveAndRelease());
  EXPECT_EQ(dir.Read("list.txt"), kList);
  GlobalGpsTrack().Clear();
}

TEST(FleetFilesTest, FirstRunWithoutFilesSavesWhatWasAdded) {
  CTempDir dir;
  {
    CFleet fleet(dir.Path());
    EXPECT_EQ(fleet.LoadAll(), 0);
    EXPECT_EQ(fleet.Title(), "ZEL - 127.0.0.1:5556");
    std::vector<FileNotice> notices = fleet.LoadNotices();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_FALSE(notices[0].bSetAside);
    EXPECT_EQ(notices[0].szText, dir.File("devset.txt") + " not found: using the default REG \"127.0.0.1:5556\", VF \"\"");
    EXPECT_EQ(notices[1].szText, dir.File("gps.txt") + " not found: GPS uploads use simulated positions");
    fleet.AddDevices("CAR", 2);
    EXPECT_TRUE(fleet.SaveAndRelease());
  }
  EXPECT_EQ(dir.Read("list.txt"),
            std::string("{\"AD\":[1,1],\"AS\":[1,1],\"AT\":[0,0],\"COUNT\":2,\"DT\":[0,0],"
                        "\"FREQ\":[10,10],\"GPS\":[0,0],\"ID\":[\"CAR-0001\",\"CAR-0002\"],"
                        "\"REALCLOSE\":[0,0],\"UP\":[0,0]}") + '\0');
  // Loading nothing wrote nothing else.
  EXPECT_EQ(dir.Listing(), "list.txt");

  CFleet again(dir.Path());
  EXPECT_EQ(again.LoadAll(), 2);
  EXPECT_EQ(again.StatusPane(0), "合计: 2");
  again.DeleteDevices({0});
  EXPECT_TRUE(again.SaveAndRelease());
  EXPECT_NE(dir.Read("list.txt").find("\"ID\":[\"CAR-0002\"]"), std::string::npos);
}

// A devset.txt that does not parse keeps what was read before the error, and
// the file itself is moved out of the way of the next SET.
TEST(FleetFilesTest, DamagedDevsetIsSetAsideAndItsReadableSettingsUsed) {
  DebugCapture capture;
  CTempDir dir;
  ASSERT_TRUE(dir.Write("devset.txt", "{\"REG\":\"10.0.0.9:7000\",\"VF"));
  ASSERT_TRUE(dir.Write("gps.txt", "22.5,114.0,0,0,0\r\n"));
  CFleet fleet(dir.Path());
  fleet.LoadAll();
  EXPECT_EQ(fleet.Title(), "ZEL - 10.0.0.9:7000");
  std::vector<FileNotice> notices = fleet.LoadNotices();
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_TRUE(notices[0].bSetAside);
  EXPECT_EQ(notices[0].szText, dir.File("devset.txt") + " does not parse as JSON; it was set aside as " +
                                   dir.File("devset.txt.bad") + "; the settings are what could be read, defaults for the rest");
  EXPECT_EQ(notices[1].szText, dir.File("devset.txt") + " has no text for VF: using the default VF \"\"");
  EXPECT_EQ(dir.Read("devset.txt.bad"), "{\"REG\":\"10.0.0.9:7000\",\"VF");
  EXPECT_EQ(capture.Count("dev - json parse failed."), 1);
  EXPECT_TRUE(fleet.ApplySettings("1.2.3.4:5", ""));
  EXPECT_EQ(dir.Read("devset.txt.bad"), "{\"REG\":\"10.0.0.9:7000\",\"VF");
  GlobalGpsTrack().Clear();
}

TEST(FleetFilesTest, ListFileThatCannotBeWrittenIsReportedAndTheDevicesStillGo) {
  CTempDir dir;
  CFleet fleet(dir.File("no-such-folder"));
  EXPECT_EQ(fleet.LoadAll(), 0);
  fleet.AddDevices("X", 3);
  EXPECT_FALSE(fleet.SaveAndRelease());
  EXPECT_EQ(fleet.RowCount(), 0);
}

TEST(FleetFilesTest, DestroyingWithoutSaveWritesNothing) {
  CTempDir dir;
  {
    CFleet fleet(dir.Path());
    fleet.LoadAll();
    fleet.AddDevices("X", 3);
  }
  EXPECT_FALSE(dir.Exists("list.txt"));
}

}  // namespace
