// SIGINT and SIGTERM close the window the way the close box does, also while
// a dialog is open, so list.txt is written.
#include <signal.h>
#include <unistd.h>

#include <QLineEdit>
#include <QPushButton>

#include "app/ui/dlg_add.h"
#include "app/ui/stop_signals.h"
#include "tests/app/ui/gui_test_env.h"

namespace {

using StopSignalTest = CFrameTest;

TEST_F(StopSignalTest, TermWhileAddIsOpenDismissesItAndSavesTheList) {
  ASSERT_TRUE(WriteDevices(dir.Path(), {"T1", "T2", "T3"}));
  std::string before = dir.Read("list.txt");
  Start();
  CStopSignals stop([this] { frame->CloseFromSignal(); });
  ASSERT_TRUE(stop.Installed());
  WhenModal([](QWidget* w) {
    auto* dlg = qobject_cast<CDlgAdd*>(w);
    ASSERT_NE(dlg, nullptr);
    dlg->CountEdit()->setText("5");
    kill(getpid(), SIGTERM);
  });
  View().OnAddDevice();
  EXPECT_TRUE(View().Released());
  EXPECT_FALSE(frame->isVisible());
  EXPECT_EQ(dir.Read("list.txt"), before);
}

TEST_F(StopSignalTest, IntClosesTheWindowAndWritesTheChangedList) {
  Start();
  CStopSignals stop([this] { frame->CloseFromSignal(); });
  ASSERT_TRUE(stop.Installed());
  Fleet().AddDevices("I", 1);
  kill(getpid(), SIGINT);
  ASSERT_TRUE(PumpUntil([&] { return View().Released(); }, kWaitMs));
  EXPECT_FALSE(frame->isVisible());
  std::string list = dir.Read("list.txt");
  EXPECT_NE(list.find("\"ID\":[\"I\"]"), std::string::npos) << list;
}

}  // namespace
