// zel-screenshots OUTDIR: shows the main window with a small fleet, some of
// it logged in to a loopback server, and each dialog, and saves what they
// draw as PNG files in OUTDIR. Runs on the offscreen platform unless
// QT_QPA_PLATFORM names another; nothing needs a display.
#include <QApplication>
#include <QLineEdit>
#include <QDir>
#include <QMenu>
#include <QMessageBox>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>

#include "app/cli/command_line.h"
#include "app/fleet.h"
#include "app/list_file.h"
#include "app/settings_file.h"
#include "app/ui/device_icons.h"
#include "app/ui/dlg_about.h"
#include "app/ui/dlg_add.h"
#include "app/ui/dlg_pro.h"
#include "app/ui/dlg_send.h"
#include "app/ui/dlg_set.h"
#include "app/ui/fleet_model.h"
#include "app/ui/main_frame.h"
#include "app/ui/zel_view.h"
#include "platform/process_init.h"
#include "tests/support/temp_dir.h"
#include "tools/server/test_server.h"

namespace {

constexpr int kWaitMs = 15000;

bool Pump(const std::function<bool()>& done, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(10);
  }
  QApplication::processEvents();
  return true;
}

bool Save(QWidget& widget, const QString& dir, const char* name) {
  widget.show();
  Pump([] { return true; }, 0);
  QString path = dir + "/" + name;
  bool ok = widget.grab().save(path, "PNG");
  fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
  widget.hide();
  return ok;
}

void PrepareFiles(const CTempDir& tmp, const std::string& reg) {
  Json::Value settings(Json::objectValue);
  StoreSettings(tmp.Path(), settings, reg, "/srv/frames/demo.h264");
  std::vector<ListEntry> entries;
  for (const char* id : {"CAR-0001", "CAR-0002", "CAR-0003", "CAR-0004", "CAR-0005", "CAR-0006", "BUS-0001",
                         "BUS-0002", "TAXI 17", "long-name-of-a-test-vehicle-39-bytes-xx"}) {
    ListEntry e;
    e.id = id;
    entries.push_back(e);
  }
  WriteListFile(tmp.Path(), entries);
}

bool ShotMainWindow(CMainFrame& frame, const QString& out) {
  CzelView& view = *frame.View();
  for (int row : {0, 2, 3, 6}) view.selectionModel()->select(view.model()->index(row, 0), QItemSelectionModel::Select);
  view.OnOnline();
  view.Fleet().SetPassPause(50);
  bool online = Pump([&] {
    for (int row : {0, 2, 3, 6})
      if (view.model()->data(view.model()->index(row, 0), FLEET_IMAGE_ROLE).toInt() != 1) return false;
    return true;
  }, kWaitMs);
  if (!online) fprintf(stderr, "the devices did not log in\n");
  view.clearSelection();
  view.selectionModel()->select(view.model()->index(2, 0), QItemSelectionModel::Select);
  frame.SetPaneText(1, QString::fromStdString(view.Fleet().StatusText(2)));
  return Save(frame, out, "main_window.png") && online;
}

bool ShotDialogs(CMainFrame& frame, const QString& out) {
  bool ok = true;
  std::unique_ptr<QMenu> menu(frame.View()->CreateDeviceMenu());
  ok &= Save(*menu, out, "device_menu.png");
  CDlgAdd add(&frame);
  add.IdEdit()->setText("CAR");
  add.CountEdit()->setText("20");
  ok &= Save(add, out, "dialog_add.png");
  CDlgPro pro(DeviceProperties::NewDevice(), &frame);
  ok &= Save(pro, out, "dialog_property.png");
  CDlgSend send(nullptr, &frame);
  ok &= Save(send, out, "dialog_send.png");
  CDlgSet set(QString::fromStdString(frame.View()->Fleet().Reg()), QString::fromStdString(frame.View()->Fleet().Vf()),
              &frame);
  ok &= Save(set, out, "dialog_set.png");
  CDlgAbout about(&frame);
  ok &= Save(about, out, "dialog_about.png");
  QMessageBox failed(QMessageBox::Warning, "zel", QString::fromUtf8("发送失败"), QMessageBox::Ok, &frame);
  ok &= Save(failed, out, "send_failed.png");
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App cmd("zel-screenshots: draws the main window with a small fleet, some of it logged in to a\n"
               "loopback server, and each dialog, and saves them as PNG files in OUTDIR (made when\n"
               "missing). Runs on the offscreen platform unless QT_QPA_PLATFORM names another.\n",
               "zel-screenshots");
  SetUpCommandLine(cmd);
  std::string outDir;
  cmd.add_option("OUTDIR", outDir, "Folder for the PNG files")->required();
  cmd.footer("Exit status: 0 every picture written; 1 a picture or the server failed; 2 the command line was refused.\n");
  int status = ParseCommandLine(cmd, argc, argv);
  if (status >= 0) return status;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ProcessStartup();
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  QApplication::setWindowIcon(MakeAppIcon());
  QString out = QString::fromLocal8Bit(outDir.c_str());
  QDir().mkpath(out);

  CTestServer server;
  if (!server.Start()) {
    fprintf(stderr, "cannot listen on 127.0.0.1\n");
    return 1;
  }
  CTempDir tmp;
  PrepareFiles(tmp, "127.0.0.1:" + std::to_string(server.Port()));
  bool ok = true;
  {
    CMainFrame frame(tmp.Path());
    frame.InitialUpdate();
    frame.PlaceOnScreen();
    frame.show();
    ok &= ShotMainWindow(frame, out);
    ok &= ShotDialogs(frame, out);
    frame.close();
  }
  return ok ? 0 : 1;
}
