// zel: the fleet in a window. Reads the three files beside the executable,
// shows the devices as icons and writes list.txt when the window closes (also
// on SIGINT and SIGTERM).
#include <QApplication>

#include "app/ui/device_icons.h"
#include "app/ui/main_frame.h"
#include "app/ui/stop_signals.h"
#include "platform/exe_dir.h"
#include "platform/process_init.h"

int main(int argc, char** argv) {
  ProcessStartup();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("zel"));
  QApplication::setWindowIcon(MakeAppIcon());

  CMainFrame frame(GetExeDir());
  CStopSignals stop([&frame] { frame.CloseFromSignal(); });
  frame.InitialUpdate();
  frame.PlaceOnScreen();
  frame.show();
  return app.exec();
}
