// The four dialogs as the view opens them: starting values, what OK hands to
// the fleet, refused numbers, SEND's repeated sends and SET's file chooser.
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/ui/dlg_add.h"
#include "app/ui/dlg_pro.h"
#include "app/ui/dlg_send.h"
#include "app/ui/dlg_set.h"
#include "app/ui/send_sample.h"
#include "tests/app/ui/gui_test_env.h"
#include "tests/support/wait.h"

namespace {

using DialogTest = CFrameTest;

template <class T>
T* As(QWidget* w) {
  T* d = qobject_cast<T*>(w);
  EXPECT_NE(d, nullptr) << "unexpected window " << w->metaObject()->className();
  return d;
}

// Closes the next message box and records its text.
std::shared_ptr<int> RecordMessage(std::vector<std::string>& texts) {
  return WhenModal([&texts](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr);
    texts.push_back(box->text().toStdString());
    box->accept();
  });
}

DeviceProperties Props(CFleet& fleet, int row) {
  DeviceProperties p;
  fleet.WithDevice(row, [&](CDevQ5& d) { p = d.GetProperties(); });
  return p;
}

bool SameProps(const DeviceProperties& a, const DeviceProperties& b) {
  return a.bAutoUpload == b.bAutoUpload && a.nUploadInterval == b.nUploadInterval && a.bGps == b.bGps &&
         a.bCustomAlarm == b.bCustomAlarm && a.bSpeedAlarm == b.bSpeedAlarm && a.nAutoOffline == b.nAutoOffline &&
         a.nLiveViewOff == b.nLiveViewOff;
}

// The "T" member of a SEND text.
std::string TimeOf(const std::string& text) {
  size_t at = text.find("\"T\":\"");
  return at == std::string::npos ? std::string() : text.substr(at + 5, 14);
}

// The widgets that Tab visits, from the first focusable child on.
std::vector<QWidget*> TabChain(QWidget* dialog, size_t count) {
  std::vector<QWidget*> chain;
  QWidget* w = dialog->nextInFocusChain();
  while (w != dialog && chain.size() < count) {
    if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(dialog)) chain.push_back(w);
    w = w->nextInFocusChain();
  }
  return chain;
}

TEST_F(DialogTest, AddConfirmedUnchangedAddsOneDeviceWithAnEmptyLabel) {
  Start();
  std::string caption, id, count;
  WhenModal([&](QWidget* w) {
    CDlgAdd* dlg = As<CDlgAdd>(w);
    caption = dlg->windowTitle().toStdString();
    id = dlg->IdEdit()->text().toStdString();
    count = dlg->CountEdit()->text().toStdString();
    dlg->OkButton()->click();
  });
  View().OnAddDevice();
  EXPECT_EQ(caption, "ADD");
  EXPECT_EQ(id, "");
  EXPECT_EQ(count, "1");
  ASSERT_EQ(Model().rowCount(), 1);
  EXPECT_EQ(Label(0), "");
}

TEST_F(DialogTest, AddPassesIdAndCountAsTypedCountZeroAddsNothingAndATakenIdIsRefused) {
  Start();
  std::vector<std::string> messages;
  auto add = [&](const char* id, const char* count, bool refused = false) {
    WhenModal([=, &messages](QWidget* w) {
      CDlgAdd* dlg = As<CDlgAdd>(w);
      dlg->IdEdit()->setText(QString::fromUtf8(id));
      dlg->CountEdit()->setText(QString::fromUtf8(count));
      if (refused) RecordMessage(messages);
      dlg->OkButton()->click();
      EXPECT_EQ(dlg->result(), QDialog::Accepted);
    });
    View().OnAddDevice();
  };
  add("CAR", " 3 ");
  add("X", "0");
  add("Y", "-4");
  add("车", "1");
  // An ID the fleet has already: a message names it and nothing is added.
  add("CAR", "5", true);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("\"CAR-0001\""), std::string::npos) << messages[0];
  ASSERT_EQ(Model().rowCount(), 4);
  EXPECT_EQ(Label(0), "CAR-0001");
  EXPECT_EQ(Label(2), "CAR-0003");
  EXPECT_EQ(Label(3), QString::fromUtf8("车"));
}

TEST_F(DialogTest, RefusedCountKeepsAddOpenAndAddsNothing) {
  Start();
  std::vector<std::string> messages;
  bool stillOpen = false, focusBack = false;
  WhenModal([&](QWidget* w) {
    CDlgAdd* dlg = As<CDlgAdd>(w);
    for (const char* bad : {"12x", "2147483648", ""}) {
      dlg->CountEdit()->setText(QString::fromLatin1(bad));
      RecordMessage(messages);
      dlg->OkButton()->click();
    }
    stillOpen = dlg->isVisible();
    focusBack = dlg->focusWidget() == dlg->CountEdit();
    dlg->CancelButton()->click();
  });
  View().OnAddDevice();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0], "Please enter a whole number.");
  EXPECT_TRUE(stillOpen);
  EXPECT_TRUE(focusBack);
  EXPECT_EQ(Model().rowCount(), 0);
}

TEST_F(DialogTest, PropertyWithNothingSelectedShowsDefaultsAndWritesThemIntoEveryDevice) {
  ASSERT_TRUE(WriteDevices(dir.Path(), {"A", "B", "C"}));
  Start();
  ASSERT_EQ(Props(Fleet(), 0).bCustomAlarm, 1);
  std::string caption, interval, liveOff, autoOff;
  bool anyChecked = true;
  WhenModal([&](QWidget* w) {
    CDlgPro* dlg = As<CDlgPro>(w);
    caption = dlg->windowTitle().toStdString();
    anyChecked = dlg->GpsCheck()->isChecked() || dlg->AutoUploadCheck()->isChecked() ||
                 dlg->CustomAlarmCheck()->isChecked() || dlg->SpeedAlarmCheck()->isChecked();
    interval = dlg->IntervalEdit()->text().toStdString();
    liveOff = dlg->LiveViewOffEdit()->text().toStdString();
    autoOff = dlg->AutoOfflineEdit()->text().toStdString();
    dlg->OkButton()->click();
  });
  View().OnDeviceOption();
  EXPECT_EQ(caption, "PROPERTY");
  EXPECT_FALSE(anyChecked);
  EXPECT_EQ(interval, "10");
  EXPECT_EQ(liveOff, "0");
  EXPECT_EQ(autoOff, "0");
  for (int r = 0; r < 3; ++r) EXPECT_TRUE(SameProps(Props(Fleet(), r), DeviceProperties::DialogDefaults())) << r;
}

TEST_F(DialogTest, PropertyWithRowsSelectedShowsAndChangesTheFirstOnly) {
  ASSERT_TRUE(WriteDevices(dir.Path(), {"A", "B", "C", "D"}));
  Start();
  DeviceProperties marked;
  marked.nUploadInterval = 33;
  marked.nAutoOffline = 600;
  marked.bSpeedAlarm = 0;
  ASSERT_TRUE(Fleet().WithDevice(1, [&](CDevQ5& d) { d.SetProperties(marked); }));
  SelectRows({3, 1});
  std::string interval, autoOff;
  bool speed = true;
  WhenModal([&](QWidget* w) {
    CDlgPro* dlg = As<CDlgPro>(w);
    interval = dlg->IntervalEdit()->text().toStdString();
    autoOff = dlg->AutoOfflineEdit()->text().toStdString();
    speed = dlg->SpeedAlarmCheck()->isChecked();
    dlg->IntervalEdit()->setText("-3");
    dlg->GpsCheck()->setChecked(true);
    dlg->OkButton()->click();
  });
  View().OnDeviceOption();
  EXPECT_EQ(interval, "33");
  EXPECT_EQ(autoOff, "600");
  EXPECT_FALSE(speed);
  DeviceProperties changed = Props(Fleet(), 1);
  EXPECT_EQ(changed.nUploadInterval, -3);
  EXPECT_EQ(changed.bGps, 1);
  EXPECT_EQ(changed.nAutoOffline, 600);
  for (int r : {0, 2, 3}) EXPECT_TRUE(SameProps(Props(Fleet(), r), DeviceProperties::NewDevice())) << r;
}

TEST_F(DialogTest, RefusedPropertyNumberKeepsTheDialogOpenAndAppliesNothing) {
  ASSERT_TRUE(WriteDevices(dir.Path(), {"A", "B"}));
  Start();
  std::vector<std::string> messages;
  bool stillOpen = false, focusBack = false;
  WhenModal([&](QWidget* w) {
    CDlgPro* dlg = As<CDlgPro>(w);
    dlg->GpsCheck()->setChecked(true);
    dlg->IntervalEdit()->setText("7");
    dlg->LiveViewOffEdit()->setText("1.5");
    RecordMessage(messages);
    dlg->OkButton()->click();
    stillOpen = dlg->isVisible();
    focusBack = dlg->focusWidget() == dlg->LiveViewOffEdit();
    dlg->reject();
  });
  View().OnDeviceOption();
  EXPECT_EQ(messages.size(), 1u);
  EXPECT_TRUE(stillOpen);
  EXPECT_TRUE(focusBack);
  for (int r = 0; r < 2; ++r) EXPECT_TRUE(SameProps(Props(Fleet(), r), DeviceProperties::NewDevice())) << r;
}

TEST_F(DialogTest, SendOpenedASecondLaterShowsAnotherTime) {
  GuiApp();
  CDlgSend first(nullptr);
  std::string t1 = TimeOf(first.TextEdit()->toPlainText().toStdString());
  ASSERT_EQ(t1.size(), 14u);
  char now[16];
  ASSERT_TRUE(WaitUntil([&] {
    FormatTimeText(GetLocalTime(), now, sizeof now);
    return t1 != now;
  }, 5000));
  CDlgSend second(nullptr);
  std::string t2 = TimeOf(second.TextEdit()->toPlainText().toStdString());
  EXPECT_EQ(t2.size(), 14u);
  EXPECT_NE(t1, t2);
  EXPECT_EQ(first.windowTitle(), "SEND");
}

TEST_F(DialogTest, SendPressedThreeTimesSendsThreeIdenticalMessagesAndStaysOpen) {
  CTestServer server;
  ASSERT_TRUE(server.Start());
  ASSERT_TRUE(WriteSettingsFile(dir.Path(), RegOf(server)));
  ASSERT_TRUE(WriteDevices(dir.Path(), {"S1", "S2"}));
  Start();
  SelectRows({1});
  View().OnOnline();
  ASSERT_TRUE(PumpUntil([&] {
    FleetRowInfo info;
    return Fleet().RowInfo(1, info) && info.bOnline == 1;
  }, kWaitMs));

  std::string sample;
  bool openAfterSends = false, enterInsertedBreak = false;
  WhenModal([&](QWidget* w) {
    CDlgSend* dlg = As<CDlgSend>(w);
    sample = dlg->TextEdit()->toPlainText().toStdString();
    for (int i = 0; i < 3; ++i) dlg->SendButton()->click();
    // Enter on the focused Send button sends once more.
    dlg->SendButton()->setFocus();
    QTest::keyClick(dlg->SendButton(), Qt::Key_Return);
    openAfterSends = dlg->isVisible();
    // Enter inside the text is a line break, not a send.
    dlg->TextEdit()->setFocus();
    dlg->TextEdit()->moveCursor(QTextCursor::End);
    QTest::keyClick(dlg->TextEdit(), Qt::Key_Return);
    enterInsertedBreak = dlg->TextEdit()->toPlainText().toStdString() == sample + "\n";
    QTest::keyClick(dlg, Qt::Key_Escape);
  });
  View().OnUploadCommand();
  EXPECT_TRUE(openAfterSends);
  EXPECT_TRUE(enterInsertedBreak);
  ASSERT_EQ(TimeOf(sample).size(), 14u);
  ASSERT_TRUE(server.WaitForOperation(CONN_ANY, "SPI", 4, kWaitMs));
  int same = 0;
  for (const CapturedPacket& p : server.AllPackets()) same += p.szText == sample ? 1 : 0;
  EXPECT_EQ(same, 4);
}

TEST_F(DialogTest, CommandsNeedingASelectionDoNothingWithoutOne) {
  ASSERT_TRUE(WriteDevices(dir.Path(), {"A", "B"}));
  Start();
  // A window opened by mistake would block the command until the watcher
  // closes it, so a zero count after the calls means none was shown.
  auto opened = WhenModal([](QWidget* w) { w->close(); }, 2000, false);
  View().OnUploadCommand();
  View().OnUploadEmergencyAlarm();
  View().OnDeleteDevice();
  EXPECT_EQ(*opened, 0);
  EXPECT_EQ(Model().rowCount(), 2);
  EXPECT_EQ(Fleet().RowCount(), 2);
}

TEST_F(DialogTest, EmergencyAlarmThatFailsShowsSendFailed) {
  ASSERT_TRUE(WriteDevices(dir.Path(), {"OFF"}));
  Start();
  SelectRows({0});
  std::string text, caption;
  int buttons = 0;
  WhenModal([&](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr);
    text = box->text().toStdString();
    caption = box->windowTitle().toStdString();
    buttons = static_cast<int>(box->buttons().size());
    box->accept();
  });
  View().OnUploadEmergencyAlarm();
  EXPECT_EQ(text, "发送失败");
  EXPECT_EQ(caption, "zel");
  EXPECT_EQ(buttons, 1);
}

TEST_F(DialogTest, SetStoresTheTypedAddressAndTheBrowsedFile) {
  ASSERT_TRUE(WriteDevices(dir.Path(), {"V"}));
  Start();
  std::string reg, vf, afterCancelledChooser, afterChooser;
  WhenModal([&](QWidget* w) {
    CDlgSet* dlg = As<CDlgSet>(w);
    reg = dlg->RegEdit()->text().toStdString();
    vf = dlg->VfEdit()->text().toStdString();
    dlg->RegEdit()->setText("10.1.2.3:7000");
    dlg->SetFileChooser([](QWidget*) { return QString(); });
    dlg->BrowseButton()->click();
    afterCancelledChooser = dlg->VfEdit()->text().toStdString();
    dlg->SetFileChooser([](QWidget*) { return QStringLiteral("C:\\clips\\a.h264"); });
    dlg->BrowseButton()->click();
    afterChooser = dlg->VfEdit()->text().toStdString();
    EXPECT_EQ(dlg->RegEdit()->text(), "10.1.2.3:7000");
    dlg->OkButton()->click();
  });
  View().OnSettingOption();
  EXPECT_EQ(reg, "127.0.0.1:5556");
  EXPECT_EQ(vf, "");
  EXPECT_EQ(afterCancelledChooser, "");
  EXPECT_EQ(afterChooser, "C:/clips/a.h264");
  EXPECT_EQ(Fleet().Reg(), "10.1.2.3:7000");
  EXPECT_EQ(Fleet().Vf(), "C:/clips/a.h264");
  EXPECT_EQ(frame->windowTitle(), "ZEL - 10.1.2.3:7000");
  std::string devset = dir.Read("devset.txt");
  EXPECT_NE(devset.find("\"REG\":\"10.1.2.3:7000\""), std::string::npos) << devset;
  EXPECT_NE(devset.find("\"VF\":\"C:/clips/a.h264\""), std::string::npos) << devset;
  std::string path;
  Fleet().WithDevice(0, [&](CDevQ5& d) { path = d.GetFramePath(); });
  EXPECT_EQ(path, "C:/clips/a.h264");
}

TEST_F(DialogTest, SetRefusesTextsLongerThanADeviceHolds) {
  Start();
  const std::string address79(79, 'a'), path399(399, 'p');
  struct Case {
    std::string reg, vf;
    bool accepted;
  } cases[] = {{address79 + ":1", path399, true},
               {address79 + "a:1", "", false},
               {address79 + "a", "", false},
               {"h:" + std::string(200, '9'), "", true},
               {"1.2.3.4:5", path399 + "p", false},
               {"1.2.3.4:5", std::string(396, 'x') + "路", true},
               {"1.2.3.4:5", std::string(397, 'x') + "路", false}};
  for (const Case& c : cases) {
    std::vector<std::string> messages;
    bool accepted = false;
    WhenModal([&](QWidget* w) {
      CDlgSet* dlg = As<CDlgSet>(w);
      dlg->RegEdit()->setText(QString::fromStdString(c.reg));
      dlg->VfEdit()->setText(QString::fromStdString(c.vf));
      if (!c.accepted) RecordMessage(messages);
      dlg->OkButton()->click();
      accepted = dlg->result() == QDialog::Accepted && !dlg->isVisible();
      if (!accepted) dlg->reject();
    });
    std::string regBefore = Fleet().Reg();
    View().OnSettingOption();
    EXPECT_EQ(accepted, c.accepted) << c.reg << " / " << c.vf.size();
    EXPECT_EQ(messages.size(), c.accepted ? 0u : 1u);
    EXPECT_EQ(Fleet().Reg(), c.accepted ? c.reg : regBefore);
  }
}

TEST_F(DialogTest, TabOrderFollowsTheDialogTemplates) {
  GuiApp();
  CDlgAdd add;
  std::vector<QWidget*> expectAdd = {add.OkButton(), add.CancelButton(), add.CountEdit(), add.IdEdit()};
  EXPECT_EQ(TabChain(&add, 4), expectAdd);

  CDlgPro pro(DeviceProperties::DialogDefaults());
  std::vector<QWidget*> expectPro = {pro.OkButton(),       pro.CancelButton(),     pro.AutoUploadCheck(),
                                     pro.IntervalEdit(),   pro.GpsCheck(),         pro.CustomAlarmCheck(),
                                     pro.AutoOfflineEdit(), pro.SpeedAlarmCheck(), pro.LiveViewOffEdit()};
  EXPECT_EQ(TabChain(&pro, 9), expectPro);

  CDlgSend send(nullptr);
  std::vector<QWidget*> expectSend = {send.SendButton(), send.CancelButton(), send.TextEdit()};
  EXPECT_EQ(TabChain(&send, 3), expectSend);

  CDlgSet set{QString(), QString()};
  std::vector<QWidget*> expectSet = {set.OkButton(), set.CancelButton(), set.RegEdit(), set.VfEdit(),
                                     set.BrowseButton(), set.RateEdit()};
  EXPECT_EQ(TabChain(&set, 6), expectSet);
}

}  // namespace
