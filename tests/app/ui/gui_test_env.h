#pragma once
// Shared pieces of the window tests: the process's QApplication (offscreen
// unless QT_QPA_PLATFORM says otherwise), a helper that acts on the next
// modal window while the code under test sits in its modal loop, and an
// event pump with a deadline.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/list_file.h"
#include "app/settings_file.h"
#include "platform/process_init.h"
#include "tools/server/test_server.h"

// Made on first use and kept for the life of the process.
inline QApplication& GuiApp() {
  static QApplication* app = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "zel_gui_test";
    static char* argv[] = {name, nullptr};
    ProcessStartup();
    return new QApplication(argc, argv);
  }();
  return *app;
}

// Parent of the watchers below; CFrameTest ends those left over at the end
// of each test, so that none acts on a later test's windows.
inline QObject& WatcherHost() {
  static QObject* host = new QObject;
  return *host;
}

inline void CancelWatchers() {
  for (QObject* child : WatcherHost().children()) delete child;
}

// Runs action once on the next modal window (dialog or message box) other
// than the one active now. Returns a counter that becomes 1 when it ran.
// Without a modal window within timeoutMs the test fails when required.
inline std::shared_ptr<int> WhenModal(std::function<void(QWidget*)> action, int timeoutMs = 10000,
                                      bool required = true) {
  auto ran = std::make_shared<int>(0);
  QPointer<QWidget> before = QApplication::activeModalWidget();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  auto* timer = new QTimer(&WatcherHost());
  QObject::connect(timer, &QTimer::timeout, [=] {
    QWidget* modal = QApplication::activeModalWidget();
    bool fresh = modal && modal != before.data() && modal->isVisible();
    if (!fresh && std::chrono::steady_clock::now() < deadline) return;
    timer->stop();
    timer->deleteLater();
    if (!fresh) {
      if (required) ADD_FAILURE() << "no modal window appeared";
      return;
    }
    *ran = 1;
    action(modal);
  });
  timer->start(10);
  return ran;
}

// The same for the next popup menu.
inline std::shared_ptr<int> WhenPopup(std::function<void(QWidget*)> action, int timeoutMs = 10000) {
  auto ran = std::make_shared<int>(0);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  auto* timer = new QTimer(&WatcherHost());
  QObject::connect(timer, &QTimer::timeout, [=] {
    QWidget* popup = QApplication::activePopupWidget();
    bool shown = popup && popup->isVisible();
    if (!shown && std::chrono::steady_clock::now() < deadline) return;
    timer->stop();
    timer->deleteLater();
    if (!shown) {
      ADD_FAILURE() << "no popup appeared";
      return;
    }
    *ran = 1;
    action(popup);
  });
  timer->start(10);
  return ran;
}

// Processes events until cond holds; false after timeoutMs.
inline bool PumpUntil(const std::function<bool()>& cond, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!cond()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    QTest::qWait(10);
  }
  return true;
}

// A list.txt of new devices with the given IDs.
inline bool WriteDevices(const std::string& dir, const std::vector<std::string>& ids) {
  std::vector<ListEntry> entries(ids.size());
  for (size_t i = 0; i < ids.size(); ++i) entries[i].id = ids[i];
  return WriteListFile(dir, entries);
}

// The "REG" text that reaches a test server.
inline std::string RegOf(const CTestServer& server) { return "127.0.0.1:" + std::to_string(server.Port()); }

// A devset.txt with the given register server and frame file.
inline bool WriteSettingsFile(const std::string& dir, const std::string& reg, const std::string& vf = "") {
  Json::Value settings(Json::objectValue);
  return StoreSettings(dir, settings, reg, vf);
}

#include <QLabel>

#include "app/fleet.h"
#include "app/ui/fleet_model.h"
#include "app/ui/main_frame.h"
#include "app/ui/zel_view.h"
#include "tests/support/temp_dir.h"

// A main window over a temporary directory, made by Start() the way the
// program makes it (frame, initial update, placed and shown).
class CFrameTest : public ::testing::Test {
 protected:
  static constexpr int kWaitMs = 10000;

  void SetUp() override { GuiApp(); }
  void TearDown() override { CancelWatchers(); }

  void Start() {
    frame = std::make_unique<CMainFrame>(dir.Path());
    frame->InitialUpdate();
    frame->PlaceOnScreen();
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
  }
  CzelView& View() { return *frame->View(); }
  CFleet& Fleet() { return frame->View()->Fleet(); }
  CFleetModel& Model() { return frame->View()->Model(); }
  QString PaneText(int pane) const { return frame->Pane(pane)->text(); }
  QString Label(int row) { return Model().data(Model().index(row), Qt::DisplayRole).toString(); }
  int Image(int row) { return Model().data(Model().index(row), FLEET_IMAGE_ROLE).toInt(); }

  // The centre of a row's item once the list has laid it out.
  QPoint RowPoint(int row) {
    QRect rect;
    PumpUntil([&] {
      rect = View().visualRect(Model().index(row));
      return rect.isValid() && !rect.isEmpty();
    }, kWaitMs);
    return rect.center();
  }
  void ClickAt(const QPoint& point) {
    QTest::mouseClick(View().viewport(), Qt::LeftButton, Qt::KeyboardModifiers(), point);
  }
  // Selects exactly the given rows, as the operator's clicks would.
  void SelectRows(const std::vector<int>& rows) {
    View().clearSelection();
    for (int r : rows) View().selectionModel()->select(Model().index(r), QItemSelectionModel::Select);
  }

  CTempDir dir;
  std::unique_ptr<CMainFrame> frame;  // declared after dir: goes first
};
