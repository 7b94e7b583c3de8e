// 9,999 devices: the driver's image reports are gathered into a few repaints
// and the window keeps handling events while they arrive.
#include <QElapsedTimer>
#include <cstdio>

#include "tests/app/ui/gui_test_env.h"

namespace {

using FleetModelScaleTest = CFrameTest;

bool AllImages(CFleetModel& model, int image) {
  for (int r = 0; r < model.rowCount(); ++r)
    if (model.data(model.index(r), FLEET_IMAGE_ROLE).toInt() != image) return false;
  return true;
}

TEST_F(FleetModelScaleTest, ThousandsOfImageChangesCostFewRepaints) {
  Start();
  ASSERT_EQ(Fleet().AddDevices("BIG", 9999), 9999);
  Model().AppendNewRows();
  ASSERT_EQ(Model().rowCount(), 9999);
  View().selectAll();
  ASSERT_EQ(View().Selection().size(), 9999u);

  // A ticking timer measures how long the event loop is held up at most.
  QElapsedTimer sinceTick;
  qint64 longestGap = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    longestGap = std::max(longestGap, sinceTick.restart());
  });
  sinceTick.start();
  ticker.start(5);

  for (int r = 0; r < 9999; ++r) Fleet().WithDevice(r, [](CDevQ5& d) { d.Session().SetOnlineFlag(1); });
  Fleet().SetPassPause(10);
  EXPECT_TRUE(PumpUntil([&] { return AllImages(Model(), 1); }, 60000));
  int32_t flushes = Model().FlushCount();
  EXPECT_GE(flushes, 1);
  EXPECT_LT(flushes, 200) << "image changes were not gathered";
  fprintf(stderr, "9999 rows online: %d repaints, longest event-loop gap %lld ms\n", flushes,
          static_cast<long long>(longestGap));
  for (int r = 0; r < 9999; ++r) Fleet().WithDevice(r, [](CDevQ5& d) { d.Session().SetOnlineFlag(0); });
  EXPECT_TRUE(PumpUntil([&] { return AllImages(Model(), 0); }, 60000));
}

}  // namespace
