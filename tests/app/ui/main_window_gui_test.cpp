// The main window: start with and without files, title, status panes, the
// device menu, clicks, resizing, images following the driver, and the close.
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>

#include "app/ui/dlg_about.h"
#include "tests/app/ui/gui_test_env.h"

namespace {

using MainWindowTest = CFrameTest;

// The menu's entries, separators as "-".
std::vector<std::string> MenuEntries(const QWidget* menu) {
  std::vector<std::string> entries;
  for (const QAction* a : menu->actions()) entries.push_back(a->isSeparator() ? "-" : a->text().toStdString());
  return entries;
}

const std::vector<std::string> kDeviceMenu = {
    "Add device", "Delete device", "-", "Online", "Offline", "Upload emergency alarm", "Upload command", "-",
    "Option"};

bool DeviceOnline(CFleet& fleet, int row) {
  FleetRowInfo info;
  return fleet.RowInfo(row, info) && info.bOnline == 1;
}

TEST_F(MainWindowTest, StartWithoutFilesShowsDefaultAddressAndEmptyList) {
  frame = std::make_unique<CMainFrame>(dir.Path());
  EXPECT_EQ(frame->windowTitle(), "zel");
  frame->InitialUpdate();
  frame->PlaceOnScreen();
  frame->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));

  EXPECT_EQ(frame->windowTitle(), "ZEL - 127.0.0.1:5556");
  EXPECT_EQ(Model().rowCount(), 0);
  EXPECT_EQ(PaneText(0), QString::fromUtf8("合计: 0"));
  EXPECT_EQ(PaneText(1), "gps: 0 alarm: 0");
  EXPECT_EQ(PaneText(2), "");
  EXPECT_EQ(frame->size(), QSize(600, 500));
  EXPECT_EQ(frame->Pane(0)->width(), 120);
  EXPECT_EQ(frame->Pane(1)->width(), 200);
  EXPECT_EQ(frame->Pane(2)->width(), 200);
  EXPECT_EQ(frame->Pane(3)->text(), "SCRL");
  // Only the files' first reading: a second initial update loads nothing.
  frame->InitialUpdate();
  EXPECT_EQ(Model().rowCount(), 0);
}

TEST_F(MainWindowTest, ListOfThreeShowsThreeOfflineIconsWithTheirLabels) {
  ASSERT_TRUE(WriteDevices(dir.Path(), {"CAR-0001", "CAR-0002", "bus 7"}));
  Start();
  ASSERT_EQ(Model().rowCount(), 3);
  EXPECT_EQ(Label(0), "CAR-0001");
  EXPECT_EQ(Label(1), "CAR-0002");
  EXPECT_EQ(Label(2), "bus 7");
  for (int r = 0; r < 3; ++r) {
    EXPECT_EQ(Image(r), 0) << r;
    QIcon icon = Model().data(Model().index(r), Qt::DecorationRole).value<QIcon>();
    EXPECT_FALSE(icon.isNull()) << r;
  }
  EXPECT_EQ(PaneText(0), QString::fromUtf8("合计: 3"));
  EXPECT_EQ(PaneText(1), "gps: 0 alarm: 0");
  // Three distinct places in the list, left to right.
  QPoint a = RowPoint(0), b = RowPoint(1), c = RowPoint(2);
  EXPECT_LT(a.x(), b.x());
  EXPECT_LT(b.x(), c.x());
}

TEST_F(MainWindowTest, MenusOfferSettingAndAboutButNoDocumentCommands) {
  Start();
  std::vector<std::string> bar = MenuEntries(frame->menuBar());
  ASSERT_EQ(bar, (std::vector<std::string>{"Setting", "Help(&H)"}));
  const QList<QAction*> tops = frame->menuBar()->actions();
  EXPECT_EQ(MenuEntries(tops[0]->menu()), std::vector<std::string>{"Option"});
  EXPECT_EQ(MenuEntries(tops[1]->menu()), std::vector<std::string>{"About zel(&A)..."});

  std::string caption;
  bool saidVersion = false;
  WhenModal([&](QWidget* w) {
    caption = w->windowTitle().toStdString();
    for (const QLabel* label : w->findChildren<QLabel*>())
      if (label->text() == "zel Version 1.0") saidVersion = true;
    auto* about = qobject_cast<CDlgAbout*>(w);
    ASSERT_NE(about, nullptr);
    about->OkButton()->click();
  });
  tops[1]->menu()->actions()[0]->trigger();
  EXPECT_EQ(caption, "About zel");
  EXPECT_TRUE(saidVersion);
}

TEST_F(MainWindowTest, RightClickAnywhereShowsTheDeviceMenuInOrder) {
  ASSERT_TRUE(WriteDevices(dir.Path(), {"A", "B"}));
  Start();
  std::unique_ptr<QMenu> menu(View().CreateDeviceMenu());
  EXPECT_EQ(MenuEntries(menu.get()), kDeviceMenu);

  QWidget* viewport = View().viewport();
  QPoint empty = viewport->rect().bottomRight() - QPoint(10, 10);
  ASSERT_FALSE(View().indexAt(empty).isValid());
  for (QPoint at : {empty, RowPoint(1)}) {
    std::vector<std::string> shown;
    WhenPopup([&](QWidget* popup) {
      shown = MenuEntries(popup);
      popup->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
    QApplication::sendEvent(viewport, &event);
    EXPECT_EQ(shown, kDeviceMenu);
  }
}

TEST_F(MainWindowTest, LeftClickShowsTheFirstSelectedDevicesCounters) {
  CTestServer server;
  ASSERT_TRUE(server.Start());
  ASSERT_TRUE(WriteSettingsFile(dir.Path(), RegOf(server)));
  ASSERT_TRUE(WriteDevices(dir.Path(), {"A", "B", "C"}));
  Start();
  QPoint rowB = RowPoint(1);
  ClickAt(rowB);
  EXPECT_EQ(View().Selection(), std::vector<int32_t>{1});
  EXPECT_EQ(PaneText(1), "offline, gps: 0 alarm: 0");

  View().OnOnline();
  ASSERT_TRUE(PumpUntil([&] { return DeviceOnline(Fleet(), 1); }, kWaitMs));
  ASSERT_TRUE(Fleet().WithDevice(1, [](CDevQ5& d) {
    d.Counters().nGpsSent.store(5);
    d.Counters().nSosUid.store(d.Counters().nSosUidBase.load() + 2);
  }));
  ClickAt(rowB);
  EXPECT_EQ(PaneText(1), "online, gps: 5 alarm: 2");

  // Empty space: the selection goes and the pane keeps its text.
  QPoint empty = View().viewport()->rect().bottomRight() - QPoint(10, 10);
  ClickAt(empty);
  EXPECT_TRUE(View().Selection().empty());
  EXPECT_EQ(PaneText(1), "online, gps: 5 alarm: 2");
  // Only the logged-in device got the address.
  EXPECT_FALSE(DeviceOnline(Fleet(), 0));
  EXPECT_FALSE(DeviceOnline(Fleet(), 2));
}

TEST_F(MainWindowTest, ResizingRearrangesTheIcons) {
  ASSERT_TRUE(WriteDevices(dir.Path(), {"D1", "D2", "D3", "D4"}));
  Start();
  ASSERT_EQ(RowPoint(3).y(), RowPoint(0).y());
  frame->resize(View().gridSize().width() * 2 + 60, 500);
  EXPECT_TRUE(PumpUntil([&] { return RowPoint(2).y() > RowPoint(0).y(); }, kWaitMs));
  EXPECT_EQ(RowPoint(1).y(), RowPoint(0).y());
  frame->resize(600, 500);
  EXPECT_TRUE(PumpUntil([&] { return RowPoint(3).y() == RowPoint(0).y(); }, kWaitMs));
}

TEST_F(MainWindowTest, RowImagesFollowTheDriver) {
  ASSERT_TRUE(WriteDevices(dir.Path(), {"A", "B", "C"}));
  Start();
  Fleet().SetPassPause(20);
  ASSERT_TRUE(Fleet().WithDevice(1, [](CDevQ5& d) { d.Session().SetOnlineFlag(1); }));
  EXPECT_TRUE(PumpUntil([&] { return Image(1) == 1; }, kWaitMs));
  EXPECT_EQ(Image(0), 0);
  EXPECT_EQ(Image(2), 0);
  ASSERT_TRUE(Fleet().WithDevice(1, [](CDevQ5& d) { d.Session().SetOnlineFlag(0); }));
  EXPECT_TRUE(PumpUntil([&] { return Image(1) == 0; }, kWaitMs));
}

TEST_F(MainWindowTest, ClosingWritesTheListEvenWhenNothingChanged) {
  ASSERT_TRUE(WriteDevices(dir.Path(), {"CAR-0001", "CAR-0002", "CAR-0003"}));
  std::string before = dir.Read("list.txt");
  Start();
  frame->close();
  EXPECT_TRUE(View().Released());
  EXPECT_FALSE(frame->isVisible());
  EXPECT_EQ(dir.Read("list.txt"), before);
  EXPECT_EQ(Model().rowCount(), 0);
  // A second release (a signal after the close box) writes nothing more.
  EXPECT_TRUE(View().Release());
  EXPECT_EQ(dir.Read("list.txt"), before);
}

TEST_F(MainWindowTest, WindowThatNeverLoadedLeavesTheListAlone) {
  ASSERT_TRUE(WriteDevices(dir.Path(), {"KEEP"}));
  std::string before = dir.Read("list.txt");
  frame = std::make_unique<CMainFrame>(dir.Path());
  frame->close();
  EXPECT_EQ(dir.Read("list.txt"), before);
}

}  // namespace
