// zel: the fleet in a window. Reads the three files beside the executable (or
// in --dir), shows the devices as icons and writes list.txt when the window
// closes (also on SIGINT and SIGTERM).
#include <QApplication>

#include <cstdio>
#include <cstdlib>

#include "app/cli/command_line.h"
#include "app/ui/device_icons.h"
#include "app/ui/main_frame.h"
#include "app/ui/stop_signals.h"
#include "platform/process_init.h"

namespace {

const char kAbout[] =
    "zel: the fleet of simulated devices in a window. Loads devset.txt, gps.txt\n"
    "and list.txt (beside the executable, or in --dir) and writes list.txt when\n"
    "the window closes. Needs a display: DISPLAY or WAYLAND_DISPLAY, or\n"
    "QT_QPA_PLATFORM=offscreen to run without one.\n";

bool IsSet(const char* name) {
  const char* value = getenv(name);
  return value && *value;
}

// Without any of these the window system cannot start and would abort the
// process; say why instead.
bool HasDisplay() { return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY") || IsSet("QT_QPA_PLATFORM"); }

}  // namespace

int main(int argc, char** argv) {
  CLI::App cmd(kAbout, "zel");
  SetUpCommandLine(cmd);
  FleetRunOptions run;
  AddFleetRunOptions(cmd, run);
  cmd.footer("Exit status: 0 the window closed; 1 no display; 2 the command line was refused.\n");
  int status = ParseCommandLine(cmd, argc, argv);
  if (status >= 0) return status;
  CDebugChannelSetup debugChannel;
  std::string error;
  if (!debugChannel.Apply(run, &error)) return UsageError(cmd, error);
  if (!HasDisplay()) {
    fprintf(stderr, "zel: no display: set DISPLAY (or WAYLAND_DISPLAY), or run with QT_QPA_PLATFORM=offscreen\n");
    return 1;
  }

  ProcessStartup();
  // The command line is ours alone: the window system gets only the program name.
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  QApplication::setApplicationName(QStringLiteral("zel"));
  QApplication::setWindowIcon(MakeAppIcon());

  CMainFrame frame(FleetDir(run));
  CStopSignals stop([&frame] { frame.CloseFromSignal(); });
  frame.InitialUpdate();
  frame.PlaceOnScreen();
  frame.show();
  return app.exec();
}
