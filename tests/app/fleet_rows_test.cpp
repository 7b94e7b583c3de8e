// Rows of the fleet without the driver thread or any connection: batches,
// IDs, deletion and the commands that act on the first selected row.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/fleet.h"
#include "media/stream_set.h"
#include "tests/support/debug_capture.h"
#include "tests/support/temp_dir.h"

namespace {

std::vector<std::string> Labels(const CFleet& fleet) {
  std::vector<std::string> out;
  for (const FleetRowInfo& r : fleet.Snapshot()) out.push_back(r.label);
  return out;
}

DeviceProperties Props(int32_t up, int32_t freq, int32_t gps, int32_t ad, int32_t as, int32_t at, int32_t rc) {
  DeviceProperties p;
  p.bAutoUpload = up;
  p.nUploadInterval = freq;
  p.bGps = gps;
  p.bCustomAlarm = ad;
  p.bSpeedAlarm = as;
  p.nAutoOffline = at;
  p.nLiveViewOff = rc;
  return p;
}

bool SameProps(const DeviceProperties& a, const DeviceProperties& b) {
  return a.bAutoUpload == b.bAutoUpload && a.nUploadInterval == b.nUploadInterval && a.bGps == b.bGps &&
         a.bCustomAlarm == b.bCustomAlarm && a.bSpeedAlarm == b.bSpeedAlarm && a.nAutoOffline == b.nAutoOffline &&
         a.nLiveViewOff == b.nLiveViewOff;
}

class FleetRowsTest : public ::testing::Test {
 protected:
  CTempDir dir;
  CFleet fleet{dir.Path()};
};

TEST_F(FleetRowsTest, CountOneKeepsTheIdAsTypedOtherCountsNumberFromOne) {
  EXPECT_EQ(fleet.AddDevices("CAR", 1), 1);
  EXPECT_EQ(fleet.AddDevices("CAR", 2), 2);
  EXPECT_EQ(Labels(fleet), (std::vector<std::string>{"CAR", "CAR-0001", "CAR-0002"}));
  FleetRowInfo info;
  ASSERT_TRUE(fleet.RowInfo(2, info));
  EXPECT_EQ(info.nImage, 0);
  EXPECT_EQ(info.bOnline, 0);
  EXPECT_EQ(fleet.StatusText(2), "offline, gps: 0 alarm: 0");
}

// A batch that would repeat an ID adds nothing and names the first such ID
// of the batch, compared as the IDs are stored (cut to fit).
TEST_F(FleetRowsTest, BatchThatWouldRepeatAnIdAddsNothingAndNamesTheFirst) {
  ASSERT_EQ(fleet.AddDevices("CAR-0004", 1), 1);
  ASSERT_EQ(fleet.AddDevices("CAR", 2), 2);
  std::string taken;
  EXPECT_EQ(fleet.AddDevices("CAR", 5, &taken), FLEET_ADD_DUPLICATE);
  EXPECT_EQ(taken, "CAR-0001");  // first in the batch, not first among the rows
  EXPECT_EQ(fleet.AddDevices("CAR-0004", 1, &taken), FLEET_ADD_DUPLICATE);
  EXPECT_EQ(taken, "CAR-0004");
  EXPECT_EQ(Labels(fleet), (std::vector<std::string>{"CAR-0004", "CAR-0001", "CAR-0002"}));
  EXPECT_EQ(fleet.AddDevices("CAR", 1), 1);  // "CAR" itself is still free
  const std::string longId(39, 'L');
  ASSERT_EQ(fleet.AddDevices(longId, 1), 1);
  EXPECT_EQ(fleet.AddDevices(longId + "-more", 1, &taken), FLEET_ADD_DUPLICATE);
  EXPECT_EQ(taken, longId);
  EXPECT_EQ(fleet.RowCount(), 5);
}

TEST_F(FleetRowsTest, CountAboveTheLimitAddsNineThousandNineHundredNinetyNine) {
  EXPECT_EQ(fleet.AddDevices("CAR", 12000), FLEET_MAX_BATCH);
  ASSERT_EQ(fleet.RowCount(), 9999);
  FleetRowInfo first, last;
  ASSERT_TRUE(fleet.RowInfo(0, first));
  ASSERT_TRUE(fleet.RowInfo(9998, last));
  EXPECT_EQ(first.label, "CAR-0001");
  EXPECT_EQ(last.label, "CAR-9999");
  EXPECT_EQ(fleet.DeleteDevices({}), 0);
  EXPECT_EQ(fleet.RowCount(), 9999);
}

TEST_F(FleetRowsTest, ZeroAndNegativeCountsAddNothingAndAnEmptyIdIsAllowed) {
  EXPECT_EQ(fleet.AddDevices("CAR", 0), 0);
  EXPECT_EQ(fleet.AddDevices("CAR", -5), 0);
  EXPECT_EQ(fleet.AddDevices("CAR", INT32_MIN), 0);
  EXPECT_EQ(fleet.RowCount(), 0);
  EXPECT_EQ(fleet.AddDevices("", 1), 1);
  EXPECT_EQ(Labels(fleet), std::vector<std::string>{""});
}

TEST_F(FleetRowsTest, OverLongBaseIdsAreCutSoTheIdFitsWithoutSplittingACharacter) {
  std::string longId(60, 'A');
  fleet.AddDevices(longId, 1);
  fleet.AddDevices(longId, 2);
  // 33 ASCII bytes, then a three-byte character that would straddle byte 34.
  std::string utf8 = std::string(33, 'B') + "\xe8\xbd\xa6" + "tail";
  fleet.AddDevices(utf8, 3);
  std::vector<std::string> labels = Labels(fleet);
  ASSERT_EQ(labels.size(), 6u);
  EXPECT_EQ(labels[0], std::string(39, 'A'));
  EXPECT_EQ(labels[1], std::string(34, 'A') + "-0001");
  EXPECT_EQ(labels[2], std::string(34, 'A') + "-0002");
  EXPECT_EQ(labels[5], std::string(33, 'B') + "-0003");
  for (const std::string& l : labels) EXPECT_LE(l.size(), FLEET_ID_MAX);
}

// Shards of one run make one fleet of consecutive IDs and never share one:
// shard I numbers its batch from I x COUNT + 1 with at least four digits,
// the base cut so that five-digit numbers still fit 39 bytes.
TEST_F(FleetRowsTest, ShardsNumberTheirBatchesWithoutOverlap) {
  std::vector<std::string> all;
  for (int32_t shard = 0; shard < 3; ++shard) {
    CTempDir own;
    CFleet part(own.Path());
    part.SetShard(shard);
    ASSERT_EQ(part.AddDevices("CAR", 4000), 4000);
    std::vector<std::string> labels = Labels(part);
    EXPECT_EQ(labels.front(), "CAR-" + std::string(shard == 0 ? "0001" : shard == 1 ? "4001" : "8001"));
    all.insert(all.end(), labels.begin(), labels.end());
  }
  EXPECT_EQ(all[11999], "CAR-12000");
  std::vector<std::string> sorted = all;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::unique(sorted.begin(), sorted.end()), sorted.end());
  fleet.SetShard(2);
  ASSERT_EQ(fleet.AddDevices(std::string(60, 'L'), 12000), 12000);  // past the 9999 of a lone fleet
  EXPECT_EQ(Labels(fleet).back(), std::string(33, 'L') + "-36000");
  EXPECT_EQ(Labels(fleet).front(), std::string(33, 'L') + "-24001");
}

TEST_F(FleetRowsTest, DeleteRemovesExactlyTheSelectedRowsAndKeepsTheOrder) {
  fleet.AddDevices("D", 6);
  EXPECT_EQ(fleet.DeleteDevices({1, 3, 4}), 3);
  EXPECT_EQ(Labels(fleet), (std::vector<std::string>{"D-0001", "D-0003", "D-0006"}));
  // Out-of-range indices and repeats are ignored; an unsorted list is sorted.
  EXPECT_EQ(fleet.DeleteDevices({7, 2, -1, 2}), 1);
  EXPECT_EQ(Labels(fleet), (std::vector<std::string>{"D-0001", "D-0003"}));
  EXPECT_EQ(fleet.DeleteDevices({5}), 0);
  EXPECT_EQ(fleet.DeleteDevices({1, 0}), 2);
  EXPECT_EQ(fleet.RowCount(), 0);
}

TEST_F(FleetRowsTest, PropertiesWithoutSelectionWriteTheDialogDefaultsIntoEveryDevice) {
  fleet.AddDevices("P", 8);
  DeviceProperties start = fleet.DialogProperties({});
  EXPECT_TRUE(SameProps(start, Props(0, 10, 0, 0, 0, 0, 0)));
  fleet.ApplyProperties({}, start);
  for (int32_t i = 0; i < 8; ++i) EXPECT_TRUE(SameProps(fleet.DialogProperties({i}), Props(0, 10, 0, 0, 0, 0, 0)));
}

TEST_F(FleetRowsTest, PropertiesWithSelectionStartFromAndChangeOnlyTheFirstSelected) {
  fleet.AddDevices("P", 8);
  DeviceProperties fresh = DeviceProperties::NewDevice();
  EXPECT_TRUE(SameProps(fleet.DialogProperties({3, 7}), fresh));
  DeviceProperties p = Props(1, -4, 1, 0, 1, 600, 30);
  fleet.ApplyProperties({7, 3}, p);
  for (int32_t i = 0; i < 8; ++i)
    EXPECT_TRUE(SameProps(fleet.DialogProperties({i}), i == 3 ? p : fresh)) << "row " << i;
  EXPECT_TRUE(SameProps(fleet.DialogProperties({3, 7}), p));
}

TEST_F(FleetRowsTest, AlarmAndUploadWithNothingSelectedDoNothing) {
  DebugCapture capture;
  fleet.AddDevices("U", 3);
  EXPECT_EQ(fleet.SendEmergencyAlarm({}), FLEET_NO_SELECTION);
  EXPECT_EQ(fleet.UploadCommand({}, "{\"A\":1}"), FLEET_NO_SELECTION);
  EXPECT_EQ(fleet.SendEmergencyAlarm({9}), FLEET_NO_SELECTION);
  EXPECT_TRUE(capture.Lines().empty());
  // With a selection but no connection both report the failure.
  EXPECT_EQ(fleet.SendEmergencyAlarm({1}), FLEET_SEND_FAILED);
  EXPECT_EQ(fleet.UploadCommand({2}, ""), FLEET_SEND_FAILED);
  EXPECT_TRUE(capture.Has("null"));  // an empty text goes out as the literal null
  EXPECT_EQ(fleet.Stats().nAlarmsSent, 0);
}

TEST_F(FleetRowsTest, SettingsReachEveryDeviceAndTheTitleAndNewBatches) {
  fleet.AddDevices("S", 2);
  EXPECT_TRUE(fleet.ApplySettings("10.0.0.1:7000", "/clips/a.h264"));
  EXPECT_EQ(fleet.Title(), "ZEL - 10.0.0.1:7000");
  EXPECT_EQ(fleet.Reg(), "10.0.0.1:7000");
  EXPECT_EQ(dir.Read("devset.txt"), std::string("{\"REG\":\"10.0.0.1:7000\",\"VF\":\"/clips/a.h264\"}") + '\0');
  fleet.AddDevices("T", 1);
  ASSERT_EQ(fleet.RowCount(), 3);
  for (int32_t i = 0; i < 3; ++i)
    fleet.WithDevice(i, [](CDevQ5& d) { EXPECT_EQ(d.GetFramePath(), "/clips/a.h264"); });
  // A path longer than szFramePath is cut in the devices, never overrun.
  EXPECT_TRUE(fleet.ApplySettings("x", std::string(1000, 'p')));
  EXPECT_EQ(fleet.Vf().size(), 1000u);
  fleet.WithDevice(2, [](CDevQ5& d) { EXPECT_EQ(d.GetFramePath(), std::string(399, 'p')); });
}

TEST_F(FleetRowsTest, SettingsThatCannotBeWrittenAreStillApplied) {
  CFleet lost(dir.File("missing-folder"));
  lost.AddDevices("S", 1);
  EXPECT_FALSE(lost.ApplySettings("1.2.3.4:5", "v"));
  EXPECT_EQ(lost.Reg(), "1.2.3.4:5");
  lost.WithDevice(0, [](CDevQ5& d) { EXPECT_EQ(d.GetFramePath(), "v"); });
}

TEST_F(FleetRowsTest, StatusTextCountsGpsAndCustomisedAlarmsSinceCreation) {
  fleet.AddDevices("G", 2);
  EXPECT_EQ(fleet.StatusText(0), "offline, gps: 0 alarm: 0");
  fleet.WithDevice(0, [](CDevQ5& d) {
    d.Session().SetOnlineFlag(1);
    d.Counters().nGpsSent.store(5);
    d.Counters().nSosUid.store(d.Counters().nSosUidBase.load() + 2);
  });
  EXPECT_EQ(fleet.StatusText(0), "online, gps: 5 alarm: 2");
  // The alarm numbers wrap around 2^32; the difference does not.
  fleet.WithDevice(1, [](CDevQ5& d) {
    d.Counters().nSosUidBase.store(0xFFFFFFFFu);
    d.Counters().nSosUid.store(3);
  });
  EXPECT_EQ(fleet.StatusText(1), "offline, gps: 0 alarm: 4");
  EXPECT_EQ(fleet.StatusText(2), "");
  EXPECT_EQ(fleet.StatusText(-1), "");
  fleet.WithDevice(0, [](CDevQ5& d) { d.Session().SetOnlineFlag(0); });
}

TEST_F(FleetRowsTest, StatisticsCountClaimedStreamsByKindAndConnectionStates) {
  fleet.AddDevices("M", 3);
  auto claim = [](CDevQ5& d, int32_t slot, int32_t kind, int32_t inUse) {
    CStreamSet& set = MediaStreamsOf(d);
    StreamSlot& s = set.slots[slot];
    if (inUse != s.bInUse.load()) set.nSlotsInUse.fetch_add(inUse ? 1 : -1);
    s.nKind.store(kind);
    s.bInUse.store(inUse);
  };
  fleet.WithDevice(0, [&](CDevQ5& d) {
    claim(d, 0, STREAM_PLAYBACK, 1);
    claim(d, 7, STREAM_TALK, 1);
    claim(d, 8, STREAM_LIVE, 0);  // free slots do not count
    d.Session().SetWantOnlineFlag(1);
  });
  fleet.WithDevice(2, [&](CDevQ5& d) {
    claim(d, 49, STREAM_PLAYBACK, 1);
    d.Session().SetOnlineFlag(1);
    d.Counters().nGpsSent.store(4);
    d.Counters().nAlarmsSent.store(6);
  });
  FleetStats st = fleet.Stats();
  EXPECT_EQ(st.nDevices, 3);
  EXPECT_EQ(st.nOnline, 1);
  EXPECT_EQ(st.nConnecting, 1);
  EXPECT_EQ(st.nOffline, 1);
  EXPECT_EQ(st.nGpsSent, 4);
  EXPECT_EQ(st.nAlarmsSent, 6);
  EXPECT_EQ(st.nStreams[STREAM_LIVE], 0);
  EXPECT_EQ(st.nStreams[STREAM_TALK], 1);
  EXPECT_EQ(st.nStreams[STREAM_DOWNLOAD], 0);
  EXPECT_EQ(st.nStreams[STREAM_PLAYBACK], 2);
  // The slots were never really claimed: give them back before the devices go.
  fleet.WithDevice(0, [&](CDevQ5& d) {
    claim(d, 0, STREAM_LIVE, 0);
    claim(d, 7, STREAM_LIVE, 0);
    d.Session().SetWantOnlineFlag(0);
  });
  fleet.WithDevice(2, [&](CDevQ5& d) {
    claim(d, 49, STREAM_LIVE, 0);
    d.Session().SetOnlineFlag(0);
  });
}

}  // namespace
